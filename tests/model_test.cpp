// Differential test: the program's core and the reference model convert the same generated
// projects, and every DCF byte, detail line, error line and status must agree.
//
// The projects are shaped to cross every size at which the core switches to another path: more
// than 65,536 Local lines (the radix pass of the sort) and index lines (the line-offset blocks),
// keywords at depth 2 and 3 past that line, thousands of distinct pages listed twice (the growth
// of the set of pages looked up; lookups with few matches each, whose texts are gathered into
// the order of the records, and with many), a DCF of several MB and a keyword path over 64 KiB (the
// file output's buffer), values sharing their first 16 bytes and more, many anchors of one page,
// many equal values, over a thousand refs looked up again at another length; and hundreds of small
// projects damaged at random for the failure paths.
//
// usage: model_test [SMALL_PROJECTS]   On a difference, the inputs are left in model_failure/.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "convert/converter.h"
#include "io/file_streams.h"
#include "reference_model.h"

namespace {

// splitmix64: the same numbers on every platform, unlike the standard distributions.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
  bool percent(unsigned p) { return below(100) < p; }

 private:
  std::uint64_t state_;
};

const char* const CONTENTS_HEAD =
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n<HTML>\n<HEAD>\n<!-- Sitemap 1.0 -->\n"
    "</HEAD>\n<BODY>\n<OBJECT type=\"text/site properties\">\n"
    "<param name=\"ImageType\" value=\"Folder\">\n</OBJECT>\n<!-- generated -->\n<UL>\n";
const char* const INDEX_HEAD = "<HTML>\n<HEAD>\n</HEAD>\n<BODY>\n<UL>\n";
const char* const TAIL = "</UL>\n</BODY>\n</HTML>\n";

std::string object() { return "<LI> <OBJECT TYPE=\"TEXT/SITEMAP\">\n"; }
std::string name(const std::string& v) { return "<PARAM NAME=\"Name\" VALUE=\"" + v + "\">\n"; }
std::string local(const std::string& v) { return "<PARAM NAME=\"Local\" VALUE=\"" + v + "\">\n"; }

struct Project {
  std::string label;
  std::string contents;
  std::string index;
};

// A contents tree over `pages`, in order, nested at random; pages may be listed again. Some
// entries have no page.
std::string make_contents(Rng& rng, const std::vector<std::string>& pages,
                          unsigned no_page_percent = 4) {
  std::string out = CONTENTS_HEAD;
  int depth = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    out += object() + name("Topic " + std::to_string(i));
    if (rng.percent(no_page_percent)) {
      out += "</OBJECT>\n";  // an entry without a page
    } else {
      out += local(pages[i]) + "</OBJECT>\n";
    }
    if (depth < 4 && rng.percent(25)) {
      out += "<UL>\n";
      ++depth;
    } else {
      for (; depth > 0 && rng.percent(30); --depth) out += "</UL>\n";
    }
  }
  for (; depth > 0; --depth) out += "</UL>\n";
  return out + TAIL;
}

// Index entries in the layout the walk counts lines by: every entry of a sub-list but the last
// takes 5 lines; the last may have more pairs and a sub-list of its own.
class IndexWriter {
 public:
  IndexWriter(Rng& rng, std::vector<std::string> refs) : rng_(rng), refs_(std::move(refs)) {}

  std::string ref() { return refs_[rng_.below(refs_.size())]; }

  void entry(const std::string& keyword, int depth, bool last) {
    text += object() + name(rng_.percent(empty_names_percent) ? "" : keyword);
    const int pairs = last && rng_.percent(30) ? 2 + static_cast<int>(rng_.below(3)) : 1;
    for (int p = 0; p < pairs; ++p) {
      text += name("T") + local(ref());
      ++locals;
    }
    text += "</OBJECT>\n";
    if (last && depth < 4 && rng_.percent(depth == 1 ? 40 : 50)) {
      text += "<UL>\n";
      const std::size_t children = 1 + rng_.below(4);
      for (std::size_t c = 0; c < children; ++c) {
        entry(keyword.substr(0, 12) + " " + std::to_string(c), depth + 1, c + 1 == children);
      }
      text += "</UL>\n";
    }
  }

  std::string text = INDEX_HEAD;
  std::size_t locals = 0;
  unsigned empty_names_percent = 0;

