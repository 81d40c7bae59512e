#include "output/xml_text.h"

#include <libxml/HTMLparser.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace sitemap {

namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD
// No HTML entity name is longer; a longer run of letters after '&' is no reference.
constexpr std::size_t MAX_ENTITY_NAME = 31;
// Digits enough for any code point (U+10FFFF is 7 decimal digits), with leading zeros.
constexpr std::size_t MAX_REFERENCE_DIGITS = 10;

bool is_utf8_name(std::string name) {
  for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return name == "UTF-8" || name == "UTF8";
}

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_sequence(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) return 1;
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < n || byte(1) < lo || byte(1) > hi) return 0;
  for (std::size_t i = 2; i < n; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return n;
}

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool is_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

int digit_value(char c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A character reference at the start of `s` (which starts with '&'): its length, and its code
// point in `cp`; 0 when there is none, and the '&' is plain text.
std::size_t character_reference(std::string_view s, std::uint32_t& cp) {
  if (s.size() > 2 && s[1] == '#') {
    const bool hex = s[2] == 'x' || s[2] == 'X';
    const int base = hex ? 16 : 10;
    std::size_t i = hex ? 3 : 2;
    const std::size_t first = i;
    std::uint64_t value = 0;
    for (; i < s.size() && i - first < MAX_REFERENCE_DIGITS && digit_value(s[i], base) >= 0; ++i) {
      value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit_value(s[i], base));
    }
    if (i == first || i >= s.size() || s[i] != ';') return 0;
    // Surrogates, NUL and values past Unicode decode as the replacement character.
    const bool valid = value != 0 && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
    cp = valid ? static_cast<std::uint32_t>(value) : 0xFFFD;
    return i + 1;
  }
  std::size_t i = 1;
  while (i < s.size() && i <= MAX_ENTITY_NAME && is_alnum(s[i])) ++i;
  if (i == 1 || i >= s.size() || s[i] != ';') return 0;
  char name[MAX_ENTITY_NAME + 1];
  std::memcpy(name, s.data() + 1, i - 1);
  name[i - 1] = '\0';
  const htmlEntityDesc* entity = htmlEntityLookup(reinterpret_cast<const xmlChar*>(name));
  if (entity == nullptr) return 0;
  cp = entity->value;
  return i + 1;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t n = utf8_sequence(bytes);
    if (n == 0) return false;
    bytes.remove_prefix(n);
  }
  return true;
}

XmlText::~XmlText() {
  if (converter_ != reinterpret_cast<iconv_t>(-1)) iconv_close(converter_);
}

bool XmlText::set_encoding(const std::string& name) {
  if (converter_ != reinterpret_cast<iconv_t>(-1)) iconv_close(converter_);
  converter_ = reinterpret_cast<iconv_t>(-1);
  if (is_utf8_name(name)) return true;
  converter_ = iconv_open("UTF-8", name.c_str());
  return converter_ != reinterpret_cast<iconv_t>(-1);
}

void XmlText::to_utf8(std::string_view bytes) {
  utf8_.clear();
  if (converter_ == reinterpret_cast<iconv_t>(-1)) {
    while (!bytes.empty()) {
      const std::size_t n = utf8_sequence(bytes);
      if (n == 0) {
        utf8_ += REPLACEMENT;
        bytes.remove_prefix(1);
      } else {
        utf8_.append(bytes.data(), n);
        bytes.remove_prefix(n);
      }
    }
    return;
  }
  iconv(converter_, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  while (in_left > 0) {
    // A byte becomes at most 4 bytes of UTF-8 in the character sets iconv converts from.
    const std::size_t used = utf8_.size();
    utf8_.resize(used + 4 * in_left + 16);
    char* out = utf8_.data() + used;
    std::size_t out_left = utf8_.size() - used;
    const std::size_t result = iconv(converter_, &in, &in_left, &out, &out_left);
    utf8_.resize(utf8_.size() - out_left);
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // A byte the character set does not define, or a sequence cut off at the end.
      utf8_ += REPLACEMENT;
      ++in;
      --in_left;
      iconv(converter_, nullptr, nullptr, nullptr, nullptr);
    }
  }
}

void XmlText::decode_references() {
  decoded_.clear();
  std::string_view rest = utf8_;
  for (std::size_t amp; (amp = rest.find('&')) != std::string_view::npos;) {
    decoded_.append(rest.data(), amp);
    rest.remove_prefix(amp);
    std::uint32_t cp = 0;
    const std::size_t n = character_reference(rest, cp);
    if (n == 0) {
      decoded_ += '&';
      rest.remove_prefix(1);
    } else {
      append_utf8(decoded_, cp);
      rest.remove_prefix(n);
    }
  }
  decoded_.append(rest.data(), rest.size());
}

const std::string& XmlText::decode(std::string_view value) {
  to_utf8(value);
  decode_references();
  return decoded_;
}

void XmlText::append_escaped(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      // Kept as references: an attribute value would turn them into blanks.
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) break;  // no other control is XML
        // U+FFFE and U+FFFF are no XML characters either.
        if (c == '\xEF' && i + 2 < text.size() && text[i + 1] == '\xBF' &&
            (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')) {
          i += 2;
          break;
        }
        out += c;
    }
  }
}

}  // namespace sitemap
