// Sitemaps read as HTML, in the forms that real generators write (Doxygen, HTML Help Workshop):
// tags and attributes in any letter case, any layout, values quoted or not, entries on one line
// or many. libxml2's HTML parser reads the tag soup; this turns its elements into the events of
// an output format.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "io/sitemap_input.h"
#include "output/output_format.h"

namespace sitemap {

struct HtmlSitemap {
  std::string_view contents;
  std::string_view index;  // ignored without has_index
  bool has_index = true;
  std::string contents_name;
  std::string index_name;
  std::string encoding;  // the character set of both, by a name iconv knows
  // Whether both are known to be valid UTF-8 already (decoded so), and need no look first.
  bool checked_utf8 = false;
  // Where given, told how far the parser has read each file: the bytes before are done with.
  std::function<void(std::size_t)> contents_done_before = nullptr;
  std::function<void(std::size_t)> index_done_before = nullptr;
  // Where given, an index without a single sitemap object is no failure (HTML Help Workshop
  // writes one for a project without keywords): this is set false instead.
  bool* index_has_entries = nullptr;
  // Without contents (a book that has none), only the index is read.
  bool has_contents = true;
  // The page a heading (an entry without a page and without a page below it) leads to: the
  // book's start page; where empty, the first page of the contents.
  std::string start_page;
  // Where given, the books that `Merge` entries of the contents pull in (their file names, each
  // once, in order) are added here; the entries themselves are no sections.
  std::vector<std::string>* merged_books = nullptr;
};

// Writes the contents as the tree of sections, then the index as keywords: every index entry with
// a Local param, one keyword per Local, named after the entry's first Name param behind those of
// the entries it is nested under. A contents entry without a page (a heading, which HTML Help
// only opens) leads to the page of the first entry below it that has one, else to the start
// page. A file without a single sitemap object fails the run, and so does a failed write; the
// parser's own complaints are not reported.
Outcome convert_html_sitemap(const HtmlSitemap& sitemap, OutputFormat& output, Report& report);

}  // namespace sitemap
