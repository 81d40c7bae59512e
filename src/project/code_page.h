// The character set of a project's texts (its .hhp, its sitemaps, its pages), found the way the
// project declares it, and the texts decoded to UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sitemap {

inline constexpr const char* WESTERN_CODE_PAGE = "WINDOWS-1252";

// The Windows ANSI code page of a locale ID, as iconv names it; empty for 0.
std::string code_page_of_lcid(std::uint32_t lcid);

// How a text is to be read: its character set (a name iconv knows) and the length of the byte
// order mark before it.
struct TextCharset {
  std::string encoding;
  std::size_t bom_size = 0;
};

// The charset of `bytes`, in this order: `forced` (given by the user); a byte order mark (UTF-8,
// UTF-16 LE or BE); a charset its own <meta> declares, its label read as a browser reads it
// (see encoding_of_label; UTF-16 taken for UTF-8), believed for UTF-8 only if the bytes are
// UTF-8; UTF-8 when the bytes hold non-ASCII and are valid UTF-8; `fallback`. A declared label
// outside the browsers' table adds a line to `warnings`, naming `file`, and the next rule applies.
TextCharset find_charset(std::string_view bytes, const std::string& forced,
                         const std::string& fallback, const std::string& file,
                         std::string& warnings);

// Where the head of an HTML text names a charset in a <meta> element (charset=... on its own
// or in a content attribute): the value's place in `bytes`; empty at the end when none.
std::string_view meta_charset(std::string_view bytes);

// Whether iconv reads `encoding` one byte a character.
bool is_single_byte(const std::string& encoding);

// `bytes` as UTF-8: the byte order mark dropped, the charset decoded (a byte that does not decode
// becomes U+FFFD). With `workshop_names`, for a text in a single-byte code page, the named
// references HTML Help Workshop writes for the bytes 0xA0-0xFF are taken as those bytes of the
// code page first (&Acirc; is 0xC2, 'В' in windows-1251), as the viewer of a system in that
// language showed them.
std::string decode_text(std::string_view bytes, const TextCharset& charset, bool workshop_names);
// The same into `out`; false (and `out` untouched) where the bytes are that text as they stand.
bool decode_text(std::string_view bytes, const TextCharset& charset, bool workshop_names,
                 std::string& out);

}  // namespace sitemap
