// sitemap-to-qhp: converts the HTML Help sitemap files of the current folder, a project or a
// compiled book into a Qt Help Project for qhelpgenerator and today's Qt Assistant; several
// books into a shelf of them, one collection; with --open, a book opened in Qt Assistant.
#include <cstdio>

#include "convert/xml_memory.h"
#include "qhp/options.h"
#include "qhp/run.h"

int main(int argc, char** argv) {
  sitemap::use_large_memory_for_libxml2();
  sitemap::QhpOptions options;
  std::string message;
  switch (sitemap::parse_options(argc, argv, options, message)) {
    case sitemap::Parsed::done:
      std::fputs(message.c_str(), stdout);
      return 0;
    case sitemap::Parsed::usage_error:
      std::fprintf(stderr, "%s\n", message.c_str());
      return 2;
    case sitemap::Parsed::run:
      break;
  }
  if (options.open) return sitemap::run_open_book(options);
  return options.shelf ? sitemap::run_shelf_of_books(options)
                       : sitemap::run_sitemap_to_qhp(options);
}
