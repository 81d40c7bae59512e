// Turns sitemap values, which are HTML text in the project's character set, into XML text in
// UTF-8: the bytes decoded from the character set, character references decoded, and the result
// escaped for an XML attribute, with every character XML 1.0 cannot hold dropped.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "io/large_memory.h"

namespace sitemap {

// Whether `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool is_valid_utf8(std::string_view bytes);
// Whether `bytes` is ASCII, which reads the same in every character set a project is written in.
bool is_ascii(std::string_view bytes);
// Whether an encoding's name is UTF-8's ("utf-8", "UTF8", ...).
bool is_utf8_encoding_name(std::string_view name);
// The place of the first `a` or `b` in `text`, or its size.
std::size_t find_either(std::string_view text, char a, char b);

// A numeric character reference's code point as HTML reads it: &#128; to &#159; name controls
// that no page means, and every browser, HTML Help's viewer among them, shows the windows-1252
// character of that byte instead (&#146; is a right quote). Other code points are themselves.
std::uint32_t html_numeric_reference(std::uint32_t cp);
// The same for text an HTML parser decoded already: its U+0080-U+009F made those characters.
// False, and `text` untouched, where it holds none.
bool map_c1_controls(std::string& text);

// The same check on a stream handed over in pieces, which may split a character.
class Utf8Check {
 public:
  void feed(std::string_view bytes);
  // Whether all that was fed is UTF-8, with no character cut off at its end.
  bool valid() const { return valid_ && pending_ == 0; }

 private:
  bool valid_ = true;
  int pending_ = 0;  // continuation bytes still owed by the character begun last
  unsigned char low_ = 0x80, high_ = 0xBF;  // the range the next of them must lie in
};

class XmlText {
 public:
  XmlText() = default;
  XmlText(const XmlText&) = delete;
  XmlText& operator=(const XmlText&) = delete;
  ~XmlText();

  // The character set of the values, by any name iconv(3) knows; false when it knows none such.
  bool set_encoding(const std::string& name);
  // Whether values hold character references to decode (HTML text, the default), or are plain
  // text already (what an HTML parser hands out).
  void set_references(bool decoded) { references_ = decoded; }

  // `value` as plain UTF-8 text: character set and character references decoded; a byte that
  // does not decode becomes U+FFFD. Valid until the next call (or as long as `value`).
  std::string_view decode(std::string_view value);
  // `bytes` in the character set as UTF-8 text, references left as they stand; a byte that
  // does not decode becomes U+FFFD. Valid until the next call.
  std::string_view to_utf8_text(std::string_view bytes);
  // Whether `value` decodes and escapes to itself: ASCII without references, markup or controls.
  static bool is_plain(std::string_view value);
  // UTF-8 text escaped for an XML attribute or element, characters XML cannot hold dropped.
  // For std::string and LargeString.
  template <typename String>
  static void append_escaped(String& out, std::string_view text);

 private:
  void to_utf8(std::string_view bytes);
  void decode_references();

  iconv_t converter_ = reinterpret_cast<iconv_t>(-1);  // none for UTF-8
  bool references_ = true;
  std::string utf8_;
  std::string decoded_;
};

}  // namespace sitemap
