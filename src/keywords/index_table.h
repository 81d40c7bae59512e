// The keyword index read once, line by line as the line reader delivers its lines, into what
// every lookup needs, so that none reads the file again: the Local lines with their values and
// the keyword paths their walks back found (walked as the lines were read), and the list start
// lines with the entry above each, which the walks climb to. Only those texts are kept, not the
// index itself.
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

struct KeywordWalk;

enum class IndexLineKind : std::uint8_t {
  other,
  list_start,
  list_end,
  name,
  local,
  // A Name line with a valid value, kept as that value alone: it is all a walk takes of it.
  keyword,
};

// Where a walk would have to go above line 1 of the index.
inline constexpr std::uint32_t ABOVE_FIRST_LINE = UINT32_MAX;
// Where a climb of a walk back would run off the top of the index.
inline constexpr std::uint32_t NO_CLIMB = UINT32_MAX;

// How the walk back from a Local line to its keyword path ended.
enum class WalkEnd : std::uint8_t {
  path,             // with the path
  junk,             // on a line it cannot use, which the run shows as it ends
  invalid_keyword,  // the same, on a keyword Name line whose value is invalid
};

// A Local line of the index as a lookup needs it.
struct LocalLine {
  std::uint32_t line;      // 1-based number
  std::string_view value;  // the text after the Local literal
  WalkEnd walk;
  // The keyword path, or the line a walk that failed stops on.
  std::string_view walk_text;
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
  std::size_t find_locals(std::string_view ref, std::vector<LocalLine>& found);
  // Records the lookup of a ref of `ref_size` bytes whose first match is at `first`; false when
  // the same ref has been looked up before. (A ref without matches needs no remembering:
  // looking it up again finds nothing again.)
  bool first_lookup(std::size_t first, std::size_t ref_size);

  // One climb of a walk back, from 2 lines above an entry: upwards by 5 to the first list start
  // line, and from 4 lines above it upwards by 2 past Local lines to the entry the list belongs
  // to. `climb` names the climb to take (the one from a Local line's entry, or the one
  // before) and becomes the climb from that parent entry. False when the climb runs off the top.
  // Every climb is found as the index is read, so a walk costs the same however many lines it
  // passes. Walks are made only while the index is read: the texts of the entries climbed to
  // may be let go after it.
  bool climb(std::uint32_t& climb, IndexEntry& parent) const;
  // How many steps have been answered; a test keeps the work per keyword in check with it.
  std::uint64_t steps_taken() const { return steps_taken_; }

 private:
  // 24 bytes of a text from the place where the Local values start to differ, zero-padded, as
  // three numbers whose order is the order of the texts wherever they differ there; pages and
  // their anchors mostly differ within 24 bytes, so most comparisons never touch the text
  // itself. (With 16 bytes the 100,000 pages under one long folder path took 8% more time,
  // and with the first 8 bytes alone the mixed project a quarter more.)
  static constexpr std::size_t KEY_WORDS = 3;
  static_assert(KEY_WORDS == 3, "the comparisons of keys below name each word");
  static constexpr std::size_t KEY_BYTES = 8 * KEY_WORDS;
  struct Key {
    std::uint64_t word[KEY_WORDS];  // most significant first

    // Word by word, written out: the library's generic forms took a call to memcmp or a loop
    // for every comparison of a search.
    bool operator!=(const Key& o) const {
      return ((word[0] ^ o.word[0]) | (word[1] ^ o.word[1]) | (word[2] ^ o.word[2])) != 0;
    }
    bool operator<(const Key& o) const {
      return word[0] != o.word[0]   ? word[0] < o.word[0]
             : word[1] != o.word[1] ? word[1] < o.word[1]
                                    : word[2] < o.word[2];
    }
    // Byte `i` of the key, most significant first.
    unsigned byte(std::size_t i) const { return (word[i / 8] >> (56 - 8 * (i % 8))) & 0xff; }
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
  // A walk's result: its keyword path, or the line it stopped on, as kept in text_.
  struct WalkSpan {
    Span text;
    WalkEnd walk;
  };
  struct ListStart {
    std::uint32_t line;
    std::uint32_t parent_climb;  // the climb from the parent entry
    StoredEntry parent;
  };
  // A Local line as the lookups use it. Read in line order, then sorted once by its value, so
  // that the matches of a ref are one stretch of records.
  struct Local {
    Key key;
    // The record packs its other fields into 24 bytes, for 48 in all instead of 56: the sort
    // moves every record a few times, and the room for records and their sort is fresh memory.
    // The value: its place among the texts (the low PLACE_BITS bits), how its walk ended (the
    // next 2) and its size (the top 16; a value is shorter than a line).
    std::uint64_t value_word;
    // The walk text's place (the low PLACE_BITS bits), and in the top 16 one plus the length of
    // the first ref looked up that matched first here, or 0 (it fits, as a ref is no longer than
    // a line). Kept here because the search has just read the record: a separate table of
    // lookups cost a cache miss each (6% of the run).
    std::uint64_t walk_word;
    std::uint32_t walk_text_size;
    std::uint32_t line;

