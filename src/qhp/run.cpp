#include "qhp/run.h"

#include <fnmatch.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <new>
#include <unordered_map>

#include "convert/converter.h"
#include "convert/html_sitemap.h"
#include "io/file_streams.h"
#include "open/open_book.h"
#include "project/charset_labels.h"
#include "project/chm_book.h"
#include "project/code_page.h"
#include "project/context_ids.h"
#include "project/help_project.h"
#include "project/output_folder.h"
#include "project/pages.h"
#include "project/project_files.h"
#include "qhp/qhelpgenerator.h"
#include "shelf/jobs.h"
#include "shelf/shelf.h"

#ifndef SITEMAP_VERSION
#define SITEMAP_VERSION "unknown"
#endif

namespace sitemap {

namespace {

// The usual code page of HTML Help projects, for inputs that are not UTF-8.
constexpr const char* FALLBACK_ENCODING = "WINDOWS-1252";

// Checks that what the conversion reads is UTF-8, on the way through.
class CheckedInput final : public InputStream {
 public:
  explicit CheckedInput(InputStream& inner) : inner_(inner) {}
  long read(char* dest, std::size_t size) override {
    const long got = inner_.read(dest, size);
    if (got > 0) check_.feed(std::string_view(dest, static_cast<std::size_t>(got)));
    return got;
  }
  void close() override {}
  std::size_t size_hint() const override { return inner_.size_hint(); }
  // Whether the whole stream is UTF-8: reads what the conversion left unread. A stream that
  // fails is taken for none.
  bool all_utf8() {
    char block[64 * 1024];
    for (long got; (got = read(block, sizeof block)) != 0;) {
      if (got < 0) return false;
    }
    return check_.valid();
  }

