#include "project/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "io/file_names.h"
#include "output/xml_text.h"
#include "project/charset_labels.h"

namespace sitemap {

namespace {

// The code page of each primary language (the low 10 bits of a locale ID) that is not Western;
// the languages written in more than one script are told apart by the whole ID below.
struct LanguageCodePage {
  std::uint16_t language;
  const char* code_page;
};
constexpr LanguageCodePage CODE_PAGES[] = {
    {0x11, "CP932"},                                                         // Japanese
    {0x04, "CP936"},                                                         // Chinese (PRC)
    {0x12, "CP949"},                                                         // Korean
    {0x1E, "CP874"},                                                         // Thai
    {0x05, "CP1250"}, {0x0E, "CP1250"}, {0x15, "CP1250"}, {0x18, "CP1250"},  // cs hu pl ro
    {0x1A, "CP1250"}, {0x1B, "CP1250"}, {0x1C, "CP1250"}, {0x24, "CP1250"},  // hr sk sq sl
    {0x19, "CP1251"}, {0x22, "CP1251"}, {0x23, "CP1251"}, {0x02, "CP1251"},  // ru uk be bg
    {0x2F, "CP1251"}, {0x3F, "CP1251"}, {0x40, "CP1251"}, {0x44, "CP1251"},  // mk kk ky tt
    {0x50, "CP1251"}, {0x28, "CP1251"}, {0x6D, "CP1251"}, {0x85, "CP1251"},  // mn tg ba sah
    {0x42, "CP1250"},                                                        // Turkmen
    {0x08, "CP1253"},                                                        // Greek
    {0x1F, "CP1254"}, {0x2C, "CP1254"}, {0x43, "CP1254"},  // Turkish, Azeri, Uzbek
    {0x0D, "CP1255"},                                      // Hebrew
    {0x01, "CP1256"}, {0x29, "CP1256"}, {0x20, "CP1256"},  // Arabic, Farsi, Urdu
    {0x80, "CP1256"}, {0x8C, "CP1256"},                    // Uyghur, Dari
    {0x25, "CP1257"}, {0x26, "CP1257"}, {0x27, "CP1257"},  // et lv lt
    {0x2A, "CP1258"},                                      // Vietnamese
};
// Whole locale IDs whose code page is not their language's.
constexpr LanguageCodePage LOCALE_CODE_PAGES[] = {
    {0x0404, "CP950"},  {0x0C04, "CP950"},  {0x1404, "CP950"},  // Chinese: Taiwan, Hong Kong, Macao
    {0x0C1A, "CP1251"}, {0x1C1A, "CP1251"}, {0x201A, "CP1251"},  // Serbian and Bosnian Cyrillic
    {0x281A, "CP1251"}, {0x301A, "CP1251"},                      // Serbian Cyrillic: RS, ME
    {0x082C, "CP1251"}, {0x0843, "CP1251"},                      // Azeri and Uzbek Cyrillic
};

// HTML Help Workshop's names for the bytes 0xA0-0xFF: HTML 4's Latin-1 names, but &Dstrok;
// for 0xD0 (its &ETH; is read as well).
constexpr const char* WORKSHOP_NAMES[96] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "Dstrok", "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

// The byte a Workshop name at the start of `s` (just after its '&') stands for, and the length of
// the name with its ';'; 0 when there is none.
std::size_t workshop_name(std::string_view s, unsigned char& byte) {
  const std::size_t semicolon = s.substr(0, 8).find(';');
  if (semicolon == std::string_view::npos || semicolon < 2) return 0;
  const std::string_view name = s.substr(0, semicolon);
  for (std::size_t i = 0; i < 96; ++i) {
    if (name == WORKSHOP_NAMES[i]) {
      byte = static_cast<unsigned char>(0xA0 + i);
      return semicolon + 1;
    }
  }
  if (name == "ETH") {
    byte = 0xD0;
    return semicolon + 1;
  }
  return 0;
}

bool knows_encoding(const std::string& name) {
  const iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == ':';
}

}  // namespace

std::string code_page_of_lcid(std::uint32_t lcid) {
  if (lcid == 0) return {};
  for (const LanguageCodePage& entry : LOCALE_CODE_PAGES) {
    if (entry.language == lcid) return entry.code_page;
  }
  for (const LanguageCodePage& entry : CODE_PAGES) {
    if (entry.language == (lcid & 0x3FF)) return entry.code_page;
  }
  return WESTERN_CODE_PAGE;
}

std::string_view meta_charset(std::string_view bytes) {
  // The head: up to its end, or a generous start of a file without one.
  const std::string lower = ascii_lower(bytes.substr(0, 64 * 1024));
  const std::size_t head_end = lower.find("</head");
  const std::string_view head =
      std::string_view(lower).substr(0, head_end == std::string::npos ? lower.size() : head_end);
  for (std::size_t meta = head.find("<meta"); meta != std::string_view::npos;
       meta = head.find("<meta", meta + 5)) {
    const std::size_t end = head.find('>', meta);
    const std::string_view tag =
        head.substr(meta, end == std::string_view::npos ? end : end - meta);
    for (std::size_t at = tag.find("charset"); at != std::string_view::npos;
         at = tag.find("charset", at + 7)) {
      std::size_t i = at + 7;
      while (i < tag.size() && tag[i] == ' ') ++i;
      if (i >= tag.size() || tag[i] != '=') continue;
      ++i;
      while (i < tag.size() && (tag[i] == ' ' || tag[i] == '"' || tag[i] == '\'')) ++i;
      std::size_t value_end = i;
      while (value_end < tag.size() && is_name_char(tag[value_end])) ++value_end;
      if (value_end > i) return bytes.substr(meta + i, value_end - i);
    }
  }
  return bytes.substr(bytes.size());
}

TextCharset find_charset(std::string_view bytes, const std::string& forced,
                         const std::string& fallback, const std::string& file,
                         std::string& warnings) {
  if (!forced.empty()) return {forced, 0};
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return {"UTF-8", 3};
  if (bytes.substr(0, 2) == "\xFF\xFE") return {"UTF-16LE", 2};
  if (bytes.substr(0, 2) == "\xFE\xFF") return {"UTF-16BE", 2};
  const bool utf8 = is_valid_utf8(bytes);
  const std::string declared(meta_charset(bytes));
  if (!declared.empty()) {
    std::string encoding = encoding_of_label(declared);
    // A <meta> that could be read is not in UTF-16: a browser takes that label for UTF-8.
    if (is_utf16_encoding(encoding)) encoding = "UTF-8";
    if (encoding == "UTF-8") {
      if (utf8) return {"UTF-8", 0};
    } else if (!encoding.empty() && knows_encoding(encoding)) {
      return {encoding, 0};
    } else {
      warnings += "Warning: " + file + " declares the character set " + declared +
                  ", which HTML Help does not read.\n";
    }
  }
  if (utf8 && !is_ascii(bytes)) return {"UTF-8", 0};
  return {fallback.empty() ? WESTERN_CODE_PAGE : fallback, 0};
}

bool is_single_byte(const std::string& encoding) {
  if (is_utf8_encoding_name(encoding)) return false;
  const iconv_t cd = iconv_open("UTF-8", encoding.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  // A byte that starts a character of several bytes leaves iconv asking for more (EINVAL).
  bool single = true;
  for (int b = 0x80; b <= 0xFF && single; ++b) {
    char in[1] = {static_cast<char>(b)};
    char out[16];
    char* in_p = in;
    char* out_p = out;
    std::size_t in_left = 1, out_left = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in_p, &in_left, &out_p, &out_left) == static_cast<std::size_t>(-1) &&
        errno == EINVAL) {
      single = false;
    }
  }
  iconv_close(cd);
  return single;
}