 private:
  Rng& rng_;
  std::vector<std::string> refs_;
};

// Pages whose first 8 bytes mostly differ or differ only in their last two (the sort's first
// radix digit), pages sharing their first 30 bytes, 17-byte pages that differ from others only in
// the 17th, a page that is a prefix of others, and with anchors (many per page for a few).
std::vector<std::string> mixed_pages(std::size_t count) {
  std::vector<std::string> pages;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    switch (i % 6) {
      case 0:
        pages.push_back("p" + n + ".html");
        break;
      case 1:
        pages.push_back("reference/api/classes/chapter-one/page" + n + ".html");
        break;
      case 2:
        pages.push_back("reference/api/classes/chapter-one/page" + std::to_string(i - 1) + ".htmx");
        break;
      case 3:
        pages.push_back("index-" + std::to_string(10 + i % 90) + ".html");
        break;
      case 4:
        pages.push_back("chapter-" + std::string(4 - n.size(), '0') + n + ".html");
        pages.push_back("chapter-" + std::string(4 - n.size(), '0') + n + ".htmx");
        break;
      default:
        pages.push_back("same.html");
        break;
    }
  }
  // As long as a key, a byte shorter and a byte longer: the key's last byte decides, or the text.
  for (const char* page : {"0123456789abcdefghijklmn", "0123456789abcdefghijklm",
                           "0123456789abcdefghijklmno", "0123456789abcdefghijklmnp"}) {
    pages.push_back(page);
  }
  return pages;
}

std::vector<std::string> refs_with_anchors(const std::vector<std::string>& pages, Rng& rng) {
  std::vector<std::string> refs;
  for (const std::string& page : pages) {
    refs.push_back(page);
    refs.push_back(page);  // equal values
    const std::size_t anchors = rng.percent(20) ? 300 : 3;
    for (std::size_t a = 0; a < anchors; ++a) refs.push_back(page + "#a" + std::to_string(a));
  }
  return refs;
}

// Over 65,536 Local lines and index lines, a DCF of several MB, a keyword path over 64 KiB.
Project large_project() {
  Rng rng(1);
  const std::vector<std::string> pages = mixed_pages(60);
  IndexWriter index(rng, refs_with_anchors(pages, rng));
  // Three names near a line's capacity: one keyword path longer than the output buffer.
  index.text += object() + name(std::string(30000, 'A')) + name("T") + local(pages[0]) +
                "</OBJECT>\n<UL>\n" + object() + name(std::string(30000, 'B')) + name("T") +
                local(pages[1]) + "</OBJECT>\n<UL>\n" + object() + name(std::string(30000, 'C')) +
                name("T") + local(pages[0] + "#deep") + "</OBJECT>\n</UL>\n</UL>\n";
  // Two values alone in sharing their first 8 bytes, the greater one first.
  std::vector<std::string> pairs;
  for (int i = 100; i < 150; ++i) {
    for (const char* end : {"z-b.html", "z-a.html"}) {
      pairs.push_back("pair" + std::to_string(i) + end);
      index.text += object() + name("pair") + name("T") + local(pairs.back()) + "</OBJECT>\n";
    }
  }
  for (std::size_t n = 0; index.locals < 70000; ++n) {
    index.entry("keyword " + std::to_string(n), 1, true);
  }
  std::vector<std::string> listed = pages;
  listed.insert(listed.end(), pairs.begin(), pairs.end());
  return {"large", make_contents(rng, listed), index.text + TAIL};
}

// Thousands of distinct pages, each listed twice in the contents.
Project many_pages_project() {
  Rng rng(2);
  std::vector<std::string> pages;
  for (int i = 0; i < 2500; ++i) {
    pages.push_back("part" + std::to_string(i % 7) + "/topic" + std::to_string(i) + ".html");
  }
  std::vector<std::string> twice = pages;
  twice.insert(twice.end(), pages.rbegin(), pages.rend());
  IndexWriter index(rng, pages);
  for (std::size_t n = 0; n < 800; ++n) index.entry("term " + std::to_string(n), 1, true);
  return {"many pages", make_contents(rng, twice), index.text + TAIL};
}

