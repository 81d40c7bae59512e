// Charset labels read as HTML Help's viewer reads them. The viewer is a web browser engine, and a
// browser does not take a label by its registry meaning but as the WHATWG Encoding Standard's
// label table says, which writes down what Windows always did: "shift_jis" is code page 932,
// "gb2312" is 936, "iso-8859-1" and "us-ascii" are windows-1252. iconv's own meaning of the same
// names is narrower (its SHIFT_JIS turns '\' into a yen sign), so a label is never handed to
// iconv as written.
#pragma once

#include <string>
#include <string_view>

namespace sitemap {

// The iconv name that decodes what `label` stands for (the Windows code page's table where the
// encoding is one of those), looked up with ASCII blanks trimmed and letters in any case; empty
// for a label outside the table, and for one whose text must not be decoded at all.
std::string encoding_of_label(std::string_view label);

// Whether an iconv name from the table above reads as UTF-16 (either byte order).
bool is_utf16_encoding(std::string_view encoding);

}  // namespace sitemap