 private:
  InputStream& inner_;
  Utf8Check check_;
};

struct QhpRun {
  QhpOptions& options;
  XmlText text;
  Report report;
  std::string warnings;
  // The writer's warnings about pages, printed after the others.
  LargeString page_warnings;
  std::string start_page;  // the root section's page
  // The books the project's [MERGE FILES] names, beside those its contents merge.
  std::vector<std::string> project_merges;
  // Where given, the books merged are added here instead of warned of (a shelf knows which of
  // them it holds).
  std::vector<std::string>* merged_out = nullptr;
};

Outcome fail_run(QhpRun& run, std::string_view message) {
  fail(run.report, message);
  return Outcome::failure;
}

// Writes the .qhp aside with `convert` (which fills a QhpOutput and tells whether its work is
// to be kept) and puts it in place only when that succeeded.
template <typename Convert>
Outcome write_qhp(QhpRun& run, Convert convert) {
  const std::string& name = run.options.settings.output_name;
  std::unique_ptr<ReplacingFileOutput> output = ReplacingFileOutput::create(name);
  if (!output) return fail_run(run, "Failed to open " + name + ".");
  QhpOutput qhp(*output, run.options.settings, run.text);
  bool keep = true;
  if (convert(*output, qhp, keep) != Outcome::success) return Outcome::failure;
  if (!keep) return Outcome::success;
  if (!output->commit()) return fail_run(run, qhp.write_failure());
  run.page_warnings = qhp.take_warnings();
  run.start_page = qhp.root_ref();
  return Outcome::success;
}

// One conversion of the two inputs by the strict grammar. With `utf8_check`, also whether both
// inputs turned out to be UTF-8 all through; when not, nothing is put in place.
Outcome convert_once(QhpRun& run, InputStream& contents, InputStream& index, bool* utf8_check) {
  return write_qhp(run, [&](OutputStream& output, QhpOutput& qhp, bool& keep) {
    CheckedInput checked_contents(contents), checked_index(index);
    InputStream* inputs[] = {&contents, &index};
    if (utf8_check != nullptr) {
      inputs[0] = &checked_contents;
      inputs[1] = &checked_index;
    }
    ConversionFiles streams{inputs[0], inputs[1], &output};
    if (convert_sitemap(streams, qhp, run.report) != Outcome::success) return Outcome::failure;
    if (utf8_check != nullptr) {
      *utf8_check = checked_contents.all_utf8() && checked_index.all_utf8();
      keep = *utf8_check;  // else converted again, and put in place then
    }
    return Outcome::success;
  });
}

// The <title> of a page on disk, read in `code_page` where it does not say; empty where it has
// none or cannot be read.
std::string title_of_page(const std::string& path, const std::string& code_page) {
  std::string bytes, converted;
  if (path.empty() || !read_file(path, bytes)) return {};
  const std::string title =
      page_title(page_as_utf8(bytes, code_page, converted) ? converted : bytes);
  return is_valid_utf8(title) ? title : std::string();
}

// Where the project or book gives no title and the start page has none, the root's title is
// found when the root is written: the <title> of the first page of the contents where that is
// the root's page, else the first entry's title, else `stem` (the .hhp's or the book's).
// Never the name of a folder: that of the output folder says nothing of the book.
void title_root_later(QhpSettings& settings, const std::string& stem,
                      std::function<std::string(const std::string&)> page_path,
                      const std::string& code_page) {
  const bool root_is_first_page = settings.root_ref.empty();
  settings.title.clear();
  settings.root_title = [=](std::string_view page, std::string_view first_title) {
    if (root_is_first_page) {
      const std::string title =
          title_of_page(page_path(std::string(page.substr(0, page.find('#')))), code_page);
      if (!title.empty()) return title;
    }
    return first_title.empty() ? stem : std::string(first_title);
  };
}

// A sitemap: where it is on disk, and its name for messages (in UTF-8).
struct SitemapFile {
  std::string path;
  std::string name;
};

// The sitemaps of a project read as HTML, decoded to UTF-8, into the .qhp. A project without an
// index file, or with an index without entries, gets no keywords, with a warning.
Outcome convert_sitemaps(QhpRun& run, const SitemapFile& contents_sitemap,
                         const SitemapFile& index_sitemap, const std::string& code_page) {
  const std::string& contents_path = contents_sitemap.path;
  const std::string& index_path = index_sitemap.path;
  const std::string& contents_name = contents_sitemap.name;
  const std::string& index_name = index_sitemap.name;
  const QhpOptions& options = run.options;
  // A book without contents has its root section alone.
  const bool has_contents = !contents_path.empty();
  std::unique_ptr<FileInput> contents_file;
  if (has_contents) contents_file = open_input_file(contents_path);
  if (has_contents && !contents_file) return fail_run(run, "Failed to open " + contents_name + ".");
  std::unique_ptr<FileInput> index_file;
  if (!index_path.empty()) {
    index_file = open_input_file(index_path);
    if (!index_file && errno != ENOENT) return fail_run(run, "Failed to open " + index_name + ".");
  }
  if (!index_file) {
    run.warnings += "Warning: no index file" + (index_name.empty() ? "" : " " + index_name) +
                    ": the help gets no keywords.\n";
  }
  // Mapped, not read: the text is the system's page cache, and the pages the parser is done
  // with are given back (peak memory of the 100,000-page project in Doxygen's form: see
  // WholeInput and parse_html).
  WholeInput contents, index;
  if (has_contents && !contents.load(*contents_file)) {
    return fail_run(run, "Failed to read " + contents_name + ".");
  }
  if (index_file && !index.load(*index_file)) {
    return fail_run(run, "Failed to read " + index_name + ".");
  }
  // Each read through once to find its character set, and given back: read again as it is
  // parsed.
  std::string contents_storage, index_storage;
  const std::string_view contents_text =
      has_contents ? decode_sitemap(contents.bytes(), options.encoding, code_page, contents_name,
                                    run.warnings, contents_storage)
                   : std::string_view();
  contents.release(SIZE_MAX);
  const std::string_view index_text =
      index_file ? decode_sitemap(index.bytes(), options.encoding, code_page, index_name,
                                  run.warnings, index_storage)
                 : std::string_view();
  index.release(SIZE_MAX);
  bool index_has_entries = true;
  std::vector<std::string> merged_books;
  HtmlSitemap sitemap;
  sitemap.contents = contents_text;
  sitemap.index = index_text;
  sitemap.has_index = index_file != nullptr;
  sitemap.contents_name = contents_name;
  sitemap.index_name = index_name;
  sitemap.encoding = "UTF-8";
  sitemap.checked_utf8 = true;  // decoded so
  if (contents_text.data() == contents.bytes().data()) {
    sitemap.contents_done_before = [&contents](std::size_t end) { contents.release(end); };
  }
  if (index_text.data() == index.bytes().data()) {
    sitemap.index_done_before = [&index](std::size_t end) { index.release(end); };
  }
  sitemap.index_has_entries = &index_has_entries;
  sitemap.has_contents = has_contents;
  sitemap.start_page = run.options.settings.root_ref;
  sitemap.merged_books = &merged_books;
  run.options.settings.keyword_bytes_hint = index_text.size() / 2;
  // The parser hands out the values in UTF-8, their references decoded.
  run.text.set_encoding("UTF-8");
  run.text.set_references(false);
  run.options.settings.html_help_links = true;

  const Outcome outcome = write_qhp(run, [&](OutputStream&, QhpOutput& qhp, bool&) {
    return convert_html_sitemap(sitemap, qhp, run.report);
  });
  if (outcome == Outcome::success && !index_has_entries) {
    run.warnings += "Warning: no entries in " + index_name + ": the help gets no keywords.\n";
  }
  for (const std::string& book : run.project_merges) add_name_once(merged_books, book);
  if (outcome == Outcome::success && run.merged_out != nullptr) {
    for (const std::string& book : merged_books) add_name_once(*run.merged_out, book);
  } else if (outcome == Outcome::success && !merged_books.empty()) {
    std::string books;
    for (const std::string& book : merged_books) books += (books.empty() ? "" : ", ") + book;
    run.warnings += "Warning: the contents merge " + books + ", which are not converted with it.\n";
  }
  return outcome;
}

// One warning for the pages Assistant will show garbled, in the modes that write in place.
void warn_of_pages_not_utf8(QhpRun& run, const std::string& folder) {
  const std::size_t count = count_pages_not_utf8(folder, run.options.settings.files.all());
  if (count == 0) return;
  run.warnings += "Warning: " + std::to_string(count) + (count == 1 ? " page is" : " pages are") +
                  " not UTF-8, and Qt Assistant shows every non-ASCII character of them as "
                  "'\xEF\xBF\xBD': convert the project from its .hhp, or give --encoding.\n";
}

// --html: the sitemaps of the current folder, read as HTML.
Outcome convert_html(QhpRun& run) {
  QhpSettings& settings = run.options.settings;
  settings.files = FileNames(list_project_files(".", run.warnings));
  const std::string* start = settings.files.find("index.html");
  settings.root_ref = start != nullptr ? *start : std::string();
  if (!run.options.title_given) {
    settings.title = title_of_page(settings.root_ref, run.options.encoding);
    if (settings.title.empty()) {
      title_root_later(
          settings, stem_of(run.options.contents), [](const std::string& page) { return page; },
          run.options.encoding);
    }
  }
  warn_of_pages_not_utf8(run, "");
  return convert_sitemaps(run, {run.options.contents, run.options.contents},
                          {run.options.index, run.options.index}, "");
}

// The files of a book written out already (`in_place`), else of the project's folder: by name
// in UTF-8, the sitemaps and project files apart; where a name on disk is in the project's code
// page, that name too.
struct BookFiles {
  std::vector<std::string> names, tool_names;
  std::unordered_map<std::string, std::string> disk_names;
};

BookFiles book_files(QhpRun& run, const ProjectFile& project,
                     const std::vector<std::string>* written) {
  BookFiles files;
  const auto add = [&](std::string name, bool tool_file) {
    (tool_file ? files.tool_names : files.names).push_back(std::move(name));
  };
  if (written != nullptr) {
    // The names the book's files were written under, hidden ones too: they are all of the book.
    for (const std::string& name : *written) add(name, is_tool_file(name));
    std::sort(files.names.begin(), files.names.end());
    std::sort(files.tool_names.begin(), files.tool_names.end());
    return files;
  }
  const std::string& folder = project.folder;
  for (ListedFile& file :
       list_folder_files(folder.empty() ? "." : folder, run.warnings,
                         project.code_page.empty() ? "WINDOWS-1252" : project.code_page)) {
    if (!file.disk.empty()) files.disk_names.emplace(file.name, file.disk);
    add(std::move(file.name), file.tool_file);
  }
  return files;
}

// A file the project names: the file of the project, else a warning that names it and "".
std::string named_file(QhpRun& run, const FileNames& files, const std::string& name,
                       std::string_view what) {
  const std::string path = project_path(files, name);
  if (path.empty()) {
    run.warnings += "Warning: " + name + ", which " + run.options.project + " names as " +
                    std::string(what) + ", does not exist.\n";
  }
  return path;
}

// Adds the files of the project that `pattern` (a [FILES] line with wildcards, '\\' or '/'
// between folders, any letter case) matches; false where it matches none.
bool add_matching_files(const FileNames& files, const std::string& pattern,
                        std::vector<std::string>& matched) {
  std::string wanted = ascii_lower(pattern);
  std::replace(wanted.begin(), wanted.end(), '\\', '/');
  while (wanted.compare(0, 2, "./") == 0) wanted.erase(0, 2);
  bool any = false;
  for (const std::string& file : files.all()) {
    if (::fnmatch(wanted.c_str(), ascii_lower(file).c_str(), FNM_PATHNAME) == 0) {
      matched.push_back(file);
      any = true;
    }
  }
  return any;
}

// The context ids of a project or book, each on a keyword of its page: the keyword of an id whose
// page the index names nowhere is named by the page's title.
void read_context_ids(QhpRun& run, const ProjectFile& project, const FileNames& tool_files,
                      const std::function<std::string(const std::string&)>& disk_path) {
  QhpSettings& settings = run.options.settings;
  if (!project.context_numbers.empty()) {
    settings.keyword_ids = book_context_ids(project.context_numbers, settings.files, run.warnings);
  } else if (!project.map.empty() || !project.alias.empty()) {
    // A file the project includes is found as its pages are; else where the path leads (a
    // header of the program's sources beside the project, "..\\resource.hm").
    const IncludeReader read = [&](const std::string& name, std::string& text) {
      std::string path = project_path(settings.files, name);
      if (path.empty()) path = project_path(tool_files, name);
      if (path.empty()) {
        path = name;
        std::replace(path.begin(), path.end(), '\\', '/');
        if (path.empty() || path[0] != '/') path = project.folder + path;
      } else {
        path = disk_path(path);
      }
      std::string bytes, storage;
      if (!read_file(path, bytes)) return false;
      text.assign(decode_sitemap(bytes, run.options.encoding, project.code_page, name, run.warnings,
                                 storage));
      return true;
    };
    settings.keyword_ids = project_context_ids(project.map, project.alias, settings.files, read,
                                               run.options.project, run.warnings);
  }
  if (settings.keyword_ids.empty()) return;
  const std::string code_page = project.code_page;
  settings.page_title = [disk_path, code_page](std::string_view file) {
    return title_of_page(disk_path(std::string(file)), code_page);
  };
}

// A project read, into a folder of its own: its sitemaps converted, the .qhp written, the files
// it packs copied there (or, where `written` lists them, already there: a book's files).
Outcome convert_book(QhpRun& run, OutputFolder& out, const ProjectFile& project,
                     const std::vector<std::string>* written) {
  QhpOptions& options = run.options;
  QhpSettings& settings = options.settings;
  const bool in_place = written != nullptr;
  const std::string& folder = project.folder;
  BookFiles listed = book_files(run, project, written);
  settings.files = FileNames(std::move(listed.names));
  const FileNames sitemaps(std::move(listed.tool_names));
  const std::unordered_map<std::string, std::string> disk_names = std::move(listed.disk_names);
  const auto disk_path = [&](const std::string& name) {
    const auto found = disk_names.find(name);
    return folder + (found == disk_names.end() ? name : found->second);
  };

  std::string contents = options.contents_given ? options.contents : project.contents;
  if (contents.empty()) {
    // A project that names none, with a single contents file: that one. With none at all, the
    // book converts without contents, as HTML Help opens it: at its start page.
    std::vector<std::string> found;
    for (const std::string& name : sitemaps.all()) {
      if (ends_with_ignoring_case(name, ".hhc")) found.push_back(name);
    }
    if (found.size() > 1) {
      return fail_run(run, options.project + " names no contents file (Contents file=).");
    }
    if (!found.empty()) contents = found.front();
  }
  const std::string* contents_file =
      contents.empty() ? nullptr : sitemaps.find(normalize_link("", contents));
  if (contents_file == nullptr && !contents.empty()) {
    if (options.contents_given) return fail_run(run, "Failed to open " + contents + ".");
    if (!in_place) {
      return fail_run(run, "The contents file " + contents + " that " + options.project +
                               " names does not exist.");
    }
    // A compiled book is what it is: HTML Help shows it without the contents it lacks.
    run.warnings += "Warning: the contents file " + contents + " that " + options.project +
                    " names is not in it.\n";
  }
  if (contents_file == nullptr) {
    run.warnings += "Warning: " + options.project +
                    " has no contents: the help is one section, its start page, and packs "
                    "every file.\n";
  }
  const std::string index = options.index_given ? options.index : project.index;
  const std::string* index_file =
      index.empty() ? nullptr : sitemaps.find(normalize_link("", index));
  const std::string index_path = index.empty() ? ""
                                 : index_file  ? disk_path(*index_file)
                                               : folder + index;

  // The start page as the project names it, else index.html, else the first page of the
  // contents (of the book, where it has no contents).
  std::string start = project.start_page.empty()
                          ? std::string()
                          : named_file(run, settings.files, project.start_page, "its start page");
  if (start.empty() && settings.files.contains("index.html")) start = "index.html";
  if (start.empty() && contents_file == nullptr) {
    for (const std::string& file : settings.files.all()) {
      if (is_html_page(file)) {
        start = file;
        break;
      }
    }
    if (start.empty() && !settings.files.all().empty()) start = settings.files.all().front();
  }
  settings.root_ref = start;
  const std::string stem = stem_of(options.project);
  if (!options.title_given) {
    settings.title = project.title;
    if (settings.title.empty() && !start.empty()) {
      settings.title = title_of_page(disk_path(start), project.code_page);
    }
    if (settings.title.empty()) {
      title_root_later(settings, stem, disk_path, project.code_page);
    }
  }
  if (!options.namespace_given) settings.namespace_name = namespace_of(project.name);
  for (const std::string& book : project.merge_files) {
    add_name_once(run.project_merges, file_name_of(book));
  }
  read_context_ids(run, project, sitemaps, disk_path);
  const std::string dir = options.output_dir.empty() ? project.name : options.output_dir;
  const std::string qhp_name = options.output_given ? settings.output_name : project.name + ".qhp";
  settings.output_name = dir + "/" + qhp_name;

  std::string error;
  if (!in_place && !out.open(dir, error)) return fail_run(run, error);
  std::vector<std::string> packed_start;
  for (const std::string& file : project.files) {
    if (file.find_first_of("*?") != std::string::npos) {
      // HTML Help Workshop takes wildcards in [FILES] ("html\\*.htm"): every file they match.
      if (!add_matching_files(settings.files, file, packed_start)) {
        run.warnings += "Warning: " + file + ", which " + run.options.project +
                        " names as files to pack, matches no file.\n";
      }
      continue;
    }
    const std::string path = named_file(run, settings.files, file, "a file to pack");
    if (!path.empty()) packed_start.push_back(path);
  }
  if (contents_file == nullptr) packed_start = settings.files.all();
  std::string pack_failure;
  settings.pack_files = [&](const std::vector<std::string>& pages) {
    if (in_place) return settings.files.all();  // the book holds what its compiler packed
    std::vector<std::string> start_files = packed_start;
    if (!start.empty()) start_files.push_back(start);
    for (const std::string& page : pages) {
      if (settings.files.contains(page)) start_files.push_back(page);
    }
    return pack_project(settings.files, disk_path, start_files, project.code_page, out,
                        pack_failure);
  };
  const Outcome outcome = convert_sitemaps(
      run,
      contents_file == nullptr ? SitemapFile{}
                               : SitemapFile{disk_path(*contents_file), *contents_file},
      {index_path, index_file != nullptr ? *index_file : index}, project.code_page);
  if (outcome != Outcome::success) return outcome;
  if (!pack_failure.empty()) return fail_run(run, pack_failure);
  return Outcome::success;
}

// PROJECT.hhp, which holds `bytes`: the project converted into a folder of its own.
Outcome convert_project(QhpRun& run, OutputFolder& out, std::string_view bytes) {
  const ProjectFile project =
      read_project_file(run.options.project, bytes, run.options.encoding, run.warnings);
  return convert_book(run, out, project, nullptr);
}

#ifdef SITEMAP_HAVE_MSPACK
// A name of a book's file for a message: bytes that could not be shown as \xNN.
std::string shown_name(std::string_view name) {
  std::string shown;
  const bool utf8 = is_valid_utf8(name);
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || (!utf8 && byte >= 0x80)) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown;
}

// BOOK.chm: every file of the book written into a folder of its own (pages made readable on the
// way), then converted there as its project would be.
Outcome convert_chm(QhpRun& run, OutputFolder& out, std::string& bytes) {
  const std::string& book_path = run.options.project;
  if (!is_chm(bytes)) {
    return fail_run(run, book_path + " is not a .chm book (it does not start with ITSF).");
  }
  ChmBook book;
  std::string error;
  if (!book.open(std::move(bytes), book_path, error)) return fail_run(run, error);
  const ChmSettings chm = book.settings();
  if (chm.binary_contents_only) {
    return fail_run(run, book_path + " holds its contents only in binary form (#TOCIDX), " +
                             "without a contents file (.hhc) to convert.");
  }
  ProjectFile project;
  project.name = stem_of(book_path);
  project.code_page = code_page_of_lcid(chm.language);
  const std::string dir = run.options.output_dir.empty() ? project.name : run.options.output_dir;
  if (!out.open(dir, error)) return fail_run(run, error);
  project.folder = dir + "/";
  // The texts of the system files are in the book's code page.
  const auto text = [&](const std::string& raw) {
    std::string warnings;
    return decode_text(raw, find_charset(raw, "", project.code_page, "", warnings), false);
  };
  project.contents = text(chm.contents);
  project.index = text(chm.index);
  project.start_page = text(chm.default_topic);
  project.title = text(chm.title);
  for (const auto& number : chm.context_ids) {
    project.context_numbers.emplace_back(number.first, text(number.second));
  }
  if (chm.context_ids_left_out != 0) {
    run.warnings += "Warning: left out the last " + std::to_string(chm.context_ids_left_out) +
                    " context ids of the book: it holds more than " +
                    std::to_string(MAX_CONTEXT_IDS) + ".\n";
  }

  std::string data, converted;
  std::vector<std::string> written;
  for (const std::string& name : book.file_names()) {
    const std::string path = safe_entry_path(name);
    if (path.empty()) {
      run.warnings += "Warning: left out " + shown_name(name) +
                      " of the book: its name could lead outside " + dir + ".\n";
      continue;
    }
    if (!book.extract(name, data)) {
      if (book.too_large()) {
        return fail_run(run, path + " of " + book_path +
                                 " claims more bytes than a book of its size can hold.");
      }
      return fail_run(run, "Failed to decompress " + path + " of " + book_path + ".");
    }
    std::string_view kept = data;
    if (is_html_page(path) && page_as_utf8(data, project.code_page, converted)) kept = converted;
    if (!out.write(path, kept)) {
      // Two names of the book that HTML Help reads as one ("a\\b" and "a/b"): the first stays.
      if (errno == EEXIST) {
        run.warnings += "Warning: left out " + shown_name(name) + " of the book: " + path +
                        " is written already.\n";
        continue;
      }
      return fail_run(run, "Failed to write " + dir + "/" + path + ".");
    }
    written.push_back(path);
  }
  return convert_book(run, out, project, &written);
}
#endif

// A project file or a book, told apart by what the file holds.
Outcome convert_project_or_book(QhpRun& run, OutputFolder& out) {
  const std::string& path = run.options.project;
  const bool named_chm = ends_with_ignoring_case(path, ".chm");
  std::string bytes;
  if (!read_file(path, bytes)) return fail_run(run, "Failed to read " + path + ".");
  if (!is_chm(bytes) && !named_chm) return convert_project(run, out, bytes);
#ifdef SITEMAP_HAVE_MSPACK
  return convert_chm(run, out, bytes);
#else
  return fail_run(run, "This sitemap-to-qhp reads no .chm: it was built without libmspack.");
#endif
}

Outcome convert(QhpRun& run, OutputFolder& out) {
  if (!run.options.project.empty()) return convert_project_or_book(run, out);
  if (run.options.html) return convert_html(run);
  OpenedFiles files;
  if (open_input_files(files, run.report, run.options.contents, run.options.index) !=
      Outcome::success) {
    return Outcome::failure;
  }
  run.options.settings.files = FileNames(list_project_files(".", run.warnings));
  warn_of_pages_not_utf8(run, "");
  // The keyword list takes about half the size of the index (measured on generated projects).
  run.options.settings.keyword_bytes_hint = files.index->size_hint() / 2;
  if (!run.options.encoding.empty())
    return convert_once(run, *files.contents, *files.index, nullptr);

  // Without --encoding the inputs are UTF-8 if both are so all through, else windows-1252. The
  // first conversion takes them for UTF-8 and checks them as it reads; only when they are not
  // is the conversion made again. A stream that cannot be read twice (a FIFO) is kept in memory.
  std::unique_ptr<ReplayInput> replayed[2];
  InputStream* inputs[] = {files.contents.get(), files.index.get()};
  for (int i = 0; i < 2; ++i) {
    if (!inputs[i]->rewind()) {
      replayed[i] = std::make_unique<ReplayInput>(*inputs[i]);
      inputs[i] = replayed[i].get();
    }
  }
  run.text.set_encoding("UTF-8");
  bool utf8 = true;
  const Outcome first = convert_once(run, *inputs[0], *inputs[1], &utf8);
  if (first != Outcome::success || utf8) return first;
  if (!inputs[0]->rewind()) return fail_run(run, "Failed to read " + run.options.contents + ".");
  if (!inputs[1]->rewind()) return fail_run(run, "Failed to read " + run.options.index + ".");
  run.text.set_encoding(FALLBACK_ENCODING);
  return convert_once(run, *inputs[0], *inputs[1], nullptr);
}

// qhelpgenerator, wherever it is, run in `folder` on `input` for `result` (for a shelf's books
// and collection, and the library of books opened); false, with what it said, when it failed
// or is nowhere.
bool generate(const std::string& folder, const std::string& input, const std::string& result,
              std::string& output) {
  const std::string generator = find_qhelpgenerator();
  if (generator.empty()) {
    output = std::string("Error: ") + QHELPGENERATOR_NOT_FOUND + "\n";
    return false;
  }
  return run_generator(generator, folder, input, result, output);
}

}  // namespace

