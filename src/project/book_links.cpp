#include "project/book_links.h"

#include <utility>

namespace sitemap {

namespace {

constexpr std::string_view BOOK_END = ".chm::";
// The schemes HTML Help reads a link into a book by, lower case, the longest first.
constexpr std::string_view SCHEMES[] = {"mk:@msitstore:", "ms-its:", "its:"};

bool starts_link(char c) {
  return c == '"' || c == '\'' || c == '=' || c == '(' || c == '<' || c == '>';
}

bool ends_link(char c) {
  return c == '"' || c == '\'' || c == '<' || c == '>' || c == ' ' || c == '\t' || c == '\n' ||
         c == '\r';
}

}  // namespace

void BookLinks::add(std::string_view file_name, std::string namespace_name, FileNames files) {
  // Two books of one name (from two folders): links name the first.
  books_.emplace(ascii_lower(file_name), Book{std::move(namespace_name), std::move(files)});
}

bool BookLinks::rewrite(std::string& text, bool bare, std::map<std::string, int>& missing) const {
  // Most pages link into no other book: one look for ".chm::" in any letter case finds that.
  const std::string lower = ascii_lower(text);
  if (lower.find(BOOK_END) == std::string::npos) return false;
  std::string out;
  std::size_t done = 0;
  for (std::size_t at = lower.find(BOOK_END); at != std::string::npos;
       at = lower.find(BOOK_END, at + BOOK_END.size())) {
    if (at < done) continue;
    std::size_t start = at;
    while (start > done && !starts_link(text[start - 1])) --start;
    while (start < at && (text[start] == ' ' || text[start] == '\t')) ++start;
    std::size_t end = at + BOOK_END.size();
    while (end < text.size() && !ends_link(text[end])) ++end;
    // What stands before the book's name: a scheme, then (for mk:@MSITStore:) any path.
    const std::string_view head = std::string_view(lower).substr(start, at - start);
    bool schemed = false;
    for (const std::string_view scheme : SCHEMES)
      schemed = schemed || head.substr(0, scheme.size()) == scheme;
    if (!schemed && (!bare || head.find(':') != std::string_view::npos)) continue;
    const std::size_t name_at = head.find_last_of(":/\\");
    const std::string book(std::string_view(text).substr(
        start + (name_at == std::string_view::npos ? 0 : name_at + 1),
        at + 4 - start - (name_at == std::string_view::npos ? 0 : name_at + 1)));
    const auto found = books_.find(ascii_lower(book));
    if (found == books_.end()) {
      ++missing[ascii_lower(book)];
      continue;
    }
    std::string_view path =
        std::string_view(text).substr(at + BOOK_END.size(), end - at - BOOK_END.size());
    const std::size_t hash = path.find('#');
    const std::string_view anchor = hash == std::string_view::npos ? "" : path.substr(hash);
    path = path.substr(0, hash);
    std::string resolved = normalize_link("", percent_decoded(path));
    if (const std::string* file = found->second.files.find(resolved)) resolved = *file;
    out.append(text, done, start - done);
    out += "qthelp://" + found->second.namespace_name + "/" + virtual_folder_ + "/" + resolved;
    out.append(anchor);
    done = end;
  }
  if (done == 0 && out.empty()) return false;
  out.append(text, done, std::string::npos);
  text = std::move(out);
  return true;
}

}  // namespace sitemap
