// The keyword index read once, line by line as the line reader delivers its lines, into what
// every lookup and every walk back needs, so that neither reads the file again: the Local lines
// with their values and where their walks start, and the list start lines with the entry above
// each. Only those texts are kept, not the index itself.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "io/large_memory.h"
#include "io/streams.h"
#include "keywords/lookup_set.h"

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

  // The Local lines whose text after the literal starts with `ref`, in line order. Returns the
  // place of the first of them in the order of the texts (NO_MATCH when there is none): two
  // refs that match at the same place and are as long as each other are the same text.
  static constexpr std::size_t NO_MATCH = SIZE_MAX;
  std::size_t find_locals(std::string_view ref, std::vector<LocalLine>& found) const;
  // Records the lookup of a ref of `ref_size` bytes whose first match is at `first`; false when
  // the same ref has been looked up before. (A ref without matches needs no remembering:
  // looking it up again finds nothing again.)
  bool first_lookup(std::size_t first, std::size_t ref_size);

  // The climb of a walk back: upwards by 5 from line n (which may lie above line 1; never below
  // the last line), the first list start line, and where the steps upwards by 2 from 4 lines
  // above it past Local lines end: the entry the list belongs to. False when the climb runs off
  // the top. Answered at once, from what the reading of the index recorded, however many lines
  // it passes, so that long sub-lists cost no more per keyword than short ones.
  bool list_start_at_or_above(std::int64_t n, std::uint32_t& list_start, IndexEntry& parent) const;
  // How many steps have been answered; a test keeps the work per keyword in check with it.
  std::uint64_t steps_taken() const { return steps_taken_; }

 private:
  // 24 bytes of a text from the place where the Local values start to differ, zero-padded, as
  // three numbers whose order is the order of the texts wherever they differ there; pages and
  // their anchors mostly differ within 24 bytes, so most comparisons never touch the text
  // itself. (With 16 bytes the 100,000 pages under one long folder path took 8% more time,
  // and with the first 8 bytes alone the mixed project a quarter more.)
  static constexpr std::size_t KEY_WORDS = 3;
  static constexpr std::size_t KEY_BYTES = 8 * KEY_WORDS;
  struct Key {
    std::uint64_t word[KEY_WORDS];  // most significant first

    bool operator!=(const Key& o) const {
      return !std::equal(std::begin(word), std::end(word), std::begin(o.word));
    }
    bool operator<(const Key& o) const {
      return std::lexicographical_compare(std::begin(word), std::end(word), std::begin(o.word),
                                          std::end(o.word));
    }
  };
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
  // A Local line as the reading of the index records it, in line order.
  struct LoadedLocal {
    Span value;
    std::uint32_t line;
    std::int32_t list_depth;
    StoredEntry entry;
  };
  struct ListStart {
    std::uint32_t line;
    StoredEntry parent;
  };
  // A Local line's place in the order of the values, for the sort.
  struct SortedKey {
    Key key;
    std::uint32_t value_size;
    std::uint32_t local;  // position in the loaded locals
  };
  // A Local line as the lookups use it, kept in the order of the values, so that the matches of
  // a ref are one stretch of records.
  struct Local {
    Key key;
    std::uint64_t text_begin;
    std::uint64_t entry_begin;
    std::uint32_t value_size;
    std::uint32_t line;
    std::int32_t list_depth;
    std::uint32_t entry_line;
    std::uint16_t entry_size;  // a line is shorter than LINE_READ_MAX
    IndexLineKind entry_kind;
    // One plus the length of the first ref looked up that matched first here, or 0; it fits,
    // as a ref is no longer than a line. Kept here because the search has just read the
    // record: a separate table of lookups cost a cache miss each (6% of the run).
    std::uint16_t looked_up = 0;

    std::string_view value(const char* text) const { return {text + text_begin, value_size}; }
  };

  std::string_view text(const Span& t) const { return {text_.data() + t.begin, t.size}; }
  // Whether the value of `a` sorts before `tail`, a text past the shared prefix whose key is
  // `key`; `value_of` gives a's value, and is only asked for when the keys cannot decide.
  template <typename Value>
  bool tail_less(const Key& a_key, std::size_t a_size, const Key& key, std::string_view tail,
                 Value value_of) const;
  bool starts_with_tail(const Local& a, const Key& key, std::string_view tail) const;
  void sort_locals(LargeVector<LoadedLocal>& loaded);

  // The texts kept: the Local values and the lines walks stop on.
  LargeString text_;
  std::uint32_t line_count_ = 0;
  // The list start lines by their remainder by 5, in line order: a climb in steps of 5 from n
  // ends at the last of those with n's remainder at or above n.
  std::vector<ListStart> list_starts_[5];
  mutable std::uint64_t steps_taken_ = 0;
  // The bytes every Local value starts with: keys are taken after them, so that pages under one
  // long folder path (reference/api/classes/...) are told apart by their keys all the same.
  std::string shared_prefix_;
  LargeVector<Local> locals_;
  // Every SAMPLE_STEP-th key: small enough to stay in the cache, it narrows a search down to a
  // stretch of locals_ that the remaining steps cover with few cache misses.
  static constexpr std::size_t SAMPLE_STEP = 64;
  std::vector<Key> sample_keys_;
  // The lookups of refs of other lengths that matched first where an earlier one did.
  LookupSet other_lookups_;
};

}  // namespace sitemap
