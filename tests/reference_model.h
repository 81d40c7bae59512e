// A reference model of the whole conversion, written for clarity and never for speed: the
// contents walk line by line, and for every new page a scan of the index from line 1 and a walk
// back that re-reads each line it steps to, as the first, literal version of the converter did.
// The differential test and the differential fuzz target hold the program's core to it.
#pragma once

#include <string>
#include <string_view>

namespace sitemap_model {

struct Result {
  std::string dcf;  // what was written to qt-assistant.dcf, complete or not
  std::string out;  // detail lines
  std::string err;  // the error line
  int status = 0;
};

Result convert(std::string_view contents, std::string_view index);

}  // namespace sitemap_model
