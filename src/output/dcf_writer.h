// Streams the DCF file. Whether a section is written as an empty element or as an element with
// content is decided late, by `pending_close`: the text still owed before whatever comes next.
#pragma once

#include <string_view>

#include "io/streams.h"
#include "output/output_format.h"

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

inline constexpr std::string_view DCF_WRITE_FAILED = "Failed to write qt-assistant.dcf.";

// The DCF writer as an output format of the contents walk.
class DcfOutput final : public OutputFormat {
 public:
  explicit DcfOutput(OutputStream& stream) : dcf_(stream) {}
  bool begin() override { return dcf_begin(dcf_); }
  bool section(std::string_view ref, std::string_view title) override {
    return dcf_open_section(dcf_, ref, title);
  }
  bool list_start() override {
    dcf_open_list(dcf_);
    return true;
  }
  bool list_end() override { return dcf_close_list(dcf_); }
  bool keyword(std::string_view ref, std::string_view path) override {
    return dcf_keyword(dcf_, ref, path);
  }
  bool end() override { return dcf_end(dcf_); }
  std::string_view write_failure() const override { return DCF_WRITE_FAILED; }
  const DcfWriter& writer() const { return dcf_; }

 private:
  DcfWriter dcf_;
};

}  // namespace sitemap
