#include "convert/html_sitemap.h"

#include <libxml/HTMLparser.h>

#include <cstring>
#include <vector>

#include "convert/html_parser.h"
#include "io/file_names.h"
#include "output/xml_text.h"

namespace sitemap {

namespace {

constexpr std::string_view DEFAULT_PAGE = "index.html";

bool equal_ignoring_case(const xmlChar* text, std::string_view expected) {
  if (text == nullptr) return false;
  const char* s = reinterpret_cast<const char*>(text);
  if (std::strlen(s) != expected.size()) return false;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const char c = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char>(s[i] + 32) : s[i];
    if (c != expected[i]) return false;
  }
  return true;
}

// The HTML parser hands out tag and attribute names in lower case. Compared here, not by
// strcmp: most names differ in their first byte, and a call for each cost 3% of a run.
bool is_name(const xmlChar* text, std::string_view lower) {
  const char* s = reinterpret_cast<const char*>(text);
  for (const char c : lower) {
    if (*s++ != c) return false;
  }
  return *s == '\0';
}

// The value of attribute `name`, or null; a bare attribute has "".
const xmlChar* attribute(const xmlChar** attributes, std::string_view name, bool& present) {
  present = false;
  for (; attributes != nullptr && attributes[0] != nullptr; attributes += 2) {
    if (is_name(attributes[0], name)) {
      present = true;
      return attributes[1] != nullptr ? attributes[1] : reinterpret_cast<const xmlChar*>("");
    }
  }
  return nullptr;
}

// A contents event held back while a heading waits for the page it will lead to.
struct HeldEvent {
  enum Kind { SECTION, LIST_START, LIST_END } kind;
  std::string ref;
  std::string title;
  bool to_start = false;  // a heading with no page below it: the start page
};

// A heading whose page is not known yet: where it is held, and its list depth.
struct OpenHeading {
  std::size_t event;
  int depth;
};

// What the parser's callbacks see of one file.
struct SitemapReader {
  SitemapReader(bool is_contents, OutputFormat& out) : contents(is_contents), output(out) {}

  bool contents;  // the table of contents, else the index
  OutputFormat& output;
  // The contents: the start page for headings, the first page named, the books merged.
  std::string start_page;
  std::string first_page;
  std::vector<std::string>* merged_books = nullptr;
  std::string merge;
  // Events after the first heading whose page is not known yet, and those headings, outermost
  // first (each deeper than the one before).
  std::vector<HeldEvent> held;
  std::vector<OpenHeading> open_headings;
  bool written = true;
  bool found_object = false;
  int list_depth = 0;
  bool in_object = false;
  // The entry being read: its first Name param, its Local params (only the first one counts in
  // the contents).
  bool has_name = false;
  std::string name;
  std::vector<std::string> locals;
  // The names of the index entries above, by list depth; the one at depth d at d - 1.
  std::vector<std::string> names;
  std::string path;

  void start(const xmlChar* tag, const xmlChar** attributes) {
    bool present;
    if (is_name(tag, "ul") && !in_object) {
      ++list_depth;
      if (contents) list_event(HeldEvent::LIST_START);
    } else if (is_name(tag, "object") && !in_object) {
      const xmlChar* type = attribute(attributes, "type", present);
      if (!equal_ignoring_case(type, "text/sitemap")) return;
      in_object = found_object = true;
      has_name = false;
      name.clear();
      locals.clear();
      merge.clear();
    } else if (is_name(tag, "param") && in_object) {
      const xmlChar* param = attribute(attributes, "name", present);
      const xmlChar* value = attribute(attributes, "value", present);
      const std::string_view text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
      if (equal_ignoring_case(param, "name") && !has_name) {
        has_name = true;
        name.assign(text);
        // The parser leaves &#146; a control; HTML Help shows a quote.
        map_c1_controls(name);
      } else if (equal_ignoring_case(param, "local")) {
        locals.emplace_back(text);
      } else if (equal_ignoring_case(param, "merge")) {
        merge.assign(text);
      }
    }
  }

  void end(const xmlChar* tag) {
    if (is_name(tag, "ul") && !in_object && list_depth > 0) {
      --list_depth;
      if (contents) list_event(HeldEvent::LIST_END);
    } else if (is_name(tag, "object") && in_object) {
      in_object = false;
      if (contents) {
        contents_entry();
      } else {
        keywords();
      }
    }
  }

  void list_event(HeldEvent::Kind kind) {
    if (!held.empty()) {
      held.push_back({kind, {}, {}});
    } else {
      written =
          (kind == HeldEvent::LIST_START ? output.list_start() : output.list_end()) && written;
    }
  }

