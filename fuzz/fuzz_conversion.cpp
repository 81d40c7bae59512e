// Runs the whole conversion on two in-memory inputs: the bytes before the first 0x01 byte are
// the contents file, the rest the index. Checks what every run must keep to: success leaves a
// complete DCF and prints nothing; failure prints exactly one error line, after at most two
// detail lines on standard output. The same inputs into the Qt Help Project must end the same
// way with the same lines, and a success must leave well-formed XML in valid UTF-8; and so must
// the same inputs read as HTML (sitemap-to-qhp --html), whose failures print one error line.
// Read as a project's [MAP] and [ALIAS], they give ids that lead to files of the project only.
#include <libxml/parser.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "convert/html_sitemap.h"
#include "fuzz_input.h"
#include "output/dcf_writer.h"
#include "output/qhp_writer.h"
#include "project/context_ids.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

bool is_one_line(std::string_view text, std::string_view start) {
  return text.size() > start.size() && text.substr(0, start.size()) == start &&
         text.back() == '\n' && text.find('\n') == text.size() - 1;
}

void require_xml(const std::string& bytes) {
  require(sitemap::is_valid_utf8(bytes));
  xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "fuzz.qhp", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  require(doc != nullptr);
  xmlFreeDoc(doc);
}

void check_qhp(std::string_view contents_bytes, std::string_view index_bytes,
               sitemap::Outcome dcf_outcome, const sitemap::Report& dcf_report) {
  sitemap::MemoryInput contents(contents_bytes);
  sitemap::MemoryInput index(index_bytes);
  sitemap::MemoryOutput qhp;
  sitemap::ConversionFiles files{&contents, &index, &qhp};
  sitemap::Report report;
  sitemap::XmlText text;
  const bool utf8 = sitemap::is_valid_utf8(contents_bytes) && sitemap::is_valid_utf8(index_bytes);
  require(text.set_encoding(utf8 ? "UTF-8" : "WINDOWS-1252"));
  static const sitemap::QhpSettings settings{"fuzz", "Fuzz & <Title>", "doc", "fuzz.qhp",
                                             sitemap::FileNames({"a.html", "b c.html"})};
  sitemap::QhpOutput output(qhp, settings, text);
  const sitemap::Outcome outcome = sitemap::convert_sitemap(files, output, report);
  require(outcome == dcf_outcome && report.out == dcf_report.out && report.err == dcf_report.err);
  if (outcome == sitemap::Outcome::success) require_xml(qhp.bytes);
}

void check_html(std::string_view contents_bytes, std::string_view index_bytes) {
  sitemap::MemoryOutput qhp;
  sitemap::XmlText text;
  require(text.set_encoding("UTF-8"));
  text.set_references(false);
  const bool utf8 = sitemap::is_valid_utf8(contents_bytes) && sitemap::is_valid_utf8(index_bytes);
  sitemap::HtmlSitemap sitemap;
  sitemap.contents = contents_bytes;
  sitemap.index = index_bytes;
  sitemap.has_index = !index_bytes.empty();
  sitemap.contents_name = "Contents.hhc";
  sitemap.index_name = "Index.hhk";
  sitemap.encoding = utf8 ? "UTF-8" : "WINDOWS-1252";
  // Headings lead below them or to the start page; Merge entries are noted.
  sitemap.start_page = "a.html";
  std::vector<std::string> merged;
  sitemap.merged_books = &merged;
  // With context ids, which go on keywords of their pages or on keywords of their own.
  static const sitemap::QhpSettings settings = [] {
    sitemap::QhpSettings with_ids{"fuzz", "Fuzz", "doc", "fuzz.qhp",
                                  sitemap::FileNames({"a.html"})};
    with_ids.keyword_ids = {{"1", "a.html"}, {"IDH_A", "a.html"}, {"2", "a.html#x"}};
    with_ids.page_title = [](std::string_view) { return std::string("A & <a>"); };
    return with_ids;
  }();
  sitemap::QhpOutput output(qhp, settings, text);
  sitemap::Report report;
  if (sitemap::convert_html_sitemap(sitemap, output, report) == sitemap::Outcome::success) {
    require(report.out.empty() && report.err.empty());
    require_xml(qhp.bytes);
  } else {
    require(report.out.empty() && is_one_line(report.err, "Error: "));
  }
}

// The two inputs as the [MAP] and [ALIAS] lines of a project whose every include is [MAP]'s
// text again: every id found leads to a file of the project.
void check_context_ids(std::string_view map, std::string_view alias) {
  const sitemap::FileNames files({"a.html", "b c.html"});
  const sitemap::IncludeReader read = [&](const std::string&, std::string& text) {
    text.assign(map);
    return true;
  };
  std::string warnings;
  for (const sitemap::KeywordId& id :
       sitemap::project_context_ids(map, alias, files, read, "fuzz.hhp", warnings)) {
    require(!id.id.empty() && files.contains(id.ref.substr(0, id.ref.find('#'))));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FuzzRun run(data, size);
  const sitemap::Outcome outcome = run.outcome;
  const sitemap::Report& report = run.report;
  const std::string_view written(run.dcf.bytes);
  require(written.substr(0, sitemap::DCF_HEADER.size()) == sitemap::DCF_HEADER);
  if (outcome == sitemap::Outcome::success) {
    require(report.out.empty() && report.err.empty());
    require(written.size() >= sitemap::DCF_FOOTER.size() &&
            written.substr(written.size() - sitemap::DCF_FOOTER.size()) == sitemap::DCF_FOOTER);
  } else {
    require(outcome == sitemap::Outcome::failure);
    require(is_one_line(report.err, "Error: "));
    std::string_view out(report.out);
    int details = 0;
    while (!out.empty()) {
      const std::size_t end = out.find('\n');
      require(end != std::string_view::npos && out.substr(0, 8) == "Invalid ");
      out.remove_prefix(end + 1);
      ++details;
    }
    require(details <= 2);
  }
  check_qhp(run.contents, run.index, outcome, report);
  check_html(run.contents, run.index);
  check_context_ids(run.contents, run.index);
  return 0;
}
