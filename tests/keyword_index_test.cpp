#include "keywords/keyword_index.h"

#include <gtest/gtest.h>

#include <string>

#include "io/sitemap_input.h"
#include "keywords/keyword_path.h"
#include "output/dcf_writer.h"

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
  DcfOutput dcf;
  KeywordIndex keywords;
};

struct Table {
  explicit Table(std::string_view bytes) : stream(bytes) {
    EXPECT_EQ(table.load(stream), IndexTable::Load::done);
  }
  MemoryInput stream;
  IndexTable table;
};

TEST(KeywordPath, WalksOfTheExampleIndex) {
  Table t(EXAMPLE_INDEX);
  const struct {
    std::string_view ref;
    std::string_view path;
  } cases[] = {
      {"b.html#one", "alpha, first"}, {"b.html#two", "alpha, second"}, {"a.html", "alpha"}};
  std::vector<LocalLine> found;
  for (const auto& c : cases) {
    t.table.find_locals(c.ref, found);
    ASSERT_EQ(found.size(), 1u) << c.ref;
    EXPECT_EQ(found[0].walk, WalkEnd::path);
    EXPECT_EQ(found[0].walk_text, c.path);
  }
  // At list depth 1 and below, the entry's own keyword alone.
  for (const std::int64_t depth : {1, 0, -3}) {
    KeywordWalk walk;
    walk_keyword_path(t.table, {5, IndexLineKind::name, "<PARAM NAME=\"Name\" VALUE=\"alpha\">"},
                      NO_CLIMB, depth, walk);
    EXPECT_EQ(walk.end, WalkEnd::path);
    EXPECT_EQ(walk.path, "alpha");
  }
}

TEST(KeywordPath, AWalkAboveTheFirstLineIsAJunkLine) {
  IndexRun run("<PARAM NAME=\"Local\" VALUE=\"x\">\n<UL>\n<PARAM NAME=\"Local\" VALUE=\"a\">\n");
  EXPECT_FALSE(lookup_keywords(run.keywords, run.input, run.dcf, "a"));
  EXPECT_EQ(run.report.out, "Invalid line: \n");
  EXPECT_EQ(run.report.err, "Error: Junk line in Index.hhk.\n");
}

TEST(IndexTable, KeepsTheLinesTheLineReaderDelivers) {
  // Pieces of at most 32767 bytes; a last piece that meets the end of the file is left out.
  const std::string full = std::string(LOCAL_LITERAL) + std::string(LINE_READ_MAX - 28, 'x') + "y";
  const std::string bytes = "<UL>\r\n" + full + "\n\r\n" + full + "tail";
  MemoryInput stream(bytes);
  IndexTable table;
  ASSERT_EQ(table.load(stream), IndexTable::Load::done);
  EXPECT_EQ(table.line_count(), 5u);
  std::vector<LocalLine> found;
  table.find_locals("xxx", found);
  ASSERT_EQ(found.size(), 2u);
  // Lines 2 and 5, whole pieces.
  for (const LocalLine& local : found) {
    EXPECT_EQ(local.value, std::string_view(full).substr(LOCAL_LITERAL.size()));
  }
  EXPECT_EQ(found[0].line, 2u);
  EXPECT_EQ(found[1].line, 5u);
  // Two lines above line 5 stands line 3, empty once its line end is stripped: the walk stops
  // on it.
  EXPECT_EQ(found[1].walk, WalkEnd::junk);
  EXPECT_EQ(found[1].walk_text, "");
}

TEST(LookupKeywords, ReadsTheIndexOnceAndEachRefOnce) {
  IndexRun run(EXAMPLE_INDEX);
  run.dcf.section("b.html", "B");
  ASSERT_TRUE(lookup_keywords(run.keywords, run.input, run.dcf, "b.html"));
  EXPECT_EQ(run.index.bytes_read, EXAMPLE_INDEX.size());
  EXPECT_EQ(run.out.bytes,
            "<section ref=\"b.html\" title=\"B\">\n"
            "<keyword ref=\"b.html#one\">alpha, first</keyword>\n"
            "<keyword ref=\"b.html#two\">alpha, second</keyword>\n");

  run.dcf.section("b.html", "B again");
  ASSERT_TRUE(lookup_keywords(run.keywords, run.input, run.dcf, "b.html"));
  EXPECT_EQ(run.dcf.writer().pending_close, PendingClose::empty_element);
  ASSERT_TRUE(lookup_keywords(run.keywords, run.input, run.dcf, "a.html"));
  EXPECT_EQ(run.index.bytes_read, EXAMPLE_INDEX.size());
}

// A keyword with many sub-entries, each on a page of its own, and one entry with many pages:
// walking back from every one of them must not cost the square of their number.
TEST(LookupKeywords, WalkWorkGrowsLinearly) {
  constexpr int N = 20000;
  std::string index =
      "<UL>\n<LI> <OBJECT TYPE=\"TEXT/SITEMAP\">\n<PARAM NAME=\"Name\" VALUE=\"many\">\n";
  for (int i = 0; i < N; ++i) {
    index += "<PARAM NAME=\"Name\" VALUE=\"t\">\n<PARAM NAME=\"Local\" VALUE=\"p.html#" +
             std::to_string(i) + "\">\n";
  }
  index += "</OBJECT>\n<UL>\n";
  for (int i = 0; i < N; ++i) {
    index +=
        "<LI> <OBJECT TYPE=\"TEXT/SITEMAP\">\n<PARAM NAME=\"Name\" VALUE=\"s\">\n"
        "<PARAM NAME=\"Name\" VALUE=\"t\">\n<PARAM NAME=\"Local\" VALUE=\"s.html#" +
        std::to_string(i) + "\">\n</OBJECT>\n";
  }
  index += "</UL>\n</UL>\n";
  IndexRun run(index);
  ASSERT_TRUE(lookup_keywords(run.keywords, run.input, run.dcf, "p.html"));
  ASSERT_TRUE(lookup_keywords(run.keywords, run.input, run.dcf, "s.html"));
  EXPECT_NE(run.out.bytes.find("<keyword ref=\"s.html#19999\">many, s</keyword>"),
            std::string::npos);
  EXPECT_LT(run.keywords.table->steps_taken(), 10u * run.keywords.table->line_count());
}

}  // namespace
}  // namespace sitemap
