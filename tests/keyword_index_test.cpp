#include "keywords/keyword_index.h"

#include <gtest/gtest.h>

#include <string>

#include "converter/dcf_writer.h"
#include "converter/sitemap_input.h"
#include "keywords/keyword_path.h"

namespace sitemap {
namespace {

// Lines 1-2 are header lines; the entries begin on line 3.
constexpr std::string_view EXAMPLE_INDEX =
    "<HTML>\n<BODY>\n<UL>\n"
    "<LI> <OBJECT TYPE=\"TEXT/SITEMAP\">\n<PARAM NAME=\"Name\" VALUE=\"alpha\">\n"
    "<PARAM NAME=\"Name\" VALUE=\"Alpha page\">\n<PARAM NAME=\"Local\" VALUE=\"a.html\">\n"
    "</OBJECT>\n<UL>\n"
    "<LI> <OBJECT TYPE=\"TEXT/SITEMAP\">\n<PARAM NAME=\"Name\" VALUE=\"first\">\n"
    "<PARAM NAME=\"Name\" VALUE=\"First\">\n<PARAM NAME=\"Local\" VALUE=\"b.html#one\">\n"
    "</OBJECT>\n"
    "<LI> <OBJECT TYPE=\"TEXT/SITEMAP\">\n<PARAM NAME=\"Name\" VALUE=\"second\">\n"
    "<PARAM NAME=\"Name\" VALUE=\"Second\">\n<PARAM NAME=\"Local\" VALUE=\"b.html#two\">\n"
    "</OBJECT>\n</UL>\n</UL>\n";

// Counts the bytes the lookups ask of the index.
class CountingInput final : public InputStream {
 public:
  explicit CountingInput(std::string_view bytes) : inner_(bytes) {}
  long read(char* dest, std::size_t size) override {
    const long got = inner_.read(dest, size);
    if (got > 0) bytes_read += static_cast<std::size_t>(got);
    return got;
  }
  bool rewind() override { return inner_.rewind(); }
  void close() override {}

  std::size_t bytes_read = 0;

 private:
  MemoryInput inner_;
};

struct IndexRun {
  explicit IndexRun(std::string_view index_bytes) : index(index_bytes), dcf(out) {}

  MemoryInput contents{""};
  CountingInput index;
  MemoryOutput out;
  ConversionFiles files{&contents, &index, &out};
  Report report;
  SitemapInput input{files, report};
  DcfWriter dcf;
  KeywordIndex keywords;
};

TEST(KeywordPath, StepsOfTheExampleIndex) {
  struct Case {
    long match_line, list_depth;
    std::string_view path;
    long back_offset;
  };
  const Case cases[] = {{13, 2, "alpha, first", 8},
                        {18, 2, "alpha, second", 13},
                        {7, 1, "alpha", 2},
                        {7, 0, "alpha", 2},
                        {7, -3, "alpha", 2}};
  for (const Case& c : cases) {
    IndexRun run(EXAMPLE_INDEX);
    KeywordPath path;
    ASSERT_TRUE(build_keyword_path(run.input, c.match_line, c.list_depth, path)) << c.match_line;
    EXPECT_EQ(path.keyword_path, c.path);
    EXPECT_EQ(path.back_offset, c.back_offset);
  }
}

TEST(KeywordPath, AWalkAboveTheFirstLineIsAJunkLine) {
  IndexRun run("<PARAM NAME=\"Local\" VALUE=\"x\">\n<UL>\n<PARAM NAME=\"Local\" VALUE=\"a\">\n");
  KeywordPath path;
  EXPECT_FALSE(build_keyword_path(run.input, 3, 1, path));
  EXPECT_EQ(run.report.out, "Invalid line: \n");
  EXPECT_EQ(run.report.err, "Error: Junk line in Index.hhk.\n");
}

TEST(LookupKeywords, EachRefIsLookedUpOnce) {
  IndexRun run(EXAMPLE_INDEX);
  dcf_open_section(run.dcf, "b.html", "B");
  ASSERT_TRUE(lookup_keywords(run.keywords, run.input, run.dcf, "b.html"));
  const std::size_t after_first = run.index.bytes_read;
  EXPECT_GT(after_first, 0u);
  EXPECT_EQ(run.out.bytes,
            "<section ref=\"b.html\" title=\"B\">\n"
            "<keyword ref=\"b.html#one\">alpha, first</keyword>\n"
            "<keyword ref=\"b.html#two\">alpha, second</keyword>\n");

  dcf_open_section(run.dcf, "b.html", "B again");
  ASSERT_TRUE(lookup_keywords(run.keywords, run.input, run.dcf, "b.html"));
  EXPECT_EQ(run.index.bytes_read, after_first);
  EXPECT_EQ(run.dcf.pending_close, PendingClose::empty_element);
}

}  // namespace
}  // namespace sitemap
