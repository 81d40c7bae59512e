// An existing Qt help collection file (.qhc, an SQLite database): the books it registers, so
// that a shelf adds its books to it without registering one namespace twice.
#pragma once

#include <string>
#include <vector>

namespace sitemap {

struct RegisteredBook {
  std::string namespace_name;
  std::string file;  // the .qch, relative to the collection's folder or absolute
};

// Whether this build reads collection files (it needs SQLite).
bool reads_collections();

// The books `path` registers; false, with the error line's message, when it cannot be read.
bool read_collection(const std::string& path, std::vector<RegisteredBook>& books,
                     std::string& error);

}  // namespace sitemap
