#include "convert/converter.h"

#include <new>
#include <string>

#include "keywords/keyword_index.h"
#include "output/dcf_writer.h"

namespace sitemap {

namespace {

struct ContentsWalk {
  SitemapInput& input;
  OutputFormat& output;
  KeywordIndex& keywords;
};

// A contents file that ends before its body end line would otherwise leave the walk examining
// the same stale line forever, so running out of lines is a junk line (with nothing to show).
bool read_contents_line(SitemapInput& input) {
  switch (read_sitemap_line(input, input.contents)) {
    case LineRead::line:
    case LineRead::last_line:
      return true;
    case LineRead::end:
      input.line = {};
      return fail_junk_line(input, CONTENTS_JUNK);
    case LineRead::error:
      break;
  }
  return fail_closing(input.files, input.report, CONTENTS_READ_FAILED);
}

bool junk(ContentsWalk& walk) { return fail_junk_line(walk.input, CONTENTS_JUNK); }

// What the writer could not write ends the run as soon as it is known.
bool written(ContentsWalk& walk, bool ok) {
  return ok || fail_closing(walk.input.files, walk.input.report, walk.output.write_failure());
}

// Whether the current line is a param line of `literal`: a junk line when it is none, after
// the detail line `label` and the value when only its end is wrong.
bool take_param(ContentsWalk& walk, std::string_view literal, std::string_view label) {
  std::string_view value;
  if (!line_starts_with(walk.input.line, literal)) return junk(walk);
  if (!param_value(walk.input.line, literal, value)) {
    report_detail(walk.input.report, label, value);
    return junk(walk);
  }
  return true;
}

// The value of a param line of `literal` taken `back` lines before the current one. The
// contents reader keeps the last two lines, but reading on may have moved them within it:
// the value is taken from where the line is now. (Copying the title and the ref of every
// entry instead cost 1% more instructions, counted with cachegrind.)
std::string_view taken_value(SitemapInput& input, std::size_t back, std::string_view literal) {
  std::string_view value;
  param_value(strip_line_end(input.contents.recent(back)), literal, value);
  return value;
}

// Reads one entry after its object line: a Name line, then either the object end line or a
// Local line followed by one line that is consumed whatever it holds.
bool read_contents_entry(ContentsWalk& walk) {
  SitemapInput& input = walk.input;

  if (!read_contents_line(input)) return false;
  if (!take_param(walk, NAME_LITERAL, "Invalid title: ")) return false;

  if (!read_contents_line(input)) return false;
  if (line_is(input.line, OBJECT_END_LINE)) {
    // No page: the default ref, and no keyword lookup (so the default ref is not registered).
    return written(walk, walk.output.section(DEFAULT_REF, taken_value(input, 1, NAME_LITERAL)));
  }
  if (!take_param(walk, LOCAL_LITERAL, "Invalid ref: ")) return false;

  // This line stands where the object end line belongs; it is consumed unexamined.
  if (!read_contents_line(input)) return false;
  const std::string_view title = taken_value(input, 2, NAME_LITERAL);
  const std::string_view ref = taken_value(input, 1, LOCAL_LITERAL);
  return written(walk, walk.output.section(ref, title)) &&
         lookup_keywords(walk.keywords, input, walk.output, ref);
}

bool walk_contents(ContentsWalk& walk) {
  SitemapInput& input = walk.input;
  if (!written(walk, walk.output.begin())) return false;
  // The head is thrown away unexamined; the line after it is the first one examined.
  for (int i = 0; i <= CONTENTS_SKIP_LINES; ++i) {
    if (!read_contents_line(input)) return false;
  }
  for (;;) {
    if (line_is(input.line, BODY_END_LINE)) {
      // The file is only complete once its last buffered bytes are on disk and it is closed.
      const bool ended = walk.output.end();
      return written(walk, close_conversion_files(input.files) && ended);
    }
    if (line_is(input.line, OBJECT_LINE)) {
      if (!read_contents_entry(walk)) return false;
    } else if (line_is(input.line, LIST_START_LITERAL)) {
      if (!written(walk, walk.output.list_start())) return false;
    } else if (line_is(input.line, LIST_END_LITERAL)) {
      if (!written(walk, walk.output.list_end())) return false;
    } else {
      return junk(walk);
    }
    if (!read_contents_line(input)) return false;
  }
}

}  // namespace

Outcome convert_sitemap(ConversionFiles& files, OutputFormat& output, Report& report) {
  try {
    SitemapInput input(files, report);
    KeywordIndex keywords;
    ContentsWalk walk{input, output, keywords};
    return walk_contents(walk) ? Outcome::success : Outcome::failure;
  } catch (const std::bad_alloc&) {
    // Any allocation of the run (a line, a ref, the index) may fail on a huge input; the run
    // then ends like every other failure, with what was written left on disk.
    report.err.clear();
    fail_closing(files, report, OUT_OF_MEMORY);
    return Outcome::failure;
  }
}

Outcome convert_sitemap(ConversionFiles& files, Report& report) {
  DcfOutput dcf(*files.output);
  return convert_sitemap(files, dcf, report);
}

}  // namespace sitemap
