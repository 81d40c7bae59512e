// Streams the DCF file. Whether a section is written as an empty element or as an element with
// content is decided late, by `pending_close`: the text still owed before whatever comes next.
#pragma once

#include <string_view>

#include "converter/streams.h"

namespace sitemap {

enum class PendingClose {
  nothing,        // "": at the start, or a section with content has just opened a nested list
  empty_element,  // "/>\n": the last start tag is open and has no content yet
  start_tag,      // ">\n": the last start tag is open and a nested list has begun under it
  section_end,    // "</section>\n": the last section has content; an end tag is owed
};

std::string_view pending_text(PendingClose pending);

struct DcfWriter {
  explicit DcfWriter(OutputStream& stream) : out(stream) {}

  OutputStream& out;
  PendingClose pending_close = PendingClose::nothing;
};

inline constexpr std::string_view DCF_HEADER =
    "<!DOCTYPE DCF>\n"
    "<DCF ref=\"index.html\" category=\"development\" title=\"ORDAX Documentation\">\n";
inline constexpr std::string_view DCF_FOOTER = "</DCF>\n";

// Each operation that writes is false when the stream did not take every byte.
bool dcf_begin(DcfWriter& dcf);
// Writes what is pending, then a section start tag left open for what follows.
bool dcf_open_section(DcfWriter& dcf, std::string_view ref, std::string_view title);
void dcf_open_list(DcfWriter& dcf);
bool dcf_close_list(DcfWriter& dcf);
bool dcf_keyword(DcfWriter& dcf, std::string_view keyword_ref, std::string_view keyword_path);
// Writes the footer; whatever is still pending is dropped.
bool dcf_end(DcfWriter& dcf);

}  // namespace sitemap
