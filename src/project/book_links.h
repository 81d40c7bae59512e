// Links from one book into another: `ms-its:other.chm::/page.htm`, `its:...`,
// `mk:@MSITStore:C:\Program Files\App\other.chm::/page.htm`, and in sitemaps the bare
// `other.chm::/page.htm`. Where the other book is converted with this one (a shelf of books),
// such a link becomes `qthelp://NAMESPACE/FOLDER/page.htm`, which Qt Assistant opens in that
// book; else it stays as it is, and is counted.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "io/file_names.h"

namespace sitemap {

class BookLinks {
 public:
  explicit BookLinks(std::string virtual_folder) : virtual_folder_(std::move(virtual_folder)) {}

  // A book links may lead into: by its file name ("other.chm", any letter case; of two books of
  // one name, the first), its namespace and its files (for paths named with '\' or in another
  // letter case, as HTML Help finds them).
  void add(std::string_view file_name, std::string namespace_name, FileNames files);

  // Where a link leads: into a book of the table (`target`), into a book not in it (`book`
  // names it), or into none (a link of no such form).
  enum class Leads { nowhere_else, shelf, elsewhere };
  struct Target {
    std::string namespace_name;
    std::string path;    // a file of that book, as it names it
    std::string anchor;  // with its '#', or empty
  };
  // `link` is a whole link; with `bare`, the sitemaps' form without a scheme counts too.
  Leads resolve(std::string_view link, bool bare, Target& target, std::string& book) const;
  // The qthelp:// URL of a target.
  std::string url(const Target& target) const;

  // `text` with every link into a book of the table rewritten to its URL (in pages, where links
  // stand in attributes); links into other books are counted in `missing`, by book. False where
  // nothing was rewritten.
  bool rewrite(std::string& text, std::map<std::string, int>& missing) const;

 private:
  struct Book {
    std::string namespace_name;
    FileNames files;
  };
  std::string virtual_folder_;
  std::map<std::string, Book> books_;  // by file name in lower case
};

}  // namespace sitemap
