// The keyword index read once, line by line as the line reader delivers its lines, into what
// every lookup and every walk back needs, so that neither reads the file again: the Local lines
// with their values and where their walks start, and the list start lines with the entry above
// each. Only those texts are kept, not the index itself.
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

// A line that a walk back stops on: its number (ABOVE_FIRST_LINE where the walk would leave
// the file), its kind and its text.
struct IndexEntry {
  std::uint32_t line;
  IndexLineKind kind;
  std::string_view text;
};

class IndexTable {
 public:
  // Line numbers and depths are kept in 32 bits, with room for the markers of the walk.
  static constexpr std::uint32_t MAX_LINES = INT32_MAX - 1;

  // Reads the whole stream and splits it. Out of memory also when it holds more than MAX_LINES
  // lines.
  enum class Load { done, read_failed, out_of_memory };
  Load load(InputStream& stream);

  std::uint32_t line_count() const { return line_count_; }

  // The Local lines whose text after the literal starts with `ref`, in line order.
  void find_locals(std::string_view ref, std::vector<LocalLine>& found) const;

  // The climb of a walk back: upwards by 5 from line n (which may lie above line 1; never below
  // the last line), the first list start line, and where the steps upwards by 2 from 4 lines
  // above it past Local lines end: the entry the list belongs to. False when the climb runs off
  // the top. Answered at once, from what the reading of the index recorded, however many lines
  // it passes, so that long sub-lists cost no more per keyword than short ones.
  bool list_start_at_or_above(std::int64_t n, std::uint32_t& list_start, IndexEntry& parent) const;
  // How many steps have been answered; a test keeps the work per keyword in check with it.
  std::uint64_t steps_taken() const { return steps_taken_; }

 private:
  // The first 16 bytes of a text, zero-padded, as two numbers whose order is the order of the
  // texts wherever they differ; pages and their anchors mostly differ within 16 bytes, so most
  // comparisons never touch the text itself. (With the first 8 bytes alone the sort and the
  // searches took a quarter more time on the 100,000-page project.)
  struct Key {
    std::uint64_t high;
    std::uint64_t low;

    bool operator!=(const Key& o) const { return high != o.high || low != o.low; }
    bool operator<(const Key& o) const { return high != o.high ? high < o.high : low < o.low; }
  };
  static constexpr std::size_t KEY_BYTES = 16;
  static Key key_of(std::string_view text);

  // Where a text lies in text_.
  struct Span {
    std::uint64_t begin;
    std::uint32_t size;
  };
  // A line a walk stops on, as recorded.
  struct StoredEntry {
    std::uint32_t line = ABOVE_FIRST_LINE;
    IndexLineKind kind = IndexLineKind::other;
    Span text{0, 0};
  };
  // A Local line, kept in line order.
  struct StoredLocal {
    std::uint64_t value_begin;
    std::uint32_t value_size;
    std::uint32_t line;
    std::int32_t list_depth;
    StoredEntry entry;

    std::string_view value(const char* text) const { return {text + value_begin, value_size}; }
  };
  struct ListStart {
    std::uint32_t line;
    StoredEntry parent;
  };
  // A Local line's place in the order of the texts after the literal: all that a search looks
  // at, apart from the lines themselves, which it reads only for its matches and for ties.
  struct SortedKey {
    Key key;
    std::uint32_t value_size;
    std::uint32_t local;  // position in locals_
  };

  std::string_view text(const Span& t) const { return {text_.data() + t.begin, t.size}; }
  // Whether the text of `a` sorts before the text of the given key and size; `text` produces
  // that text, and is only asked for when the keys cannot decide.
  template <typename Text>
  bool value_less(const SortedKey& a, const Key& key, std::size_t size, Text text) const;
  bool value_starts_with(const SortedKey& a, const Key& key, std::string_view ref) const;
  void sort_locals();
  void sample_keys();

  // The texts kept: the Local values and the lines walks stop on, one after the other.
  std::string text_;
  std::uint32_t line_count_ = 0;
  // The list start lines by their remainder by 5, in line order: a climb in steps of 5 from n
  // ends at the last of those with n's remainder at or above n.
  std::vector<ListStart> list_starts_[5];
  mutable std::uint64_t steps_taken_ = 0;
  std::vector<StoredLocal> locals_;
  std::vector<SortedKey> sorted_keys_;
  // Every SAMPLE_STEP-th key: small enough to stay in the cache, it narrows a search down to a
  // stretch of sorted_keys_ that the remaining steps cover with few cache misses.
  static constexpr std::size_t SAMPLE_STEP = 64;
  std::vector<Key> sample_keys_;
};

}  // namespace sitemap
