#include "project/context_ids.h"

#include <algorithm>
#include <unordered_map>

namespace sitemap {

namespace {

// Past this many warnings of one kind, the rest are counted: a header of a thousand dialog ids
// that the project gives no pages would bury every other line.
constexpr std::size_t LISTED_WARNINGS = 10;
// Files that [MAP] or [ALIAS] include nest at most this deep (one that includes itself is
// caught before): a chain of includes of one file under different names ends there.
constexpr int MAX_INCLUDE_DEPTH = 16;

enum Kind { BAD_LINE, NO_INCLUDE, MAPPED_TWICE, TWO_PAGES, NO_FILE, NO_NUMBER, NO_ALIAS, KINDS };

// How the count of the warnings of each kind past the first ten goes on.
constexpr std::string_view MORE[KINDS] = {
    "lines of [MAP] and [ALIAS] are left out.",
    "files that [MAP] and [ALIAS] include cannot be read.",
    "names of [MAP] are mapped to two numbers.",
    "context ids lead to two pages.",
    "context ids lead to files that do not exist.",
    "aliases have no number in [MAP].",
    "names of [MAP] have no alias.",
};

class Warnings {
 public:
  explicit Warnings(std::string& out) : out_(out) {}
  // Adds the count of each kind past its first ten.
  void finish() {
    for (int kind = 0; kind < KINDS; ++kind) {
      if (counts_[kind] <= LISTED_WARNINGS) continue;
      out_ += "Warning: " + std::to_string(counts_[kind] - LISTED_WARNINGS) + " more " +
              std::string(MORE[kind]) + "\n";
    }
  }
  void add(Kind kind, const std::string& text) {
    if (++counts_[kind] <= LISTED_WARNINGS) out_ += "Warning: " + text + "\n";
  }
  // An id named again for another page: the first page stays.
  void two_pages(const std::string& id, const std::string& kept, const std::string& other) {
    add(TWO_PAGES, "the context id " + id + " leads to " + kept + " and to " + other + ": " + kept +
                       " is kept.");
  }

 private:
  std::string& out_;
  std::size_t counts_[KINDS] = {};
};

// The ids found, each once: an id that would lead to a second page keeps its first.
class Ids {
 public:
  explicit Ids(Warnings& warnings) : warnings_(warnings) {}
  void add(const std::string& id, const std::string& page) {
    const auto found = by_id_.try_emplace(id, list_.size());
    if (found.second) {
      list_.push_back({id, page});
    } else if (list_[found.first->second].ref != page) {
      warnings_.two_pages(id, list_[found.first->second].ref, page);
    }
  }
  std::vector<KeywordId> take() { return std::move(list_); }

 private:
  Warnings& warnings_;
  std::vector<KeywordId> list_;
  std::unordered_map<std::string, std::size_t> by_id_;
};

// The text without its C comments, line ends kept. A "//" starts a comment only at a line's
// start or after a blank: in "http://" it does not.
std::string without_comments(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "/*") == 0) {
      const std::size_t end = text.find("*/", i + 2);
      const std::size_t stop = end == std::string_view::npos ? text.size() : end + 2;
      for (std::size_t j = i; j < stop; ++j) {
        if (text[j] == '\n') out += '\n';
      }
      out += ' ';
      i = stop;
    } else if (text.compare(i, 2, "//") == 0 &&
               (i == 0 || text[i - 1] == ' ' || text[i - 1] == '\t' || text[i - 1] == '\n')) {
      i = std::min(text.find('\n', i), text.size());
    } else {
      out += text[i++];
    }
  }
  return out;
}

// A number as C writes it: decimal or 0x hexadecimal, in parentheses or not, with U and L
// suffixes or not; within 32 bits, which is what HTML Help takes.
bool read_number(std::string_view value, std::uint32_t& number) {
  value = trimmed_line(value);
  if (value.size() >= 2 && value.front() == '(' && value.back() == ')') {
    value = trimmed_line(value.substr(1, value.size() - 2));
  }
  while (!value.empty() && (value.back() == 'u' || value.back() == 'U' || value.back() == 'l' ||
                            value.back() == 'L')) {
    value.remove_suffix(1);
  }
  const bool hex = value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
  if (hex) value.remove_prefix(2);
  if (value.empty()) return false;
  std::uint64_t n = 0;
  for (const char c : value) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    n = n * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    if (n > 0xFFFFFFFFu) return false;
  }
  number = static_cast<std::uint32_t>(n);
  return true;
}

