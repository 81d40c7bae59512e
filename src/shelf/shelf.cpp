#include "shelf/shelf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <set>
#include <string_view>

#include "io/file_names.h"
#include "output/xml_text.h"
#include "project/book_links.h"
#include "project/help_project.h"
#include "project/output_folder.h"
#include "project/pages.h"
#include "project/project_files.h"
#include "shelf/collection.h"
#include "shelf/jobs.h"

namespace sitemap {

namespace {

// `base`, else `base-2`, `base-3` ... : the first that `taken` (lower case) does not hold.
std::string unique_name(const std::string& base, std::set<std::string>& taken) {
  std::string name = base;
  for (int n = 2; !taken.insert(ascii_lower(name)).second; ++n) {
    name = base + "-" + std::to_string(n);
  }
  return name;
}

// `path` relative to the shelf's folder `dir`, where the collection project lies.
std::string relative_to(const std::string& dir, const std::string& path) {
  if (dir.empty()) return path;
  const std::string prefix = dir + "/";
  return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
}

// Writes `text` as the new file `path`; false when it exists or cannot be written.
bool write_new_file(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) ::unlink(path.c_str());
  return written && closed;
}

// A collection project over the books' .qhp files: with `generate`, each built into its .qch
// beside it; every .qch registered, after those of `registered_qchs`.
std::string collection_project(const std::vector<std::string>& qhps, bool generate,
                               const std::vector<std::string>& registered_qchs = {}) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QHelpCollectionProject version=\"1.0\">\n"
      "  <docFiles>\n";
  const auto qch_of = [](const std::string& qhp) { return qhp.substr(0, qhp.size() - 4) + ".qch"; };
  if (generate) {
    text += "    <generate>\n";
    for (const std::string& qhp : qhps) {
      text += "      <file>\n        <input>";
      XmlText::append_escaped(text, qhp);
      text += "</input>\n        <output>";
      XmlText::append_escaped(text, qch_of(qhp));
      text += "</output>\n      </file>\n";
    }
    text += "    </generate>\n";
  }
  text += "    <register>\n";
  for (const std::string& qch : registered_qchs) {
    text += "      <file>";
    XmlText::append_escaped(text, qch);
    text += "</file>\n";
  }
  for (const std::string& qhp : qhps) {
    text += "      <file>";
    XmlText::append_escaped(text, qch_of(qhp));
    text += "</file>\n";
  }
  return text + "    </register>\n  </docFiles>\n</QHelpCollectionProject>\n";
}

// Each line of `text` after "NAME: ".
std::string named_lines(const std::string& name, const std::string& text) {
  std::string out;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    out += name + ": " + text.substr(start, end - start);
    start = end;
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

// The names other books know a book of the shelf by: its file name, and for a project the
// book it compiles to.
std::vector<std::string> names_on_shelf(const std::string& input) {
  std::vector<std::string> names;
  add_name_once(names, file_name_of(input));
  add_name_once(names, stem_of(input) + ".chm");
  return names;
}

// One warning for the links of a book into books that are not on the shelf, counted by book.
void warn_of_links_elsewhere(const ShelfBook& book, const std::map<std::string, int>& missing) {
  if (missing.empty()) return;
  int count = 0;
  std::string names;
  for (const auto& [name, n] : missing) {
    count += n;
    names += (names.empty() ? "" : ", ") + name;
  }
  std::fprintf(stderr, "%s: Warning: %d %s into books not on the shelf (%s) left as %s.\n",
               book.input.c_str(), count, count == 1 ? "link" : "links", names.c_str(),
               count == 1 ? "it is" : "they are");
}

// Writes `text` over the file `path` of a book the shelf wrote: aside, then renamed.
bool replace_file(const std::string& path, const std::string& text) {
  const std::string aside = path + ".shelf-tmp";
  if (!write_new_file(aside, text)) return false;
  if (::rename(aside.c_str(), path.c_str()) == 0) return true;
  ::unlink(aside.c_str());
  return false;
}

// Rewrites the links into other books of the shelf in the pages of `book`.
bool link_pages(const BookLinks& links, const ShelfBook& book, const std::vector<ListedFile>& files,
                std::map<std::string, int>& missing) {
  std::string bytes;
  for (const ListedFile& file : files) {
    if (!is_html_page(file.name)) continue;
    const std::string path = book.folder + "/" + file.disk_name();
    if (!read_file(path, bytes)) return false;
    if (links.rewrite(bytes, missing) && !replace_file(path, bytes)) return false;
  }
  return true;
}

// The value of the attribute that starts with `start` (`ref="`) in a line of a .qhp: where it
// lies; npos where the line has none.
std::pair<std::size_t, std::size_t> attribute_in(const std::string& line, std::string_view start) {
  const std::size_t at = line.find(start);
  if (at == std::string::npos) return {std::string::npos, 0};
  const std::size_t value = at + start.size();
  const std::size_t end = line.find('"', value);
  return end == std::string::npos ? std::make_pair(std::string::npos, std::size_t{0})
                                  : std::make_pair(value, end - value);
}

// An attribute value of a .qhp as text (the .qhp escapes only these).
std::string xml_unescaped(std::string_view value) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const std::string_view rest = value.substr(i);
    const std::pair<std::string_view, char> names[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    bool named = false;
    for (const auto& [name, c] : names) {
      if (!named && rest.substr(0, name.size()) == name) {
        text += c;
        i += name.size() - 1;
        named = true;
      }
    }
    if (!named) text += value[i];
  }
  return text;
}

