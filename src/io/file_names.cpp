#include "io/file_names.h"

#include <algorithm>

namespace sitemap {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

std::string_view trimmed_line(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

std::string_view file_name_of(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void add_name_once(std::vector<std::string>& names, std::string_view name) {
  if (name.empty()) return;
  const std::string lower = ascii_lower(name);
  for (const std::string& known : names) {
    if (ascii_lower(known) == lower) return;
  }
  names.emplace_back(name);
}

bool ends_with_ignoring_case(std::string_view name, std::string_view ending) {
  return name.size() >= ending.size() &&
         std::equal(ending.begin(), ending.end(), name.end() - ending.size(),
                    [](char e, char c) { return e == (c >= 'A' && c <= 'Z' ? c + 32 : c); });
}

FileNames::FileNames(std::vector<std::string> files) : files_(std::move(files)) {}

bool FileNames::contains(std::string_view path) const {
  return std::binary_search(files_.begin(), files_.end(), path,
                            [](std::string_view a, std::string_view b) { return a < b; });
}

const std::string* FileNames::find(std::string_view path) const {
  const auto exact =
      std::lower_bound(files_.begin(), files_.end(), path,
                       [](const std::string& a, std::string_view b) { return a < b; });
  if (exact != files_.end() && *exact == path) return &*exact;
  if (folded_.empty() && !files_.empty()) {
    folded_.reserve(files_.size());
    for (std::size_t i = 0; i < files_.size(); ++i) folded_.emplace_back(ascii_lower(files_[i]), i);
    std::sort(folded_.begin(), folded_.end());
  }
  if (folded_.empty()) return nullptr;
  const std::string key = ascii_lower(path);
  const auto first = std::lower_bound(folded_.begin(), folded_.end(), key,
                                      [](const std::pair<std::string, std::size_t>& a,
                                         const std::string& b) { return a.first < b; });
  if (first == folded_.end() || first->first != key) return nullptr;
  const auto next = first + 1;
  if (next != folded_.end() && next->first == key) return nullptr;  // which one is meant?
  return &files_[first->second];
}

std::string normalize_link(std::string_view base, std::string_view path) {
  std::string joined(path.empty() || path[0] == '/' || path[0] == '\\' ? std::string_view() : base);
  joined.append(path);
  std::vector<std::string_view> parts;
  const std::string_view all = joined;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= all.size(); ++i) {
    if (i < all.size() && all[i] != '/' && all[i] != '\\') continue;
    const std::string_view part = all.substr(start, i - start);
    start = i + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return {};
      parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (const std::string_view part : parts) {
    if (!out.empty()) out += '/';
    out.append(part);
  }
  return out;
}

bool has_scheme(std::string_view link) {
  // A scheme is a letter, then letters, digits, '+', '-' or '.', then ':'. One letter before the
  // colon is a Windows drive ("C:\help"), which is no link into the project either.
  if (link.empty() || !is_ascii_letter(link[0])) return false;
  for (std::size_t i = 1; i < link.size(); ++i) {
    const char c = link[i];
    if (c == ':') return true;
    if (!is_ascii_letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') {
      return false;
    }
  }
  return false;
}

std::string percent_decoded(std::string_view text) {
  std::string name;
  name.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
        hex_value(text[i + 2]) >= 0) {
      name += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
      i += 2;
    } else {
      name += text[i];
    }
  }
  return name;
}

}  // namespace sitemap