// The first word of a text and what follows it, both trimmed; words end at a blank or at any
// of `ends`.
std::pair<std::string_view, std::string_view> first_word(std::string_view text,
                                                         std::string_view ends = "") {
  text = trimmed_line(text);
  std::size_t end = 0;
  while (end < text.size() && text[end] != ' ' && text[end] != '\t' &&
         ends.find(text[end]) == std::string_view::npos) {
    ++end;
  }
  return {text.substr(0, end), trimmed_line(text.substr(end))};
}

struct Mapped {
  std::string name;
  std::uint32_t number;
  bool used = false;
};

struct Aliased {
  std::string name;
  std::string page;
};

// Reads [MAP] and [ALIAS] with the files they include.
class Reader {
 public:
  Reader(const IncludeReader& read, const std::string& project, Warnings& warnings)
      : read_(read), project_(project), warnings_(warnings) {}

  // The lines of a section, or of a file it includes, named `file` in the warnings.
  void read(std::string_view section, std::string_view text, const std::string& file, int depth) {
    const std::string lines = without_comments(text);
    std::string_view rest = lines;
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      const std::string_view line = trimmed_line(rest.substr(0, end));
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '#') {
        directive(section, line, file, depth);
      } else if (section == "MAP") {
        const auto name_and_value = first_word(line, "=");
        std::string_view value = name_and_value.second;
        if (!value.empty() && value[0] == '=') value = trimmed_line(value.substr(1));
        map_line(line, name_and_value.first, value, file);
      } else {
        const std::size_t eq = line.find('=');
        const std::string_view name = trimmed_line(line.substr(0, eq));
        const std::string_view page =
            eq == std::string_view::npos ? std::string_view() : trimmed_line(line.substr(eq + 1));
        if (name.empty() || page.empty()) {
          bad_line(section, line, file, "page");
          continue;
        }
        alias(std::string(name), std::string(page));
      }
    }
  }

  std::vector<Mapped> map;
  std::unordered_map<std::string, std::size_t> map_by_name;  // in lower case
  std::vector<Aliased> aliases;

 private:
  void directive(std::string_view section, std::string_view line, const std::string& file,
                 int depth) {
    const auto word = first_word(line.substr(1), "\"<");
    const std::string directive = ascii_lower(word.first);
    if (directive == "define") {
      const auto name_and_value = first_word(word.second);
      // "#define RESOURCE_HM" guards a header; it names no id.
      if (!name_and_value.second.empty()) {
        map_line(line, name_and_value.first, name_and_value.second, file);
      }
      return;
    }
    if (directive != "include") return;  // #ifndef, #endif, #pragma ...: nothing to the ids
    std::string_view name = word.second;
    if (name.size() >= 2 && ((name.front() == '"' && name.back() == '"') ||
                             (name.front() == '<' && name.back() == '>'))) {
      name = trimmed_line(name.substr(1, name.size() - 2));
    }
    const std::string included(name);
    std::string text;
    if (std::find(reading_.begin(), reading_.end(), ascii_lower(included)) != reading_.end()) {
      warnings_.add(NO_INCLUDE, "left out the #include of " + included + " in " + file +
                                    ": it is being read already.");
      return;
    }
    if (depth >= MAX_INCLUDE_DEPTH || included.empty() || !read_(included, text)) {
      warnings_.add(NO_INCLUDE, "failed to read " + included + ", which " + file +
                                    " includes in [" + std::string(section) + "].");
      return;
    }
    reading_.push_back(ascii_lower(included));
    read(section, text, included, depth + 1);
    reading_.pop_back();
  }

  void bad_line(std::string_view section, std::string_view line, const std::string& file,
                std::string_view what) {
    warnings_.add(BAD_LINE, "the [" + std::string(section) + "] line \"" + std::string(line) +
                                "\" of " + file + " gives no " + std::string(what) + ".");
  }

  void map_line(std::string_view line, std::string_view name, std::string_view value,
                const std::string& file) {
    std::uint32_t number = 0;
    if (name.empty() || !read_number(value, number)) {
      bad_line("MAP", line, file, "number");
      return;
    }
    const auto found = map_by_name.try_emplace(ascii_lower(name), map.size());
    if (found.second) {
      map.push_back({std::string(name), number});
    } else if (map[found.first->second].number != number) {
      const std::string kept = std::to_string(map[found.first->second].number);
      warnings_.add(MAPPED_TWICE, std::string(name) + " is mapped to " + kept + " and to " +
                                      std::to_string(number) + " in [MAP] of " + project_ + ": " +
                                      kept + " is kept.");
    }
  }

  void alias(std::string name, std::string page) {
    const auto found = alias_by_name_.try_emplace(ascii_lower(name), aliases.size());
    if (found.second) {
      aliases.push_back({std::move(name), std::move(page)});
    } else if (aliases[found.first->second].page != page) {
      warnings_.two_pages(name, aliases[found.first->second].page, page);
    }
  }

  const IncludeReader& read_;
  const std::string& project_;
  Warnings& warnings_;
  std::unordered_map<std::string, std::size_t> alias_by_name_;  // in lower case
  std::vector<std::string> reading_;  // the files being read, one within the other, in lower case
};

