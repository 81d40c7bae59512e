#include "keywords/keyword_path.h"

namespace sitemap {

namespace {

struct PathWalk {
  SitemapInput& input;
  long match_line;
  KeywordPath& path;
};

// Rewinds the index and reads lines 1 to n, so that the line buffer holds line n.
bool reread_index_line(SitemapInput& input, long n) {
  if (n < 1 || !input.index.rewind()) return false;
  for (long i = 0; i < n; ++i) {
    if (read_sitemap_line(input, input.index) == LineRead::end) return false;
  }
  return true;
}

// The layout puts every line the walk steps to inside the file; an index that breaks it can
// send the walk above line 1, where there is nothing to read and nothing to show.
bool step_back(PathWalk& walk, long lines) {
  walk.path.back_offset += lines;
  if (reread_index_line(walk.input, walk.match_line - walk.path.back_offset)) return true;
  walk.input.line.clear();
  return fail_junk_line(walk.input, INDEX_JUNK);
}

// Steps up by 2 past the Local lines of the entry to its keyword Name line and puts the name in
// front of the path.
bool find_entry_keyword(PathWalk& walk) {
  SitemapInput& input = walk.input;
  do {
    if (!step_back(walk, 2)) return false;
  } while (line_starts_with(input.line, LOCAL_LITERAL));
  if (!line_starts_with(input.line, NAME_LITERAL)) return fail_junk_line(input, INDEX_JUNK);
  std::string_view keyword_name;
  if (!param_value(input.line, NAME_LITERAL, keyword_name)) {
    report_detail(input.report, "Invalid keyword: ", keyword_name);
    return fail_junk_line(input, INDEX_JUNK);
  }
  std::string& keyword_path = walk.path.keyword_path;
  if (keyword_path.empty()) {
    keyword_path.assign(keyword_name);
  } else {
    keyword_path.insert(0, ", ").insert(0, keyword_name);
  }
  return true;
}

// From a keyword Name line up to the list start line of its sub-list, past the earlier
// siblings, and on into the parent entry.
bool climb_to_parent(PathWalk& walk) {
  if (!step_back(walk, 2)) return false;
  while (!line_starts_with(walk.input.line, LIST_START_LITERAL)) {
    if (!step_back(walk, 5)) return false;
  }
  walk.path.back_offset += 2;
  return true;
}

}  // namespace

bool build_keyword_path(SitemapInput& input, long match_line, long list_depth, KeywordPath& path) {
  path.keyword_path.clear();
  path.back_offset = 0;
  PathWalk walk{input, match_line, path};
  for (long levels_left = list_depth;; --levels_left) {
    if (!find_entry_keyword(walk)) return false;
    if (levels_left <= 1) return true;
    if (!climb_to_parent(walk)) return false;
  }
}

}  // namespace sitemap