// Over a thousand pages with a dozen anchors each, each page looked up once: with that many
// matches a lookup, the texts stay where the index put them.
Project many_anchors_project() {
  Rng rng(4);
  std::vector<std::string> pages, refs;
  for (int i = 0; i < 1100; ++i) {
    pages.push_back("a" + std::to_string(i) + ".html");
    for (int a = 0; a < 12; ++a) refs.push_back(pages.back() + "#s" + std::to_string(a));
  }
  IndexWriter index(rng, refs);
  for (std::size_t n = 0; n < 16000; ++n) index.entry("anchor " + std::to_string(n), 1, false);
  return {"many anchors", make_contents(rng, pages), index.text + TAIL};
}

// Refs that are prefixes of a page looked up before ("p.htm" after "p.html"): the same first
// match at another length, for more than a thousand pages, each ref listed again later.
Project second_lengths_project() {
  Rng rng(3);
  std::vector<std::string> pages, listed;
  for (int i = 0; i < 1500; ++i) pages.push_back("q" + std::to_string(i) + ".html");
  for (const std::string& page : pages) listed.push_back(page);
  for (const std::string& page : pages) listed.push_back(page.substr(0, page.size() - 1));
  for (const std::string& page : pages) listed.push_back(page.substr(0, page.size() - 1));
  IndexWriter index(rng, pages);
  for (std::size_t n = 0; n < 1600; ++n) index.entry("word " + std::to_string(n), 1, false);
  return {"second lengths", make_contents(rng, listed, 0), index.text + TAIL};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Breaks a line in one of the ways real and damaged files do.
std::string damaged(Rng& rng, const std::string& line) {
  switch (rng.below(8)) {
    case 0:
      return line.substr(0, rng.below(line.size() + 1));  // cut short
    case 1:
      return line + "\r";
    case 2:
      return " " + line;
    case 3:
      return line + " x";
    case 4: {
      std::string lower = line;
      for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      return lower;
    }
    case 5:
      return std::string(32767 + rng.below(3) - 1, 'L');  // a line read in pieces, or not
    case 6:
      return "<UL>";
    default:
      return "</UL>";
  }
}

// Drops, doubles, swaps or damages lines of one of the two files, or cuts its end.
std::string mutate(Rng& rng, const std::string& text) {
  std::vector<std::string> lines = lines_of(text);
  const std::size_t changes = rng.below(4);
  for (std::size_t c = 0; c < changes && !lines.empty(); ++c) {
    const std::size_t at = rng.below(lines.size());
    switch (rng.below(4)) {
      case 0:
        lines.erase(lines.begin() + static_cast<long>(at));
        break;
      case 1:
        lines.insert(lines.begin() + static_cast<long>(at), lines[at]);
        break;
      case 2:
        std::swap(lines[at], lines[rng.below(lines.size())]);
        break;
      default:
        lines[at] = damaged(rng, lines[at]);
        break;
    }
  }
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  if (rng.percent(10)) out.resize(rng.below(out.size() + 1));  // an early end, mid-line or not
  return out;
}

Project small_project(std::uint64_t seed) {
  Rng rng(seed);
  // Often every value lies under one folder: the lookups then skip the bytes all values share,
  // and the contents gets refs within that folder path and refs that leave it early.
  const std::string folder = rng.percent(30) ? "reference/api/classes/" : "";
  std::vector<std::string> pages;
  const std::size_t count = 1 + rng.below(12);
  for (std::size_t i = 0; i < count; ++i) {
    pages.push_back(rng.percent(10) ? "" : folder + "p" + std::to_string(rng.below(6)) + ".html");
  }
  // A value shorter than the bytes the others share, with a CR inside it; a value that ends in
  // the very literal that ends its line.
  if (rng.percent(15)) pages.push_back(folder.substr(0, rng.below(folder.size() + 1)) + "\rx");
  if (rng.percent(15)) pages.push_back(folder + "p2.html\">");
  std::vector<std::string> refs = pages;
  refs.push_back(folder + "p1.html#x");
  refs.push_back(folder + "p1.htmlx");
  if (!folder.empty()) {
    pages.push_back(folder.substr(0, rng.below(folder.size() + 1)));
    pages.push_back("reference/apx/p1.html");
  }
  IndexWriter index(rng, refs);
  index.empty_names_percent = 10;
  // A sub-list at once, its list start on one of the first lines of the index, where a walk
  // back steps to line 0 or above line 1.
  if (rng.percent(20)) {
    index.text.clear();
    const char* const heads[] = {"<!-- head -->\n", "<UL>\n",
                                 "<PARAM NAME=\"Name\" VALUE=\"h\">\n"};
    for (std::size_t n = rng.below(5); n > 0; --n) index.text += heads[rng.below(3)];
    index.text += "<UL>\n<UL>\n";
  }
  const std::size_t entries = rng.below(8);
  for (std::size_t n = 0; n < entries; ++n) index.entry("k" + std::to_string(n), 1, true);
  // A Local line read in pieces whose second piece starts as a list start or end line does.
  if (rng.percent(8)) {
    const std::size_t first_piece = 32767 - std::string("<PARAM NAME=\"Local\" VALUE=\"").size();
    index.text += object() + name("straddle") +
                  local(std::string(first_piece, 'x') + (rng.percent(50) ? "<UL>" : "</UL>") +
                        (rng.percent(50) ? "" : "p1.html")) +
                  "</OBJECT>\n";
  }
  Project p{"small " + std::to_string(seed), make_contents(rng, pages, 20), index.text + TAIL};
  if (rng.percent(50)) p.contents = mutate(rng, p.contents);
  if (rng.percent(70)) p.index = mutate(rng, p.index);
  return p;
}

sitemap_model::Result run_core(const Project& p, bool through_file) {
  sitemap::MemoryInput contents(p.contents), index(p.index);
  sitemap::MemoryOutput memory;
  std::string path;
  std::unique_ptr<sitemap::FileOutput> file;
  sitemap::OutputStream* dcf = &memory;
  if (through_file) {
    char name[] = "/tmp/model_test_XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) std::abort();
    path = name;
    file = std::make_unique<sitemap::FileOutput>(fd);
    dcf = file.get();
  }
  sitemap::ConversionFiles files{&contents, &index, dcf};
  sitemap::Report report;
  const sitemap::Outcome outcome = sitemap::convert_sitemap(files, report);
  sitemap_model::Result r{memory.bytes, report.out, report.err,
                          outcome == sitemap::Outcome::success ? 0 : 1};
  if (through_file) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    r.dcf = bytes.str();
    ::unlink(path.c_str());
  }
  return r;
}