BookReport convert_one_book(QhpOptions& options, std::vector<std::string>* merged_books) {
  BookReport report;
  QhpRun run{options, {}, {}, {}, {}, {}, {}, merged_books};
  // A charset label means what it means to HTML Help (a browser's table); any other name is
  // iconv's.
  const std::string given_encoding = options.encoding;
  const std::string labelled = encoding_of_label(options.encoding);
  if (!labelled.empty()) options.encoding = labelled;
  if (!options.encoding.empty() && !run.text.set_encoding(options.encoding)) {
    report.err = "sitemap-to-qhp: unknown encoding '" + given_encoding + "' (see iconv --list)\n";
    report.status = 2;
    return report;
  }
  Outcome outcome;
  OutputFolder out;
  try {
    outcome = convert(run, out);
  } catch (const std::bad_alloc&) {
    run.report.err.clear();
    outcome = fail_run(run, OUT_OF_MEMORY);
  }
  // A failed run leaves nothing of its own behind in the output folder.
  if (outcome != Outcome::success) out.discard();
  report.out = std::move(run.report.out);
  report.err = std::move(run.report.err);
  if (outcome != Outcome::success) {
    report.status = 1;
    return report;
  }
  report.err += run.warnings;
  report.err.append(run.page_warnings.data(), run.page_warnings.size());
  report.qhp = options.settings.output_name;
  report.start_page = run.start_page;
  if (!options.qch) return report;
  // The .qhp is complete and stays, whatever becomes of this step.
  const std::string generator = find_qhelpgenerator();
  if (generator.empty()) {
    report.err += std::string("Error: ") + QHELPGENERATOR_NOT_FOUND + "\n";
    report.status = 1;
    return report;
  }
  std::string output;
  if (!run_qhelpgenerator(generator, options.settings.output_name, output)) {
    report.err +=
        output + "Error: " + generator + " failed on " + options.settings.output_name + ".\n";
    report.status = 1;
  }
  return report;
}

