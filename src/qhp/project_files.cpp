#include "qhp/project_files.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "output/xml_text.h"

namespace sitemap {

namespace {

namespace fs = std::filesystem;

bool is_tool_file(std::string name) {
  static constexpr std::string_view ENDINGS[] = {".hhc", ".hhk",  ".hhp", ".chm", ".dcf",
                                                 ".qhp", ".qhcp", ".qch", ".qhc"};
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return std::any_of(std::begin(ENDINGS), std::end(ENDINGS), [&](std::string_view ending) {
    return name.size() >= ending.size() &&
           name.compare(name.size() - ending.size(), ending.size(), ending) == 0;
  });
}

}  // namespace

std::vector<std::string> list_project_files(const std::string& folder, std::string& warnings) {
  std::vector<std::string> files;
  std::error_code error;
  // Links to folders are not followed: they may lead out of the project or round in a circle.
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code unreadable;  // an entry that cannot be examined is no file to list
    if (name.empty() || name[0] == '.') {
      if (it->is_directory(unreadable)) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file(unreadable) || is_tool_file(name)) continue;
    std::string relative = it->path().lexically_relative(folder).generic_string();
    if (!is_valid_utf8(relative)) {
      warnings.append("Warning: file name not in UTF-8 left out: ").append(relative).append("\n");
      continue;
    }
    files.push_back(std::move(relative));
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace sitemap
