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

BookLinks::Leads BookLinks::resolve(std::string_view link, bool bare, Target& target,
                                    std::string& book) const {
  const std::string lower = ascii_lower(link);
  const std::size_t at = lower.find(BOOK_END);
  if (at == std::string::npos) return Leads::nowhere_else;
  // What stands before the book's name: a scheme, then (for mk:@MSITStore:) any path.
  const std::string_view head = std::string_view(lower).substr(0, at);
  bool schemed = false;
  for (const std::string_view scheme : SCHEMES) {
    schemed = schemed || head.substr(0, scheme.size()) == scheme;
  }
  if (!schemed && (!bare || head.find(':') != std::string_view::npos)) return Leads::nowhere_else;
  const std::size_t name_at = head.find_last_of(":/\\");
  const std::size_t name_start = name_at == std::string_view::npos ? 0 : name_at + 1;
  book = ascii_lower(link.substr(name_start, at + 4 - name_start));
  const auto found = books_.find(book);
  if (found == books_.end()) return Leads::elsewhere;
  std::string_view path = link.substr(at + BOOK_END.size());
  const std::size_t hash = path.find('#');
  target.anchor = std::string(hash == std::string_view::npos ? "" : path.substr(hash));
  target.path = normalize_link("", percent_decoded(path.substr(0, hash)));
  if (const std::string* file = found->second.files.find(target.path)) target.path = *file;
  target.namespace_name = found->second.namespace_name;
  return Leads::shelf;
}

std::string BookLinks::url(const Target& target) const {
  return "qthelp://" + target.namespace_name + "/" + virtual_folder_ + "/" + target.path +
         target.anchor;
}

bool BookLinks::rewrite(std::string& text, std::map<std::string, int>& missing) const {
  // Most pages link into no other book: one look for ".chm::" in any letter case finds that.
  const std::string lower = ascii_lower(text);
  if (lower.find(BOOK_END) == std::string::npos) return false;
  std::string out;
  std::size_t done = 0;
  bool rewritten = false;
  for (std::size_t at = lower.find(BOOK_END); at != std::string::npos;
       at = lower.find(BOOK_END, at + BOOK_END.size())) {
    if (at < done) continue;
    std::size_t start = at;
    while (start > done && !starts_link(text[start - 1])) --start;
    while (start < at && (text[start] == ' ' || text[start] == '\t')) ++start;
    std::size_t end = at + BOOK_END.size();
    while (end < text.size() && !ends_link(text[end])) ++end;
    Target target;
    std::string book;
    const Leads leads =
        resolve(std::string_view(text).substr(start, end - start), false, target, book);
    if (leads == Leads::elsewhere) ++missing[book];
    if (leads != Leads::shelf) continue;
    out.append(text, done, start - done);
    out += url(target);
    done = end;
    rewritten = true;
  }
  if (!rewritten) return false;
  out.append(text, done, std::string::npos);
  text = std::move(out);
  return true;
}

}  // namespace sitemap
