#include "output/dcf_writer.h"

namespace sitemap {

std::string_view pending_text(PendingClose pending) {
  switch (pending) {
    case PendingClose::empty_element:
      return "/>\n";
    case PendingClose::start_tag:
      return ">\n";
    case PendingClose::section_end:
      return "</section>\n";
    case PendingClose::nothing:
      break;
  }
  return "";
}

bool dcf_begin(DcfWriter& dcf) {
  dcf.pending_close = PendingClose::nothing;
  return dcf.out.write(DCF_HEADER);
}

bool dcf_open_section(DcfWriter& dcf, std::string_view ref, std::string_view title) {
  const bool written = dcf.out.write(pending_text(dcf.pending_close)) &&
                       dcf.out.write("<section ref=\"") && dcf.out.write(ref) &&
                       dcf.out.write("\" title=\"") && dcf.out.write(title) && dcf.out.write("\"");
  dcf.pending_close = PendingClose::empty_element;
  return written;
}

void dcf_open_list(DcfWriter& dcf) {
  // Under a section that already has content and an open tag, the tag needs nothing more.
  dcf.pending_close = dcf.pending_close == PendingClose::section_end ? PendingClose::nothing
                                                                     : PendingClose::start_tag;
}

bool dcf_close_list(DcfWriter& dcf) {
  const bool written = dcf.out.write(pending_text(dcf.pending_close));
  dcf.pending_close = PendingClose::section_end;
  return written;
}

bool dcf_keyword(DcfWriter& dcf, std::string_view keyword_ref, std::string_view keyword_path) {
  const bool written = (dcf.pending_close != PendingClose::empty_element || dcf.out.write(">\n")) &&
                       dcf.out.write("<keyword ref=\"") && dcf.out.write(keyword_ref) &&
                       dcf.out.write("\">") && dcf.out.write(keyword_path) &&
                       dcf.out.write("</keyword>\n");
  dcf.pending_close = PendingClose::section_end;
  return written;
}

bool dcf_end(DcfWriter& dcf) { return dcf.out.write(DCF_FOOTER); }

}  // namespace sitemap
