#include "output/xml_text.h"

#include <libxml/HTMLparser.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
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

// What a UTF-8 lead byte asks of the bytes after it: how many continuation bytes, and the range
// the first of them must lie in (the others lie in 0x80-0xBF). False for a byte that leads none.
struct Utf8Lead {
  int continuations;
  unsigned char low;
  unsigned char high;
};

bool utf8_lead(unsigned char b, Utf8Lead& lead) {
  lead = {0, 0x80, 0xBF};
  if (b >= 0xC2 && b <= 0xDF) {
    lead.continuations = 1;
  } else if (b >= 0xE0 && b <= 0xEF) {
    lead.continuations = 2;
    if (b == 0xE0) lead.low = 0xA0;   // no overlong forms
    if (b == 0xED) lead.high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    lead.continuations = 3;
    if (b == 0xF0) lead.low = 0x90;
    if (b == 0xF4) lead.high = 0x8F;  // nothing past U+10FFFF
  } else {
    return false;
  }
  return true;
}

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_sequence(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  if (byte(0) < 0x80) return 1;
  Utf8Lead lead;
  if (!utf8_lead(byte(0), lead)) return 0;
  const std::size_t n = 1 + static_cast<std::size_t>(lead.continuations);
  if (s.size() < n || byte(1) < lead.low || byte(1) > lead.high) return 0;
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
    cp = valid ? html_numeric_reference(static_cast<std::uint32_t>(value)) : 0xFFFD;
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

// The length of the run of ASCII bytes at the start of `s`. 64 bytes a step where SSE2 is at
// hand (every x86-64), else 32: sitemaps are mostly ASCII, and the UTF-8 check of the inputs of
// a 20,000-page project (11 MB) takes 2.4 million instructions instead of 5.5 million.
std::size_t ascii_prefix(std::string_view s) {
  std::size_t i = 0;
#ifdef __SSE2__
  for (; i + 64 <= s.size(); i += 64) {
    const auto* p = reinterpret_cast<const __m128i*>(s.data() + i);
    const __m128i any = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(p), _mm_loadu_si128(p + 1)),
                                     _mm_or_si128(_mm_loadu_si128(p + 2), _mm_loadu_si128(p + 3)));
    if (_mm_movemask_epi8(any) != 0) break;
  }
#endif
  for (std::uint64_t w[4]; i + 32 <= s.size(); i += 32) {
    std::memcpy(w, s.data() + i, 32);
    if (((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080u) != 0) break;
  }
  for (std::uint64_t word; i + 8 <= s.size(); i += 8) {
    std::memcpy(&word, s.data() + i, 8);
    if ((word & 0x8080808080808080u) != 0) break;
  }
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

// For each byte of UTF-8 text, whether it is written as it stands in XML: no markup, no control
// character, and no lead byte of U+FFFE or U+FFFF. A table halves the time of escaping.
struct PlainBytes {
  bool plain[256];
  constexpr PlainBytes() : plain() {
    for (int b = 0x20; b < 256; ++b) plain[b] = b != '&' && b != '<' && b != '>' && b != '"';
    plain[0xEF] = false;
  }
};
constexpr PlainBytes PLAIN_IN_XML;

bool plain_in_xml(char c) { return PLAIN_IN_XML.plain[static_cast<unsigned char>(c)]; }

#ifdef __SSE2__
// The place of the first byte of `s` that `special` marks in a vector of 16 bytes, or the size
// of `s`: 16 bytes a step, then the last 16 (or, below 16, two overlapping 8) again, so that
// short texts take a step or two and no byte loop.
template <typename Special>
std::size_t first_special(std::string_view s, Special special) {
  const char* p = s.data();
  const std::size_t n = s.size();
  const auto marks = [&](__m128i v) {
    return static_cast<unsigned>(_mm_movemask_epi8(special(v)));
  };
  if (n >= 16) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
      const unsigned mask = marks(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
      if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
    }
    if (i == n) return n;
    // The last 16 bytes: those before i are known to be none.
    const unsigned mask =
        marks(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16))) >> (i - (n - 16));
    return mask != 0 ? i + static_cast<std::size_t>(__builtin_ctz(mask)) : n;
  }
  if (n >= 8) {
    const __m128i v =
        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + n - 8)));
    const unsigned mask = marks(v);
    if ((mask & 0xff) != 0) return static_cast<std::size_t>(__builtin_ctz(mask & 0xff));
    if (mask >> 8 != 0) return n - 8 + static_cast<std::size_t>(__builtin_ctz(mask >> 8));
    return n;
  }
  return n + 1;  // too short for a vector: the caller looks a byte at a time
}
#endif

