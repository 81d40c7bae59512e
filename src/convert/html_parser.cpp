#include "convert/html_parser.h"

#include <algorithm>
#include <climits>

namespace sitemap {

namespace {

// The parser's complaints about tag soup are not the user's concern: tag soup is the input.
void ignore_error(void*, xmlErrorPtr) {}

}  // namespace

bool parse_html(std::string_view utf8, htmlSAXHandler& sax, void* context,
                const std::function<void(std::size_t)>& done_before, std::size_t piece) {
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
  // The parser copies what it is given, and forgets it once parsed: given the text in pieces it
  // never holds more than a piece or two, where the whole text at once (which spares it looking
  // ahead for the end of every tag: 7% fewer instructions) would be copied whole (31 MB for the
  // index of the 100,000-page project in Doxygen's form). A piece ends before a '<', so that no
  // tag and no character is cut in two; the whole text is one piece up to PIECE.
  const std::size_t most = std::min<std::size_t>(piece, INT_MAX);
  const std::size_t size = utf8.size();
  std::size_t at = 0;
  do {
    std::size_t end = size - at <= most ? size : at + most;
    if (end < size) {
      const std::size_t tag = utf8.rfind('<', end);
      if (tag != std::string_view::npos && tag > at) end = tag;
    }
    htmlParseChunk(parser, utf8.data() + at, static_cast<int>(end - at), end == size);
    at = end;
    if (done_before) done_before(at);  // the parser has its own copy of what it was given
  } while (at < size);
  htmlFreeParserCtxt(parser);
  return true;
}

}  // namespace sitemap
