// Builds the keyword path of a matched index line by stepping back through the index by fixed
// numbers of lines, as the index layout places them: an entry's keyword Name line 2 lines above
// its Local lines, a sub-list's list start line 2 above its first entry's keyword, each earlier
// sibling 5 lines long, and the parent's keyword 4 lines above the list start line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/sitemap_input.h"
#include "keywords/index_table.h"

namespace sitemap {

struct KeywordPath {
  std::string keyword_path;      // names joined outermost first with ", "
  std::int64_t back_offset = 0;  // how many lines before the matched line the walk ended
  // Scratch room for the names of one walk, innermost first, kept to spare an allocation each.
  std::vector<std::string_view> names;
};

// For a matched Local line: the keyword of its entry and, at list depth 2 or more, those of the
// entries above it. False when the walk met a line it cannot use or would leave the file; the
// run has then ended through the junk-line exit, showing that line.
bool build_keyword_path(const IndexTable& table, SitemapInput& input, const LocalLine& match,
                        KeywordPath& path);

}  // namespace sitemap