// The length of the run of bytes at the start of `s` that XML takes as they stand: markup,
// controls and the lead byte of U+FFFE and U+FFFF end it. (A byte at a time, the looks of
// escaping the keywords of the 20,000 pages with 20 anchors each took 104 million
// instructions; with vectors, 48 million, counted with cachegrind.)
#ifdef __SSE2__
// The bytes of `v` that are markup ('&', '<', '>', '"') or controls, marked.
__m128i markup_or_control(__m128i v) {
  const auto equal = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
  // Controls are the bytes up to 0x1f: those that an unsigned minimum with 0x1f leaves alone.
  const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1f)), v);
  return _mm_or_si128(_mm_or_si128(control, equal('&')),
                      _mm_or_si128(_mm_or_si128(equal('<'), equal('>')), equal('"')));
}
#endif

std::size_t plain_prefix(std::string_view s) {
#ifdef __SSE2__
  const std::size_t found = first_special(s, [](__m128i v) {
    return _mm_or_si128(markup_or_control(v),
                        _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xEF))));
  });
  if (found <= s.size()) return found;
#endif
  std::size_t i = 0;
  while (i < s.size() && plain_in_xml(s[i])) ++i;
  return i;
}

// The length of the run of ASCII bytes at the start of `s` without `stop` among them.
std::size_t ascii_prefix_before(std::string_view s, char stop) {
#ifdef __SSE2__
  const std::size_t found = first_special(s, [stop](__m128i v) {
    // A byte from 0x80 on has its top bit set, as the comparison's marks do.
    return _mm_or_si128(v, _mm_cmpeq_epi8(v, _mm_set1_epi8(stop)));
  });
  if (found <= s.size()) return found;
#endif
  std::size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80 && s[i] != stop) ++i;
  return i;
}

}  // namespace

std::uint32_t html_numeric_reference(std::uint32_t cp) {
  // windows-1252 at 0x80-0x9F; its five undefined bytes stay the controls they name.
  static constexpr std::uint16_t WINDOWS_1252[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return cp >= 0x80 && cp <= 0x9F ? WINDOWS_1252[cp - 0x80] : cp;
}

bool map_c1_controls(std::string& text) {
  // U+0080-U+009F are 0xC2 0x80-0x9F in UTF-8, and most texts hold no 0xC2 at all.
  std::size_t at = text.find('\xC2');
  while (at != std::string::npos &&
         !(at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
           static_cast<unsigned char>(text[at + 1]) <= 0x9F)) {
    at = text.find('\xC2', at + 1);
  }
  if (at == std::string::npos) return false;
  std::string mapped(text, 0, at);
  for (std::size_t i = at; i < text.size(); ++i) {
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (text[i] == '\xC2' && next >= 0x80 && next <= 0x9F) {
      append_utf8(mapped, html_numeric_reference(next));
      ++i;
    } else {
      mapped += text[i];
    }
  }
  text = std::move(mapped);
  return true;
}

bool is_ascii(std::string_view bytes) { return ascii_prefix(bytes) == bytes.size(); }

std::size_t find_either(std::string_view text, char a, char b) {
#ifdef __SSE2__
  const std::size_t found = first_special(text, [a, b](__m128i v) {
    return _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(a)), _mm_cmpeq_epi8(v, _mm_set1_epi8(b)));
  });
  if (found <= text.size()) return found;
#endif
  std::size_t i = 0;
  while (i < text.size() && text[i] != a && text[i] != b) ++i;
  return i;
}

bool is_utf8_encoding_name(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return upper == "UTF-8" || upper == "UTF8";
}

bool is_valid_utf8(std::string_view bytes) {
  Utf8Check check;
  check.feed(bytes);
  return check.valid();
}

void Utf8Check::feed(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size() && valid_;) {
    if (pending_ == 0) {
      i += ascii_prefix(bytes.substr(i));
      if (i == bytes.size()) return;
      Utf8Lead lead;
      valid_ = utf8_lead(static_cast<unsigned char>(bytes[i++]), lead);
      pending_ = lead.continuations;
      low_ = lead.low;
      high_ = lead.high;
      continue;
    }
    const auto next = static_cast<unsigned char>(bytes[i++]);
    valid_ = next >= low_ && next <= high_;
    low_ = 0x80;
    high_ = 0xBF;
    --pending_;
  }
}

