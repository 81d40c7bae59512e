// Reads the input as a .chm book, from memory, through the same reader the program uses: the
// header repaired as it comes in, the book opened with libmspack, its settings read from its system
// files, every file's name checked and every file extracted, and each HTML page made readable.
// Nothing may crash, overrun or hang; a name that passes the check never leaves the output folder,
// and every context id leads to a file of the book.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "project/chm_book.h"
#include "project/code_page.h"
#include "project/context_ids.h"
#include "project/pages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sitemap::ChmBook book;
  std::string error;
  if (!book.open(std::string(reinterpret_cast<const char*>(data), size), "fuzz.chm", error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  const sitemap::ChmSettings settings = book.settings();
  if (settings.context_ids.size() > sitemap::MAX_CONTEXT_IDS) std::abort();
  const std::string code_page = sitemap::code_page_of_lcid(settings.language);
  std::string file, converted;
  std::vector<std::string> names;
  for (const std::string& name : book.file_names()) {
    names.push_back(sitemap::safe_entry_path(name));
    const std::string path = sitemap::safe_entry_path(name);
    if (!path.empty() && (path.find("..") != std::string::npos || path[0] == '/')) {
      // ".." may stand inside a part ("a..b"), never as one
      for (std::size_t at = 0; (at = path.find("..", at)) != std::string::npos; at += 2) {
        const bool starts = at == 0 || path[at - 1] == '/';
        const bool ends = at + 2 == path.size() || path[at + 2] == '/';
        if ((starts && ends) || path[0] == '/') std::abort();
      }
    }
    if (!book.extract(name, file) || path.empty()) continue;
    if (sitemap::is_html_page(path)) sitemap::page_as_utf8(file, code_page, converted);
  }
  // Every context id leads to a file of the book.
  std::sort(names.begin(), names.end());
  const sitemap::FileNames files(names);
  std::string warnings;
  for (const sitemap::KeywordId& id :
       sitemap::book_context_ids(settings.context_ids, files, warnings)) {
    if (!files.contains(id.ref.substr(0, id.ref.find('#')))) std::abort();
  }
  return 0;
}