// The .qhp of one book of the shelf as it is rewritten: its lines, the keywords it hands to
// other books, and the pages it gains.
struct LinkedQhp {
  std::string text;
  std::vector<std::pair<std::string, std::string>> moved_keywords;  // namespace, line
};

// Links into other books in a book's .qhp. Assistant opens a section's or keyword's page only
// within the section's own book (it puts the ref after the book's own qthelp://NAMESPACE/
// FOLDER/), so a keyword into another book moves to that book's keywords (the Index is one
// over the collection), and a section into another book leads to a page of its own that links
// there.
bool link_qhp(const BookLinks& links, const ShelfBook& book, const std::string& qhp,
              LinkedQhp& linked, std::map<std::string, int>& missing) {
  std::string bytes;
  if (!read_file(qhp, bytes)) return false;
  constexpr std::string_view STUBS = "_shelf-links_";
  std::vector<std::string> stubs;
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t end = bytes.find('\n', start);
    end = end == std::string::npos ? bytes.size() : end + 1;
    std::string line = bytes.substr(start, end - start);
    start = end;
    const bool section = line.find("<section ") != std::string::npos;
    const bool keyword = line.find("<keyword ") != std::string::npos;
    const auto [ref_at, ref_size] = attribute_in(line, "ref=\"");
    if ((!section && !keyword) || ref_at == std::string::npos) {
      if (line == "    </files>\n") {
        for (const std::string& stub : stubs) linked.text += "      <file>" + stub + "</file>\n";
      }
      linked.text += line;
      continue;
    }
    BookLinks::Target target;
    std::string other;
    const auto leads = links.resolve(xml_unescaped(std::string_view(line).substr(ref_at, ref_size)),
                                     true, target, other);
    if (leads == BookLinks::Leads::elsewhere) ++missing[other];
    if (leads != BookLinks::Leads::shelf) {
      linked.text += line;
      continue;
    }
    if (keyword) {
      std::string moved = line;
      std::string ref;
      XmlText::append_escaped(ref, target.path + target.anchor);
      moved.replace(ref_at, ref_size, ref);
      linked.moved_keywords.emplace_back(target.namespace_name, moved);
      continue;
    }
    const auto [title_at, title_size] = attribute_in(line, "title=\"");
    const std::string title =
        title_at == std::string::npos ? std::string() : line.substr(title_at, title_size);
    std::string url;
    XmlText::append_escaped(url, links.url(target));
    const std::string stub = std::string(STUBS) + "/" + std::to_string(stubs.size() + 1) + ".html";
    if (stubs.empty()) ::mkdir((book.folder + "/" + std::string(STUBS)).c_str(), 0777);
    if (!write_new_file(book.folder + "/" + stub,
                        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
                            "</title></head>\n<body><p><a href=\"" + url + "\">" + title +
                            "</a></p></body></html>\n")) {
      return false;
    }
    stubs.push_back(stub);
    line.replace(ref_at, ref_size, stub);
    linked.text += line;
  }
  return true;
}

