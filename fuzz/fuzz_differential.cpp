// Runs the program's core and the reference model on the same two in-memory inputs (split at
// the first 0x01 byte, as for fuzz_conversion) and aborts on any difference in the DCF bytes,
// the detail lines, the error line or the status.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz_input.h"
#include "reference_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FuzzRun run(data, size);
  const int status = run.outcome == sitemap::Outcome::success ? 0 : 1;
  const sitemap_model::Result model = sitemap_model::convert(run.contents, run.index);
  if (status != model.status || run.dcf.bytes != model.dcf || run.report.out != model.out ||
      run.report.err != model.err) {
    std::abort();
  }
  return 0;
}
