#include "convert/html_parser.h"

#include <climits>

namespace sitemap {

namespace {

// The parser's complaints about tag soup are not the user's concern: tag soup is the input.
void ignore_error(void*, xmlErrorPtr) {}

}  // namespace

bool parse_html(std::string_view utf8, htmlSAXHandler& sax, void* context) {
  sax.serror = ignore_error;
  sax.initialized = XML_SAX2_MAGIC;
  // UTF-8 is the parser's own: no handler, which would copy every byte once more (4% of an
  // --html run). The character set is ours to say, whatever a <meta> tag in the file claims.
  htmlParserCtxtPtr parser =
      htmlCreatePushParserCtxt(&sax, context, nullptr, 0, nullptr, XML_CHAR_ENCODING_UTF8);
  if (parser == nullptr) return false;
  htmlCtxtUseOptions(parser, HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                 HTML_PARSE_NONET | HTML_PARSE_NOIMPLIED | HTML_PARSE_COMPACT |
                                 HTML_PARSE_IGNORE_ENC);
  // All at once, which spares the parser looking ahead for the end of every tag (5% of an
  // --html run); in pieces only past INT_MAX bytes, the most it takes at a time.
  constexpr std::size_t CHUNK = INT_MAX;
  do {
    const std::size_t n = utf8.size() < CHUNK ? utf8.size() : CHUNK;
    htmlParseChunk(parser, utf8.data(), static_cast<int>(n), n == utf8.size());
    utf8.remove_prefix(n);
  } while (!utf8.empty());
  htmlFreeParserCtxt(parser);
  return true;
}

}  // namespace sitemap
