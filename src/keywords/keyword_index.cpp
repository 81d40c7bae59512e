#include "keywords/keyword_index.h"

namespace sitemap {

namespace {

bool load_index(KeywordIndex& keywords, SitemapInput& input) {
  keywords.table = std::make_unique<IndexTable>();
  if (!keywords.table->load(*input.files.index)) {
    close_conversion_files(input.files);
    return fail(input.report, "Out of memory.");
  }
  keywords.steps = std::make_unique<PathSteps>(*keywords.table);
  return true;
}

}  // namespace

bool lookup_keywords(KeywordIndex& keywords, SitemapInput& input, DcfWriter& dcf,
                     std::string_view ref) {
  if (!keywords.seen_refs.insert(ref)) return true;
  if (!keywords.table && !load_index(keywords, input)) return false;
  const IndexTable& table = *keywords.table;

  // Every Local line that starts with the literal and the ref, as a scan of the whole index
  // from line 1 meets them; a last line without a line feed is never among them.
  table.find_locals(ref, keywords.matches);
  for (const LocalLine& match : keywords.matches) {
    std::string_view keyword_ref;
    if (!value_before_end(match.value, keyword_ref)) {
      report_detail(input.report, "Invalid keyword ref: ", keyword_ref);
      input.line.assign(table.line(match.line));
      return fail_junk_line(input, INDEX_JUNK);
    }
    if (!build_keyword_path(*keywords.steps, table, input, match, keywords.path)) return false;
    dcf_keyword(dcf, keyword_ref, keywords.path.keyword_path);
  }
  return true;
}

}  // namespace sitemap
