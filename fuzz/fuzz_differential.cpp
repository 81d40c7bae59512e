// Runs the program's core and the reference model on the same two in-memory inputs (split at
// the first 0x01 byte, as for fuzz_conversion) and aborts on any difference in the DCF bytes,
// the detail lines, the error line or the status.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "convert/converter.h"
#include "reference_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\x01');
  const std::string_view contents_bytes = input.substr(0, split);
  const std::string_view index_bytes =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  sitemap::MemoryInput contents(contents_bytes);
  sitemap::MemoryInput index(index_bytes);
  sitemap::MemoryOutput dcf;
  sitemap::ConversionFiles files{&contents, &index, &dcf};
  sitemap::Report report;
  const int status = sitemap::convert_sitemap(files, report) == sitemap::Outcome::success ? 0 : 1;

  const sitemap_model::Result model = sitemap_model::convert(contents_bytes, index_bytes);
  if (status != model.status || dcf.bytes != model.dcf || report.out != model.out ||
      report.err != model.err) {
    std::abort();
  }
  return 0;
}