bool decode_text(std::string_view bytes, const TextCharset& charset, bool workshop_names,
                 std::string& out) {
  bytes.remove_prefix(charset.bom_size < bytes.size() ? charset.bom_size : bytes.size());
  const bool utf8 = is_utf8_encoding_name(charset.encoding);
  // The names go in only where one stands: most files hold many '&' and no such name.
  std::size_t first_name = std::string_view::npos;
  if (workshop_names && !utf8 && is_single_byte(charset.encoding)) {
    for (std::size_t amp = bytes.find('&'); amp != std::string_view::npos;
         amp = bytes.find('&', amp + 1)) {
      unsigned char byte;
      if (workshop_name(bytes.substr(amp + 1), byte) != 0) {
        first_name = amp;
        break;
      }
    }
  }
  // Text that reads the same in UTF-8 is used as it stands, unless a byte order mark or a name
  // is to go: a sitemap of 40 MB is not copied for nothing.
  if (charset.bom_size == 0 && first_name == std::string_view::npos &&
      (utf8 ? is_valid_utf8(bytes) : is_ascii(bytes))) {
    return false;
  }
  std::string named;
  if (first_name != std::string_view::npos) {
    named.reserve(bytes.size());
    std::size_t done = 0;
    for (std::size_t amp = first_name; amp != std::string_view::npos;
         amp = bytes.find('&', amp + 1)) {
      unsigned char byte;
      const std::size_t n = workshop_name(bytes.substr(amp + 1), byte);
      if (n == 0) continue;
      named.append(bytes.data() + done, amp - done);
      named += static_cast<char>(byte);
      done = amp + 1 + n;
      amp = done - 1;
    }
    named.append(bytes.data() + done, bytes.size() - done);
    bytes = named;
  }
  XmlText text;
  if (!text.set_encoding(charset.encoding)) text.set_encoding(WESTERN_CODE_PAGE);
  out.assign(text.to_utf8_text(bytes));
  return true;
}

std::string decode_text(std::string_view bytes, const TextCharset& charset, bool workshop_names) {
  std::string out;
  if (!decode_text(bytes, charset, workshop_names, out)) {
    bytes.remove_prefix(charset.bom_size < bytes.size() ? charset.bom_size : bytes.size());
    out.assign(bytes);
  }
  return out;
}

}  // namespace sitemap
