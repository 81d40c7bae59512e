#include "keywords/keyword_index.h"

#include <algorithm>

#include "keywords/keyword_path.h"

namespace sitemap {

bool lookup_keywords(KeywordIndex& keywords, SitemapInput& input, DcfWriter& dcf,
                     std::string_view ref) {
  std::vector<std::string>& seen = keywords.seen_refs;
  if (std::find(seen.begin(), seen.end(), ref) != seen.end()) return true;
  seen.emplace_back(ref);

  const std::string search_pattern = std::string(LOCAL_LITERAL).append(ref);
  std::string keyword_ref;
  KeywordPath path;
  input.index.rewind();
  long match_line = 0;
  long list_depth = 0;
  for (;;) {
    ++match_line;
    // A last line without a line feed is delivered by the read that meets the end of the file,
    // which ends the lookup before the line is looked at.
    if (read_sitemap_line(input, input.index) != LineRead::line) return true;
    if (line_starts_with(input.line, LIST_START_LITERAL)) {
      ++list_depth;
      continue;
    }
    if (line_starts_with(input.line, LIST_END_LITERAL)) {
      --list_depth;
      continue;
    }
    if (!line_starts_with(input.line, search_pattern)) continue;

    std::string_view value;
    if (!param_value(input.line, LOCAL_LITERAL, value)) {
      report_detail(input.report, "Invalid keyword ref: ", value);
      return fail_junk_line(input, INDEX_JUNK);
    }
    keyword_ref.assign(value);
    if (!build_keyword_path(input, match_line, list_depth, path)) return false;
    dcf_keyword(dcf, keyword_ref, path.keyword_path);
    // Back to just after the matched line; the count and the depth are those of the match.
    for (long i = 0; i < path.back_offset; ++i) read_sitemap_line(input, input.index);
  }
}

}  // namespace sitemap
