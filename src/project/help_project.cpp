#include "project/help_project.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <unordered_set>

#include "output/xml_text.h"
#include "project/code_page.h"
#include "project/hhp.h"
#include "project/pages.h"

namespace sitemap {

namespace {

bool is_style_sheet(std::string_view name) { return ends_with_ignoring_case(name, ".css"); }

}  // namespace

std::string stem_of(std::string_view path) {
  path = file_name_of(path);
  const std::size_t dot = path.rfind('.');
  if (dot != std::string_view::npos && dot > 0) path = path.substr(0, dot);
  return std::string(path);
}

bool read_file(const std::string& path, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bytes.clear();
  char block[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ::close(fd);
      return got == 0;
    }
    bytes.append(block, static_cast<std::size_t>(got));
  }
}

ProjectFile read_project_file(const std::string& path, std::string_view bytes,
                              const std::string& forced_encoding, std::string& warnings) {
  ProjectFile project;
  const std::size_t slash = path.rfind('/');
  project.folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  project.code_page = code_page_of_lcid(hhp_language(bytes));
  const TextCharset charset =
      find_charset(bytes, forced_encoding, project.code_page, path, warnings);
  const HhpProject hhp = read_hhp(decode_text(bytes, charset, true));
  project.contents = hhp.contents;
  project.index = hhp.index;
  project.start_page = hhp.default_topic;
  project.title = hhp.title;
  project.files = hhp.files;
  project.merge_files = hhp.merge_files;
  project.map = hhp.map;
  project.alias = hhp.alias;
  project.name = stem_of(hhp.compiled_file.empty() ? path : hhp.compiled_file);
  if (project.name.empty()) project.name = stem_of(path);
  return project;
}

std::string project_path(const FileNames& files, std::string_view path) {
  const std::string normal = normalize_link("", path);
  if (normal.empty()) return {};
  const std::string* file = files.find(normal);
  return file == nullptr ? std::string() : *file;
}

std::string_view decode_sitemap(std::string_view bytes, const std::string& forced,
                                const std::string& code_page, const std::string& file,
                                std::string& warnings, std::string& storage) {
  const TextCharset charset = find_charset(bytes, forced, code_page, file, warnings);
  return decode_text(bytes, charset, true, storage) ? std::string_view(storage) : bytes;
}

std::string namespace_of(std::string_view name) {
  std::string ns;
  for (const char c : ascii_lower(name)) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
    if (kept) {
      ns += c;
    } else if (ns.empty() || ns.back() != '-') {
      ns += '-';
    }
  }
  const std::size_t first = ns.find_first_not_of("-._");
  if (first == std::string::npos) {
    std::uint32_t hash = 2166136261u;  // FNV-1a, 32 bits
    for (const char c : name) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 16777619u;
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", hash);
    return std::string("help-") + hex;
  }
  return ns.substr(first, ns.find_last_not_of("-._") - first + 1);
}

std::size_t count_pages_not_utf8(const std::string& folder, const std::vector<std::string>& files) {
  std::size_t count = 0;
  std::string bytes;
  for (const std::string& file : files) {
    if (is_html_page(file) && read_file(folder + file, bytes) && !is_valid_utf8(bytes)) ++count;
  }
  return count;
}

std::vector<std::string> pack_project(
    const FileNames& files, const std::function<std::string(const std::string&)>& disk_path,
    const std::vector<std::string>& start, const std::string& code_page, OutputFolder& out,
    std::string& failure) {
  std::unordered_set<std::string> seen;
  std::deque<std::string> queue;
  for (const std::string& file : start) {
    if (!file.empty() && seen.insert(file).second) queue.push_back(file);
  }
  std::vector<std::string> written;
  std::string bytes, converted;
  const auto follow = [&](const std::string& from, const std::vector<std::string>& links) {
    const std::size_t slash = from.rfind('/');
    const std::string base = slash == std::string::npos ? "" : from.substr(0, slash + 1);
    for (const std::string& link : links) {
      const std::string path = normalize_link(base, percent_decoded(link));
      if (path.empty()) continue;
      const std::string* file = files.find(path);
      if (file != nullptr && seen.insert(*file).second) queue.push_back(*file);
    }
  };
  while (!queue.empty()) {
    const std::string file = std::move(queue.front());
    queue.pop_front();
    if (!read_file(disk_path(file), bytes)) {
      failure = "Failed to read " + disk_path(file) + ".";
      return {};
    }
    std::string_view kept = bytes;
    if (is_html_page(file)) {
      if (page_as_utf8(bytes, code_page, converted)) kept = converted;
      follow(file, page_links(kept));
    } else if (is_style_sheet(file)) {
      follow(file, style_links(bytes));
    }
    if (!out.write(file, kept)) {
      failure = "Failed to write " + out.path() + "/" + file + ".";
      return {};
    }
    written.push_back(file);
  }
  std::sort(written.begin(), written.end());
  return written;
}

}  // namespace sitemap
