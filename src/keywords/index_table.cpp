#include "keywords/index_table.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "io/sitemap_input.h"
#include "keywords/keyword_path.h"

namespace sitemap {

namespace {

// The kind of a line, told by how it begins; its line end may still be on, as no literal
// holds a CR or LF.
IndexLineKind classify(std::string_view line) {
  // The literals differ in their second character, which picks the one test worth making.
  // (The list tests would come first, as in the scan; no line passes two of these tests.)
  if (line.size() < LIST_START_LITERAL.size() || line[0] != '<') return IndexLineKind::other;
  switch (line[1]) {
    case 'U':
      return line_starts_with(line, LIST_START_LITERAL) ? IndexLineKind::list_start
                                                        : IndexLineKind::other;
    case '/':
      return line_starts_with(line, LIST_END_LITERAL) ? IndexLineKind::list_end
                                                      : IndexLineKind::other;
    case 'P':
      if (line_starts_with(line, LOCAL_LITERAL)) return IndexLineKind::local;
      if (line_starts_with(line, NAME_LITERAL)) return IndexLineKind::name;
      return IndexLineKind::other;
    default:
      return IndexLineKind::other;
  }
}

std::uint64_t big_endian_bytes(std::string_view text, std::size_t from) {
  std::uint64_t n = 0;
  if (text.size() >= from + 8) {
    // Eight bytes at once, turned most significant first.
    unsigned char bytes[8];
    std::memcpy(bytes, text.data() + from, 8);
    for (const unsigned char b : bytes) n = n << 8 | b;
    return n;
  }
  for (std::size_t i = from; i < from + 8; ++i) {
    n = n << 8 | (i < text.size() ? static_cast<unsigned char>(text[i]) : 0u);
  }
  return n;
}

}  // namespace

IndexTable::Key IndexTable::key_of(std::string_view text) {
  Key key;
  for (std::size_t i = 0; i < KEY_WORDS; ++i) key.word[i] = big_endian_bytes(text, 8 * i);
  return key;
}

IndexTable::Load IndexTable::load(InputStream& stream) {
  // Room for the texts and for every Local line there can be (each takes at least 28 bytes):
  // untouched room costs nothing but address space.
  const std::size_t size = stream.size_hint();
  text_.reserve(size / 2);
  locals_.reserve(size / (LOCAL_LITERAL.size() + 1) + 1);
  // How many bytes all values read so far share with the first.
  std::size_t shared = 0;

  // The last four lines: where the steps past Local lines end from each (the line itself for a
  // line that is no Local line). The text of each stays in the line reader for four lines and
  // is kept in text_ only once a walk needs it: most lines are never needed, and copying every
  // one cost 3% of the run.
  LineReader reader(stream, 4);
  StoredEntry recent[4];
  bool recent_kept[4] = {true, true, true, true};
  std::uint32_t number = 0;
  // The entry of line n, when n is one of the last four lines or above line 1.
  const auto entry_of = [&](std::int64_t n) -> StoredEntry {
    if (n < 1) return {};
    const std::size_t slot = static_cast<std::size_t>(n) % 4;
    if (!recent_kept[slot]) {
      std::string_view line = strip_line_end(reader.recent(number - static_cast<std::uint32_t>(n)));
      // Of a keyword the walks take only the name; a line they stop on is shown whole.
      std::string_view name;
      if (recent[slot].kind == IndexLineKind::name && param_value(line, NAME_LITERAL, name)) {
        recent[slot].kind = IndexLineKind::keyword;
        line = name;
      }
      recent[slot].text = {text_.size(), static_cast<std::uint32_t>(line.size())};
      text_.append(line);
      recent_kept[slot] = true;
    }
    return recent[slot];
  };

  // The walk of the last Local line: the next one, as a rule of the same entry at the same
  // depth, walks the same way.
  KeywordWalk walk;
  std::uint32_t walked_entry = 0;
  std::int32_t walked_depth = 0;
  WalkSpan walked{};

  std::int32_t depth = 0;
  for (;;) {
    std::string_view piece;
    const LineRead read = reader.read(piece);
    if (read == LineRead::error) return Load::read_failed;
    // A last piece shorter than a full one is delivered together with the end of the file, so
    // no scan ever examines it, and it is left out.
    if (read != LineRead::line) break;
    if (line_count_ == MAX_LINES) return Load::out_of_memory;
    number = ++line_count_;
    // The kinds are told by how lines begin, so the line end stays on until a Local line's
    // value needs it off: most lines are never looked at again.
    const IndexLineKind kind = classify(piece);
    const std::size_t slot = number % 4;
    if (kind == IndexLineKind::list_start) {
      ++depth;
      // The climb to this list start goes on 4 lines above it: the parent entry.
      const StoredEntry parent = entry_of(std::int64_t{number} - 4);
      const std::uint32_t parent_climb = climb_from(parent.line);
      starts_by_remainder_[number % 5].push_back(static_cast<std::uint32_t>(list_starts_.size()));
      list_starts_.push_back({number, parent_climb, parent});
    }
    if (kind == IndexLineKind::list_end) --depth;
    if (kind == IndexLineKind::local) {
      // Two lines up: that line when it is no Local line, else where its own steps ended.
      const StoredEntry entry = entry_of(std::int64_t{number} - 2);
      const std::string_view value = strip_line_end(piece).substr(LOCAL_LITERAL.size());
      if (locals_.empty()) {
        shared = value.size();
      } else {
        const std::string_view first = locals_.front().value(text_.data());
        shared = std::min(shared, value.size());
        shared = static_cast<std::size_t>(
            std::mismatch(first.begin(), first.begin() + shared, value.begin()).first -
            first.begin());
      }
      if (locals_.empty() || entry.line != walked_entry || depth != walked_depth) {
        if (depth <= 1 && entry.kind == IndexLineKind::keyword) {
          // A keyword at the top level is its own path: the walk would take it and stop.
          walked = {entry.text, WalkEnd::path};
        } else {
          // A walk at the top level climbs nowhere.
          walk_keyword_path(*this, {entry.line, entry.kind, text(entry.text)},
                            depth > 1 ? climb_from(entry.line) : NO_CLIMB, depth, walk);
          walked = span_of(walk);
        }
        walked_entry = entry.line;
        walked_depth = depth;
      }
      // The key waits for the sort, when the bytes all values share are known.
      if (text_.size() + value.size() > MAX_TEXT) return Load::out_of_memory;
      locals_.emplace_back(text_.size(), value.size(), walked.text.begin, walked.text.size, number,
                           walked.walk);
      text_.append(value);
      recent[slot] = entry;
      recent_kept[slot] = true;
    } else {
      recent[slot] = {number, kind, {0, 0}};
      recent_kept[slot] = false;
    }
  }
  if (!locals_.empty()) shared_prefix_ = locals_.front().value(text_.data()).substr(0, shared);
  sort_locals();
  return Load::done;
}

bool IndexTable::less(const Local& a, const Local& b) const {
  if (a.key != b.key) return a.key < b.key;
  // Equal keys of tails no longer than a key are equal tails up to the shorter one's end.
  const std::size_t shared = shared_prefix_.size();
  if (a.value_size() - shared <= KEY_BYTES && b.value_size() - shared <= KEY_BYTES) {
    return a.value_size() < b.value_size();
  }
  return a.value(text_.data()).substr(shared) < b.value(text_.data()).substr(shared);
}

void IndexTable::sort_locals() {
  const std::size_t shared = shared_prefix_.size();
  for (Local& it : locals_) it.key = key_of(it.value(text_.data()).substr(shared));
  // The spare room is not cleared first: the sort writes each record there before reading it.
  LargeBuffer room(locals_.size() * sizeof(Local));
  Local* const spare = reinterpret_cast<Local*>(room.data());
  std::uninitialized_default_construct_n(spare, locals_.size());
  sort_locals_from(locals_.data(), spare, locals_.size(), 0, true);
  for (std::size_t i = 0; i < locals_.size(); i += SAMPLE_STEP) {
    sample_keys_.push_back(locals_[i].key);
  }
  // Kept for the texts, should the first lookups show that gathering them pays.
  spare_room_ = std::move(room);
  // A small table is decided on sooner: whichever way, its lookups cost next to nothing.
  probe_length_ = static_cast<std::uint32_t>(
      std::min<std::size_t>(PROBE_LOOKUPS, locals_.size() / GATHER_BELOW + 1));
}

void IndexTable::settle_texts() {
  if (probed_matches_ < GATHER_BELOW * probe_length_) gather_texts();
  spare_room_ = LargeBuffer();
}

void IndexTable::gather_texts() {
  std::size_t size = 0;
  for (const Local& it : locals_) size += std::size_t{it.value_size()} + it.walk_text_size;
  if (size > MAX_TEXT) throw std::bad_alloc();
  // The sort's spare room has been written already, so it costs no page faults; where the
  // texts do not fit in it, it goes before their room is taken.
  LargeBuffer gathered = std::move(spare_room_);
  if (gathered.size() < size) {
    gathered = LargeBuffer();
    gathered = LargeBuffer(size);
  }
  char* to = gathered.data();
  // Each record's texts are a cache miss or two away here too, but nothing waits for one copy
  // before the next begins, and the records well ahead are asked for in advance. (Ahead by 32
  // instead of 8, and copied without a call to memcpy: 3 ms less on 100,000 pages.)
  constexpr std::size_t AHEAD = 32;
  for (std::size_t i = 0; i < locals_.size(); ++i) {
    if (i + AHEAD < locals_.size()) {
      const Local& ahead = locals_[i + AHEAD];
      __builtin_prefetch(text_.data() + ahead.value_begin());
      __builtin_prefetch(text_.data() + ahead.walk_text_begin());
    }
    Local& it = locals_[i];
    copy_bytes(text_.data() + it.value_begin(), it.value_size(), to);
    it.set_value_begin(static_cast<std::uint64_t>(to - gathered.data()));
    to += it.value_size();
    copy_bytes(text_.data() + it.walk_text_begin(), it.walk_text_size, to);
    it.set_walk_text_begin(static_cast<std::uint64_t>(to - gathered.data()));
    to += it.walk_text_size;
  }
  gathered_ = std::move(gathered);
  text_ = LargeText();
}

void IndexTable::sort_locals_from(Local* locals, Local* spare, std::size_t n, std::size_t byte,
                                  bool back) const {
  // A radix sort from the most significant byte of the keys, one byte a pass: the records are
  // only moved, never compared, until the stretches that agree so far are few or their keys
  // are used up. Each pass moves the records between `locals` and `spare`, and the next one
  // back, so no pass copies them back only to be where they started; `back` says where the
  // sorted records must end: in `locals`, or in the same places of `spare`. Each stretch soon
  // fits in the cache, so only the first passes go to memory. (Sorting by the first 8 bytes
  // from the least significant end, 16 bits a pass, and comparing the runs that were left took
  // 28 ms on the 100,000 pages under one long folder path, where most of the first 8 bytes are
  // the same; this takes 18 ms there and as long as that did on the other shapes. In place,
  // without the spare room, it took half as long again.)
  constexpr std::size_t FEW = 16;
  const auto by_value = [this](const Local& a, const Local& b) { return less(a, b); };
  if (n <= FEW || byte == KEY_BYTES) {
    std::sort(locals, locals + n, by_value);
    if (!back) std::copy(locals, locals + n, spare);
    return;
  }
  // Only the values of the byte that occur are gone through: most stretches are a page and its
  // anchors, a few records whose bytes are a few letters or digits, and going through all 256
  // for each took half the sort of the 20,000 pages with 20 anchors each.
  std::uint32_t count[256];
  unsigned lowest = 255;
  unsigned highest = 0;
  const auto count_byte = [&] {
    std::fill(std::begin(count), std::end(count), 0);
    lowest = 255;
    highest = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const unsigned digit = locals[i].key.byte(byte);
      ++count[digit];
      lowest = std::min(lowest, digit);
      highest = std::max(highest, digit);
    }
  };
  count_byte();
  if (lowest == highest) {
    // All agree in this byte too: one pass finds the first byte in which any key differs from
    // the first one, where a count of each byte would cost a pass each.
    std::uint64_t differ[KEY_WORDS] = {};
    for (std::size_t i = 1; i < n; ++i) {
      for (std::size_t w = byte / 8; w < KEY_WORDS; ++w) {
        differ[w] |= locals[i].key.word[w] ^ locals[0].key.word[w];
      }
    }
    byte = KEY_BYTES;
    for (std::size_t w = 0; w < KEY_WORDS; ++w) {
      if (differ[w] != 0) {
        byte = 8 * w + static_cast<std::size_t>(__builtin_clzll(differ[w])) / 8;
        break;
      }
    }
    if (byte == KEY_BYTES) {
      // The keys are used up: only the texts can tell these apart.
      std::sort(locals, locals + n, by_value);
      if (!back) std::copy(locals, locals + n, spare);
      return;
    }
    count_byte();
  }
  std::size_t next[256];
  for (std::size_t c = lowest, at = 0; c <= highest; at += count[c++]) next[c] = at;
  for (std::size_t i = 0; i < n; ++i) spare[next[locals[i].key.byte(byte)]++] = locals[i];
  for (std::size_t c = lowest, start = 0; c <= highest; start += count[c++]) {
    if (count[c] == 1 && back) locals[start] = spare[start];
    if (count[c] > 1) sort_locals_from(spare + start, locals + start, count[c], byte + 1, !back);
  }
}

