// The files of a help project: what its .qhp lists for qhelpgenerator to pack into the .qch, and
// where each is on disk.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sitemap {

// Whether a file is the project's or a help tool's own (sitemaps, project files, books, the
// outputs of this tool and of qhelpgenerator), not a file the help shows.
bool is_tool_file(std::string_view name);

// A file found under the project's folder: its path relative to the folder in UTF-8 with '/'
// between the parts, and the path on disk where that differs (a name in the project's code
// page); whether it is one of the help tools' own files.
struct ListedFile {
  std::string name;
  std::string disk;
  bool tool_file = false;

  const std::string& disk_name() const { return disk.empty() ? name : disk; }
};

// Every regular file under `folder`, recursively, in byte order of their names. Hidden files and
// folders are left out. A name that is not UTF-8 is decoded from `name_code_page`; without one it
// is left out with a line in `warnings`.
std::vector<ListedFile> list_folder_files(const std::string& folder, std::string& warnings,
                                          const std::string& name_code_page = "");

// The paths of the files above that are not the inputs and outputs of the help tools (*.hhc
// *.hhk *.hhp *.chm *.dcf *.qhp *.qhcp *.qch *.qhc, in any letter case).
std::vector<std::string> list_project_files(const std::string& folder, std::string& warnings);

}  // namespace sitemap
