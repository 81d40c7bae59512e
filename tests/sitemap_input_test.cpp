#include "io/sitemap_input.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "io/file_streams.h"
#include "test_streams.h"

namespace sitemap {
namespace {

std::vector<std::string> pieces_of(const std::string& bytes,
                                   std::vector<LineRead>* kinds = nullptr) {
  MemoryInput stream(bytes);
  LineReader reader(stream);
  std::vector<std::string> pieces;
  std::string_view piece;
  for (LineRead r; (r = reader.read(piece)) != LineRead::end;) {
    pieces.emplace_back(piece);
    if (kinds) kinds->push_back(r);
  }
  return pieces;
}

TEST(LineReader, SplitsAtLineFeedsAndFullPieces) {
  const std::string full(LINE_READ_MAX, 'x');
  // A line of LINE_READ_MAX bytes plus its line feed is two reads; one byte less is one.
  EXPECT_EQ(pieces_of(full + "\n"), (std::vector<std::string>{full, "\n"}));
  EXPECT_EQ(pieces_of(full.substr(1) + "\n"), (std::vector<std::string>{full.substr(1) + "\n"}));
  EXPECT_EQ(pieces_of(full + full + "ab\n"), (std::vector<std::string>{full, full, "ab\n"}));
  EXPECT_EQ(pieces_of(""), std::vector<std::string>{});
  EXPECT_EQ(pieces_of("\n\r\n"), (std::vector<std::string>{"\n", "\r\n"}));
}

TEST(LineReader, ReportsTheEndOnlyWhenAReadReachesIt) {
  std::vector<LineRead> kinds;
  pieces_of("a\nb", &kinds);
  EXPECT_EQ(kinds, (std::vector<LineRead>{LineRead::line, LineRead::last_line}));

  kinds.clear();
  pieces_of("a\nb\n", &kinds);
  EXPECT_EQ(kinds, (std::vector<LineRead>{LineRead::line, LineRead::line}));

  // A full piece stops before the end of the file, so the end is only met by the next read.
  kinds.clear();
  pieces_of(std::string(LINE_READ_MAX, 'x'), &kinds);
  EXPECT_EQ(kinds, std::vector<LineRead>{LineRead::line});
  kinds.clear();
  pieces_of(std::string(LINE_READ_MAX + 1, 'x'), &kinds);
  EXPECT_EQ(kinds, (std::vector<LineRead>{LineRead::line, LineRead::last_line}));
}

TEST(LineReader, SplitsTheSameWhateverTheReadSizes) {
  std::string bytes;
  for (int i = 0; i < 200; ++i)
    bytes += std::string(static_cast<std::size_t>(i * 37 % 101), 'a') + "\r\n";
  bytes += std::string(LINE_READ_MAX + 5, 'b') + "\n" + std::string(LINE_READ_MAX, 'c') + "tail";
  std::vector<LineRead> whole_kinds, dribble_kinds;
  const std::vector<std::string> whole = pieces_of(bytes, &whole_kinds);
  ChunkedInput stream(bytes, 7);
  LineReader reader(stream);
  std::vector<std::string> dribbled;
  std::string_view piece;
  for (LineRead r; (r = reader.read(piece)) != LineRead::end;) {
    dribbled.emplace_back(piece);
    dribble_kinds.push_back(r);
  }
  EXPECT_EQ(dribbled, whole);
  EXPECT_EQ(dribble_kinds, whole_kinds);
  EXPECT_EQ(whole_kinds.back(), LineRead::last_line);
}

// The splitting as the rule says it, a byte at a time: a piece ends after its line feed or at
// LINE_READ_MAX bytes; what is left at the end is the last line.
std::vector<std::string> pieces_by_rule(const std::string& bytes) {
  std::vector<std::string> pieces(1);
  for (const char c : bytes) {
    pieces.back() += c;
    if (c == '\n' || pieces.back().size() == LINE_READ_MAX) pieces.emplace_back();
  }
  if (pieces.back().empty()) pieces.pop_back();
  return pieces;
}

// Random texts of short lines, with lines about a full piece long and lines feeds in runs, read
// whole and in reads of many sizes: the pieces, their kinds, and the last four pieces kept for
// recent(), all as the rule says. Line feeds are found 64 bytes at a time, so the lengths cross
// those boundaries everywhere.
TEST(LineReader, SplitsAsTheRuleSaysAndKeepsTheLastPieces) {
  std::uint64_t seed = 12345;
  const auto next = [&seed](std::uint64_t n) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return (seed >> 33) % n;
  };
  for (int round = 0; round < 60; ++round) {
    std::string bytes;
    while (bytes.size() < 200000) {
      const std::uint64_t kind = next(20);
      const std::size_t length = kind == 0   ? LINE_READ_MAX - 2 + next(4)
                                 : kind == 1 ? next(3 * LINE_READ_MAX)
                                             : next(100);
      for (std::size_t i = 0; i < length; ++i) bytes += static_cast<char>('a' + next(3) * 30);
      bytes += next(8) == 0 ? "\r\n" : "\n";
    }
    bytes.resize(bytes.size() - next(3));
    const std::vector<std::string> expected = pieces_by_rule(bytes);
    for (const std::size_t chunk : {std::size_t{1} << 30, std::size_t{64}, std::size_t{7}}) {
      ChunkedInput stream(bytes, chunk);
      LineReader reader(stream, 4);
      std::string_view piece;
      std::size_t count = 0;
      for (LineRead r; (r = reader.read(piece)) != LineRead::end; ++count) {
        ASSERT_LT(count, expected.size());
        ASSERT_TRUE(piece == expected[count]) << round << " " << chunk << " " << count;
        const bool last = count + 1 == expected.size() && expected[count].back() != '\n' &&
                          expected[count].size() < LINE_READ_MAX;
        ASSERT_EQ(r, last ? LineRead::last_line : LineRead::line);
        for (std::size_t back = 1; back <= 4 && back <= count; ++back) {
          ASSERT_TRUE(reader.recent(back) == expected[count - back]);
        }
      }
      ASSERT_EQ(count, expected.size());
    }
  }
}

TEST(LineFeeds, TheVectorAndTheWordSearchesAgree) {
  std::string bytes(64 * 1000 + 7, 'x');
  std::uint64_t seed = 99;
  for (char& c : bytes) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    c = static_cast<char>(seed >> 56);  // every byte value, line feeds among them
  }
  for (std::size_t at = 0; at + 64 <= bytes.size(); at += 63) {
    std::uint64_t expected = 0;
    for (std::size_t i = 0; i < 64; ++i) {
      if (bytes[at + i] == '\n') expected |= std::uint64_t{1} << i;
    }
    ASSERT_EQ(line_feeds_in(bytes.data() + at), expected) << at;
    ASSERT_EQ(line_feeds_in_words(bytes.data() + at), expected) << at;
  }
}

