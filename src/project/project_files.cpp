#include "project/project_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "io/file_names.h"
#include "output/xml_text.h"

namespace sitemap {

bool is_tool_file(std::string_view name) {
  static constexpr std::string_view ENDINGS[] = {".hhc", ".hhk",  ".hhp", ".chm", ".dcf",
                                                 ".qhp", ".qhcp", ".qch", ".qhc"};
  return std::any_of(std::begin(ENDINGS), std::end(ENDINGS), [&](std::string_view ending) {
    return ends_with_ignoring_case(name, ending);
  });
}

namespace {

struct Listing {
  std::vector<ListedFile> files;
  std::string& warnings;
  const std::string& code_page;
};

// A folder's path as listed: in UTF-8, and as on disk.
struct Prefix {
  std::string name;
  std::string disk;
};

// The names a name on disk is listed by: itself where it is UTF-8, and its reading in the
// project's code page where that differs. A name in GBK or windows-1251 is now and then valid
// UTF-8 as well (the GBK bytes of "目录" are "Ŀ¼" in UTF-8), and the project's sitemaps name it
// by its reading in the code page.
std::vector<std::string> readings(std::string_view name, Listing& listing) {
  std::vector<std::string> names;
  const bool utf8 = is_valid_utf8(name);
  if (utf8) names.emplace_back(name);
  if (!is_ascii(name) && !listing.code_page.empty()) {
    XmlText text;
    text.set_encoding(listing.code_page);
    const std::string_view decoded = text.to_utf8_text(name);
    if (!utf8 || decoded != name) names.emplace_back(decoded);
  }
  return names;
}

// Lists the folder open as `fd` (and takes it over), its paths starting with one of `prefixes`.
// The type of most entries comes with the listing (d_type), which spares a stat per file: on a
// folder of 100,000 pages that is most of the time of the listing.
void list_folder(int fd, const std::vector<Prefix>& prefixes, Listing& listing) {
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return;
  }
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
    if (!folder && !file) continue;
    const std::vector<std::string> names = readings(name, listing);
    if (names.empty()) {
      listing.warnings.append("Warning: file name not in UTF-8 left out: ")
          .append(prefixes.front().disk)
          .append(name)
          .append("\n");
      continue;
    }
    // A folder of two readings under a folder of two: four paths at most, however deep.
    std::vector<Prefix> paths;
    for (const Prefix& prefix : prefixes) {
      for (const std::string& reading : names) {
        if (paths.size() < 4)
          paths.push_back({prefix.name + reading, prefix.disk + std::string(name)});
      }
    }
    if (folder) {
      const int sub =
          ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      for (Prefix& path : paths) {
        path.name += '/';
        path.disk += '/';
      }
      if (sub >= 0) list_folder(sub, paths, listing);
    } else {
      for (Prefix& path : paths) {
        const bool same = path.name == path.disk;
        listing.files.push_back({std::move(path.name), same ? std::string() : std::move(path.disk),
                                 is_tool_file(name)});
      }
    }
  }
  ::closedir(dir);
}

}  // namespace

std::vector<ListedFile> list_folder_files(const std::string& folder, std::string& warnings,
                                          const std::string& name_code_page) {
  Listing listing{{}, warnings, name_code_page};
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) list_folder(fd, {{"", ""}}, listing);
  std::sort(listing.files.begin(), listing.files.end(),
            [](const ListedFile& a, const ListedFile& b) { return a.name < b.name; });
  return std::move(listing.files);
}

std::vector<std::string> list_project_files(const std::string& folder, std::string& warnings) {
  std::vector<std::string> files;
  for (ListedFile& file : list_folder_files(folder, warnings)) {
    if (!file.tool_file) files.push_back(std::move(file.name));
  }
  return files;
}

}  // namespace sitemap
