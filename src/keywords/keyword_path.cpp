#include "keywords/keyword_path.h"

namespace sitemap {

namespace {

struct PathWalk {
  const IndexTable& table;
  SitemapInput& input;
  std::uint32_t match_line;
  KeywordPath& path;
};

// The walk stops on a line it cannot use: the junk-line exit shows that line, or nothing when
// the walk would have gone above line 1, where an index that breaks the layout can send it.
bool junk_at(PathWalk& walk, std::string_view text) {
  walk.input.line = text;
  return fail_junk_line(walk.input, INDEX_JUNK);
}

std::int64_t walk_target(const PathWalk& walk, std::int64_t step) {
  return std::int64_t{walk.match_line} - walk.path.back_offset - step;
}

// Steps up by 2 past the Local lines of the entry to its keyword Name line; `entry` is where
// those steps end.
bool find_entry_keyword(PathWalk& walk, const IndexEntry& entry) {
  if (entry.line == ABOVE_FIRST_LINE) return junk_at(walk, {});
  walk.path.back_offset = std::int64_t{walk.match_line} - entry.line;
  if (entry.kind != IndexLineKind::name) return junk_at(walk, entry.text);
  std::string_view keyword_name;
  if (!param_value(entry.text, NAME_LITERAL, keyword_name)) {
    report_detail(walk.input.report, "Invalid keyword: ", keyword_name);
    return junk_at(walk, entry.text);
  }
  walk.path.names.push_back(keyword_name);
  return true;
}

// From a keyword Name line up to the list start line of its sub-list, past the earlier
// siblings, and on into the parent entry.
bool climb_to_parent(PathWalk& walk) {
  std::uint32_t list_start;
  IndexEntry parent;
  if (!walk.table.list_start_at_or_above(walk_target(walk, 2), list_start, parent)) {
    return junk_at(walk, {});
  }
  walk.path.back_offset = std::int64_t{walk.match_line} - list_start + 2;
  return find_entry_keyword(walk, parent);
}

// Each name goes in front of the path, with ", " only once the path is not empty: so empty
// names of the innermost entries leave no trace, while empty outer names still add ", ".
void join_names(const std::vector<std::string_view>& names, std::string& keyword_path) {
  keyword_path.clear();
  std::size_t innermost = 0;
  while (innermost < names.size() && names[innermost].empty()) ++innermost;
  for (std::size_t i = names.size(); i-- > innermost;) {
    keyword_path.append(names[i]);
    if (i != innermost) keyword_path.append(", ");
  }
}

}  // namespace

bool build_keyword_path(const IndexTable& table, SitemapInput& input, const LocalLine& match,
                        KeywordPath& path) {
  path.names.clear();
  path.back_offset = 0;
  PathWalk walk{table, input, match.line, path};
  // The steps from the matched line itself were taken when the index was read.
  if (!find_entry_keyword(walk, {match.entry_line, match.entry_kind, match.entry_text})) {
    return false;
  }
  for (std::int64_t levels_left = match.list_depth; levels_left > 1; --levels_left) {
    if (!climb_to_parent(walk)) return false;
  }
  join_names(path.names, path.keyword_path);
  return true;
}

}  // namespace sitemap
