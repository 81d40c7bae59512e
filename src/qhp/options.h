// The command line of sitemap-to-qhp.
#pragma once

#include <string>
#include <vector>

#include "output/qhp_writer.h"

namespace sitemap {

struct QhpOptions {
  QhpSettings settings;  // namespace, title, virtual folder and output name
  std::string encoding;  // the inputs' character set; empty: UTF-8 if both are, else windows-1252
  std::string contents = "Contents.hhc";
  std::string index = "Index.hhk";
  bool html = false;  // read the sitemaps as HTML instead of by the strict line grammar
  // A project file (.hhp) to convert into a folder of its own, and that folder.
  std::string project;
  std::string output_dir;
  // Several books and projects, or --collection: a shelf, each book in a folder of its own
  // under output_dir, and one collection of them all, named `collection`.
  std::vector<std::string> inputs;
  std::string collection = "help";
  bool shelf = false;
  unsigned jobs = 0;  // books of a shelf converted at once; 0: as many as there are processors
  bool qch = false;   // run qhelpgenerator on the .qhp once it is written
  // Open the one book or project in Qt Assistant, converted once into the user's cache.
  bool open = false;
  // Which settings the command line gave, to win over the project's.
  bool namespace_given = false;
  bool title_given = false;
  bool output_given = false;
  bool contents_given = false;
  bool index_given = false;
  bool virtual_folder_given = false;
};

enum class Parsed { run, done, usage_error };

// Reads the options in the usual GNU forms. `done`: --help or --version, whose text is in
// `message` for standard output. `usage_error`: `message` is the one line for standard error.
Parsed parse_options(int argc, char** argv, QhpOptions& options, std::string& message);

}  // namespace sitemap
