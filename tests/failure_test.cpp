// Read and write errors met anywhere in a run end it with status 1 and one error line, never
// with a success.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "convert/converter.h"
#include "test_streams.h"

namespace sitemap {
namespace {

std::string example_file(const char* name) {
  std::ifstream in(std::string(SITEMAP_EXAMPLE_DIR) + "/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Takes `limit` bytes, then fails every write.
class FullOutput final : public OutputStream {
 public:
  explicit FullOutput(std::size_t limit) : limit_(limit) {}
  bool close() override { return true; }

  std::string bytes;

 private:
  bool write_out(const char* data, std::size_t size) override {
    if (size > limit_ - bytes.size()) return false;
    bytes.append(data, size);
    return true;
  }

  std::size_t limit_;
};

struct Example {
  std::string contents = example_file("Contents.hhc");
  std::string index = example_file("Index.hhk");
};

std::size_t full_dcf_size(const Example& example) {
  MemoryInput contents(example.contents), index(example.index);
  MemoryOutput dcf;
  ConversionFiles files{&contents, &index, &dcf};
  Report report;
  EXPECT_EQ(convert_sitemap(files, report), Outcome::success);
  return dcf.bytes.size();
}

TEST(WriteErrors, AFullDiskAnywhereIsAFailure) {
  const Example example;
  const std::size_t full = full_dcf_size(example);
  for (std::size_t limit = 0; limit <= full; ++limit) {
    MemoryInput contents(example.contents), index(example.index);
    FullOutput dcf(limit);
    ConversionFiles files{&contents, &index, &dcf};
    Report report;
    const Outcome outcome = convert_sitemap(files, report);
    if (limit == full) {
      EXPECT_EQ(outcome, Outcome::success);
      EXPECT_EQ(report.err, "");
    } else {
      ASSERT_EQ(outcome, Outcome::failure) << limit;
      EXPECT_EQ(report.err, "Error: Failed to write qt-assistant.dcf.\n") << limit;
      EXPECT_EQ(report.out, "");
    }
  }
}

// Fails only its write number `fail_at` (0-based); counts the writes asked of it after that.
class FlakyOutput final : public OutputStream {
 public:
  explicit FlakyOutput(std::size_t fail_at) : fail_at_(fail_at) {}
  bool close() override {
    closed = true;
    return true;
  }

  std::size_t writes_after_failure = 0;
  bool closed = false;

 private:
  bool write_out(const char*, std::size_t) override {
    if (calls_++ == fail_at_) return false;
    if (calls_ > fail_at_) ++writes_after_failure;
    return true;
  }

  std::size_t fail_at_;
  std::size_t calls_ = 0;
};

TEST(WriteErrors, TheRunStopsAtTheFirstFailedWriteEvenIfLaterOnesWouldSucceed) {
  const Example example;
  for (std::size_t fail_at = 0;; ++fail_at) {
    MemoryInput contents(example.contents), index(example.index);
    FlakyOutput dcf(fail_at);
    ConversionFiles files{&contents, &index, &dcf};
    Report report;
    if (convert_sitemap(files, report) == Outcome::success) {
      EXPECT_GT(fail_at, 40u);  // every write of the example has been made to fail once
      break;
    }
    EXPECT_EQ(report.err, "Error: Failed to write qt-assistant.dcf.\n") << fail_at;
    EXPECT_EQ(dcf.writes_after_failure, 0u) << fail_at;
    EXPECT_TRUE(dcf.closed) << fail_at;
  }
}

// Records whether it was closed.
class ClosingInput final : public InputStream {
 public:
  explicit ClosingInput(std::string_view bytes) : inner_(bytes) {}
  long read(char* dest, std::size_t size) override { return inner_.read(dest, size); }
  void close() override { closed = true; }

  bool closed = false;

 private:
  MemoryInput inner_;
};

TEST(JunkLines, TheExitClosesAllThreeStreams) {
  const Example example;
  struct Case {
    std::string contents, index, error;
  };
  const std::string object_line = "<LI> <OBJECT TYPE=\"TEXT/SITEMAP\">\n";
  const std::size_t entry = example.contents.find(object_line);
  const Case cases[] = {{example.contents.substr(0, entry) + "junk\n", example.index,
                         "Error: Junk line in Contents.hhc.\n"},
                        {example.contents, "<PARAM NAME=\"Local\" VALUE=\"lamp.html\">\n",
                         "Error: Junk line in Index.hhk.\n"}};
  for (const Case& c : cases) {
    ClosingInput contents(c.contents), index(c.index);
    FlakyOutput dcf(SIZE_MAX);
    ConversionFiles files{&contents, &index, &dcf};
    Report report;
    ASSERT_EQ(convert_sitemap(files, report), Outcome::failure);
    EXPECT_EQ(report.err, c.error);
    EXPECT_TRUE(contents.closed && index.closed && dcf.closed) << c.error;
  }
}

TEST(ReadErrors, AreNeverTakenForTheEndOfAFile) {
  const Example example;
  // The run never reads the contents past its body end line.
  const std::size_t needed = example.contents.find("</BODY>\n") + 8;
  for (std::size_t good = 0; good < needed; good += 97) {
    ChunkedInput contents(example.contents, 4096, good);
    MemoryInput index(example.index);
    MemoryOutput dcf;
    ConversionFiles files{&contents, &index, &dcf};
    Report report;
    ASSERT_EQ(convert_sitemap(files, report), Outcome::failure) << good;
    EXPECT_EQ(report.err, "Error: Failed to read Contents.hhc.\n") << good;
  }
  for (std::size_t good = 0; good < example.index.size(); good += 97) {
    MemoryInput contents(example.contents);
    ChunkedInput index(example.index, 4096, good);
    MemoryOutput dcf;
    ConversionFiles files{&contents, &index, &dcf};
    Report report;
    ASSERT_EQ(convert_sitemap(files, report), Outcome::failure) << good;
    EXPECT_EQ(report.err, "Error: Failed to read Index.hhk.\n") << good;
  }
}

}  // namespace
}  // namespace sitemap
