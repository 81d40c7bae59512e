// A book opened to be read: `sitemap-to-qhp --open BOOK.chm` (a double-click on a .chm comes
// here through the desktop entry) converts the book once into a per-user cache, registers it in
// a per-user library collection, and starts Qt Assistant there at the book's start page.
#pragma once

#include <functional>
#include <string>

namespace sitemap {

// How one conversion for the cache ended.
struct CachedConversion {
  int status = 0;
  std::string err;             // what it had to say, for standard error
  std::string qch;             // the .qch built, where it succeeded
  std::string namespace_name;  // and its namespace, virtual folder and start page
  std::string virtual_folder;
  std::string start_page;
};

struct OpenRun {
  std::string input;     // BOOK.chm or PROJECT.hhp
  std::string encoding;  // --encoding, where given: a conversion of its own
  std::string version;   // the tool's: a new version converts anew
  // Converts the input, with its .qch, into `folder`, which does not exist yet.
  std::function<CachedConversion(const std::string& folder)> convert;
  // Runs qhelpgenerator in `folder` on `input` for `result`; false, with what it said, when it
  // failed.
  std::function<bool(const std::string& folder, const std::string& input, const std::string& result,
                     std::string& output)>
      generate;
};

// The book in the cache (${XDG_CACHE_HOME:-~/.cache}/sitemap-to-qhp/NAME-KEY, KEY a hash of the
// book's bytes, the encoding given and the tool's version; converted only where it is not there
// yet), registered in ${XDG_DATA_HOME:-~/.local/share}/sitemap-to-qhp/library.qhc (made on first
// use; a book of the same namespace registered before is replaced), and Qt Assistant started on
// the library at the book's start page, not waited for. Assistant is $ASSISTANT, else on PATH
// (assistant, assistant-qt6), else in Qt 6's and Qt 5's usual folders. Runs at once wait for
// each other, and a conversion that fails leaves nothing. What it has to say goes to `err`; the
// exit status: 0, or 1.
int open_book(const OpenRun& run, std::string& err);

}  // namespace sitemap