// A stream that announces nothing of its size, as a FIFO does, is held whole all the same: the
// buffer grows by copying, past the size at which its memory comes in huge pages, and a read
// error is kept for its place.
TEST(ReplayInput, HoldsAWholeStreamThatAnnouncesNoSize) {
  std::string bytes(5 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 % 251);
  ChunkedInput stream(bytes, 100000);
  ReplayInput replay(stream);
  EXPECT_FALSE(replay.failed());
  EXPECT_TRUE(replay.bytes() == bytes);
  ChunkedInput failing(bytes, 100000, 3 << 20);
  ReplayInput cut(failing);
  EXPECT_TRUE(cut.failed());
  EXPECT_TRUE(cut.bytes() == std::string_view(bytes).substr(0, 3 << 20));
  // Read again, before and after a rewind, the error comes where the end would.
  std::string block(4 << 20, '\0');
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(cut.read(block.data(), block.size()), 3 << 20);
    EXPECT_EQ(cut.read(block.data(), block.size()), -1);
    EXPECT_TRUE(cut.rewind());
  }
}

// The resident memory (KiB) of the mapping that holds `address`, as the kernel counts it.
long resident_kib(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long low = 0, high = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &low, &high) == 2 && line.find(' ') < 30) {
      inside = low <= at && at < high;
    } else if (inside && line.compare(0, 4, "Rss:") == 0) {
      return std::stol(line.substr(4));
    }
  }
  return -1;
}

