#include "keywords/keyword_index.h"

namespace sitemap {

namespace {

bool load_index(KeywordIndex& keywords, SitemapInput& input) {
  keywords.table = std::make_unique<IndexTable>();
  switch (keywords.table->load(*input.files.index)) {
    case IndexTable::Load::done:
      return true;
    case IndexTable::Load::read_failed:
      return fail_closing(input.files, input.report, INDEX_READ_FAILED);
    case IndexTable::Load::out_of_memory:
      break;
  }
  return fail_closing(input.files, input.report, OUT_OF_MEMORY);
}

}  // namespace

bool lookup_keywords(KeywordIndex& keywords, SitemapInput& input, KeywordSink& sink,
                     std::string_view ref) {
  if (!keywords.table && !load_index(keywords, input)) return false;
  IndexTable& table = *keywords.table;

  // Every Local line that starts with the literal and the ref, as a scan of the whole index
  // from line 1 meets them; a last line without a line feed is never among them. A ref already
  // looked up gives none.
  const std::size_t first = table.find_locals(ref, keywords.matches);
  if (first == IndexTable::NO_MATCH || !table.first_lookup(first, ref.size())) return true;
  for (const LocalLine& match : keywords.matches) {
    std::string_view keyword_ref;
    if (!value_before_end(match.value, keyword_ref)) {
      report_detail(input.report, "Invalid keyword ref: ", keyword_ref);
      // The line is the Local literal and the value; only the value is kept.
      keywords.shown_line.assign(LOCAL_LITERAL).append(match.value);
      input.line = keywords.shown_line;
      return fail_junk_line(input, INDEX_JUNK);
    }
    switch (match.walk) {
      case WalkEnd::path:
        break;
      case WalkEnd::invalid_keyword:
        report_detail(input.report,
                      "Invalid keyword: ", match.walk_text.substr(NAME_LITERAL.size()));
        [[fallthrough]];
      case WalkEnd::junk:
        input.line = match.walk_text;
        return fail_junk_line(input, INDEX_JUNK);
    }
    if (!sink.keyword(keyword_ref, match.walk_text)) {
      return fail_closing(input.files, input.report, sink.write_failure());
    }
  }
  return true;
}

}  // namespace sitemap
