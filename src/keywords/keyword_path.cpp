#include "keywords/keyword_path.h"

namespace sitemap {

template <typename Stop>
std::uint32_t PathSteps::resolve(std::vector<std::uint32_t>& memo, std::int64_t n, int step,
                                 Stop stop) {
  if (memo.empty()) memo.assign(std::size_t{table_.line_count()} + 1, 0);
  visited_.clear();
  std::uint32_t found;
  for (;; n -= step) {
    ++lines_visited;
    if (n < 1) {
      found = ABOVE_FIRST_LINE;
      break;
    }
    const auto line = static_cast<std::uint32_t>(n);
    if (memo[line] != 0) {
      found = memo[line];
      break;
    }
    if (stop(line)) {
      found = line;
      break;
    }
    visited_.push_back(line);
  }
  for (std::uint32_t line : visited_) memo[line] = found;
  return found;
}

std::uint32_t PathSteps::past_local_lines(std::int64_t n) {
  return resolve(past_local_, n, 2,
                 [this](std::uint32_t line) { return table_.kind(line) != IndexLineKind::local; });
}

std::uint32_t PathSteps::up_to_list_start(std::int64_t n) {
  return resolve(list_start_, n, 5, [this](std::uint32_t line) {
    return table_.kind(line) == IndexLineKind::list_start;
  });
}

namespace {

struct PathWalk {
  PathSteps& steps;
  const IndexTable& table;
  SitemapInput& input;
  std::uint32_t match_line;
  KeywordPath& path;
  std::vector<std::string_view>& names;  // innermost first
};

// The walk stops on a line it cannot use: the junk-line exit shows that line, or nothing when
// the walk would have gone above line 1, where an index that breaks the layout can send it.
bool junk_at(PathWalk& walk, std::uint32_t line) {
  if (line == PathSteps::ABOVE_FIRST_LINE) {
    walk.input.line.clear();
  } else {
    walk.input.line.assign(walk.table.line(line));
  }
  return fail_junk_line(walk.input, INDEX_JUNK);
}

std::int64_t walk_target(const PathWalk& walk, std::int64_t step) {
  return std::int64_t{walk.match_line} - walk.path.back_offset - step;
}

// Steps up by 2 past the Local lines of the entry to its keyword Name line.
bool find_entry_keyword(PathWalk& walk) {
  const std::uint32_t line = walk.steps.past_local_lines(walk_target(walk, 2));
  if (line == PathSteps::ABOVE_FIRST_LINE) return junk_at(walk, line);
  walk.path.back_offset = std::int64_t{walk.match_line} - line;
  if (walk.table.kind(line) != IndexLineKind::name) return junk_at(walk, line);
  std::string_view keyword_name;
  if (!param_value(walk.table.line(line), NAME_LITERAL, keyword_name)) {
    report_detail(walk.input.report, "Invalid keyword: ", keyword_name);
    return junk_at(walk, line);
  }
  walk.names.push_back(keyword_name);
  return true;
}

// From a keyword Name line up to the list start line of its sub-list, past the earlier
// siblings, and on into the parent entry.
bool climb_to_parent(PathWalk& walk) {
  const std::uint32_t line = walk.steps.up_to_list_start(walk_target(walk, 2));
  if (line == PathSteps::ABOVE_FIRST_LINE) return junk_at(walk, line);
  walk.path.back_offset = std::int64_t{walk.match_line} - line + 2;
  return true;
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

bool build_keyword_path(PathSteps& steps, const IndexTable& table, SitemapInput& input,
                        std::uint32_t match_line, std::int64_t list_depth, KeywordPath& path) {
  steps.names.clear();
  path.back_offset = 0;
  PathWalk walk{steps, table, input, match_line, path, steps.names};
  for (std::int64_t levels_left = list_depth;; --levels_left) {
    if (!find_entry_keyword(walk)) return false;
    if (levels_left <= 1) break;
    if (!climb_to_parent(walk)) return false;
  }
  join_names(steps.names, path.keyword_path);
  return true;
}

}  // namespace sitemap