// A file read whole is mapped, and the pages its reader is done with leave the process's memory
// (the --html reading of a large sitemap), while its bytes stay what they are; a FIFO is read.
TEST(WholeInput, MapsAFileAndGivesBackWhatIsDone) {
  char path[] = "/tmp/whole-input-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string bytes(8 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 % 251);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
  std::unique_ptr<FileInput> file = open_input_file(path);
  ::unlink(path);
  ASSERT_TRUE(file);
  WholeInput whole;
  ASSERT_TRUE(whole.load(*file));
  const std::string_view view = whole.bytes();
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_TRUE(view == bytes);  // every page touched
    EXPECT_GE(resident_kib(view.data()), 8 << 10);
    whole.release(6 << 20);  // the first 6 MiB done with, then all
    EXPECT_LE(resident_kib(view.data()), (2 << 10) + 4);
    whole.release(SIZE_MAX);
    EXPECT_LE(resident_kib(view.data()), 4);
  }
  EXPECT_TRUE(whole.bytes() == bytes);
}

TEST(StripLineEnd, RemovesAnyMixOfTrailingCrAndLfOnly) {
  EXPECT_EQ(strip_line_end(std::string_view("<UL>\n")), "<UL>");
  EXPECT_EQ(strip_line_end(std::string_view("<UL>\r\n")), "<UL>");
  EXPECT_EQ(strip_line_end(std::string_view("<UL>\r\r\n")), "<UL>");
  EXPECT_EQ(strip_line_end(std::string_view("<UL>\n\r\n\r")), "<UL>");
  EXPECT_EQ(strip_line_end(std::string_view("\r\n")), "");
  EXPECT_EQ(strip_line_end(std::string_view("")), "");
  EXPECT_EQ(strip_line_end(std::string_view("<UL> \t\n")), "<UL> \t");
  EXPECT_EQ(strip_line_end(std::string_view("a\rb\n")), "a\rb");
}

TEST(LineTests, ExactAndPrefixAreCaseSensitiveFromTheFirstColumn) {
  EXPECT_TRUE(line_is("<UL>", LIST_START_LITERAL));
  EXPECT_FALSE(line_is("<UL> ", LIST_START_LITERAL));
  EXPECT_TRUE(line_starts_with("<UL> ", LIST_START_LITERAL));
  EXPECT_FALSE(line_starts_with("<ul>", LIST_START_LITERAL));
  EXPECT_FALSE(line_starts_with(" <UL>", LIST_START_LITERAL));
  EXPECT_FALSE(line_starts_with("<U", LIST_START_LITERAL));
}

TEST(ParamValue, ChecksOnlyTheFinalQuoteAndBracket) {
  struct Case {
    std::string_view remainder;
    bool valid;
    std::string_view value;
  };
  const Case cases[] = {
      {"Alpha\">", true, "Alpha"},
      {"\">", true, ""},
      {">", false, ">"},
      {"", false, ""},
      {"abc>", false, "abc>"},
      {"a\">b\">", true, "a\">b"},
      {"  x & <y> \">", true, "  x & <y> "},
      {"Alpha\" >", false, "Alpha\" >"},
      {std::string_view("a\0b\">", 5), true, std::string_view("a\0b", 3)},
  };
  for (const Case& c : cases) {
    const std::string line = std::string(NAME_LITERAL) + std::string(c.remainder);
    std::string_view value;
    EXPECT_EQ(param_value(line, NAME_LITERAL, value), c.valid) << c.remainder;
    EXPECT_EQ(value, c.value) << c.remainder;
  }
}

}  // namespace
}  // namespace sitemap
