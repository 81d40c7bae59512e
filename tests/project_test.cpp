// How a project is read: the code page of a locale, the charset of a text, the settings of a
// project file, and the namespace of a book.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "project/charset_labels.h"
#include "project/code_page.h"
#include "project/help_project.h"
#include "project/hhp.h"
#include "project/pages.h"
#ifdef SITEMAP_HAVE_MSPACK
#include "project/chm_book.h"
#endif

namespace sitemap {
namespace {

// Every locale the table names, and others of each language, against the ANSI code page
// Windows gives that locale (its LOCALE_IDEFAULTANSICODEPAGE).
TEST(CodePage, AsWindowsGivesIt) {
  const std::pair<std::uint32_t, int> windows[] = {
      {0x0401, 1256}, {0x0402, 1251}, {0x0403, 1252}, {0x0404, 950},  {0x0405, 1250},
      {0x0406, 1252}, {0x0407, 1252}, {0x0408, 1253}, {0x0409, 1252}, {0x040A, 1252},
      {0x040B, 1252}, {0x040C, 1252}, {0x040D, 1255}, {0x040E, 1250}, {0x040F, 1252},
      {0x0410, 1252}, {0x0411, 932},  {0x0412, 949},  {0x0413, 1252}, {0x0414, 1252},
      {0x0415, 1250}, {0x0416, 1252}, {0x0418, 1250}, {0x0419, 1251}, {0x041A, 1250},
      {0x041B, 1250}, {0x041C, 1250}, {0x041D, 1252}, {0x041E, 874},  {0x041F, 1254},
      {0x0420, 1256}, {0x0421, 1252}, {0x0422, 1251}, {0x0423, 1251}, {0x0424, 1250},
      {0x0425, 1257}, {0x0426, 1257}, {0x0427, 1257}, {0x0428, 1251}, {0x0429, 1256},
      {0x042A, 1258}, {0x042C, 1254}, {0x042F, 1251}, {0x0436, 1252}, {0x0438, 1252},
      {0x043F, 1251}, {0x0440, 1251}, {0x0442, 1250}, {0x0443, 1254}, {0x0444, 1251},
      {0x0450, 1251}, {0x046D, 1251}, {0x0480, 1256}, {0x0485, 1251}, {0x048C, 1256},
      {0x0801, 1256}, {0x0804, 936},  {0x0807, 1252}, {0x0809, 1252}, {0x080A, 1252},
      {0x0816, 1252}, {0x081A, 1250}, {0x082C, 1251}, {0x0843, 1251}, {0x0C04, 950},
      {0x0C0A, 1252}, {0x0C1A, 1251}, {0x1004, 936},  {0x101A, 1250}, {0x1404, 950},
      {0x141A, 1250}, {0x181A, 1250}, {0x1C1A, 1251}, {0x201A, 1251}, {0x241A, 1250},
      {0x281A, 1251}, {0x2C1A, 1250}, {0x301A, 1251}};
  for (const auto& [lcid, code_page] : windows) {
    EXPECT_EQ(code_page_of_lcid(lcid),
              code_page == 1252 ? "WINDOWS-1252" : "CP" + std::to_string(code_page))
        << std::hex << lcid;
  }
  EXPECT_EQ(code_page_of_lcid(0), "");
}

TEST(FindCharset, InTheOrderAProjectDeclaresIt) {
  struct Row {
    std::string bytes;
    const char* forced;
    const char* encoding;
    std::size_t bom;
    bool warns;
  };
  const std::string meta_1251 = "<head><meta charset=windows-1251></head>";
  const Row rows[] = {
      {"\xEF\xBB\xBF<HEAD>", "", "UTF-8", 3, false},
      {"\xFF\xFE<\0H\0", "", "UTF-16LE", 2, false},
      {"\xFE\xFF\0<\0H", "", "UTF-16BE", 2, false},
      {"\xEF\xBB\xBFx", "KOI8-R", "KOI8-R", 0, false},  // the user's word is final
      {meta_1251 + "caf\xC3\xA9", "", "CP1251", 0, false},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=EUC-KR\">", "", "CP949", 0,
       false},
      {"<meta charset=\"utf-8\">caf\xE9", "", "CP1251", 0, false},  // not UTF-8 after all
      {"<meta charset=\"UTF-8\">caf\xC3\xA9", "", "UTF-8", 0, false},
      {"<meta charset=x-foo>caf\xE9", "", "CP1251", 0, true},
      {"caf\xC3\xA9", "", "UTF-8", 0, false},
      {"plain ASCII", "", "CP1251", 0, false},  // takes the project's code page
      {"<body><meta charset=koi8-r></body>", "", "KOI8-R", 0, false},
      // A readable <meta> saying UTF-16 is taken for UTF-8, a label a browser does not decode
      // for none.
      {"<meta charset=utf-16>caf\xC3\xA9", "", "UTF-8", 0, false},
      {"<meta charset=iso-2022-kr>caf\xE9", "", "CP1251", 0, true},
      {"<head></head><meta charset=koi8-r>", "", "CP1251", 0, false},  // not in the head
  };
  for (const Row& row : rows) {
    std::string warnings;
    const TextCharset charset = find_charset(row.bytes, row.forced, "CP1251", "f.hhc", warnings);
    EXPECT_EQ(charset.encoding, row.encoding) << row.bytes;
    EXPECT_EQ(charset.bom_size, row.bom) << row.bytes;
    EXPECT_EQ(!warnings.empty(), row.warns) << row.bytes;
  }
}

// Every label as HTML Help's viewer reads it, shown by bytes that a narrower table of the same
// name reads otherwise (glibc's SHIFT_JIS, GB2312, EUC-KR, ISO-8859-1 and US-ASCII among them).
TEST(CharsetLabels, ReadAsHtmlHelpReadsThem) {
  struct Row {
    std::vector<const char*> labels;
    std::string bytes;
    std::string text;  // UTF-8
  };
  const Row rows[] = {
      {{"shift_jis", "sjis", "ms_kanji", "windows-31j", "x-sjis", "csshiftjis", "ms932",
        "shift-jis"},
       "\x5C\x81\x60",
       "\\\xEF\xBD\x9E"},  // '\' and U+FF5E, not a yen sign and U+301C
      {{"gb2312", "gbk", "x-gbk", "chinese", "csgb2312", "iso-ir-58", "gb_2312-80", "gb_2312",
        "csiso58gb231280", "gb18030"},
       "\xA1\xAA\xBC\x9A",
       "\xE2\x80\x94\xE7\xB4\xB0"},  // U+2014 and a GBK-only character
      {{"euc-kr", "ks_c_5601-1987", "korean", "windows-949", "cseuckr", "csksc56011987",
        "iso-ir-149", "ks_c_5601-1989", "ksc5601", "ksc_5601"},
       "\x89\xE7",
       "\xEB\x90\xAC"},  // outside KS X 1001
      {{"big5", "big5-hkscs", "cn-big5", "x-x-big5", "csbig5"},
       "\xA4\xA4\xF9\xD6",
       "\xE4\xB8\xAD\xE7\xA2\x81"},
      {{"us-ascii", "ascii", "iso-8859-1", "latin1", "l1", "iso_8859-1", "iso_8859-1:1987",
        "iso8859-1", "iso88591", "iso-ir-100", "ibm819", "cp819", "csisolatin1", "ansi_x3.4-1968",
        "cp1252", "windows-1252", "x-cp1252"},
       "\x91x\x92\x80\x96",
       "\xE2\x80\x98x\xE2\x80\x99\xE2\x82\xAC\xE2\x80\x93"},
      {{"tis-620", "iso-8859-11", "windows-874", "dos-874", "iso885911"},
       "\x96\xA1",
       "\xE2\x80\x93\xE0\xB8\x81"},
      {{"iso-8859-9", "latin5", "l5", "windows-1254", "csisolatin5", "iso_8859-9:1989"},
       "\x80\xD0",
       "\xE2\x82\xAC\xC4\x9E"},
      {{"windows-1250", "cp1250", "x-cp1250"}, "\x8A", "\xC5\xA0"},
      {{"windows-1251", "cp1251", "x-cp1251"}, "\xC0", "\xD0\x90"},
      {{"windows-1253", "cp1253"}, "\xC1", "\xCE\x91"},
      {{"windows-1255", "cp1255"}, "\xE0", "\xD7\x90"},
      {{"windows-1256", "cp1256"}, "\xC7", "\xD8\xA7"},
      {{"windows-1257", "cp1257"}, "\xC0", "\xC4\x84"},
      {{"windows-1258", "cp1258"}, "\xC3", "\xC4\x82"},
      {{"euc-jp", "x-euc-jp", "cseucpkdfmtjapanese"}, "\xA4\xA2", "\xE3\x81\x82"},
      {{"koi8-r", "koi8_r", "koi", "koi8", "cskoi8r"}, "\xC1", "\xD0\xB0"},
      {{"koi8-u", "koi8-ru"}, "\xA4", "\xD1\x94"},
      {{"ibm866", "866", "cp866"}, "\x80", "\xD0\x90"},
      {{"iso-8859-2", "latin2", "l2"}, "\xA1", "\xC4\x84"},
      {{"iso-8859-15", "latin9", "l9"}, "\xA4", "\xE2\x82\xAC"},
      {{"macintosh", "mac", "x-mac-roman"}, "\x80", "\xC3\x84"},
      {{"utf-8", "utf8", "unicode-1-1-utf-8", "unicode20utf8"}, "caf\xC3\xA9", "caf\xC3\xA9"},
  };
  for (const Row& row : rows) {
    for (const char* label : row.labels) {
      // Both forms of <meta>, the label in upper case in one of them.
      std::string upper = label;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      const std::string metas[] = {
          std::string("<head><meta charset=\"") + label + "\"></head>",
          "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=" + upper +
              "\"></head>"};
      for (const std::string& meta : metas) {
        std::string warnings;
        const TextCharset charset = find_charset(meta + row.bytes, "", "CP1251", "f", warnings);
        EXPECT_EQ(decode_text(meta + row.bytes, charset, false), meta + row.text) << meta;
        EXPECT_EQ(warnings, "") << meta;
      }
    }
  }
  // As --encoding gives them: blanks around, any case; outside the table, nothing.
  EXPECT_EQ(encoding_of_label(" \tShift_JIS\n"), "CP932");
  EXPECT_EQ(encoding_of_label("GB2312"), "GB18030");
  EXPECT_EQ(encoding_of_label("UTF-16"), "UTF-16LE");
  EXPECT_EQ(encoding_of_label("utf-16be"), "UTF-16BE");
  EXPECT_EQ(encoding_of_label("iso-2022-kr"), "");
  EXPECT_EQ(encoding_of_label("x-foo"), "");
  EXPECT_EQ(encoding_of_label(""), "");
}

TEST(DecodeText, WorkshopNamesAreBytesOfASingleByteCodePage) {
  const std::string named = "&Acirc;&icirc;&ccedil; &Dstrok;&aring; &#1056; &amp; &eacute";
  EXPECT_EQ(decode_text(named, {"CP1251", 0}, true), "Воз Ре &#1056; &amp; &eacute");
  EXPECT_EQ(decode_text(named, {"WINDOWS-1252", 0}, true), "Âîç Ðå &#1056; &amp; &eacute");
  // Not in a multi-byte code page, and not unless asked.
  EXPECT_EQ(decode_text("&Acirc;", {"GBK", 0}, true), "&Acirc;");
  EXPECT_EQ(decode_text("&Acirc;", {"CP1251", 0}, false), "&Acirc;");
  EXPECT_EQ(decode_text("\xEF\xBB\xBF\xE9", {"UTF-8", 3}, false), "\xEF\xBF\xBD");
}

TEST(ReadHhp, TheDefaultWindowWinsAndOptionsFillTheRest) {
  const HhpProject project = read_hhp(
      "[OPTIONS]\r\nCONTENTS FILE = english.hhc\r\nindex file=Index.hhk\r\nTitle=Untitled\r\n"
      "Default topic=docs\\start.htm\r\nLanguage=0x419 Russian\r\nCompiled file=\r\n"
      "Default Window=Main\r\n\r\n[WINDOWS]\r\nother=\"Other\",\"other.hhc\",,,\r\n"
      "main=\"Справка\",\"русский.hhc\",,\"\",,,,,,0x2520\r\n\r\n[FILES]\r\na.htm\r\n"
      "; a comment\r\nsub\\b.htm\r\n\r\n[ALIAS]\r\nIDH_A=a.htm\r\n");
  EXPECT_EQ(project.title, "Справка");
  EXPECT_EQ(project.contents, "русский.hhc");
  EXPECT_EQ(project.index, "Index.hhk");
  EXPECT_EQ(project.default_topic, "docs\\start.htm");
  EXPECT_EQ(project.language, 0x419u);
  EXPECT_EQ(project.compiled_file, "");
  EXPECT_EQ(project.files, (std::vector<std::string>{"a.htm", "sub\\b.htm"}));
  EXPECT_EQ(read_hhp("[OPTIONS]\nTitle=Untitled\nLanguage=0x0000\n").title, "");
  EXPECT_EQ(read_hhp("[WINDOWS]\nw=\"T\",\"a.hhc\"\n[OPTIONS]\nContents file=b.hhc\n").contents,
            "a.hhc");
  EXPECT_EQ(hhp_language("[OPTIONS]\nlanguage=0x804\n"), 0x804u);
}

TEST(NamespaceOf, TwoBooksNeverShareOne) {
  EXPECT_EQ(namespace_of("AutoHotkey"), "autohotkey");
  EXPECT_EQ(namespace_of("WinUAE"), "winuae");
  EXPECT_EQ(namespace_of("Ventangle不全书"), "ventangle");
  EXPECT_EQ(namespace_of("-My Book (2nd ed.)_"), "my-book-2nd-ed");
  EXPECT_EQ(namespace_of("文明百科"), "help-1dad8799");
  EXPECT_NE(namespace_of("Справка"), namespace_of("文明百科"));
}

// What a page links to, as a help compiler finds it: blanks around a link, its anchor and
// query dropped; links with a scheme, to the network or to an anchor alone are none of the
// project's; style sheets' url() and @import in every quoting, cut-off ones left alone.
TEST(Pages, LinksAsACompilerFindsThem) {
  const std::string page =
      "<html><head><style>@import  \"d.css\"; @import url(e.css); x{background:url(f.png)}"
      "</style></head><body><a href=\" \t a.htm \r\n\">a</a><a href=\"http://x/y\">w</a>"
      "<a href=\"//cdn/x.js\">n</a><a href=\"#top\">t</a><a href=\"mailto:a@b\">m</a>"
      "<img src=\"b.png?x=1#y\"><a href>bare</a><p style=\"background: url( 'c.png' )\">"
      "<a href=\"sub\\g.htm#x\">g</a></body></html>";
  EXPECT_EQ(page_links(page), (std::vector<std::string>{"e.css", "f.png", "d.css", "a.htm", "b.png",
                                                        "c.png", "sub\\g.htm"}));
  EXPECT_EQ(style_links("@import 'h.css'; @import x.css; a{b:url(\"i.png\")} c{d:url(j.png"),
            (std::vector<std::string>{"i.png", "h.css"}));
  EXPECT_EQ(style_links("@import \"cut.css"), std::vector<std::string>{});
  EXPECT_EQ(style_links("url( ) url(#a) url(http://x/y.png)"), std::vector<std::string>{});
}

TEST(Pages, TitlesAndCharsets) {
  EXPECT_EQ(page_title("<TITLE lang=en>  A\n\tB &amp;amp; C  </TITLE>"), "A B &amp; C");
  EXPECT_EQ(page_title("<title>no end"), "");
  EXPECT_EQ(page_title("<title"), "");
  EXPECT_EQ(page_title("<p>no title</p>"), "");
  std::string converted;
  EXPECT_FALSE(page_as_utf8("<p>ascii</p>", "CP1251", converted));
  EXPECT_FALSE(page_as_utf8("<p>caf\xC3\xA9</p>", "CP1251", converted));
  // A byte order mark goes, and the page says utf-8 from then on.
  EXPECT_TRUE(page_as_utf8("\xEF\xBB\xBF<head></head>caf\xC3\xA9", "CP1251", converted));
  EXPECT_EQ(converted, "<head><meta charset=\"utf-8\"></head>caf\xC3\xA9");
  EXPECT_TRUE(page_as_utf8("<HEAD\tlang=ru><title>\xC0</title>", "CP1251", converted));
  EXPECT_EQ(converted, "<HEAD\tlang=ru><meta charset=\"utf-8\"><title>\xD0\x90</title>");
  EXPECT_TRUE(page_as_utf8("<headline>\xC0<head", "CP1251", converted));
  EXPECT_EQ(converted, "<meta charset=\"utf-8\"><headline>\xD0\x90<head");
  EXPECT_TRUE(page_as_utf8("<meta charset='koi8-r'>\xC1", "CP1251", converted));
  EXPECT_EQ(converted, "<meta charset='utf-8'>\xD0\xB0");
  // <meta> forms that name no charset.
  EXPECT_EQ(meta_charset("<meta name=\"charset\" content=x>"), "");
  EXPECT_EQ(meta_charset("<meta charset=>"), "");
  EXPECT_EQ(meta_charset("<meta content=\"text/html; charset = big5"), "big5");
  EXPECT_EQ(meta_charset("<head></head><meta charset=big5>"), "");
}

TEST(ProjectNames, StemsPathsAndEntries) {
  EXPECT_EQ(stem_of("docs\\help.chm"), "help");
  EXPECT_EQ(stem_of("a/b/.hidden"), ".hidden");
  EXPECT_EQ(stem_of("noext"), "noext");
  const FileNames files({"a.htm", "sub/B.htm"});
  EXPECT_EQ(project_path(files, "sub\\b.htm"), "sub/B.htm");
  EXPECT_EQ(project_path(files, "../a.htm"), "");
  EXPECT_EQ(project_path(files, "c.htm"), "");
  EXPECT_EQ(hhp_language("[OPTIONS]\nLanguage=0x40c\nnothing here\n"), 0x40Cu);
  EXPECT_EQ(hhp_language("[OPTIONS]\nLanguage=4294967295999\n"), 429496729u);  // no wrap
#ifdef SITEMAP_HAVE_MSPACK
  const std::pair<const char*, const char*> entries[] = {{"/a.htm", "a.htm"},
                                                         {"/sub\\b.htm", "sub/b.htm"},
                                                         {"/", ""},
                                                         {"a.htm", ""},
                                                         {"", ""},
                                                         {"/a//b.htm", ""},
                                                         {"/./a.htm", ""},
                                                         {"/x/../a.htm", ""},
                                                         {"/a\x01.htm", ""},
                                                         {"/caf\xE9.htm", ""},
                                                         {"/tab\t.htm", ""}};
  for (const auto& [stored, path] : entries) EXPECT_EQ(safe_entry_path(stored), path) << stored;
#endif
}

}  // namespace
}  // namespace sitemap