int run_open_book(const QhpOptions& options) {
  OpenRun run;
  run.input = options.project;
  run.encoding = options.encoding;
  run.version = SITEMAP_VERSION;
  run.convert = [&options](const std::string& folder) {
    QhpOptions one = options;
    one.qch = true;
    one.output_dir = folder;
    BookReport report = convert_one_book(one, nullptr);
    CachedConversion done;
    done.status = report.status;
    done.err = report.out + report.err;
    if (report.status == 0) {
      done.qch = report.qhp.substr(0, report.qhp.size() - 4) + ".qch";
      done.namespace_name = one.settings.namespace_name;
      done.virtual_folder = one.settings.virtual_folder;
      done.start_page = report.start_page;
    }
    return done;
  };
  run.generate = generate;
  std::string err;
  const int status = open_book(run, err);
  std::fwrite(err.data(), 1, err.size(), stderr);
  return status;
}

int run_shelf_of_books(const QhpOptions& options) {
  ShelfRun shelf;
  shelf.inputs = options.inputs;
  shelf.dir = options.output_dir;
  shelf.collection = options.collection;
  shelf.qch = options.qch;
  shelf.virtual_folder = options.settings.virtual_folder;
  shelf.jobs = options.jobs != 0 ? options.jobs : processor_count();
  shelf.convert = [&options](const ShelfBook& book) {
    QhpOptions one = options;
    one.qch = false;  // built once the links between the books are made
    one.project = book.input;
    one.output_dir = book.folder;
    one.settings.namespace_name = book.namespace_name;
    one.namespace_given = true;
    ShelfOutcome outcome;
    BookReport report = convert_one_book(one, &outcome.merged_books);
    outcome.status = report.status;
    outcome.out = std::move(report.out);
    outcome.err = std::move(report.err);
    outcome.qhp = std::move(report.qhp);
    return outcome;
  };
  shelf.generate = generate;
  return run_shelf(shelf);
}

int run_sitemap_to_qhp(QhpOptions& options) {
  const BookReport report = convert_one_book(options, nullptr);
  std::fwrite(report.out.data(), 1, report.out.size(), stdout);
  std::fflush(stdout);
  std::fwrite(report.err.data(), 1, report.err.size(), stderr);
  return report.status;
}

}  // namespace sitemap
