// libxml2's HTML parser as every reader of HTML here uses it: tag soup taken as it comes, nothing
// fetched, no complaints printed, and the character set ours to say (UTF-8).
#pragma once

#include <libxml/HTMLparser.h>

#include <string_view>

namespace sitemap {

// Feeds `utf8` (valid UTF-8) to the parser with the element callbacks of `sax`, which are called
// with `context`; the rest of `sax` is set here. False when the parser could not be set up.
bool parse_html(std::string_view utf8, htmlSAXHandler& sax, void* context);

}  // namespace sitemap