std::uint32_t IndexTable::climb_from(std::uint32_t entry_line) const {
  const std::int64_t n = std::int64_t{entry_line} - 2;
  if (entry_line == ABOVE_FIRST_LINE || n < 1) return NO_CLIMB;
  const std::vector<std::uint32_t>& starts = starts_by_remainder_[n % 5];
  // As a rule the entry lies a few lines above the line that asks for its climb, and the climb
  // ends on the last list start read so far or one of the last few. Else a search finds it.
  auto above = starts.end();
  for (int tries = 0; tries < 4 && above != starts.begin(); ++tries, --above) {
    if (list_starts_[*(above - 1)].line <= n) return *(above - 1);
  }
  above = std::upper_bound(starts.begin(), above, n, [&](std::int64_t n, std::uint32_t s) {
    return n < list_starts_[s].line;
  });
  return above == starts.begin() ? NO_CLIMB : *(above - 1);
}

IndexTable::WalkSpan IndexTable::span_of(const KeywordWalk& walk) {
  if (walk.end == WalkEnd::path) {
    // A path of one name is part of an entry's line, kept already.
    const auto address = [](const char* p) { return reinterpret_cast<std::uintptr_t>(p); };
    const std::uintptr_t at = address(walk.path.data()) - address(text_.data());
    if (address(walk.path.data()) >= address(text_.data()) && at <= text_.size()) {
      return {{at, static_cast<std::uint32_t>(walk.path.size())}, walk.end};
    }
    const Span path{text_.size(), static_cast<std::uint32_t>(walk.path.size())};
    text_.append(walk.path);
    return {path, walk.end};
  }
  // The line a failed walk stops on is one of the texts kept, or none.
  if (walk.junk_line.empty()) return {{0, 0}, walk.end};
  return {{static_cast<std::uint64_t>(walk.junk_line.data() - text_.data()),
           static_cast<std::uint32_t>(walk.junk_line.size())},
          walk.end};
}

