// The keyword path of a Local line, found by stepping back through the index by fixed numbers of
// lines, as the index layout places them: an entry's keyword Name line 2 lines above its Local
// lines, a sub-list's list start line 2 above its first entry's keyword, each earlier sibling 5
// lines long, and the parent's keyword 4 lines above the list start line.
//
// Every Local line is walked while the index is read, when the lines the walk steps on have just
// been read, and the lookups only hand out what it found: a walk taken at lookup time went to as
// many places in memory as it stepped on, for every keyword of every page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "keywords/index_table.h"

namespace sitemap {

struct KeywordWalk {
  WalkEnd end = WalkEnd::path;
  // The line the junk-line exit shows for a walk that failed; empty where the walk would have
  // left the file, which an index that breaks the layout can make it do.
  std::string_view junk_line;
  // The names joined outermost first with ", ": the one name itself where there is one, else
  // `joined`.
  std::string_view path;
  LargeText joined;
  // Scratch room for the names of one walk, innermost first, kept to spare an allocation each.
  std::vector<std::string_view> names;
};

// Walks back from a Local line at `list_depth` whose steps upwards past Local lines ended on
// `entry`; `climb` is the climb from that entry (IndexTable::climb).
void walk_keyword_path(const IndexTable& table, const IndexEntry& entry, std::uint32_t climb,
                       std::int64_t list_depth, KeywordWalk& walk);

}  // namespace sitemap
