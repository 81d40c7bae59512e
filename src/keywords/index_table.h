// The keyword index read once and split into the very lines the line reader would deliver, so
// that every lookup and every walk back works on line numbers without reading the file again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/streams.h"

namespace sitemap {

enum class IndexLineKind : std::uint8_t { other, list_start, list_end, name, local };

// Where a walk would have to go above line 1 of the index.
inline constexpr std::uint32_t ABOVE_FIRST_LINE = UINT32_MAX;

// A Local line of the index as a lookup needs it.
struct LocalLine {
  std::uint32_t line;       // 1-based number
  std::int32_t list_depth;  // reached by a scan from line 1 when it meets the line
  std::string_view value;   // the text after the Local literal
  // The first line upwards from line - 2, by 2, that is no Local line: as a rule the keyword
  // Name line of the entry. Known from the reading of the index, so that most walks never
  // look anything up in the table.
  std::uint32_t entry_line;
  IndexLineKind entry_kind;
  std::string_view entry_text;
};

// The bytes of the index, in memory of their own.
class IndexText {
 public:
  IndexText() = default;
  IndexText(const IndexText&) = delete;
  IndexText& operator=(const IndexText&) = delete;
  ~IndexText();

  enum class Read { done, failed, out_of_memory };
  // Reads the stream to its end; a stream that holds all its bytes in memory already lends
  // them instead, and must outlive this text.
  Read read_all(InputStream& stream);
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  bool grow(std::size_t capacity);

  char* owned_ = nullptr;  // the memory read into, when the bytes are not lent
  const char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

class IndexTable {
 public:
  // Line numbers and depths are kept in 32 bits, with room for the markers of the walk.
  static constexpr std::uint32_t MAX_LINES = INT32_MAX - 1;

  // Reads the whole stream and splits it. Out of memory also when it holds more than MAX_LINES
  // lines.
  enum class Load { done, read_failed, out_of_memory };
  Load load(InputStream& stream);

  std::uint32_t line_count() const { return static_cast<std::uint32_t>(kinds_.size()); }
  // Line n (1-based, at most line_count()), its line end stripped.
  std::string_view line(std::uint32_t n) const;
  IndexLineKind kind(std::uint32_t n) const { return kinds_[n - 1]; }

  // The Local lines whose text after the literal starts with `ref`, in line order.
  void find_locals(std::string_view ref, std::vector<LocalLine>& found) const;

  // The two steps of a walk back, each from line n (which may lie above line 1; never below the
  // last line) to ABOVE_FIRST_LINE when it runs off the top. Both answer at once, from what the
  // reading of the index recorded, however many lines they pass, so that long sub-lists and
  // entries with many pages cost no more per keyword than short ones.
  // Upwards by 2 from n: the first line that is no Local line.
  std::uint32_t non_local_at_or_above(std::int64_t n) const;
  // Upwards by 5 from n: the first list start line.
  std::uint32_t list_start_at_or_above(std::int64_t n) const;
  // How many steps have been answered; a test keeps the work per keyword in check with it.
  std::uint64_t steps_taken() const { return steps_taken_; }

 private:
  // The first 8 bytes of a text, zero-padded, as a number whose order is the order of the texts
  // wherever they differ there; most comparisons never touch the text itself. (A second word of
  // 8 bytes spared some text comparisons, but cost 5 MB on 300,000 Local lines.)
  struct Key {
    std::uint64_t high;

    bool operator!=(const Key& o) const { return high != o.high; }
    bool operator<(const Key& o) const { return high < o.high; }
  };
  static constexpr std::size_t KEY_BYTES = 8;
  static Key key_of(std::string_view text);

  // A Local line, kept in line order.
  struct StoredLocal {
    std::uint64_t value_begin;
    std::uint64_t entry_begin;
    std::uint32_t value_size;
    std::uint32_t entry_size;
    std::uint32_t line;
    std::int32_t list_depth;
    std::uint32_t entry_line;
    IndexLineKind entry_kind;

    std::string_view value(const char* text) const { return {text + value_begin, value_size}; }
  };
  // A Local line's place in the order of the texts after the literal: all that a search looks
  // at, apart from the lines themselves, which it reads only for its matches and for ties.
  struct SortedKey {
    Key key;
    std::uint32_t value_size;
    std::uint32_t local;  // position in locals_
  };

  std::uint64_t begin(std::uint32_t i) const { return block_base_[i >> BLOCK_BITS] + offsets_[i]; }
  // Whether the text of `a` sorts before the text of the given key and size; `text` produces
  // that text, and is only asked for when the keys cannot decide.
  template <typename Text>
  bool value_less(const SortedKey& a, const Key& key, std::size_t size, Text text) const;
  bool value_starts_with(const SortedKey& a, const Key& key, std::string_view ref) const;
  void sort_locals();
  void sample_keys();

  // Line starts are kept as 32-bit offsets from the start of their block of 2^16 lines: lines
  // are at most 32767 bytes long, so a block spans less than 4 GiB.
  static constexpr int BLOCK_BITS = 16;

  IndexText text_;
  std::vector<std::uint64_t> block_base_;
  std::vector<std::uint32_t> offsets_;  // line n starts at entry n - 1; one more for the end
  std::vector<IndexLineKind> kinds_;
  // The list start lines by their remainder by 5, in line order: a climb in steps of 5 from n
  // ends at the last of those with n's remainder at or above n. A table by line cost 4 bytes for
  // every line of the index; these cost 4 for every list start.
  std::vector<std::uint32_t> list_starts_[5];
  mutable std::uint64_t steps_taken_ = 0;
  std::vector<StoredLocal> locals_;
  std::vector<SortedKey> sorted_keys_;
  // Every SAMPLE_STEP-th key: small enough to stay in the cache, it narrows a search down to a
  // stretch of sorted_keys_ that the remaining steps cover with few cache misses.
  static constexpr std::size_t SAMPLE_STEP = 64;
  std::vector<Key> sample_keys_;
};

}  // namespace sitemap