bool IndexTable::climb(std::uint32_t& climb, IndexEntry& parent) const {
  ++steps_taken_;
  if (climb == NO_CLIMB) return false;
  const ListStart& found = list_starts_[climb];
  parent = {found.parent.line, found.parent.kind, text(found.parent.text)};
  climb = found.parent_climb;
  return true;
}

template <typename Value>
bool IndexTable::tail_less(const Key& a_key, std::size_t a_size, const Key& key,
                           std::string_view tail, Value value_of) const {
  if (a_key != key) return a_key < key;
  // Equal keys of tails no longer than a key are equal tails up to the shorter one's end.
  const std::size_t shared = shared_prefix_.size();
  if (a_size - shared <= KEY_BYTES && tail.size() <= KEY_BYTES) {
    return a_size - shared < tail.size();
  }
  return value_of().substr(shared) < tail;
}

bool IndexTable::starts_with_tail(const Local& a, const Key& key, std::string_view tail) const {
  const Key& a_key = a.key;
  if (a.value_size() - shared_prefix_.size() < tail.size()) return false;
  // Compare the first bytes of the two keys, as many as the tail has, most significant first.
  for (std::size_t i = 0, left = std::min(tail.size(), KEY_BYTES); left > 0; ++i) {
    const std::size_t bytes = std::min<std::size_t>(left, 8);
    if ((a_key.word[i] ^ key.word[i]) >> (8 * (8 - bytes)) != 0) return false;
    left -= bytes;
  }
  return tail.size() <= KEY_BYTES ||
         a.value(texts()).substr(shared_prefix_.size() + KEY_BYTES, tail.size() - KEY_BYTES) ==
             tail.substr(KEY_BYTES);
}

