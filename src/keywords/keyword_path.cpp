#include "keywords/keyword_path.h"

#include "io/sitemap_input.h"

namespace sitemap {

namespace {

bool junk_at(KeywordWalk& walk, std::string_view line, WalkEnd end = WalkEnd::junk) {
  walk.end = end;
  walk.junk_line = line;
  return false;
}

// The keyword Name line of an entry: where the steps upwards by 2 past its Local lines ended.
bool take_entry_keyword(KeywordWalk& walk, const IndexEntry& entry) {
  if (entry.line == ABOVE_FIRST_LINE) return junk_at(walk, {});
  std::string_view keyword_name = entry.text;
  if (entry.kind == IndexLineKind::name && !param_value(entry.text, NAME_LITERAL, keyword_name)) {
    return junk_at(walk, entry.text, WalkEnd::invalid_keyword);
  }
  if (entry.kind != IndexLineKind::name && entry.kind != IndexLineKind::keyword) {
    return junk_at(walk, entry.text);
  }
  walk.names.push_back(keyword_name);
  return true;
}

// Each name goes in front of the path, with ", " only once the path is not empty: so empty
// names of the innermost entries leave no trace, while empty outer names still add ", ".
void join_names(const std::vector<std::string_view>& names, LargeText& keyword_path) {
  keyword_path.clear();
  std::size_t innermost = 0;
  while (innermost < names.size() && names[innermost].empty()) ++innermost;
  for (std::size_t i = names.size(); i-- > innermost;) {
    keyword_path.append(names[i]);
    if (i != innermost) keyword_path.append(", ");
  }
}

}  // namespace

void walk_keyword_path(const IndexTable& table, const IndexEntry& entry, std::uint32_t climb,
                       std::int64_t list_depth, KeywordWalk& walk) {
  walk.end = WalkEnd::path;
  walk.junk_line = {};
  walk.path = {};
  walk.names.clear();
  if (!take_entry_keyword(walk, entry)) return;
  // From a keyword Name line up to the list start line of its sub-list, past the earlier
  // siblings, and on into the parent entry, once for each level above the first.
  for (std::int64_t levels_left = list_depth; levels_left > 1; --levels_left) {
    IndexEntry parent;
    if (!table.climb(climb, parent)) {
      junk_at(walk, {});
      return;
    }
    if (!take_entry_keyword(walk, parent)) return;
  }
  if (walk.names.size() == 1) {
    walk.path = walk.names.front();
  } else {
    join_names(walk.names, walk.joined);
    walk.path = {walk.joined.data(), walk.joined.size()};
  }
}

}  // namespace sitemap
