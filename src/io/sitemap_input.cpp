#include "io/sitemap_input.h"

#include <algorithm>
#include <cstring>

namespace sitemap {

namespace {
// Bytes asked of the stream at a time, at least; large reads keep system calls rare on big
// inputs.
constexpr std::size_t READ_BLOCK = 64 * 1024;
}  // namespace

LineReader::LineReader(InputStream& stream, std::size_t keep)
    : stream_(stream),
      keep_(std::min(keep, KEEP_MAX)),
      // The kept pieces and the current one, at their longest, and a read.
      capacity_((keep_ + 1) * LINE_READ_MAX + READ_BLOCK),
      block_(new char[capacity_]) {}

std::uint64_t line_feeds_in_words(const char* bytes) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) {
    std::uint64_t word;
    std::memcpy(&word, bytes + 8 * i, 8);
    // A byte of `zero` is 0 where the byte was a line feed; its top bit then marks it, with no
    // carry from one byte into the next.
    const std::uint64_t zero = word ^ 0x0a0a0a0a0a0a0a0au;
    const std::uint64_t low = 0x7f7f7f7f7f7f7f7fu;
    const std::uint64_t marks = ~(((zero & low) + low) | zero | low);
    for (int b = 0; b < 8; ++b) bits |= ((marks >> (8 * b + 7)) & 1u) << (8 * i + b);
  }
  return bits;
}

LineRead LineReader::read_on(std::string_view& line) {
  const LineRead read = read_piece(line);
  // The line feeds are looked for again from here.
  scanned_ = pos_;
  line_feeds_ = 0;
  return read;
}

LineRead LineReader::read_piece(std::string_view& line) {
  std::size_t start = pos_;
  for (;;) {
    const std::size_t take = std::min(end_ - pos_, LINE_READ_MAX - (pos_ - start));
    const void* lf = std::memchr(block_.get() + pos_, '\n', take);
    pos_ = lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - block_.get()) + 1
                         : pos_ + take;
    // A full piece ends here without asking the stream for more, so it never meets the end.
    if (lf != nullptr || pos_ - start == LINE_READ_MAX)
      return hand_out(line, start, LineRead::line);
    if (!refill(start)) {
      if (failed_) {
        line = {};
        return LineRead::error;
      }
      if (pos_ == start) {
        line = {};
        return LineRead::end;
      }
      return hand_out(line, start, LineRead::last_line);
    }
  }
}

bool LineReader::refill(std::size_t& start) {
  if (at_end_) return false;
  // What must stay: the kept pieces and the one begun.
  std::size_t from = start;
  for (std::size_t back = 1; back <= keep_ && back <= count_; ++back) {
    from = std::min(from, begins_[(count_ - back) % PIECES]);
  }
  if (from > 0) {
    std::memmove(block_.get(), block_.get() + from, end_ - from);
    for (std::size_t& begin : begins_) begin -= std::min(begin, from);
    start -= from;
    pos_ -= from;
    end_ -= from;
  }
  const long got = stream_.read(block_.get() + end_, capacity_ - end_);
  if (got <= 0) {
    at_end_ = true;
    failed_ = got < 0;
    return false;
  }
  end_ += static_cast<std::size_t>(got);
  return true;
}

SitemapInput::SitemapInput(ConversionFiles& f, Report& r)
    : files(f), report(r), contents(*f.contents, 2) {}

LineRead read_sitemap_line(SitemapInput& input, LineReader& reader) {
  std::string_view piece;
  const LineRead result = reader.read(piece);
  input.line = strip_line_end(piece);
  return result;
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
