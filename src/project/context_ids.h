// The context ids of a help book: the numbers (and, in a project, the names) with which an
// application opens its help at the page that belongs to a window or a control (F1). A project
// names them in [MAP] ("#define IDH_arrays 113", often from an #include of a C header) and
// [ALIAS] ("IDH_arrays=html\arrays.htm"); a compiled book keeps the numbers alone, in #IVB.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io/file_names.h"
#include "output/qhp_writer.h"

namespace sitemap {

// Reads a file that [MAP] or [ALIAS] includes, named as the line names it, into `text` (UTF-8);
// false when it cannot be read.
using IncludeReader = std::function<bool(const std::string& name, std::string& text)>;

// The ids of a project, given the lines of its [MAP] and [ALIAS] (UTF-8): every alias whose page
// is a file of `files` under its name and, where [MAP] gives its name a number, under that
// number too. What cannot be used is left out with a warning in `warnings` (ten of a kind, then
// their count); no id leads to two pages. `project` names the project in the warnings.
std::vector<KeywordId> project_context_ids(std::string_view map, std::string_view alias,
                                           const FileNames& files, const IncludeReader& read,
                                           const std::string& project, std::string& warnings);

// The ids of a compiled book: each number of #IVB with the page it names (UTF-8), where that is
// a file of `files`. Warnings as above.
std::vector<KeywordId> book_context_ids(
    const std::vector<std::pair<std::uint32_t, std::string>>& numbers, const FileNames& files,
    std::string& warnings);

}  // namespace sitemap
