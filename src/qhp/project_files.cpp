#include "qhp/project_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "output/xml_text.h"

namespace sitemap {

namespace {

bool is_tool_file(std::string_view name) {
  static constexpr std::string_view ENDINGS[] = {".hhc", ".hhk",  ".hhp", ".chm", ".dcf",
                                                 ".qhp", ".qhcp", ".qch", ".qhc"};
  return std::any_of(std::begin(ENDINGS), std::end(ENDINGS), [&](std::string_view ending) {
    if (name.size() < ending.size()) return false;
    const std::string_view tail = name.substr(name.size() - ending.size());
    return std::equal(tail.begin(), tail.end(), ending.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
  });
}

struct Listing {
  std::vector<std::string> files;
  std::string& warnings;
};

// Lists the folder open as `fd` (and takes it over), its paths starting with `prefix`. The type
// of most entries comes with the listing (d_type), which spares a stat per file: on a folder of
// 100,000 pages that is most of the time of the listing.
void list_folder(int fd, const std::string& prefix, Listing& listing) {
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return;
  }
  std::string path;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;  // hidden, and "." and ".."
    bool folder = entry->d_type == DT_DIR;
    bool file = entry->d_type == DT_REG;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      // A link counts as the file it names; links to folders are not followed, so that the
      // listing stays inside the project and never runs round in a circle.
      struct stat st;
      if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0) continue;
      file = S_ISREG(st.st_mode);
      folder = S_ISDIR(st.st_mode) && entry->d_type == DT_UNKNOWN;
    }
    path.assign(prefix).append(name);
    if (folder) {
      const int sub =
          ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) list_folder(sub, path + "/", listing);
    } else if (file && !is_tool_file(name)) {
      if (is_valid_utf8(path)) {
        listing.files.push_back(path);
      } else {
        listing.warnings.append("Warning: file name not in UTF-8 left out: ")
            .append(path)
            .append("\n");
      }
    }
  }
  ::closedir(dir);
}

}  // namespace

std::vector<std::string> list_project_files(const std::string& folder, std::string& warnings) {
  Listing listing{{}, warnings};
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) list_folder(fd, "", listing);
  std::sort(listing.files.begin(), listing.files.end());
  return std::move(listing.files);
}

std::vector<std::string> list_folder_names(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

}  // namespace sitemap