bool IndexTable::first_lookup(std::size_t first, std::size_t ref_size) {
  static_assert(LINE_READ_MAX < UINT16_MAX,
                "a value's size, or a ref's length and one more, fit in 16 bits");
  Local& record = locals_[first];
  if (record.looked_up() == ref_size + 1) return false;
  if (record.looked_up() == 0) {
    record.set_looked_up(static_cast<std::uint16_t>(ref_size + 1));
    return true;
  }
  return other_lookups_.insert(first, ref_size);
}

std::size_t IndexTable::find_locals(std::string_view ref, std::vector<LocalLine>& found) {
  found.clear();
  if (locals_.empty()) return NO_MATCH;
  // Every value starts with the shared prefix: a ref within it matches all of them or none,
  // and a longer one is searched for by what follows the prefix.
  const std::size_t shared = shared_prefix_.size();
  const std::size_t head = std::min(ref.size(), shared);
  if (ref.substr(0, head) != std::string_view(shared_prefix_).substr(0, head)) return NO_MATCH;
  std::size_t lo = 0;
  std::size_t end = locals_.size();
  if (ref.size() > shared) {
    const std::string_view tail = ref.substr(shared);
    const Key key = key_of(tail);
    // The first Local line whose value does not sort before the ref: all that start with it
    // follow. A sample key below the ref's key puts everything up to it before the ref, and
    // one above it everything from it on after.
    // Both searches halve their stretch by a choice the compiler makes without a jump, where
    // the library's search jumps on every comparison. (Counted with cachegrind on the
    // 100,000-page project: 14 million instructions fewer, 2% of the run.)
    const Key* sample = sample_keys_.data();
    for (std::size_t n = sample_keys_.size(); n > 1;) {
      const std::size_t half = n / 2;
      sample = sample[half - 1] < key ? sample + half : sample;
      n -= half;
    }
    const std::size_t first_not_below =
        static_cast<std::size_t>(sample - sample_keys_.data()) + (*sample < key ? 1 : 0);
    // Samples equal to the key, rare: the ref may sort after any of them, past their keys.
    std::size_t first_above = first_not_below;
    while (first_above < sample_keys_.size() && !(key < sample_keys_[first_above])) ++first_above;
    lo = first_not_below == 0 ? 0 : (first_not_below - 1) * SAMPLE_STEP;
    const std::size_t hi =
        first_above == sample_keys_.size() ? locals_.size() : first_above * SAMPLE_STEP;
    for (std::size_t n = hi - lo; n > 0;) {
      const std::size_t half = n / 2;
      const Local& it = locals_[lo + half];
      const bool below =
          tail_less(it.key, it.value_size(), key, tail, [&] { return it.value(texts()); });
      lo = below ? lo + half + 1 : lo;
      n = below ? n - half - 1 : half;
    }
    end = lo;
    while (end < locals_.size() && starts_with_tail(locals_[end], key, tail)) ++end;
  }
  if (lo == end) return NO_MATCH;
  if (probed_lookups_ < probe_length_) {
    ++probed_lookups_;
    probed_matches_ += end - lo;
    if (probed_lookups_ == probe_length_) settle_texts();
  }
  const char* const texts = this->texts();
  for (std::size_t i = lo; i < end; ++i) {
    const Local& it = locals_[i];
    // The caller reads every value and its keyword path next: ask for them all at once, so
    // that their cache misses overlap instead of queueing one behind the other.
    __builtin_prefetch(texts + it.value_begin() + it.value_size() - 1);
    __builtin_prefetch(texts + it.walk_text_begin());
    // Filled in place: a record built aside was written in parts and read back whole, which
    // the processor cannot forward (11% of the time in this function).
    LocalLine& match = found.emplace_back();
    match.line = it.line;
    match.value = it.value(texts);
    match.walk = it.walk();
    match.walk_text = {texts + it.walk_text_begin(), it.walk_text_size};
  }
  std::sort(found.begin(), found.end(),
            [](const LocalLine& a, const LocalLine& b) { return a.line < b.line; });
  return lo;
}

}  // namespace sitemap
