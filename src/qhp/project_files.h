// The files of a help project that its .qhp lists, for qhelpgenerator to pack into the .qch.
#pragma once

#include <string>
#include <vector>

namespace sitemap {

// Every regular file under `folder`, recursively, as a path relative to it with '/' between
// the parts, in byte order. Hidden files and folders are left out, and so are the inputs and
// outputs of the help tools (*.hhc *.hhk *.hhp *.chm *.dcf *.qhp *.qhcp *.qch *.qhc, in any
// letter case). A name that is not UTF-8 is left out with a line in `warnings`.
std::vector<std::string> list_project_files(const std::string& folder, std::string& warnings);

// The names in one folder, "." and ".." left out.
std::vector<std::string> list_folder_names(const std::string& folder);

}  // namespace sitemap
