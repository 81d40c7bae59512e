// Line input shared by both sitemap files, the line tests, and the two failure exits.
//
// Every decision of the converter is a test of the current line against one fixed literal.
// Lines are byte strings: no character set, no decoding, and a NUL byte is an ordinary byte.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "io/streams.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace sitemap {

// Capacity of the line buffer and of every value buffer, terminator included.
inline constexpr std::size_t LINE_CAPACITY = 32768;
// One read delivers at most this many bytes with the line feed counted among them, so a longer
// physical line arrives in pieces and each piece is a line of its own for every caller.
inline constexpr std::size_t LINE_READ_MAX = LINE_CAPACITY - 1;

// The line kinds, each recognised by one literal, case-sensitive, from the first column.
inline constexpr std::string_view OBJECT_LINE = "<LI> <OBJECT TYPE=\"TEXT/SITEMAP\">";
inline constexpr std::string_view NAME_LITERAL = "<PARAM NAME=\"Name\" VALUE=\"";
inline constexpr std::string_view LOCAL_LITERAL = "<PARAM NAME=\"Local\" VALUE=\"";
inline constexpr std::string_view OBJECT_END_LINE = "</OBJECT>";
inline constexpr std::string_view LIST_START_LITERAL = "<UL>";
inline constexpr std::string_view LIST_END_LITERAL = "</UL>";
inline constexpr std::string_view BODY_END_LINE = "</BODY>";

inline constexpr std::string_view CONTENTS_JUNK = "Junk line in Contents.hhc.";
inline constexpr std::string_view INDEX_JUNK = "Junk line in Index.hhk.";
inline constexpr std::string_view CONTENTS_READ_FAILED = "Failed to read Contents.hhc.";
inline constexpr std::string_view INDEX_READ_FAILED = "Failed to read Index.hhk.";
inline constexpr std::string_view OUT_OF_MEMORY = "Out of memory.";

// The three streams of one run, opened by the caller in this order and closed in the same order
// by the conversion, at its end or by the junk-line exit.
struct ConversionFiles {
  InputStream* contents = nullptr;
  InputStream* index = nullptr;
  OutputStream* output = nullptr;
};

// What the run has to print: detail lines for standard output, the error line for standard
// error. Collected here so that the conversion can run on in-memory inputs.
struct Report {
  std::string out;
  std::string err;
};

enum class Outcome { success, failure };

// How a read ended. `last_line` is a line that the read delivered while reaching the end of the
// file (a last line without a line feed, shorter than a full piece); `end` delivered nothing;
// `error` means the stream failed, which must never pass for the end of the file.
enum class LineRead { line, last_line, end, error };

// The line feeds among the 64 bytes at `bytes`, as bits: bit i for byte i; eight bytes at a
// time, for machines without the vector instructions below.
std::uint64_t line_feeds_in_words(const char* bytes);

// The line feeds among the 64 bytes at `bytes`, as bits: bit i for byte i.
inline std::uint64_t line_feeds_in(const char* bytes) {
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8('\n');
  std::uint64_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i));
    bits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, lf)))}
            << (16 * i);
  }
  return bits;
#else
  return line_feeds_in_words(bytes);
#endif
}

// Splits a stream into lines the way a length-limited line read does: a piece ends after its
// line feed or after LINE_READ_MAX bytes, whichever comes first, and the stream is asked for more
// bytes only when a piece needs them (so a full piece never reaches the end of the file).
//
// The pieces are handed out where they lie in the reader's block, and the last `keep` pieces
// before the current one stay there for recent() until they are older: a caller that may need a
// line a few lines later copies it only if it does.
class LineReader {
 public:
  static constexpr std::size_t KEEP_MAX = 4;
  explicit LineReader(InputStream& stream, std::size_t keep = 0);

