#include "keywords/keyword_path.h"

namespace sitemap {

template <typename Stop, typename Memo>
std::uint32_t PathSteps::resolve(std::int64_t n, int step, Stop stop, Memo memo_here) {
  if (memo_.empty()) memo_.assign(std::size_t{table_.line_count()} + 1, 0);
  visited_.clear();
  std::uint32_t found;
  for (;; n -= step) {
    ++lines_visited;
    if (n < 1) {
      found = ABOVE_FIRST_LINE;
      break;
    }
    const auto line = static_cast<std::uint32_t>(n);
    if (stop(line)) {
      found = line;
      break;
    }
    if (!memo_here(line)) continue;
    if (memo_[line] != 0) {
      found = memo_[line];
      break;
    }
    visited_.push_back(line);
  }
  for (std::uint32_t line : visited_) memo_[line] = found;
  return found;
}

std::uint32_t PathSteps::past_local_lines(std::int64_t n) {
  const auto is_local = [this](std::uint32_t line) {
    return table_.kind(line) == IndexLineKind::local;
  };
  return resolve(
      n, 2, [&](std::uint32_t line) { return !is_local(line); }, is_local);
}

std::uint32_t PathSteps::up_to_list_start(std::int64_t n) {
  return resolve(
      n, 5, [this](std::uint32_t line) { return table_.kind(line) == IndexLineKind::list_start; },
      [this](std::uint32_t line) { return table_.kind(line) != IndexLineKind::local; });
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
  if (line == ABOVE_FIRST_LINE) {
    walk.input.line = {};
  } else {
    walk.input.line = walk.table.line(line);
  }
  return fail_junk_line(walk.input, INDEX_JUNK);
}

std::int64_t walk_target(const PathWalk& walk, std::int64_t step) {
  return std::int64_t{walk.match_line} - walk.path.back_offset - step;
}

// Steps up by 2 past the Local lines of the entry to its keyword Name line; `line` is where those
// steps end, and `kind` and `text` describe it.
bool find_entry_keyword(PathWalk& walk, std::uint32_t line, IndexLineKind kind,
                        std::string_view text) {
  if (line == ABOVE_FIRST_LINE) return junk_at(walk, line);
  walk.path.back_offset = std::int64_t{walk.match_line} - line;
  if (kind != IndexLineKind::name) return junk_at(walk, line);
  std::string_view keyword_name;
  if (!param_value(text, NAME_LITERAL, keyword_name)) {
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
  if (line == ABOVE_FIRST_LINE) return junk_at(walk, line);
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
                        const LocalLine& match, KeywordPath& path) {
  steps.names.clear();
  path.back_offset = 0;
  PathWalk walk{steps, table, input, match.line, path, steps.names};
  // The steps from the matched line itself were taken when the index was read.
  if (!find_entry_keyword(walk, match.entry_line, match.entry_kind, match.entry_text)) {
    return false;
  }
  for (std::int64_t levels_left = match.list_depth; levels_left > 1; --levels_left) {
    if (!climb_to_parent(walk)) return false;
    const std::uint32_t line = steps.past_local_lines(walk_target(walk, 2));
    const bool inside = line != ABOVE_FIRST_LINE;
    if (!find_entry_keyword(walk, line, inside ? table.kind(line) : IndexLineKind::other,
                            inside ? table.line(line) : std::string_view())) {
      return false;
    }
  }
  join_names(steps.names, path.keyword_path);
  return true;
}

}  // namespace sitemap