std::size_t first_difference(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return i;
}

bool same(const Project& p, bool through_file, std::size_t* dcf_size = nullptr) {
  const sitemap_model::Result model = sitemap_model::convert(p.contents, p.index);
  const sitemap_model::Result core = run_core(p, through_file);
  if (dcf_size != nullptr) *dcf_size = core.dcf.size();
  const struct {
    const char* what;
    const std::string& model;
    const std::string& core;
  } parts[] = {{"DCF", model.dcf, core.dcf},
               {"stdout", model.out, core.out},
               {"stderr", model.err, core.err}};
  bool ok = model.status == core.status;
  if (!ok) std::printf("%s: status %d, model %d\n", p.label.c_str(), core.status, model.status);
  for (const auto& part : parts) {
    if (part.model == part.core) continue;
    const std::size_t at = first_difference(part.model, part.core);
    std::printf("%s: %s differs at byte %zu (model %zu bytes, core %zu)\n", p.label.c_str(),
                part.what, at, part.model.size(), part.core.size());
    ok = false;
  }
  if (!ok) {
    ::mkdir("model_failure", 0777);
    std::ofstream("model_failure/Contents.hhc", std::ios::binary) << p.contents;
    std::ofstream("model_failure/Index.hhk", std::ios::binary) << p.index;
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const long small = argc > 1 ? std::atol(argv[1]) : 1500;
  int failed = 0;
  for (const Project& p :
       {large_project(), many_pages_project(), many_anchors_project(), second_lengths_project()}) {
    std::size_t dcf_size = 0;
    if (!same(p, true, &dcf_size)) ++failed;
    std::printf("%s: %zu index lines, %zu contents lines, DCF of %zu bytes\n", p.label.c_str(),
                lines_of(p.index).size(), lines_of(p.contents).size(), dcf_size);
  }
  int small_failed = 0;
  for (long seed = 0; seed < small; ++seed) {
    if (!same(small_project(static_cast<std::uint64_t>(seed)), false)) ++small_failed;
  }
  std::printf("%ld small projects: %ld identical, %d different\n", small, small - small_failed,
              small_failed);
  failed += small_failed;
  return failed == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