  void contents_entry() {
    if (locals.empty() && !merge.empty()) {
      // Another book's contents, pulled in where HTML Help finds that book ("other.chm::/x.hhc",
      // "C:\\help\\other.chm"): no entry of ours.
      if (merged_books != nullptr) {
        add_name_once(*merged_books,
                      file_name_of(std::string_view(merge).substr(0, merge.find("::"))));
      }
      return;
    }
    // The headings that the list of this entry is not under got no page below them.
    while (!open_headings.empty() && open_headings.back().depth >= list_depth) {
      held[open_headings.back().event].to_start = true;
      open_headings.pop_back();
    }
    if (locals.empty()) {
      open_headings.push_back({held.size(), list_depth});
      held.push_back({HeldEvent::SECTION, {}, name});
      return;
    }
    const std::string& page = locals.front();
    if (first_page.empty()) first_page = page;
    for (const OpenHeading& heading : open_headings) held[heading.event].ref = page;
    open_headings.clear();
    if (held.empty()) {
      written = output.section(page, name) && written;
      return;
    }
    held.push_back({HeldEvent::SECTION, page, name});
    release_held();
  }

  // Writes the events held back, once no heading waits any more.
  void release_held() {
    const std::string& start = !start_page.empty() ? start_page : first_page;
    for (const HeldEvent& event : held) {
      if (event.kind == HeldEvent::SECTION) {
        const std::string& page = event.to_start ? start : event.ref;
        written = output.section(page.empty() ? DEFAULT_PAGE : page, event.title) && written;
      } else {
        written = (event.kind == HeldEvent::LIST_START ? output.list_start() : output.list_end()) &&
                  written;
      }
    }
    held.clear();
  }

  // At the end of the contents: the headings still waiting have no page below them.
  void finish() {
    for (const OpenHeading& heading : open_headings) held[heading.event].to_start = true;
    open_headings.clear();
    release_held();
  }

  void keywords() {
    const std::size_t depth = list_depth < 1 ? 1 : static_cast<std::size_t>(list_depth);
    names.resize(depth);
    names[depth - 1] = name;
    if (locals.empty()) return;  // a "See Also" entry, or one without a page
    path.clear();
    for (const std::string& n : names) {
      if (n.empty()) continue;
      if (!path.empty()) path += ", ";
      path += n;
    }
    for (const std::string& local : locals) written = output.keyword(local, path) && written;
  }
};

void start_element(void* context, const xmlChar* tag, const xmlChar** attributes) {
  static_cast<SitemapReader*>(context)->start(tag, attributes);
}

void end_element(void* context, const xmlChar* tag) {
  static_cast<SitemapReader*>(context)->end(tag);
}

// Parses one file, UTF-8 throughout; false when the parser could not be set up (out of memory).
bool parse(std::string_view bytes, SitemapReader& reader,
           const std::function<void(std::size_t)>& done_before) {
  htmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.startElement = start_element;
  sax.endElement = end_element;
  return parse_html(bytes, sax, &reader, done_before);
}

// Parses one file in the sitemap's encoding. The parser gets valid UTF-8 only: it stops at the
// first byte its own converter cannot take (0x81 in windows-1252, say) and the rest of the file
// would be lost, so the text is converted first, and a byte that does not decode becomes U+FFFD.
bool parse(std::string_view bytes, const HtmlSitemap& sitemap, SitemapReader& reader,
           const std::function<void(std::size_t)>& done_before) {
  const bool utf8 = sitemap.encoding == "UTF-8";
  if (utf8 && (sitemap.checked_utf8 || is_valid_utf8(bytes))) {
    return parse(bytes, reader, done_before);
  }
  XmlText text;
  if (!utf8) text.set_encoding(sitemap.encoding);
  return parse(text.to_utf8_text(bytes), reader, nullptr);
}

Outcome failed(Report& report, std::string_view message) {
  fail(report, message);
  return Outcome::failure;
}

}  // namespace

Outcome convert_html_sitemap(const HtmlSitemap& sitemap, OutputFormat& output, Report& report) {
  if (!output.begin()) return failed(report, output.write_failure());
  SitemapReader contents{true, output};
  contents.start_page = sitemap.start_page;
  contents.merged_books = sitemap.merged_books;
  if (sitemap.has_contents) {
    if (!parse(sitemap.contents, sitemap, contents, sitemap.contents_done_before)) {
      return failed(report, OUT_OF_MEMORY);
    }
    if (!contents.found_object) {
      return failed(report, "No sitemap object (<OBJECT type=\"text/sitemap\">) in " +
                                sitemap.contents_name + ".");
    }
    contents.finish();
  }
  if (sitemap.has_index) {
    SitemapReader index{false, output};
    if (!parse(sitemap.index, sitemap, index, sitemap.index_done_before)) {
      return failed(report, OUT_OF_MEMORY);
    }
    if (sitemap.index_has_entries != nullptr) *sitemap.index_has_entries = index.found_object;
    if (!index.found_object && sitemap.index_has_entries == nullptr) {
      return failed(report, "No sitemap object (<OBJECT type=\"text/sitemap\">) in " +
                                sitemap.index_name + ".");
    }
    if (!index.written) return failed(report, output.write_failure());
  }
  if (!contents.written || !output.end()) return failed(report, output.write_failure());
  return Outcome::success;
}

}  // namespace sitemap
