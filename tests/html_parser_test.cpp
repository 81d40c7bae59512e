// The HTML parser given a text in pieces, as it is given large sitemaps, must see what it sees
// given the text whole: the same elements, attributes and order, for every sitemap and page of
// the test cases and for tag soup whose tags, comments and characters meet piece ends.
#include "convert/html_parser.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "output/xml_text.h"

namespace sitemap {
namespace {

void on_start(void* context, const xmlChar* name, const xmlChar** attributes) {
  std::string& events = *static_cast<std::string*>(context);
  events += "<" + std::string(reinterpret_cast<const char*>(name));
  for (; attributes != nullptr && attributes[0] != nullptr; attributes += 2) {
    events += " " + std::string(reinterpret_cast<const char*>(attributes[0])) + "=";
    if (attributes[1] != nullptr) events += reinterpret_cast<const char*>(attributes[1]);
  }
  events += ">";
}

void on_end(void* context, const xmlChar* name) {
  *static_cast<std::string*>(context) +=
      "</" + std::string(reinterpret_cast<const char*>(name)) + ">";
}

// The elements the parser reports for `text` given in pieces of at most `piece` bytes, and how
// far it said it had been given the text each time.
std::string events(std::string_view text, std::size_t piece, std::vector<std::size_t>& told) {
  htmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.startElement = on_start;
  sax.endElement = on_end;
  std::string seen;
  EXPECT_TRUE(parse_html(
      text, sax, &seen, [&told](std::size_t end) { told.push_back(end); }, piece));
  return seen;
}

void expect_same_in_pieces(const std::string& name, std::string_view text) {
  std::vector<std::size_t> told;
  const std::string whole = events(text, PIECE, told);
  ASSERT_EQ(told, std::vector<std::size_t>{text.size()}) << name;
  for (const std::size_t piece : {std::size_t{16}, std::size_t{61}, std::size_t{1000}}) {
    told.clear();
    EXPECT_EQ(events(text, piece, told), whole) << name << " in pieces of " << piece;
    // Forward, to the end, and each piece but the last ending before a '<' where it has one.
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back(), text.size());
    for (std::size_t i = 0; i + 1 < told.size(); ++i) {
      const std::size_t begin = i == 0 ? 0 : told[i - 1];
      EXPECT_LT(begin, told[i]);
      EXPECT_LE(told[i] - begin, piece);
      const std::string_view part = text.substr(begin, told[i] - begin);
      if (part.find('<', 1) != std::string_view::npos) {
        EXPECT_EQ(text[told[i]], '<') << name;
      }
    }
  }
}

TEST(HtmlParser, PiecesParseAsTheWhole) {
  const std::string cases = std::string(SITEMAP_SOURCE_DIR) + "/tests/qhp_cases";
  std::size_t files = 0;
  DIR* top = ::opendir(cases.c_str());
  ASSERT_NE(top, nullptr);
  while (const dirent* folder = ::readdir(top)) {
    if (folder->d_name[0] == '.') continue;
    const std::string path = cases + "/" + folder->d_name;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) continue;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string file = entry->d_name;
      const std::size_t dot = file.rfind('.');
      const std::string ending = dot == std::string::npos ? "" : file.substr(dot);
      if (ending != ".hhc" && ending != ".hhk" && ending != ".htm" && ending != ".html") continue;
      std::ifstream in(path + "/" + file, std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      if (!is_valid_utf8(bytes.str())) continue;  // the parser is given UTF-8 only
      expect_same_in_pieces(path + "/" + file, bytes.str());
      ++files;
    }
    ::closedir(dir);
  }
  ::closedir(top);
  EXPECT_GT(files, 50u);
  // Tag soup whose comments, quoted '>', references, scripts and characters of several bytes
  // meet the ends of pieces.
  std::string soup;
  for (int i = 0; i < 40; ++i) {
    soup += "<LI><OBJECT type=\"text/sitemap\"><param name=Name value=\"a > b &amp; \xC3\xA9" +
            std::to_string(i) + "\"><!-- a < b --><param name=\"Local\" value='x" +
            std::to_string(i) + ".htm'></OBJECT><script>if (a < b) {}</script>\xE2\x82\xAC";
  }
  expect_same_in_pieces("tag soup", "<html><body><ul>" + soup + "</ul></body></html>");
}

}  // namespace
}  // namespace sitemap
