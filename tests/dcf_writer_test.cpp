#include "output/dcf_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace sitemap {
namespace {

enum class Call { open_section, keyword, open_list, close_list };

struct Transition {
  PendingClose from;
  Call call;
  std::string_view written;  // what the call writes before its own piece
  PendingClose to;
};

// Every cell of the state table: what is written first, and the state that follows.
constexpr Transition TABLE[] = {
    {PendingClose::nothing, Call::open_section, "", PendingClose::empty_element},
    {PendingClose::nothing, Call::keyword, "", PendingClose::section_end},
    {PendingClose::nothing, Call::open_list, "", PendingClose::start_tag},
    {PendingClose::nothing, Call::close_list, "", PendingClose::section_end},
    {PendingClose::empty_element, Call::open_section, "/>\n", PendingClose::empty_element},
    {PendingClose::empty_element, Call::keyword, ">\n", PendingClose::section_end},
    {PendingClose::empty_element, Call::open_list, "", PendingClose::start_tag},
    {PendingClose::empty_element, Call::close_list, "/>\n", PendingClose::section_end},
    {PendingClose::start_tag, Call::open_section, ">\n", PendingClose::empty_element},
    {PendingClose::start_tag, Call::keyword, "", PendingClose::section_end},
    {PendingClose::start_tag, Call::open_list, "", PendingClose::start_tag},
    {PendingClose::start_tag, Call::close_list, ">\n", PendingClose::section_end},
    {PendingClose::section_end, Call::open_section, "</section>\n", PendingClose::empty_element},
    {PendingClose::section_end, Call::keyword, "", PendingClose::section_end},
    {PendingClose::section_end, Call::open_list, "", PendingClose::nothing},
    {PendingClose::section_end, Call::close_list, "</section>\n", PendingClose::section_end},
};

TEST(DcfWriter, EveryTransitionOfPendingClose) {
  for (const Transition& t : TABLE) {
    MemoryOutput out;
    DcfWriter dcf(out);
    dcf.pending_close = t.from;
    std::string piece;
    switch (t.call) {
      case Call::open_section:
        dcf_open_section(dcf, "r.html", "T");
        piece = "<section ref=\"r.html\" title=\"T\"";
        break;
      case Call::keyword:
        dcf_keyword(dcf, "r.html#k", "a, b");
        piece = "<keyword ref=\"r.html#k\">a, b</keyword>\n";
        break;
      case Call::open_list:
        dcf_open_list(dcf);
        break;
      case Call::close_list:
        dcf_close_list(dcf);
        break;
    }
    const std::string where =
        std::string(pending_text(t.from)) + " / call " + std::to_string(static_cast<int>(t.call));
    EXPECT_EQ(out.bytes, std::string(t.written) + piece) << where;
    EXPECT_EQ(dcf.pending_close, t.to) << where;
  }
}

TEST(DcfWriter, HeaderAndFooterDropWhatIsPending) {
  MemoryOutput out;
  DcfWriter dcf(out);
  dcf_begin(dcf);
  EXPECT_EQ(out.bytes.size(), 89u);
  dcf_open_section(dcf, "a.html", "A");
  dcf_end(dcf);
  EXPECT_EQ(out.bytes.substr(89), "<section ref=\"a.html\" title=\"A\"</DCF>\n");
}

// The short copies into a stream's room, by overlapping moves: every length up to past the
// longest of them lands whole, and not a byte more.
TEST(CopyBytes, EveryLengthLandsWholeAndAlone) {
  std::string source;
  for (int i = 0; i < 48; ++i) source += static_cast<char>('A' + i);
  for (std::size_t size = 0; size <= 40; ++size) {
    std::string dest(50, '.');
    copy_bytes(source.data(), size, &dest[1]);
    EXPECT_EQ(dest, "." + source.substr(0, size) + std::string(49 - size, '.')) << size;
  }
  // The same copies as appends to a text that starts empty and grows many times over.
  LargeText text;
  std::string expected;
  for (int round = 0; round < 200; ++round) {
    const std::string_view piece = std::string_view(source).substr(round % 7, round % 41);
    text.append(piece);
    expected.append(piece);
    if (round == 20) {
      ASSERT_EQ(std::string_view(text.data(), text.size()), expected);
      text.clear();
      expected.clear();
    }
  }
  EXPECT_EQ(std::string_view(text.data(), text.size()), expected);
}

}  // namespace
}  // namespace sitemap