XmlText::~XmlText() {
  if (converter_ != reinterpret_cast<iconv_t>(-1)) iconv_close(converter_);
}

bool XmlText::set_encoding(const std::string& name) {
  if (converter_ != reinterpret_cast<iconv_t>(-1)) iconv_close(converter_);
  converter_ = reinterpret_cast<iconv_t>(-1);
  if (is_utf8_encoding_name(name)) return true;
  converter_ = iconv_open("UTF-8", name.c_str());
  return converter_ != reinterpret_cast<iconv_t>(-1);
}

void XmlText::to_utf8(std::string_view bytes) {
  utf8_.clear();
  if (ascii_prefix(bytes) == bytes.size()) {
    // ASCII is the same in every character set a sitemap is written in.
    utf8_.assign(bytes.data(), bytes.size());
    return;
  }
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
  // Writes out a character the converter still holds back: windows-1255 and windows-1258 keep
  // the last letter until they know no combining mark follows, and it would be lost otherwise.
  const auto flush = [this] {
    const std::size_t used = utf8_.size();
    utf8_.resize(used + 16);
    char* out = utf8_.data() + used;
    std::size_t out_left = 16;
    iconv(converter_, nullptr, nullptr, &out, &out_left);
    utf8_.resize(utf8_.size() - out_left);
  };
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  // Room for a piece of the input at a time, so that a whole file converted at once does not
  // first clear four times its size.
  constexpr std::size_t PIECE = 64 * 1024;
  while (in_left > 0) {
    std::size_t piece_left = in_left < PIECE ? in_left : PIECE;
    const std::size_t rest = in_left - piece_left;
    // A byte becomes at most 4 bytes of UTF-8 in the character sets iconv converts from.
    const std::size_t used = utf8_.size();
    utf8_.resize(used + 4 * piece_left + 16);
    char* out = utf8_.data() + used;
    std::size_t out_left = utf8_.size() - used;
    const std::size_t result = iconv(converter_, &in, &piece_left, &out, &out_left);
    utf8_.resize(utf8_.size() - out_left);
    in_left = rest + piece_left;
    // A character cut off at the end of a piece waits for the next one.
    if (result == static_cast<std::size_t>(-1) && errno == EINVAL && rest > 0) continue;
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // A byte the character set does not define, or a sequence cut off at the end.
      flush();
      utf8_ += REPLACEMENT;
      ++in;
      --in_left;
      iconv(converter_, nullptr, nullptr, nullptr, nullptr);
    }
  }
  flush();
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

std::string_view XmlText::to_utf8_text(std::string_view bytes) {
  to_utf8(bytes);
  return utf8_;
}

bool XmlText::is_plain(std::string_view value) {
#ifdef __SSE2__
  const std::size_t found = first_special(value, [](__m128i v) {
    // A byte from 0x80 on has its top bit set, as the comparisons' marks do.
    return _mm_or_si128(v, markup_or_control(v));
  });
  if (found <= value.size()) return found == value.size();
#endif
  // Below 0x80, only markup and controls are not plain in XML.
  return std::all_of(value.begin(), value.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x80 && c != '&' && plain_in_xml(c);
  });
}

std::string_view XmlText::decode(std::string_view value) {
  // Most values are ASCII without a reference, and decode to themselves.
  const std::size_t plain = references_ ? ascii_prefix_before(value, '&') : ascii_prefix(value);
  if (plain == value.size()) return value;
  to_utf8(value);
  if (!references_) return utf8_;
  decode_references();
  return decoded_;
}

template <typename String>
void XmlText::append_escaped(String& out, std::string_view text) {
  if (plain_prefix(text) == text.size()) {
    out.append(text.data(), text.size());
    return;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Runs that need nothing are copied whole.
    const std::size_t plain = i + plain_prefix(text.substr(i));
    out.append(text.data() + i, plain - i);
    if (plain == text.size()) return;
    i = plain;
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

template void XmlText::append_escaped(std::string&, std::string_view);
template void XmlText::append_escaped(LargeString&, std::string_view);

}  // namespace sitemap
