// Finds the index entries that point into a page and writes their keywords under its section.
#pragma once

#include <string_view>

#include "converter/dcf_writer.h"
#include "converter/sitemap_input.h"

namespace sitemap {

// What the lookups of one run remember.
struct KeywordIndex {};

// Writes the keywords of every index entry whose page starts with `ref`, once per ref and run.
// False when the index broke its layout; the run has then been ended through the junk-line exit.
bool lookup_keywords(KeywordIndex& keywords, SitemapInput& input, DcfWriter& dcf,
                     std::string_view ref);

}  // namespace sitemap
