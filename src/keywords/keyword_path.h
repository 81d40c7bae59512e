// Builds the keyword path of a matched index line by stepping back through the index by fixed
// numbers of lines, as the index layout places them: an entry's keyword Name line 2 lines above
// its Local lines, a sub-list's list start line 2 above its first entry's keyword, each earlier
// sibling 5 lines long, and the parent's keyword 4 lines above the list start line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "converter/sitemap_input.h"
#include "keywords/index_table.h"

namespace sitemap {

struct KeywordPath {
  std::string keyword_path;      // names joined outermost first with ", "
  std::int64_t back_offset = 0;  // how many lines before the matched line the walk ended
};

// Remembers where the steps of earlier walks ended. A step only depends on the line it starts
// from, and long sub-lists or entries with many pages would otherwise be walked over again for
// every keyword in them. One slot per line serves both kinds of step: the steps past Local
// lines only ever pass Local lines, and the climb keeps its memo in the other lines.
class PathSteps {
 public:
  explicit PathSteps(const IndexTable& table) : table_(table) {}

  // From line n (which may lie above line 1) upwards by 2: the first line that is no Local line.
  std::uint32_t past_local_lines(std::int64_t n);
  // From line n upwards by 5: the first list start line.
  std::uint32_t up_to_list_start(std::int64_t n);

  // Lines looked at by the steps so far; the memo keeps this near one per line of the index.
  std::uint64_t lines_visited = 0;

  // Scratch room for the names of one walk, innermost first, kept to spare an allocation each.
  std::vector<std::string_view> names;

 private:
  template <typename Stop, typename Memo>
  std::uint32_t resolve(std::int64_t n, int step, Stop stop, Memo memo_here);

  const IndexTable& table_;
  std::vector<std::uint32_t> memo_;  // 0: not known yet
  std::vector<std::uint32_t> visited_;
};

// For a matched Local line: the keyword of its entry and, at list depth 2 or more, those of the
// entries above it. False when the walk met a line it cannot use or would leave the file; the
// run has then ended through the junk-line exit, showing that line.
bool build_keyword_path(PathSteps& steps, const IndexTable& table, SitemapInput& input,
                        const LocalLine& match, KeywordPath& path);

}  // namespace sitemap
