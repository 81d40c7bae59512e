// sitemap-to-dcf: converts the HTML Help sitemap files of the current directory into a DCF
// file for Qt Assistant. Takes no arguments; any given are ignored.
#include <cstdlib>

#include "convert/converter.h"
#include "io/file_streams.h"

int main() {
  sitemap::Report report;
  sitemap::OpenedFiles files;
  sitemap::Outcome outcome = sitemap::open_conversion_files(files, report);
  if (outcome == sitemap::Outcome::success) {
    sitemap::ConversionFiles streams = files.streams();
    outcome = sitemap::convert_sitemap(streams, report);
  }
  sitemap::print_report(report);
  return outcome == sitemap::Outcome::success ? EXIT_SUCCESS : EXIT_FAILURE;
}
