// Finds the index entries that point into a page and writes their keywords under its section.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/sitemap_input.h"
#include "keywords/index_table.h"
#include "keywords/keyword_sink.h"

namespace sitemap {

// What the lookups of one run remember: the index, read at the first lookup that needs it (a run
// whose contents name no page never reads it), with the lookups already made.
struct KeywordIndex {
  std::unique_ptr<IndexTable> table;
  std::vector<LocalLine> matches;
  std::string shown_line;  // a line for the junk-line exit to show
};

// Hands `sink` one keyword, for the section just opened, for every Local line of the index whose
// value starts with `ref`, in index order; a ref already looked up gives none. False when the
// index broke its layout or a keyword could not be written; the run has then ended.
bool lookup_keywords(KeywordIndex& keywords, SitemapInput& input, KeywordSink& sink,
                     std::string_view ref);

}  // namespace sitemap
