// The UTF-8 check of sitemap-to-qhp sees its inputs in pieces of any size: a character cut
// between two pieces must be judged as if it came whole. And the looks for what a value needs
// done, 16 or 8 bytes at a time: they must find it at every place of texts of every length.
#include <gtest/gtest.h>

#include <string>

#include "output/xml_text.h"

namespace sitemap {
namespace {

TEST(Utf8Check, PiecesGiveTheVerdictOfTheWhole) {
  const std::string texts[] = {"plain ASCII",
                               "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\xA6",  // 2, 3 and 4 bytes
                               "cut \xE2\x82",
                               "lone \x80 continuation",
                               "overlong \xC0\xAF",
                               "surrogate \xED\xA0\x80",
                               "past U+10FFFF \xF4\x90\x80\x80",
                               "windows-1252 caf\xE9",
                               "overlong three bytes \xE0\x80\x80",
                               "bad third byte \xE2\x82\x41",
                               "U+1F600 \xF0\x9F\x98\x80"};
  for (const std::string& text : texts) {
    const bool whole = is_valid_utf8(text);
    for (std::size_t a = 0; a <= text.size(); ++a) {
      for (std::size_t b = a; b <= text.size(); ++b) {
        Utf8Check check;
        check.feed(text.substr(0, a));
        check.feed(text.substr(a, b - a));
        check.feed(text.substr(b));
        EXPECT_EQ(check.valid(), whole) << text << " cut at " << a << " and " << b;
      }
    }
  }
  EXPECT_TRUE(is_valid_utf8(texts[1]) && is_valid_utf8(texts[10]));
  // Each byte of a sequence is checked wherever it lies against the blocks the fast path
  // looks at: after 0 to 70 ASCII bytes, a bad second, third or fourth byte.
  for (std::size_t ascii = 0; ascii <= 70; ++ascii) {
    const std::string before(ascii, 'a');
    EXPECT_TRUE(is_valid_utf8(before + "\xE2\x82\xAC\xF0\x9F\x98\x80z")) << ascii;
    for (const char* bad : {"\xE2\x41\xAC", "\xE2\x82\x41", "\xF0\x9F\x41\x80",
                            "\xF0\x9F\x98\x41", "\xC3\x41", "\xE2\x82"}) {
      EXPECT_FALSE(is_valid_utf8(before + bad + "zz")) << ascii << " " << bad;
      Utf8Check check;
      check.feed(before + bad + "zz");
      EXPECT_FALSE(check.valid()) << ascii << " " << bad;
    }
  }
  EXPECT_FALSE(is_valid_utf8(texts[2]) || is_valid_utf8(texts[3]) || is_valid_utf8(texts[4]) ||
               is_valid_utf8(texts[5]) || is_valid_utf8(texts[6]) || is_valid_utf8(texts[7]) ||
               is_valid_utf8(texts[8]) || is_valid_utf8(texts[9]));
}

// One byte that needs escaping (or a reference that needs decoding) at each place of texts of
// 0 to 40 plain bytes: the text is written as the plain bytes around that byte written alone,
// and is not taken for plain.
TEST(XmlText, FindsWhatNeedsDoingAtEveryPlace) {
  const std::string specials[] = {"&",  "<",  ">",    "\"",   "\t",
                                  "\n", "\r", "\x01", "\x1f", "\xEF\xBF\xBE"};
  XmlText text;
  ASSERT_TRUE(text.set_encoding("UTF-8"));
  for (std::size_t size = 0; size <= 40; ++size) {
    for (std::size_t at = 0; at < size; ++at) {
      const std::string before(at, 'a');
      const std::string after(size - at - 1, 'z');
      for (const std::string& special : specials) {
        std::string alone, whole;
        XmlText::append_escaped(alone, special);
        XmlText::append_escaped(whole, before + special + after);
        ASSERT_EQ(whole, before + alone + after) << size << " " << at;
        ASSERT_FALSE(XmlText::is_plain(before + special + after)) << size << " " << at;
      }
      ASSERT_EQ(text.decode(before + "&amp;" + after), before + "&" + after) << size << " " << at;
      ASSERT_EQ(text.decode(before + "\xC3\xA9" + after), before + "\xC3\xA9" + after);
      ASSERT_FALSE(XmlText::is_plain(before + "\xC3\xA9" + after)) << size << " " << at;
    }
    std::string plain(size, 'm'), out;
    XmlText::append_escaped(out, plain);
    ASSERT_EQ(out, plain);
    ASSERT_EQ(text.decode(plain), plain);
    ASSERT_TRUE(XmlText::is_plain(plain));
  }
}

// &#128;-&#159; are read as windows-1252's characters, as HTML Help shows them, whether a
// value's references are decoded here or by the HTML parser; the five bytes windows-1252 lacks
// stay controls, which XML cannot hold.
TEST(XmlText, ReferencesToC1ControlsAreWindows1252) {
  XmlText text;
  text.set_encoding("UTF-8");
  EXPECT_EQ(text.decode("&#145;a&#x92; &#128;&#150;&#159;&#129;"),
            "\xE2\x80\x98"
            "a\xE2\x80\x99 \xE2\x82\xAC\xE2\x80\x93\xC5\xB8\xC2\x81");
  std::string parsed =
      "\xC2\x91x\xC2\x92 "
      "caf\xC3\xA9 \xC2\xA0\xC2\x9D";
  EXPECT_TRUE(map_c1_controls(parsed));
  EXPECT_EQ(parsed,
            "\xE2\x80\x98x\xE2\x80\x99 "
            "caf\xC3\xA9 \xC2\xA0\xC2\x9D");
  std::string plain = "caf\xC3\xA9 \xC2\xA0";
  EXPECT_FALSE(map_c1_controls(plain));
}

}  // namespace
}  // namespace sitemap