// A book's outcome as it crosses from the process that converted it: length-prefixed texts.
void put_text(std::string& out, const std::string& text) {
  out += std::to_string(text.size());
  out += ':';
  out += text;
}

bool take_text(std::string_view& in, std::string& text) {
  const std::size_t colon = in.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > 20) return false;
  std::size_t size = 0;
  for (const char c : in.substr(0, colon)) {
    if (c < '0' || c > '9') return false;
    size = size * 10 + static_cast<std::size_t>(c - '0');
  }
  if (size > in.size() - colon - 1) return false;
  text.assign(in.substr(colon + 1, size));
  in.remove_prefix(colon + 1 + size);
  return true;
}

std::string encoded(const ShelfOutcome& outcome) {
  std::string out;
  put_text(out, std::to_string(outcome.status));
  put_text(out, outcome.out);
  put_text(out, outcome.err);
  put_text(out, outcome.qhp);
  for (const std::string& book : outcome.merged_books) put_text(out, book);
  return out;
}

bool decoded(std::string_view in, ShelfOutcome& outcome) {
  std::string status;
  if (!take_text(in, status) || !take_text(in, outcome.out) || !take_text(in, outcome.err) ||
      !take_text(in, outcome.qhp)) {
    return false;
  }
  outcome.status = status == "0" ? 0 : status == "2" ? 2 : 1;
  for (std::string book; !in.empty();) {
    if (!take_text(in, book)) return false;
    outcome.merged_books.push_back(book);
  }
  return true;
}

}  // namespace

std::vector<ShelfBook> plan_shelf(const std::vector<std::string>& inputs, const std::string& dir) {
  std::vector<ShelfBook> books;
  std::set<std::string> names, namespaces;
  for (const std::string& input : inputs) {
    ShelfBook book;
    book.input = input;
    std::string stem = stem_of(input);
    if (stem.empty() || stem == "." || stem == "..") stem = "book";
    book.name = unique_name(stem, names);
    book.folder = dir.empty() ? book.name : dir + "/" + book.name;
    book.namespace_name = unique_name(namespace_of(stem), namespaces);
    books.push_back(std::move(book));
  }
  return books;
}

