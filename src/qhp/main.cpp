// sitemap-to-qhp: converts the HTML Help sitemap files of the current folder, a project or a
// compiled book into a Qt Help Project for qhelpgenerator and today's Qt Assistant; several
// books into a shelf of them, one collection.
#include <cstdio>

#include "convert/xml_memory.h"
#include "qhp/options.h"
#include "qhp/qhelpgenerator.h"
#include "qhp/run.h"
#include "shelf/jobs.h"
#include "shelf/shelf.h"

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
  if (!options.shelf) return sitemap::run_sitemap_to_qhp(options);
  sitemap::ShelfRun shelf;
  shelf.inputs = options.inputs;
  shelf.dir = options.output_dir;
  shelf.collection = options.collection;
  shelf.qch = options.qch;
  shelf.virtual_folder = options.settings.virtual_folder;
  shelf.jobs = options.jobs != 0 ? options.jobs : sitemap::processor_count();
  shelf.convert = [&options](const sitemap::ShelfBook& book) {
    sitemap::QhpOptions one = options;
    one.qch = false;  // built once the links between the books are made
    one.project = book.input;
    one.output_dir = book.folder;
    one.settings.namespace_name = book.namespace_name;
    one.namespace_given = true;
    sitemap::ShelfOutcome outcome;
    sitemap::BookReport report = sitemap::convert_one_book(one, &outcome.merged_books);
    outcome.status = report.status;
    outcome.out = std::move(report.out);
    outcome.err = std::move(report.err);
    outcome.qhp = std::move(report.qhp);
    return outcome;
  };
  shelf.generate_book = [](const std::string& qhp, std::string& output) {
    const std::string generator = sitemap::find_qhelpgenerator();
    if (generator.empty()) {
      output =
          "Error: qhelpgenerator not found: install it (qt6-documentation-tools), or set "
          "$QHELPGENERATOR to it.\n";
      return false;
    }
    // The .qch alone: the shelf's collection stands for a collection file of each book's.
    const std::size_t slash = qhp.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : qhp.substr(0, slash);
    const std::string name = qhp.substr(slash == std::string::npos ? 0 : slash + 1);
    return sitemap::run_generator(generator, folder, name,
                                  name.substr(0, name.size() - 4) + ".qch", output);
  };
  shelf.generate = [](const std::string& folder, const std::string& qhcp, const std::string& qhc,
                      std::string& output) {
    const std::string generator = sitemap::find_qhelpgenerator();
    if (generator.empty()) {
      output =
          "Error: qhelpgenerator not found: install it (qt6-documentation-tools), or set "
          "$QHELPGENERATOR to it.\n";
      return false;
    }
    return sitemap::run_generator(generator, folder, qhcp, qhc, output);
  };
  return sitemap::run_shelf(shelf);
}