    static constexpr int PLACE_BITS = 46;
    static constexpr std::uint64_t PLACE_MASK = (std::uint64_t{1} << PLACE_BITS) - 1;

    Local() = default;
    Local(std::uint64_t value_begin, std::size_t value_size, std::uint64_t walk_text_begin,
          std::uint32_t walk_text_size, std::uint32_t line, WalkEnd walk)
        : key(),
          value_word(value_begin | std::uint64_t{static_cast<std::uint8_t>(walk)} << PLACE_BITS |
                     std::uint64_t{value_size} << 48),
          walk_word(walk_text_begin),
          walk_text_size(walk_text_size),
          line(line) {}
    std::uint64_t value_begin() const { return value_word & PLACE_MASK; }
    std::uint32_t value_size() const { return static_cast<std::uint32_t>(value_word >> 48); }
    WalkEnd walk() const { return static_cast<WalkEnd>((value_word >> PLACE_BITS) & 3); }
    std::uint64_t walk_text_begin() const { return walk_word & PLACE_MASK; }
    std::uint16_t looked_up() const { return static_cast<std::uint16_t>(walk_word >> 48); }
    void set_value_begin(std::uint64_t at) { value_word = (value_word & ~PLACE_MASK) | at; }
    void set_walk_text_begin(std::uint64_t at) { walk_word = (walk_word & ~PLACE_MASK) | at; }
    void set_looked_up(std::uint16_t n) {
      walk_word = (walk_word & PLACE_MASK) | std::uint64_t{n} << 48;
    }
    std::string_view value(const char* text) const { return {text + value_begin(), value_size()}; }
  };
  static_assert(sizeof(Local) == 48, "the record packs into 48 bytes");
  // The texts a record can point into: 64 TiB, far beyond any memory this runs in.
  static constexpr std::uint64_t MAX_TEXT = Local::PLACE_MASK;

  std::string_view text(const Span& t) const { return {text_.data() + t.begin, t.size}; }
  // Whether the value of `a` sorts before `tail`, a text past the shared prefix whose key is
  // `key`; `value_of` gives a's value, and is only asked for when the keys cannot decide.
  template <typename Value>
  bool tail_less(const Key& a_key, std::size_t a_size, const Key& key, std::string_view tail,
                 Value value_of) const;
  bool starts_with_tail(const Local& a, const Key& key, std::string_view tail) const;
  void sort_locals();
  // Gathers the texts or not, as the first lookups show, and lets the spare room go.
  void settle_texts();
  // Moves every record's texts into gathered_, in the order of the records, and lets text_ go.
  void gather_texts();
  bool less(const Local& a, const Local& b) const;
  // Sorts `n` Local lines whose keys agree in their first `byte` bytes into `locals`, or into
  // `spare` (which has room for as many) where `back` is false.
  void sort_locals_from(Local* locals, Local* spare, std::size_t n, std::size_t byte,
                        bool back) const;
  // Keeps a walk's path among the texts; where the path, or the line a failed walk stops on, lies.
  WalkSpan span_of(const KeywordWalk& walk);
  // Where a climb from the entry on line `entry_line` ends, among the list starts read so far.
  std::uint32_t climb_from(std::uint32_t entry_line) const;

  // The texts kept while the index is read: the Local values, their keyword paths, and the
  // lines walks stop on.
  LargeText text_;
  // The texts in the order of the index's lines are a cache miss apart for each match of a
  // lookup. The misses of one lookup's matches are all asked for at once and overlap, but one
  // lookup's misses wait for the last one's. So where the lookups have few matches each, every
  // record's value and keyword path are gathered side by side in the order of the records, once
  // the first lookups with matches (PROBE_LOOKUPS of them) have shown it, and a lookup's texts lie
  // together. On 100,000 pages with about 3 keywords each that cost 5.5 ms and saved 11; with 20
  // anchors a page the lookups already overlapped their misses, and it cost 8.5 ms for nothing.
  static constexpr std::uint32_t PROBE_LOOKUPS = 1024;
  static constexpr std::uint64_t GATHER_BELOW = 8;  // matches a lookup, on average
  std::uint32_t probe_length_ = PROBE_LOOKUPS;
  std::uint32_t probed_lookups_ = 0;
  std::uint64_t probed_matches_ = 0;
  LargeBuffer spare_room_;
  LargeBuffer gathered_;
  // Where the records' texts lie: in text_, or once gathered in gathered_.
  const char* texts() const {
    return gathered_.data() != nullptr ? gathered_.data() : text_.data();
  }
  std::uint32_t line_count_ = 0;

  // The list start lines, in line order; a climb names one by its place here.
  // In ordinary memory: they take a few hundred KB, and in huge pages each step of their growth
  // took a whole 2 MiB page (the 25,000-page project peaked at 17.0 MB instead of 15.3) for no
  // time that could be measured.
  std::vector<ListStart> list_starts_;
  // The places of the list starts by the remainder of their lines by 5: a climb in steps of 5
  // from n ends at the last of those with n's remainder at or above n.
  std::vector<std::uint32_t> starts_by_remainder_[5];
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
