// A shelf of books: many compiled books and projects, each converted as one book is, into a
// folder of its own with a namespace of its own, and one Qt help collection over all of them,
// so that Qt Assistant opens the shelf as one library.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sitemap {

// One book of the shelf, as planned before any is converted.
struct ShelfBook {
  std::string input;           // the .chm or .hhp as given, which also names it in messages
  std::string name;            // NAME: its folder under the shelf's, unique over the shelf
  std::string folder;          // DIR/NAME
  std::string namespace_name;  // unique over the shelf
};

// Names each book after its input's stem, and its namespace after that, with "-2", "-3" ...
// where two books would share a folder or a namespace (en/German.chm and de/German.chm).
std::vector<ShelfBook> plan_shelf(const std::vector<std::string>& inputs, const std::string& dir);

// How one book's conversion ended.
struct ShelfOutcome {
  int status = 0;
  std::string out;  // for standard output
  std::string err;  // for standard error, line by line
  std::string qhp;  // the .qhp written (under the shelf's folder), where the conversion succeeded
  std::vector<std::string> merged_books;  // the books its contents merge, by file name
};

struct ShelfRun {
  std::vector<std::string> inputs;
  std::string dir;         // the shelf's folder; "" for the current one
  std::string collection;  // NAME of DIR/NAME.qhc (with qch) or DIR/NAME.qhcp
  std::string virtual_folder = "doc";
  bool qch = false;
  unsigned jobs = 1;  // books converted (and built) at once, each in a process of its own
  // Converts one book as it is converted alone, without building its .qch.
  std::function<ShelfOutcome(const ShelfBook&)> convert;
  // With qch: runs qhelpgenerator in `folder` on `input` (a book's .qhp, or the collection
  // project), for `result` (its .qch, or the collection file); false, with what was said, when
  // it failed.
  std::function<bool(const std::string& folder, const std::string& input, const std::string& result,
                     std::string& output)>
      generate;
};

// Converts every book in the order given; then makes every link from one book into another
// of the shelf (ms-its:, its:, mk:@MSITStore:, a sitemap's NAME.chm::/path) lead into that
// book: in its pages a qthelp:// link; a keyword moves into that book's .qhp, and a section
// leads to a page of its own that links there (Assistant opens a section's or keyword's page
// only in its own book); then builds the books' .qch files and the collection of those that
// converted. What each book has to say is printed in input order,
// each line of standard error after the book's name. One book that fails does not stop the
// others. On a terminal, a progress line counts the books. Interrupted (SIGINT, SIGTERM), every
// folder that holds no whole book goes and no collection is made. The exit status: 0, 1 when a
// book or the collection failed, 128 + the signal when interrupted.
int run_shelf(const ShelfRun& run);

}  // namespace sitemap