  // Sets `line` to the next piece, line end included, valid until the next read (or while it is
  // among the kept ones). At the end `line` is empty.
  LineRead read(std::string_view& line) {
    // Most lines lie whole in the block, and are found by the line feeds of the 64 bytes they
    // end in, taken at once: one look at every 64 bytes instead of a call of memchr for each
    // line. (The conversion of the 100,000-page project from memory, best of 7: 77.6 ms with
    // memchr, 71.9 ms so.)
    const std::size_t start = pos_;
    for (;;) {
      if (line_feeds_ != 0) {
        const std::size_t lf =
            scanned_ - 64 + static_cast<std::size_t>(__builtin_ctzll(line_feeds_));
        if (lf - start >= LINE_READ_MAX) break;  // a piece ends before it: the long way
        line_feeds_ &= line_feeds_ - 1;
        pos_ = lf + 1;
        return hand_out(line, start, LineRead::line);
      }
      if (scanned_ + 64 > end_ || scanned_ + 64 - start > LINE_READ_MAX) break;
      line_feeds_ = line_feeds_in(block_.get() + scanned_);
      scanned_ += 64;
    }
    return read_on(line);
  }
  // The piece read `back` reads before the last one (1 to keep); empty where there was none.
  std::string_view recent(std::size_t back) const {
    if (count_ <= back) return {};
    // The pieces lie one after the other: each ends where the next begins.
    const std::size_t begin = begins_[(count_ - 1 - back) % PIECES];
    return {block_.get() + begin, begins_[(count_ - back) % PIECES] - begin};
  }

 private:
  // Reads on where the line feeds found so far end no piece: a piece that is longer, or one
  // that runs past what the block holds.
  LineRead read_on(std::string_view& line);
  // The next piece, the long way: memchr over what the block holds, refilling it as needed.
  LineRead read_piece(std::string_view& line);
  LineRead hand_out(std::string_view& line, std::size_t start, LineRead read) {
    line = std::string_view(block_.get() + start, pos_ - start);
    begins_[count_++ % PIECES] = start;
    return read;
  }
  // Moves the kept pieces and the piece begun at `start` to the front of the block, and reads
  // more after them; false at the end of the stream or on a read error.
  bool refill(std::size_t& start);

  InputStream& stream_;
  std::size_t keep_;
  std::size_t capacity_;
  std::unique_ptr<char[]> block_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  // The line feeds in [pos_, scanned_), as bits of the 64 bytes before scanned_.
  std::size_t scanned_ = 0;
  std::uint64_t line_feeds_ = 0;
  // Where the last pieces handed out begin, by their number modulo PIECES, and how many there
  // were.
  static constexpr std::size_t PIECES = 8;
  static_assert(PIECES > KEEP_MAX, "the kept pieces and the current one");
  std::size_t begins_[PIECES] = {};
  std::size_t count_ = 0;
  bool at_end_ = false;
  bool failed_ = false;
};

// The line input of one run: the files, the contents reader, the line buffer (the line the
// junk-line exit shows), and the report the exits write to.
struct SitemapInput {
  SitemapInput(ConversionFiles& files, Report& report);

  ConversionFiles& files;
  Report& report;
  // Keeps the last two lines read: an entry's title and ref stay where they lie until the
  // entry is written.
  LineReader contents;
  // The line the junk-line exit shows: the current contents line, or the index line a walk
  // stands on. It points into the reader's or the index's memory.
  std::string_view line;
};

// Reads the next line of `reader` into the line buffer and strips its line end.
LineRead read_sitemap_line(SitemapInput& input, LineReader& reader);

// Removes every trailing CR and LF, in any mix and number; blanks and tabs stay.
inline std::string_view strip_line_end(std::string_view text) {
  std::size_t size = text.size();
  while (size > 0 && (text[size - 1] == '\n' || text[size - 1] == '\r')) --size;
  return {text.data(), size};
}

inline bool line_is(std::string_view line, std::string_view literal) { return line == literal; }
inline bool line_starts_with(std::string_view line, std::string_view literal) {
  return line.substr(0, literal.size()) == literal;
}

// For a line that starts with `prefix`: the text after it, valid when it ends in the two
// characters `">`, which are cut off. An invalid value is handed back whole, for the message.
// Values are verbatim: no trimming, no decoding, no unescaping.
bool param_value(std::string_view line, std::string_view prefix, std::string_view& value);
// The same check on the text after the prefix.
bool value_before_end(std::string_view remainder, std::string_view& value);

// Appends one detail line ("Invalid title: ..." and its kin) for standard output.
void report_detail(Report& report, std::string_view label, std::string_view text);

// Records "Error: <message>" for standard error; always false, so callers can return it.
bool fail(Report& report, std::string_view message);

// For a line that breaks the grammar: closes the three streams, records "Invalid line: " with
// the line buffer, then fails with `message`. Always false.
bool fail_junk_line(SitemapInput& input, std::string_view message);

// For a failure that has no line to show (a read or write error, no memory): closes the three
// streams, then fails with `message`. Always false.
bool fail_closing(ConversionFiles& files, Report& report, std::string_view message);

// Closes contents, index and DCF, in this order. False when the DCF could not be completed.
bool close_conversion_files(ConversionFiles& files);

}  // namespace sitemap
