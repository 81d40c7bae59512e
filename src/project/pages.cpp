#include "project/pages.h"

#include <libxml/HTMLparser.h>

#include <cstring>

#include "convert/html_parser.h"
#include "io/file_names.h"
#include "output/xml_text.h"
#include "project/code_page.h"

namespace sitemap {

namespace {

// A link as a path: without its anchor and query, blanks around it dropped; empty for a link
// with a scheme, a bare anchor, or nothing.
std::string local_part(std::string_view link) {
  while (!link.empty() && (link.front() == ' ' || link.front() == '\t' || link.front() == '\n' ||
                           link.front() == '\r')) {
    link.remove_prefix(1);
  }
  while (!link.empty() && (link.back() == ' ' || link.back() == '\t' || link.back() == '\n' ||
                           link.back() == '\r')) {
    link.remove_suffix(1);
  }
  link = link.substr(0, link.find_first_of("#?"));
  if (link.empty() || has_scheme(link) || link.substr(0, 2) == "//") return {};
  return std::string(link);
}

struct LinkReader {
  std::vector<std::string> links;
  bool in_style = false;
  std::string style;
};

void add_link(LinkReader& reader, std::string_view link) {
  std::string local = local_part(link);
  if (!local.empty()) reader.links.push_back(std::move(local));
}

void add_style_links(LinkReader& reader, std::string_view css) {
  for (std::string& link : style_links(css)) reader.links.push_back(std::move(link));
}

void start_element(void* context, const xmlChar* tag, const xmlChar** attributes) {
  auto& reader = *static_cast<LinkReader*>(context);
  if (std::strcmp(reinterpret_cast<const char*>(tag), "style") == 0) {
    reader.in_style = true;
    reader.style.clear();
  }
  for (; attributes != nullptr && attributes[0] != nullptr; attributes += 2) {
    if (attributes[1] == nullptr) continue;
    const std::string_view name = reinterpret_cast<const char*>(attributes[0]);
    const std::string_view value = reinterpret_cast<const char*>(attributes[1]);
    if (name == "href" || name == "src") add_link(reader, value);
    if (name == "style") add_style_links(reader, value);
  }
}

void end_element(void* context, const xmlChar* tag) {
  auto& reader = *static_cast<LinkReader*>(context);
  if (reader.in_style && std::strcmp(reinterpret_cast<const char*>(tag), "style") == 0) {
    reader.in_style = false;
    add_style_links(reader, reader.style);
  }
}

void characters(void* context, const xmlChar* text, int size) {
  auto& reader = *static_cast<LinkReader*>(context);
  if (reader.in_style) reader.style.append(reinterpret_cast<const char*>(text), size);
}

}  // namespace

bool is_html_page(std::string_view name) {
  return ends_with_ignoring_case(name, ".htm") || ends_with_ignoring_case(name, ".html") ||
         ends_with_ignoring_case(name, ".xhtml");
}

bool page_as_utf8(std::string_view bytes, const std::string& fallback, std::string& converted) {
  std::string warnings;  // a page's unknown charset falls to the next rule without a word
  const TextCharset charset = find_charset(bytes, "", fallback, "", warnings);
  // An ASCII page reads the same in every charset: it shows right as it is.
  if (charset.bom_size == 0 && (charset.encoding == "UTF-8" || is_ascii(bytes))) return false;
  converted = decode_text(bytes, charset, false);
  const std::string_view declared = meta_charset(converted);
  if (!declared.empty()) {
    const std::size_t at = static_cast<std::size_t>(declared.data() - converted.data());
    converted.replace(at, declared.size(), "utf-8");
    return true;
  }
  const std::string lower = ascii_lower(std::string_view(converted).substr(0, 64 * 1024));
  std::size_t head = lower.find("<head");
  while (head != std::string::npos && head + 5 < lower.size() && lower[head + 5] != '>' &&
         lower[head + 5] != ' ' && lower[head + 5] != '\t' && lower[head + 5] != '\n' &&
         lower[head + 5] != '\r') {
    head = lower.find("<head", head + 5);  // <header> is no head
  }
  std::size_t at = 0;
  if (head != std::string::npos) {
    const std::size_t end = lower.find('>', head);
    if (end != std::string::npos) at = end + 1;
  }
  converted.insert(at, "<meta charset=\"utf-8\">");
  return true;
}

std::string page_title(std::string_view bytes) {
  const std::string lower = ascii_lower(bytes.substr(0, 64 * 1024));
  const std::size_t open = lower.find("<title");
  if (open == std::string::npos) return {};
  const std::size_t start = lower.find('>', open);
  if (start == std::string::npos) return {};
  const std::size_t end = lower.find("</title", start);
  if (end == std::string::npos) return {};
  XmlText text;
  text.set_encoding("UTF-8");
  const std::string_view decoded = text.decode(bytes.substr(start + 1, end - start - 1));
  std::string title;
  for (const char c : decoded) {
    const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    if (blank && (title.empty() || title.back() == ' ')) continue;
    title += blank ? ' ' : c;
  }
  while (!title.empty() && title.back() == ' ') title.pop_back();
  return title;
}

std::vector<std::string> style_links(std::string_view css) {
  std::vector<std::string> links;
  const std::string lower = ascii_lower(css);
  for (std::size_t at = lower.find("url("); at != std::string::npos;
       at = lower.find("url(", at + 4)) {
    std::size_t i = at + 4;
    const std::size_t end = lower.find(')', i);
    if (end == std::string::npos) break;
    std::string_view link = css.substr(i, end - i);
    while (!link.empty() && (link.front() == ' ' || link.front() == '"' || link.front() == '\'')) {
      link.remove_prefix(1);
    }
    while (!link.empty() && (link.back() == ' ' || link.back() == '"' || link.back() == '\'')) {
      link.remove_suffix(1);
    }
    std::string local = local_part(link);
    if (!local.empty()) links.push_back(std::move(local));
  }
  // @import "file.css"; (the form with url() is taken above)
  for (std::size_t at = lower.find("@import"); at != std::string::npos;
       at = lower.find("@import", at + 7)) {
    std::size_t i = at + 7;
    while (i < css.size() && (css[i] == ' ' || css[i] == '\t')) ++i;
    if (i >= css.size() || (css[i] != '"' && css[i] != '\'')) continue;
    const std::size_t end = css.find(css[i], i + 1);
    if (end == std::string_view::npos) break;
    std::string local = local_part(css.substr(i + 1, end - i - 1));
    if (!local.empty()) links.push_back(std::move(local));
  }
  return links;
}

std::vector<std::string> page_links(std::string_view bytes) {
  LinkReader reader;
  htmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.startElement = start_element;
  sax.endElement = end_element;
  sax.characters = characters;
  sax.cdataBlock = characters;
  parse_html(bytes, sax, &reader);
  return std::move(reader.links);
}

}  // namespace sitemap
