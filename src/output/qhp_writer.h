// Writes a Qt Help Project (.qhp), the input of qhelpgenerator, from the same events as the DCF:
// the contents tree under one root section, the keywords in a list of their own, and the files
// of the project.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "io/file_names.h"
#include "io/large_memory.h"
#include "io/streams.h"
#include "output/output_format.h"
#include "output/xml_text.h"

namespace sitemap {

// A context id (the number or name an application asks its help for, as a string) and the page
// it opens: a file of the project as the files list names it, with its anchor if any.
struct KeywordId {
  std::string id;
  std::string ref;
};

struct QhpSettings {
  std::string namespace_name = "ordax.documentation";
  std::string title = "ORDAX Documentation";  // UTF-8
  std::string virtual_folder = "doc";
  std::string output_name = "qt-assistant.qhp";
  // The project's files, relative to its folder, sorted, in UTF-8; pages are looked up here.
  FileNames files = FileNames();
  // The page of the root section; empty: the page of the first entry of the contents.
  std::string root_ref = "index.html";
  // Where `title` is empty: the root's title, given its page and the title of the first entry
  // of the contents (empty where there is none), asked for when the root is written.
  std::function<std::string(std::string_view page, std::string_view first_title)> root_title =
      nullptr;
  // Whether refs are read as HTML Help reads them: '\' between folders, a page that names no
  // file exactly taken for the one file that differs in letter case only (and written with
  // that file's name), links with a scheme left as they stand and not checked.
  bool html_help_links = false;
  // The files the .qhp lists, given the files the pages of the contents and index name;
  // without it, all of `files`.
  std::function<std::vector<std::string>(const std::vector<std::string>& pages)> pack_files =
      nullptr;
  // The context ids, each written on a keyword of its page: in place of a keyword of the index
  // with exactly its ref where one is left, else on one more keyword of that ref (so that
  // Assistant's Index shows no row without a name, and no row twice with one page).
  std::vector<KeywordId> keyword_ids = {};
  // The title of a page (a file of `files`) for such a keyword, where no section names the page;
  // empty where it has none: then its file's name.
  std::function<std::string(std::string_view file)> page_title = nullptr;
  // About how many bytes the keyword list will take, if known: room made for them at once.
  std::size_t keyword_bytes_hint = 0;
};

class QhpOutput final : public OutputFormat {
 public:
  // A value as plain UTF-8 text, and whether that holds nothing to escape as it stands.
  struct DecodedValue {
    std::string_view text;
    bool plain;
  };

  // Values are decoded with `text`, which knows their character set.
  QhpOutput(OutputStream& stream, const QhpSettings& settings, XmlText& text);

  bool begin() override;
  bool section(std::string_view ref, std::string_view title) override;
  bool list_start() override;
  bool list_end() override;
  bool keyword(std::string_view ref, std::string_view path) override;
  bool end() override;
  std::string_view write_failure() const override { return write_failure_; }

  // "Warning: no file for page PAGE." lines, one for each page that names no file.
  // Hands them over, after the run.
  LargeString take_warnings() { return std::move(warnings_); }
  // The page of the root section, the book's start page, once written.
  const std::string& root_ref() const { return root_ref_; }

 private:
  DecodedValue decoded(std::string_view value);
  // The ref as the .qhp holds it: decoded, without a leading "./", "index.html" when empty.
  DecodedValue page_ref(std::string_view ref);
  // The ref with its page named as a file of the project names it, where HTML Help would find it.
  std::string_view resolve_link(std::string_view ref);
  bool write_root(std::string_view ref, std::string_view first_title);
  void check_page(std::string_view ref);
  bool write_indent(int depth);
  bool write_keywords();
  // The keyword list with the context ids on it.
  bool write_keywords_with_ids(const std::vector<bool>& repeated);
  // Notes the title of a section just made (in element_) where its page has a context id.
  void note_id_title();
  // Warns of the pages that name no file; the distinct pages, where the files to pack need them.
  std::vector<std::string> check_pages();
  bool close_entry();

  OutputStream& out_;
  const QhpSettings& settings_;
  XmlText& text_;
  std::string write_failure_;
  // The pages named, in order (a page named again right away only once), with their hashes,
  // checked against the project's files at the end: once for each page, and in one pass that
  // finds pages named again without a hash table missing the cache at every page.
  LargeString pages_;
  LargeVector<std::uint64_t> page_hashes_;
  LargeVector<std::uint64_t> page_begins_;
  std::string file_;
  std::string resolved_;
  std::string first_title_;
  bool root_written_ = false;
  std::string root_ref_;
  LargeString warnings_;

  // For each open list, from the top level down: whether its last entry is still open. An
  // entry's element stays open until the next entry of its list or the list's end, so that a
  // sub-list that follows it nests inside.
  std::vector<bool> entry_open_;
  int open_elements_ = 0;  // for the indentation
  bool tag_open_ = false;  // the last start tag still lacks its end: "/>" or ">"
  std::string element_;
  // The keyword list, written after the contents; each line's hash and start, for the lines
  // written before to be found and left out once all are known.
  LargeString keywords_;
  LargeVector<std::uint64_t> keyword_hashes_;
  LargeVector<std::uint64_t> keyword_begins_;

  // The pages with context ids, by their ref as the .qhp writes it (escaped): its file as the
  // files list names it, the ids (escaped), how many of them went on keywords of the index, and
  // the names of its keywords so far (in lower case). Sets, not lists: a book may give one page
  // any number of ids, and the contents any number of titles.
  struct IdPage {
    std::string file;
    std::vector<std::string> ids;
    std::size_t placed = 0;
    std::unordered_set<std::string> names;
  };
  std::unordered_map<std::string, IdPage> id_pages_;
  std::vector<std::string> id_page_order_;
  // The titles of the sections of each such page (by file, escaped, each once), for the keywords
  // of ids.
  struct Titles {
    std::vector<std::string> list;
    std::unordered_set<std::string> seen;
  };
  std::unordered_map<std::string, Titles> id_titles_;
};

}  // namespace sitemap