// The page a project or book names, as a file of `files` names it ('\' read as '/', %XX
// decoded, any letter case where nothing matches exactly), its anchor kept; empty where it is
// no file of them.
std::string page_of(const FileNames& files, std::string_view page) {
  const std::size_t hash = page.find('#');
  const std::string_view file = page.substr(0, hash);
  const std::string* found = nullptr;
  for (const std::string& path :
       {normalize_link("", percent_decoded(file)), normalize_link("", file)}) {
    if (found == nullptr && !path.empty()) found = files.find(path);
  }
  if (found == nullptr) return {};
  return *found + std::string(hash == std::string_view::npos ? "" : page.substr(hash));
}

}  // namespace

std::vector<KeywordId> project_context_ids(std::string_view map, std::string_view alias,
                                           const FileNames& files, const IncludeReader& read,
                                           const std::string& project, std::string& warnings) {
  Warnings warned(warnings);
  Reader reader(read, project, warned);
  reader.read("MAP", map, project, 0);
  reader.read("ALIAS", alias, project, 0);
  Ids ids(warned);
  for (const Aliased& alias : reader.aliases) {
    const auto mapped = reader.map_by_name.find(ascii_lower(alias.name));
    Mapped* number = mapped == reader.map_by_name.end() ? nullptr : &reader.map[mapped->second];
    if (number != nullptr) number->used = true;
    const std::string page = page_of(files, alias.page);
    if (page.empty()) {
      warned.add(NO_FILE,
                 "the alias " + alias.name + " leads to " + alias.page + ", which does not exist.");
      continue;
    }
    ids.add(alias.name, page);
    if (number != nullptr) {
      ids.add(std::to_string(number->number), page);
    } else {
      warned.add(NO_NUMBER, "the alias " + alias.name + " has no number in [MAP] of " + project +
                                ": an application finds its page by the name only.");
    }
  }
  for (const Mapped& mapped : reader.map) {
    if (mapped.used) continue;
    warned.add(NO_ALIAS, mapped.name + " (" + std::to_string(mapped.number) + ") in [MAP] of " +
                             project + " has no alias: it leads to no page.");
  }
  warned.finish();
  return ids.take();
}

std::vector<KeywordId> book_context_ids(
    const std::vector<std::pair<std::uint32_t, std::string>>& numbers, const FileNames& files,
    std::string& warnings) {
  Warnings warned(warnings);
  Ids ids(warned);
  for (const auto& number : numbers) {
    const std::string id = std::to_string(number.first);
    std::string page = page_of(files, number.second);
    // chmcmd writes the path the page had on the machine that compiled the book
    // ("/home/me/help/a.htm"): the longest end of it that is a file of the book.
    for (std::size_t slash = number.second.find_first_of("/\\");
         page.empty() && slash != std::string::npos;
         slash = number.second.find_first_of("/\\", slash + 1)) {
      page = page_of(files, std::string_view(number.second).substr(slash + 1));
    }
    if (page.empty()) {
      warned.add(NO_FILE, "the context id " + id +
                              (number.second.empty()
                                   ? std::string(" names no page.")
                                   : " leads to " + number.second + ", which is not in the book."));
      continue;
    }
    ids.add(id, page);
  }
  warned.finish();
  return ids.take();
}

}  // namespace sitemap
