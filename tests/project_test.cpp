// How a project is read: the code page of a locale, the charset of a text, the settings of a
// project file, and the namespace of a book.
#include <gtest/gtest.h>

#include <string>

#include "project/code_page.h"
#include "project/help_project.h"
#include "project/hhp.h"

namespace sitemap {
namespace {

TEST(CodePage, ByLanguageWithTheSubLanguageExceptions) {
  const std::pair<std::uint32_t, const char*> table[] = {
      {0x0000, ""},       {0x0409, "WINDOWS-1252"}, {0x0407, "WINDOWS-1252"}, {0x0411, "CP932"},
      {0x0804, "CP936"},  {0x1004, "CP936"},        {0x0404, "CP950"},        {0x0C04, "CP950"},
      {0x1404, "CP950"},  {0x0412, "CP949"},        {0x041E, "CP874"},        {0x0405, "CP1250"},
      {0x041A, "CP1250"}, {0x0C1A, "CP1251"},       {0x0419, "CP1251"},       {0x0422, "CP1251"},
      {0x0408, "CP1253"}, {0x041F, "CP1254"},       {0x042C, "CP1254"},       {0x082C, "CP1251"},
      {0x040D, "CP1255"}, {0x0401, "CP1256"},       {0x0426, "CP1257"},       {0x042A, "CP1258"}};
  for (const auto& [lcid, code_page] : table) {
    EXPECT_EQ(code_page_of_lcid(lcid), code_page) << std::hex << lcid;
  }
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
      {meta_1251 + "caf\xC3\xA9", "", "windows-1251", 0, false},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=EUC-KR\">", "", "EUC-KR", 0,
       false},
      {"<meta charset=\"utf-8\">caf\xE9", "", "CP1251", 0, false},  // not UTF-8 after all
      {"<meta charset=\"UTF-8\">caf\xC3\xA9", "", "UTF-8", 0, false},
      {"<meta charset=x-foo>caf\xE9", "", "CP1251", 0, true},
      {"caf\xC3\xA9", "", "UTF-8", 0, false},
      {"plain ASCII", "", "CP1251", 0, false},  // takes the project's code page
      {"<body><meta charset=koi8-r></body>", "", "koi8-r", 0, false},
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

}  // namespace
}  // namespace sitemap
