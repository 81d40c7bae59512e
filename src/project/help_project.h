// A help project as its author made it, read for the conversion: what its project file (.hhp)
// says, its sitemaps decoded to UTF-8 in the code page the project declares, the root section
// and the namespace it should get, and the files it packs, copied into the output folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io/file_names.h"
#include "project/output_folder.h"

namespace sitemap {

struct ProjectFile {
  std::string folder;  // the .hhp's folder: "" for the current one, else ending in '/'
  std::string name;    // the stem of `Compiled file`, else of the .hhp
  // As the project names them ('\' or '/', relative to `folder`); empty where it names none.
  std::string contents;
  std::string index;
  std::string start_page;
  std::string title;                     // UTF-8; empty where it gives none
  std::string code_page;                 // of its `Language`; empty where it gives none
  std::vector<std::string> files;        // [FILES]
  std::vector<std::string> merge_files;  // [MERGE FILES]: other books, as the project names them
  // The context ids: a project's [MAP] and [ALIAS] lines (UTF-8), a book's numbers with their
  // pages.
  std::string map;
  std::string alias;
  std::vector<std::pair<std::uint32_t, std::string>> context_numbers;
};

// What the project file at `path`, which holds `bytes`, says.
ProjectFile read_project_file(const std::string& path, std::string_view bytes,
                              const std::string& forced_encoding, std::string& warnings);

// The file of the project a path of the project names ('\' read as '/', any letter case where
// nothing matches exactly), relative to its folder; empty when there is none.
std::string project_path(const FileNames& files, std::string_view path);

// A sitemap (or another text of the project: a header [MAP] includes) as UTF-8 text, its
// charset found by the project's rules (see find_charset), the
// named references HTML Help Workshop writes for bytes of a single-byte code page taken so:
// `bytes` themselves where they are that text already, else `storage` holds it.
std::string_view decode_sitemap(std::string_view bytes, const std::string& forced,
                                const std::string& code_page, const std::string& file,
                                std::string& warnings, std::string& storage);

// A help namespace made from a book's name, so that two books never share one: lower case, each
// run of characters outside a-z 0-9 . _ as one '-', '-', '.' and '_' trimmed from both ends;
// "help-" and the FNV-1a hash of the name where nothing is left.
std::string namespace_of(std::string_view name);

// The name of a file without its folder and its last ending: "help" for "docs\\help.chm".
std::string stem_of(std::string_view path);

// Reads a file of the project whole; false when it cannot.
bool read_file(const std::string& path, std::string& bytes);

// The pages among `files` that are not UTF-8, which Assistant shows garbled.
std::size_t count_pages_not_utf8(const std::string& folder, const std::vector<std::string>& files);

// What a help compiler packs, copied into `out`: the files `start` names (paths of `files`,
// read from where `disk_path` says),
// and, followed recursively, every file of the project that an HTML page or style sheet among
// them links to or embeds. HTML pages are made readable for Assistant on the way (see
// page_as_utf8, with the project's `code_page`). The files written, sorted; on a failure,
// `failure` holds the error line's message.
std::vector<std::string> pack_project(
    const FileNames& files, const std::function<std::string(const std::string&)>& disk_path,
    const std::vector<std::string>& start, const std::string& code_page, OutputFolder& out,
    std::string& failure);

}  // namespace sitemap
