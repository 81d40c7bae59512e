// Builds the keyword path of a matched index line by stepping back through the index by fixed
// numbers of lines, as the index layout places them: an entry's keyword Name line 2 lines above
// its Local lines, a sub-list's list start line 2 above its first entry's keyword, each earlier
// sibling 5 lines long, and the parent's keyword 4 lines above the list start line.
#pragma once

#include <string>

#include "converter/sitemap_input.h"

namespace sitemap {

struct KeywordPath {
  std::string keyword_path;  // names joined outermost first with ", "
  long back_offset = 0;      // how many lines before the matched line the walk ended
};

// For the Local line `match_line` (1-based) met at `list_depth`: the keyword of its entry and,
// below depth 1, those of the entries above it. Leaves the index stream just after line
// `match_line` - `back_offset`. False when the walk met a line it cannot use or would leave the
// file; the run has then ended through the junk-line exit.
bool build_keyword_path(SitemapInput& input, long match_line, long list_depth, KeywordPath& path);

}  // namespace sitemap
