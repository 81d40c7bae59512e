#include "io/sitemap_input.h"

#include <algorithm>
#include <cstring>

namespace sitemap {

namespace {
// Bytes asked of the stream at a time; large reads keep system calls rare on big inputs.
constexpr std::size_t READ_BLOCK = 64 * 1024;
}  // namespace

LineReader::LineReader(InputStream& stream) : stream_(stream) {}

LineRead LineReader::read(std::string_view& line) {
  spill_.clear();
  for (;;) {
    if (pos_ == end_ && !refill()) {
      line = failed_ ? std::string_view() : std::string_view(spill_);
      if (failed_) return LineRead::error;
      return spill_.empty() ? LineRead::end : LineRead::last_line;
    }
    const char* start = block_.data() + pos_;
    const std::size_t take = std::min(end_ - pos_, LINE_READ_MAX - spill_.size());
    const void* lf = std::memchr(start, '\n', take);
    const std::size_t n =
        lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1 : take;
    // A full piece ends here without asking the stream for more, so it never meets the end.
    const bool complete = lf != nullptr || spill_.size() + n == LINE_READ_MAX;
    pos_ += n;
    if (complete && spill_.empty()) {
      // Most lines lie whole in the block read last: hand them out where they are.
      line = std::string_view(start, n);
      return LineRead::line;
    }
    // A piece that runs over the end of the block is gathered while reading on.
    spill_.append(start, n);
    if (complete) {
      line = spill_;
      return LineRead::line;
    }
  }
}

bool LineReader::refill() {
  if (at_end_) return false;
  if (block_.empty()) block_.resize(READ_BLOCK);
  const long got = stream_.read(block_.data(), block_.size());
  if (got <= 0) {
    at_end_ = true;
    failed_ = got < 0;
    return false;
  }
  pos_ = 0;
  end_ = static_cast<std::size_t>(got);
  return true;
}

SitemapInput::SitemapInput(ConversionFiles& f, Report& r)
    : files(f), report(r), contents(*f.contents) {}

LineRead read_sitemap_line(SitemapInput& input, LineReader& reader) {
  std::string_view piece;
  const LineRead result = reader.read(piece);
  input.line = strip_line_end(piece);
  return result;
}

void strip_line_end(std::string& text) {
  text.resize(strip_line_end(std::string_view(text)).size());
}

std::string_view strip_line_end(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool param_value(std::string_view line, std::string_view prefix, std::string_view& value) {
  return value_before_end(line.substr(prefix.size()), value);
}

bool value_before_end(std::string_view remainder, std::string_view& value) {
  value = remainder;
  const std::size_t n = value.size();
  if (n < 2 || value[n - 1] != '>' || value[n - 2] != '"') return false;
  value.remove_suffix(2);
  return true;
}

void report_detail(Report& report, std::string_view label, std::string_view text) {
  report.out.append(label).append(text).append("\n");
}

bool fail(Report& report, std::string_view message) {
  report.err.append("Error: ").append(message).append("\n");
  return false;
}

bool fail_junk_line(SitemapInput& input, std::string_view message) {
  close_conversion_files(input.files);
  report_detail(input.report, "Invalid line: ", input.line);
  return fail(input.report, message);
}

bool fail_closing(ConversionFiles& files, Report& report, std::string_view message) {
  close_conversion_files(files);
  return fail(report, message);
}

bool close_conversion_files(ConversionFiles& files) {
  files.contents->close();
  files.index->close();
  return files.output->close();
}

}  // namespace sitemap
