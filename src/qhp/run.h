// One run of sitemap-to-qhp, once its options are read.
#pragma once

#include <string>
#include <vector>

#include "qhp/options.h"

namespace sitemap {

// What one conversion has to say, and how it ended.
struct BookReport {
  int status = 0;          // 0, 1 when the conversion failed, 2 for an encoding iconv does not know
  std::string out;         // for standard output: the strict grammar's detail lines
  std::string err;         // for standard error: the error line, warnings, qhelpgenerator's words
  std::string qhp;         // the .qhp written, where the conversion succeeded
  std::string start_page;  // its root section's page (the book's start page)
};

// Converts the inputs named in `options` into the .qhp (and with --qch the .qch). Where
// `merged_books` is given, the books the contents merge are added there instead of warned of.
BookReport convert_one_book(QhpOptions& options, std::vector<std::string>* merged_books);

// The same, printing what the run has to say; the exit status.
int run_sitemap_to_qhp(QhpOptions& options);

// The one book of `options` opened in Qt Assistant (see open_book); the exit status.
int run_open_book(const QhpOptions& options);

// The books of `options.inputs` as a shelf (see run_shelf); the exit status.
int run_shelf_of_books(const QhpOptions& options);

}  // namespace sitemap
