#include "qhp/run.h"

#include <cerrno>
#include <cstdio>
#include <new>

#include "convert/converter.h"
#include "convert/html_sitemap.h"
#include "io/file_streams.h"
#include "qhp/project_files.h"

namespace sitemap {

namespace {

// The usual code page of HTML Help projects, for inputs that are not UTF-8.
constexpr const char* FALLBACK_ENCODING = "WINDOWS-1252";

// Checks that what the conversion reads is UTF-8, on the way through.
class CheckedInput final : public InputStream {
 public:
  explicit CheckedInput(InputStream& inner) : inner_(inner) {}
  long read(char* dest, std::size_t size) override {
    const long got = inner_.read(dest, size);
    if (got > 0) check_.feed(std::string_view(dest, static_cast<std::size_t>(got)));
    return got;
  }
  void close() override {}
  std::size_t size_hint() const override { return inner_.size_hint(); }
  // Whether the whole stream is UTF-8: reads what the conversion left unread. A stream that
  // fails is taken for none.
  bool all_utf8() {
    char block[64 * 1024];
    for (long got; (got = read(block, sizeof block)) != 0;) {
      if (got < 0) return false;
    }
    return check_.valid();
  }

 private:
  InputStream& inner_;
  Utf8Check check_;
};

struct QhpRun {
  QhpOptions& options;
  XmlText text;
  Report report;
  std::string warnings;
  // The writer's warnings about pages, printed after the others.
  LargeString page_warnings;
};

Outcome fail_run(QhpRun& run, std::string_view message) {
  fail(run.report, message);
  return Outcome::failure;
}

// Writes the .qhp aside with `convert` (which fills a QhpOutput and tells whether its work is
// to be kept) and puts it in place only when that succeeded.
template <typename Convert>
Outcome write_qhp(QhpRun& run, Convert convert) {
  const std::string& name = run.options.settings.output_name;
  std::unique_ptr<ReplacingFileOutput> output = ReplacingFileOutput::create(name);
  if (!output) return fail_run(run, "Failed to open " + name + ".");
  QhpOutput qhp(*output, run.options.settings, run.text);
  bool keep = true;
  if (convert(*output, qhp, keep) != Outcome::success) return Outcome::failure;
  if (!keep) return Outcome::success;
  if (!output->commit()) return fail_run(run, qhp.write_failure());
  run.page_warnings = qhp.take_warnings();
  return Outcome::success;
}

// One conversion of the two inputs by the strict grammar. With `utf8_check`, also whether both
// inputs turned out to be UTF-8 all through; when not, nothing is put in place.
Outcome convert_once(QhpRun& run, InputStream& contents, InputStream& index, bool* utf8_check) {
  return write_qhp(run, [&](OutputStream& output, QhpOutput& qhp, bool& keep) {
    CheckedInput checked_contents(contents), checked_index(index);
    InputStream* inputs[] = {&contents, &index};
    if (utf8_check != nullptr) {
      inputs[0] = &checked_contents;
      inputs[1] = &checked_index;
    }
    ConversionFiles streams{inputs[0], inputs[1], &output};
    if (convert_sitemap(streams, qhp, run.report) != Outcome::success) return Outcome::failure;
    if (utf8_check != nullptr) {
      *utf8_check = checked_contents.all_utf8() && checked_index.all_utf8();
      keep = *utf8_check;  // else converted again, and put in place then
    }
    return Outcome::success;
  });
}

// Reads a whole input; false after "Failed to read NAME.".
bool read_whole(QhpRun& run, InputStream& stream, const std::string& name,
                std::unique_ptr<ReplayInput>& bytes) {
  bytes = std::make_unique<ReplayInput>(stream);
  if (!bytes->failed()) return true;
  fail_run(run, "Failed to read " + name + ".");
  return false;
}

// --html: both files read whole and parsed as HTML. A project without an index file gets no
// keywords, with a warning.
Outcome convert_html(QhpRun& run) {
  const QhpOptions& options = run.options;
  std::unique_ptr<FileInput> contents_file = open_input_file(options.contents);
  if (!contents_file) return fail_run(run, "Failed to open " + options.contents + ".");
  std::unique_ptr<FileInput> index_file = open_input_file(options.index);
  if (!index_file && errno != ENOENT) return fail_run(run, "Failed to open " + options.index + ".");
  if (!index_file) {
    run.warnings += "Warning: no index file " + options.index + ": the help gets no keywords.\n";
  }
  std::unique_ptr<ReplayInput> contents, index;
  if (!read_whole(run, *contents_file, options.contents, contents)) return Outcome::failure;
  if (index_file && !read_whole(run, *index_file, options.index, index)) return Outcome::failure;

  HtmlSitemap sitemap{contents->bytes(), index ? index->bytes() : std::string_view(),
                      index != nullptr,  options.contents,
                      options.index,     options.encoding};
  if (sitemap.encoding.empty()) {
    const bool utf8 = is_valid_utf8(sitemap.contents) && is_valid_utf8(sitemap.index);
    sitemap.encoding = utf8 ? "UTF-8" : FALLBACK_ENCODING;
  }
  run.options.settings.keyword_bytes_hint = sitemap.index.size() / 2;
  // The parser hands out the values in UTF-8, their references decoded.
  run.text.set_encoding("UTF-8");
  run.text.set_references(false);
  run.options.settings.files = list_project_files(".", run.warnings);

  return write_qhp(run, [&](OutputStream&, QhpOutput& qhp, bool&) {
    return convert_html_sitemap(sitemap, qhp, run.report);
  });
}

Outcome convert(QhpRun& run) {
  if (run.options.html) return convert_html(run);
  OpenedFiles files;
  if (open_input_files(files, run.report, run.options.contents, run.options.index) !=
      Outcome::success) {
    return Outcome::failure;
  }
  run.options.settings.files = list_project_files(".", run.warnings);
  // The keyword list takes about half the size of the index (measured on generated projects).
  run.options.settings.keyword_bytes_hint = files.index->size_hint() / 2;
  if (!run.options.encoding.empty())
    return convert_once(run, *files.contents, *files.index, nullptr);

  // Without --encoding the inputs are UTF-8 if both are so all through, else windows-1252. The
  // first conversion takes them for UTF-8 and checks them as it reads; only when they are not
  // is the conversion made again. A stream that cannot be read twice (a FIFO) is kept in memory.
  std::unique_ptr<ReplayInput> replayed[2];
  InputStream* inputs[] = {files.contents.get(), files.index.get()};
  for (int i = 0; i < 2; ++i) {
    if (!inputs[i]->rewind()) {
      replayed[i] = std::make_unique<ReplayInput>(*inputs[i]);
      inputs[i] = replayed[i].get();
    }
  }
  run.text.set_encoding("UTF-8");
  bool utf8 = true;
  const Outcome first = convert_once(run, *inputs[0], *inputs[1], &utf8);
  if (first != Outcome::success || utf8) return first;
  if (!inputs[0]->rewind()) return fail_run(run, "Failed to read " + run.options.contents + ".");
  if (!inputs[1]->rewind()) return fail_run(run, "Failed to read " + run.options.index + ".");
  run.text.set_encoding(FALLBACK_ENCODING);
  return convert_once(run, *inputs[0], *inputs[1], nullptr);
}

}  // namespace

int run_sitemap_to_qhp(QhpOptions& options) {
  QhpRun run{options, {}, {}, {}, {}};
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
  std::fwrite(run.page_warnings.data(), 1, run.page_warnings.size(), stderr);
  return 0;
}

}  // namespace sitemap
