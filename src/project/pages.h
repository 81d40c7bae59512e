// The pages of a project as Qt Assistant can show them, and what they link to.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sitemap {

// Whether a file is an HTML page, by its name.
bool is_html_page(std::string_view name);

// A page Assistant can show: Assistant takes every page for UTF-8, whatever its <meta> says.
// A page in another charset (found as for the sitemaps: its byte order mark, its <meta>,
// valid UTF-8, `fallback`) is converted, and its <meta> then names utf-8, or a
// <meta charset="utf-8"> goes in right after <head> (at the very start of a page without one).
// Nothing else of the page changes. False when the page is UTF-8 already: it stays as it is.
bool page_as_utf8(std::string_view bytes, const std::string& fallback, std::string& converted);

// The text of a page's <title>, its references decoded and its blanks made single; `bytes` in
// UTF-8. Empty when it has none.
std::string page_title(std::string_view bytes);

// The local links of an HTML page (UTF-8) or a style sheet: href and src attributes, and url(...)
// and @import in style sheets, <style> elements and style attributes; as they stand, anchors
// and queries cut off. Links with a scheme are left out.
std::vector<std::string> page_links(std::string_view bytes);
std::vector<std::string> style_links(std::string_view css);

}  // namespace sitemap
