// The files of a project by name, and links to them read the way HTML Help reads them: '\' as
// well as '/' between folders, and names matched without regard to ASCII letter case when no file
// has the exact name (a Windows file system does; the .qch and Linux do not).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sitemap {

class FileNames {
 public:
  FileNames() = default;
  // `files`: paths relative to the project's folder, '/' between the parts, sorted.
  explicit FileNames(std::vector<std::string> files);

  const std::vector<std::string>& all() const { return files_; }
  bool contains(std::string_view path) const;
  // The file `path` names: exactly, else the one file whose name differs only in ASCII letter
  // case. Null when there is none, or several.
  const std::string* find(std::string_view path) const;

 private:
  std::vector<std::string> files_;
  // Each file's name in lower case with its place in files_, sorted; made on the first search
  // that needs it.
  mutable std::vector<std::pair<std::string, std::size_t>> folded_;
};

// `path` as a path relative to the project's folder: '\' read as '/', "." parts dropped, ".."
// parts taken back, a leading '/' dropped; relative to the folder `base` (a path within the
// project, "" or ending in '/'). Empty when it leaves the project's folder.
std::string normalize_link(std::string_view base, std::string_view path);

// Whether a link names a scheme ("http:", "ms-its:", "mk:@MSITStore:", "mailto:"), so that it is
// no path of the project.
bool has_scheme(std::string_view link);

// `text` with its %XX escapes decoded.
std::string percent_decoded(std::string_view text);

// `text` without the blanks (spaces, tabs) at either end and the carriage returns at its end:
// a line of a project file as Windows tools write it.
std::string_view trimmed_line(std::string_view text);

// ASCII letters in lower case, other bytes as they are.
std::string ascii_lower(std::string_view text);

// Whether `name` ends in `ending` (given in lower case), ASCII letters of any case alike.
bool ends_with_ignoring_case(std::string_view name, std::string_view ending);

// The name of a file without its folder ('/' or '\\' before it): "other.chm" for
// "C:\\help\\other.chm".
std::string_view file_name_of(std::string_view path);

// Adds `name` to `names` unless it is empty or stands there already in some ASCII letter case
// (the names of books, which HTML Help finds in any case).
void add_name_once(std::vector<std::string>& names, std::string_view name);

}  // namespace sitemap
