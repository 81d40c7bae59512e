#include "qhp/run.h"

#include <cstdio>
#include <new>

#include "convert/converter.h"
#include "io/file_streams.h"
#include "qhp/project_files.h"

namespace sitemap {

namespace {

// The usual code page of HTML Help projects, for inputs that are not UTF-8.
constexpr const char* FALLBACK_ENCODING = "WINDOWS-1252";

struct QhpRun {
  QhpOptions& options;
  XmlText text;
  Report report;
  std::string warnings;
};

Outcome fail_run(QhpRun& run, std::string_view message) {
  fail(run.report, message);
  return Outcome::failure;
}

Outcome convert(QhpRun& run) {
  OpenedFiles files;
  if (open_input_files(files, run.report, run.options.contents, run.options.index) !=
      Outcome::success) {
    return Outcome::failure;
  }
  const std::string& name = run.options.settings.output_name;
  std::unique_ptr<ReplacingFileOutput> output = ReplacingFileOutput::create(name);
  if (!output) return fail_run(run, "Failed to open " + name + ".");

  // Both inputs are read ahead, for their character set to be known before the first value is
  // written; a read error still surfaces where the conversion meets it.
  ReplayInput contents(*files.contents);
  ReplayInput index(*files.index);
  if (run.options.encoding.empty()) {
    const bool utf8 = is_valid_utf8(contents.bytes()) && is_valid_utf8(index.bytes());
    run.text.set_encoding(utf8 ? "UTF-8" : FALLBACK_ENCODING);
  }
  run.options.settings.files = list_project_files(".", run.warnings);

  QhpOutput qhp(*output, run.options.settings, run.text);
  ConversionFiles streams{&contents, &index, output.get()};
  if (convert_sitemap(streams, qhp, run.report) != Outcome::success) return Outcome::failure;
  if (!output->commit()) return fail_run(run, qhp.write_failure());
  run.warnings += qhp.warnings();
  return Outcome::success;
}

}  // namespace

int run_sitemap_to_qhp(QhpOptions& options) {
  QhpRun run{options, {}, {}, {}};
  if (!options.encoding.empty() && !run.text.set_encoding(options.encoding)) {
    std::fprintf(stderr, "sitemap-to-qhp: unknown encoding '%s' (see iconv --list)\n",
                 options.encoding.c_str());
    return 2;
  }
  Outcome outcome;
  try {
    outcome = convert(run);
  } catch (const std::bad_alloc&) {
    run.report.err.clear();
    outcome = fail_run(run, OUT_OF_MEMORY);
  }
  print_report(run.report);
  if (outcome != Outcome::success) return 1;
  std::fputs(run.warnings.c_str(), stderr);
  return 0;
}

}  // namespace sitemap
