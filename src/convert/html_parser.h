// libxml2's HTML parser as every reader of HTML here uses it: tag soup taken as it comes, nothing
// fetched, no complaints printed, and the character set ours to say (UTF-8).
#pragma once

#include <libxml/HTMLparser.h>

#include <cstddef>
#include <functional>
#include <string_view>

namespace sitemap {

// The most of a text the parser is given at a time.
inline constexpr std::size_t PIECE = std::size_t{4} << 20;

// Feeds `utf8` (valid UTF-8) to the parser with the element callbacks of `sax`, which are called
// with `context`; the rest of `sax` is set here. The text goes in pieces of at most `piece`
// bytes, and after each `done_before` (where given) learns how far the parser has been given
// it: the bytes before are not read again. False when the parser could not be set up.
bool parse_html(std::string_view utf8, htmlSAXHandler& sax, void* context,
                const std::function<void(std::size_t)>& done_before = nullptr,
                std::size_t piece = PIECE);

}  // namespace sitemap