int run_shelf(const ShelfRun& run) {
  const std::string prefix = run.dir.empty() ? "" : run.dir + "/";
  const std::string collection = prefix + run.collection + (run.qch ? ".qhc" : ".qhcp");
  if (!run.dir.empty() && ::mkdir(run.dir.c_str(), 0777) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "Error: Failed to create %s.\n", run.dir.c_str());
    return 1;
  }
  const std::vector<ShelfBook> books = plan_shelf(run.inputs, run.dir);
  // An existing collection file gains the shelf's books, none of whose namespaces it may
  // register already; a collection project of the user's is never written over.
  std::vector<RegisteredBook> registered;
  struct stat st;
  if (::lstat(collection.c_str(), &st) == 0) {
    std::string error;
    if (!run.qch) {
      std::fprintf(stderr,
                   "Error: %s exists already: give another name with --collection, or remove "
                   "it.\n",
                   collection.c_str());
      return 1;
    }
    if (!read_collection(collection, registered, error)) {
      std::fprintf(stderr, "Error: %s\n", error.c_str());
      return 1;
    }
    std::string taken;
    for (const ShelfBook& book : books) {
      for (const RegisteredBook& known : registered) {
        if (known.namespace_name == book.namespace_name) {
          taken += (taken.empty() ? "" : ", ") + book.namespace_name + " (" + book.input + ")";
        }
      }
    }
    if (!taken.empty()) {
      std::fprintf(stderr,
                   "Error: %s registers %s already: convert into another --collection, or "
                   "remove those books from it first.\n",
                   collection.c_str(), taken.c_str());
      return 1;
    }
  }
  int status = 0;
  std::vector<std::string> qhps, merged;
  std::set<std::string> on_shelf;
  for (const std::string& input : run.inputs) {
    for (const std::string& name : names_on_shelf(input)) on_shelf.insert(ascii_lower(name));
  }
  // Each book converted side by side, what it says printed in input order; those that
  // converted kept.
  struct Converted {
    const ShelfBook* book;
    std::string qhp;
    std::vector<ListedFile> files;  // what its folder holds, once it is converted
  };
  const std::size_t total = books.size();
  // The folders this run may take back after an interrupt: those that held nothing before.
  std::vector<bool> ours(total), whole(total, false);
  for (std::size_t i = 0; i < total; ++i) ours[i] = is_new_or_empty_folder(books[i].folder);
  InterruptGuard interrupt;
  ProgressLine progress;
  std::vector<ShelfOutcome> outcomes(total);
  std::vector<bool> ended(total, false);
  std::vector<Converted> converted;
  std::size_t printed = 0, finished = 0;
  run_tasks(
      total, run.jobs, [&](std::size_t i) { return encoded(run.convert(books[i])); },
      [&](std::size_t i, std::string result, bool done) {
        ShelfOutcome& outcome = outcomes[i];
        if (!done || !decoded(result, outcome)) {
          outcome = ShelfOutcome{};
          outcome.status = 1;
          outcome.err = "Error: the conversion of " + books[i].input + " ended before its end.\n";
        }
        ended[i] = true;
        whole[i] = outcome.status == 0;
        progress.show(++finished, total, books[i].input);
        for (; printed < total && ended[printed]; ++printed) {
          if (InterruptGuard::interrupted()) continue;  // taken back below, not reported
          const ShelfOutcome& o = outcomes[printed];
          progress.clear();
          std::fwrite(o.out.data(), 1, o.out.size(), stdout);
          std::fflush(stdout);
          const std::string err = named_lines(books[printed].input, o.err);
          std::fwrite(err.data(), 1, err.size(), stderr);
          progress.show(finished, total, books[i].input);
          if (o.status != 0) {
            status = 1;
            continue;
          }
          converted.push_back({&books[printed], o.qhp, {}});
          for (const std::string& name : o.merged_books) {
            if (on_shelf.count(ascii_lower(name)) == 0) add_name_once(merged, name);
          }
        }
      });
  progress.clear();
  // Interrupted: every folder this run made that holds no whole book goes, and no collection
  // is made.
  const auto take_back = [&]() {
    for (std::size_t i = 0; i < total; ++i) {
      if (ours[i] && !whole[i]) remove_folder(books[i].folder);
    }
    std::fprintf(stderr, "Interrupted: the books converted whole stay; no collection made.\n");
    return 128 + InterruptGuard::signal_number();
  };
  if (InterruptGuard::interrupted()) return take_back();
  // The links between them, once every book's files are known.
  BookLinks links(run.virtual_folder);
  for (Converted& c : converted) {
    std::string ignored;
    c.files = list_folder_files(c.book->folder, ignored);
    std::vector<std::string> files;
    for (const ListedFile& file : c.files) {
      if (!file.tool_file) files.push_back(file.name);
    }
    const FileNames names(std::move(files));
    for (const std::string& name : names_on_shelf(c.book->input)) {
      links.add(name, c.book->namespace_name, names);
    }
  }
  // Pages and .qhp files first, for every book: a keyword may move into a book before it.
  std::vector<LinkedQhp> qhp_texts(converted.size());
  std::vector<bool> linked(converted.size(), false);
  for (std::size_t i = 0; i < converted.size(); ++i) {
    const Converted& c = converted[i];
    std::map<std::string, int> missing;
    linked[i] = link_pages(links, *c.book, c.files, missing) &&
                link_qhp(links, *c.book, c.qhp, qhp_texts[i], missing);
    if (!linked[i]) {
      std::fprintf(stderr, "%s: Error: Failed to write the links of %s.\n", c.book->input.c_str(),
                   c.book->folder.c_str());
      status = 1;
      continue;
    }
    warn_of_links_elsewhere(*c.book, missing);
  }
  for (std::size_t i = 0; i < converted.size(); ++i) {
    const Converted& c = converted[i];
    if (!linked[i]) continue;
    // The keywords other books hand this one, at the end of its own.
    std::string moved;
    for (const LinkedQhp& from : qhp_texts) {
      for (const auto& [ns, line] : from.moved_keywords) {
        if (ns == c.book->namespace_name) moved += line;
      }
    }
    std::string& text = qhp_texts[i].text;
    const std::size_t keywords_end = text.find("    </keywords>\n");
    if (!moved.empty() && keywords_end != std::string::npos) text.insert(keywords_end, moved);
    if (!replace_file(c.qhp, text)) {
      std::fprintf(stderr, "%s: Error: Failed to write %s.\n", c.book->input.c_str(),
                   c.qhp.c_str());
      status = 1;
      linked[i] = false;  // no .qch of it, then
      continue;
    }
    if (!run.qch) qhps.push_back(relative_to(run.dir, c.qhp));
  }
  if (run.qch) {
    // The books' .qch files built side by side; a book whose .qch is not built whole is none.
    std::vector<std::size_t> built;
    for (std::size_t i = 0; i < converted.size(); ++i) {
      if (linked[i]) built.push_back(i);
    }
    const auto index_of = [&](std::size_t b) {
      return static_cast<std::size_t>(converted[built[b]].book - books.data());
    };
    std::vector<std::string> said(built.size());
    std::vector<bool> made(built.size(), false);
    for (std::size_t b = 0; b < built.size(); ++b) whole[index_of(b)] = false;
    run_tasks(
        built.size(), run.jobs,
        [&](std::size_t b) {
          // The .qch alone: the shelf's collection stands for a collection file of each book's.
          const std::string& qhp = converted[built[b]].qhp;
          const std::size_t slash = qhp.rfind('/');
          const std::string name = qhp.substr(slash == std::string::npos ? 0 : slash + 1);
          std::string output;
          const bool built_whole =
              run.generate(slash == std::string::npos ? "." : qhp.substr(0, slash), name,
                           name.substr(0, name.size() - 4) + ".qch", output);
          return (built_whole ? "1" : "0") + output;
        },
        [&](std::size_t b, std::string result, bool done) {
          made[b] = done && !result.empty() && result[0] == '1';
          said[b] = result.empty() ? "" : result.substr(1);
          whole[index_of(b)] = made[b];
        });
    if (InterruptGuard::interrupted()) return take_back();
    for (std::size_t b = 0; b < built.size(); ++b) {
      const Converted& c = converted[built[b]];
      if (!made[b]) {
        std::fwrite(said[b].data(), 1, said[b].size(), stderr);
        std::fprintf(stderr, "%s: Error: qhelpgenerator failed on %s.\n", c.book->input.c_str(),
                     c.qhp.c_str());
        status = 1;
        continue;
      }
      qhps.push_back(relative_to(run.dir, c.qhp));
    }
  }
  if (!merged.empty()) {
    std::string names;
    for (const std::string& name : merged) names += (names.empty() ? "" : ", ") + name;
    std::fprintf(stderr, "Warning: the books merge %s, which are not on the shelf.\n",
                 names.c_str());
  }
  if (qhps.empty()) return status;
  if (!run.qch) {
    if (!write_new_file(collection, collection_project(qhps, true))) {
      std::fprintf(stderr, "Error: Failed to write %s.\n", collection.c_str());
      return 1;
    }
    return status;
  }
  // The project of the collection goes once the collection file is made from it, aside and
  // then renamed into place: never half written, and the books it registered before stay.
  const std::string project_name = "." + run.collection + ".qhcp";
  const std::string project = prefix + project_name;
  const std::string aside_name = "." + run.collection + "-new.qhc";
  const std::string aside = prefix + aside_name;
  std::vector<std::string> registered_qchs;
  for (const RegisteredBook& known : registered) registered_qchs.push_back(known.file);
  if (!write_new_file(project, collection_project(qhps, false, registered_qchs))) {
    std::fprintf(stderr, "Error: Failed to write %s.\n", project.c_str());
    return 1;
  }
  std::string output;
  bool made = run.generate(run.dir.empty() ? "." : run.dir, project_name, aside_name, output);
  ::unlink(project.c_str());
  if (InterruptGuard::interrupted()) {
    ::unlink(aside.c_str());
    return take_back();
  }
  made = made && ::rename(aside.c_str(), collection.c_str()) == 0;
  if (!made) {
    ::unlink(aside.c_str());
    std::fwrite(output.data(), 1, output.size(), stderr);
    std::fprintf(stderr, "Error: qhelpgenerator failed on the collection %s.\n",
                 collection.c_str());
    return 1;
  }
  return status;
}

}  // namespace sitemap
