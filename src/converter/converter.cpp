#include "converter/converter.h"

#include <string>

#include "converter/dcf_writer.h"
#include "keywords/keyword_index.h"

namespace sitemap {

namespace {

// The entry being read; both values are overwritten by the next entry.
struct ContentsEntry {
  std::string title;
  std::string ref;
};

struct ContentsWalk {
  SitemapInput& input;
  DcfWriter& dcf;
  KeywordIndex& keywords;
  ContentsEntry entry;
};

// A contents file that ends before its body end line would otherwise leave the walk examining
// the same stale line forever, so running out of lines is a junk line (with nothing to show).
bool read_contents_line(SitemapInput& input) {
  if (read_sitemap_line(input, input.contents) != LineRead::end) return true;
  input.line.clear();
  return fail_junk_line(input, CONTENTS_JUNK);
}

bool junk(ContentsWalk& walk) { return fail_junk_line(walk.input, CONTENTS_JUNK); }

// Reads one entry after its object line: a Name line, then either the object end line or a
// Local line followed by one line that is consumed whatever it holds.
bool read_contents_entry(ContentsWalk& walk) {
  SitemapInput& input = walk.input;
  std::string_view value;

  if (!read_contents_line(input)) return false;
  if (!line_starts_with(input.line, NAME_LITERAL)) return junk(walk);
  if (!param_value(input.line, NAME_LITERAL, value)) {
    report_detail(input.report, "Invalid title: ", value);
    return junk(walk);
  }
  walk.entry.title.assign(value);

  if (!read_contents_line(input)) return false;
  if (line_is(input.line, OBJECT_END_LINE)) {
    // No page: the default ref, and no keyword lookup (so the default ref is not registered).
    dcf_open_section(walk.dcf, DEFAULT_REF, walk.entry.title);
    return true;
  }
  if (!line_starts_with(input.line, LOCAL_LITERAL)) return junk(walk);
  if (!param_value(input.line, LOCAL_LITERAL, value)) {
    report_detail(input.report, "Invalid ref: ", value);
    return junk(walk);
  }
  walk.entry.ref.assign(value);

  // This line stands where the object end line belongs; it is consumed unexamined.
  if (!read_contents_line(input)) return false;
  dcf_open_section(walk.dcf, walk.entry.ref, walk.entry.title);
  return lookup_keywords(walk.keywords, input, walk.dcf, walk.entry.ref);
}

bool walk_contents(ContentsWalk& walk) {
  SitemapInput& input = walk.input;
  dcf_begin(walk.dcf);
  // The head is thrown away unexamined; the line after it is the first one examined.
  for (int i = 0; i <= CONTENTS_SKIP_LINES; ++i) {
    if (!read_contents_line(input)) return false;
  }
  for (;;) {
    if (line_is(input.line, BODY_END_LINE)) {
      dcf_end(walk.dcf);
      close_conversion_files(input.files);
      return true;
    }
    if (line_is(input.line, OBJECT_LINE)) {
      if (!read_contents_entry(walk)) return false;
    } else if (line_is(input.line, LIST_START_LITERAL)) {
      dcf_open_list(walk.dcf);
    } else if (line_is(input.line, LIST_END_LITERAL)) {
      dcf_close_list(walk.dcf);
    } else {
      return junk(walk);
    }
    if (!read_contents_line(input)) return false;
  }
}

}  // namespace

Outcome convert_sitemap(ConversionFiles& files, Report& report) {
  SitemapInput input(files, report);
  DcfWriter dcf(*files.dcf);
  KeywordIndex keywords;
  ContentsWalk walk{input, dcf, keywords, {}};
  return walk_contents(walk) ? Outcome::success : Outcome::failure;
}

}  // namespace sitemap
