#include "keywords/index_table.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "io/sitemap_input.h"

namespace sitemap {

namespace {

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
    for (std::size_t i = from; i < from + 8; ++i) n = n << 8 | static_cast<unsigned char>(text[i]);
    return n;
  }
  for (std::size_t i = from; i < from + 8; ++i) {
    n = n << 8 | (i < text.size() ? static_cast<unsigned char>(text[i]) : 0u);
  }
  return n;
}

}  // namespace

IndexTable::Key IndexTable::key_of(std::string_view text) {
  static_assert(KEY_BYTES == 16, "a key is two 8-byte words");
  return {big_endian_bytes(text, 0), big_endian_bytes(text, 8)};
}

IndexTable::Load IndexTable::load(InputStream& stream) {
  // Room for the texts and for every Local line there can be (each takes at least 28 bytes):
  // untouched room costs nothing but address space.
  const std::size_t size = stream.size_hint();
  text_.reserve(size / 2);
  locals_.reserve(size / (LOCAL_LITERAL.size() + 1) + 1);
  sorted_keys_.reserve(size / (LOCAL_LITERAL.size() + 1) + 1);

  // The last four lines: where the steps past Local lines end from each (the line itself for a
  // line that is no Local line), and the text of each, kept in text_ only once a walk needs it.
  StoredEntry recent[4];
  std::string recent_text[4];
  bool recent_kept[4] = {true, true, true, true};
  // The entry of line n, when n is one of the last four lines or above line 1.
  const auto entry_of = [&](std::int64_t n) -> StoredEntry {
    if (n < 1) return {};
    const std::size_t slot = static_cast<std::size_t>(n) % 4;
    if (!recent_kept[slot]) {
      recent[slot].text = {text_.size(), static_cast<std::uint32_t>(recent_text[slot].size())};
      text_.append(recent_text[slot]);
      recent_kept[slot] = true;
    }
    return recent[slot];
  };

  LineReader reader(stream);
  std::int32_t depth = 0;
  for (;;) {
    std::string_view piece;
    const LineRead read = reader.read(piece);
    if (read == LineRead::error) return Load::read_failed;
    // A last piece shorter than a full one is delivered together with the end of the file, so
    // no scan ever examines it, and it is left out.
    if (read != LineRead::line) break;
    if (line_count_ == MAX_LINES) return Load::out_of_memory;
    const std::uint32_t number = ++line_count_;
    const std::string_view line = strip_line_end(piece);
    const IndexLineKind kind = classify(line);
    const std::size_t slot = number % 4;
    if (kind == IndexLineKind::list_start) {
      ++depth;
      // The climb to this list start goes on 4 lines above it: the parent entry.
      list_starts_[number % 5].push_back({number, entry_of(std::int64_t{number} - 4)});
    }
    if (kind == IndexLineKind::list_end) --depth;
    if (kind == IndexLineKind::local) {
      // Two lines up: that line when it is no Local line, else where its own steps ended.
      const StoredEntry entry = entry_of(std::int64_t{number} - 2);
      const std::string_view value = line.substr(LOCAL_LITERAL.size());
      sorted_keys_.push_back({key_of(value), static_cast<std::uint32_t>(value.size()),
                              static_cast<std::uint32_t>(locals_.size())});
      locals_.push_back(
          {text_.size(), static_cast<std::uint32_t>(value.size()), number, depth, entry});
      text_.append(value);
      recent[slot] = entry;
      recent_kept[slot] = true;
    } else {
      recent[slot] = {number, kind, {0, 0}};
      recent_text[slot].assign(line);
      recent_kept[slot] = false;
    }
  }
  sort_locals();
  return Load::done;
}

void IndexTable::sort_locals() {
  const char* const data = text_.data();
  const auto less = [&](const SortedKey& a, const SortedKey& b) {
    return value_less(a, b.key, b.value_size, [&] { return locals_[b.local].value(data); });
  };
  // A radix sort by the first 8 bytes of the texts, 16 bits a pass from the least significant,
  // leaves only runs of equal first bytes (a page and its anchors, as a rule) for the full
  // comparison; it touches no text and costs four passes over the keys. Below about as many
  // keys as a pass has counters, the counters cost more than they save.
  constexpr int DIGIT_BITS = 16;
  if (sorted_keys_.size() < (std::size_t{1} << DIGIT_BITS)) {
    std::sort(sorted_keys_.begin(), sorted_keys_.end(), less);
    sample_keys();
    return;
  }
  std::vector<SortedKey> spare(sorted_keys_.size());
  std::vector<std::uint32_t> counts(std::size_t{1} << DIGIT_BITS);
  for (int shift = 0; shift < 64; shift += DIGIT_BITS) {
    std::fill(counts.begin(), counts.end(), 0);
    for (const SortedKey& k : sorted_keys_) ++counts[(k.key.high >> shift) & 0xffff];
    std::uint32_t at = 0;
    for (std::uint32_t& c : counts) at += std::exchange(c, at);
    for (const SortedKey& k : sorted_keys_) spare[counts[(k.key.high >> shift) & 0xffff]++] = k;
    sorted_keys_.swap(spare);
  }
  spare = {};
  for (auto run = sorted_keys_.begin(); run != sorted_keys_.end();) {
    auto end = run + 1;
    while (end != sorted_keys_.end() && end->key.high == run->key.high) ++end;
    if (end - run > 1) std::sort(run, end, less);
    run = end;
  }
  sample_keys();
}

void IndexTable::sample_keys() {
  for (std::size_t i = 0; i < sorted_keys_.size(); i += SAMPLE_STEP) {
    sample_keys_.push_back(sorted_keys_[i].key);
  }
}

bool IndexTable::list_start_at_or_above(std::int64_t n, std::uint32_t& list_start,
                                        IndexEntry& parent) const {
  ++steps_taken_;
  if (n < 1) return false;
  const auto line = static_cast<std::uint32_t>(n);
  const std::vector<ListStart>& starts = list_starts_[line % 5];
  const auto above =
      std::upper_bound(starts.begin(), starts.end(), line,
                       [](std::uint32_t n, const ListStart& s) { return n < s.line; });
  if (above == starts.begin()) return false;
  const ListStart& found = *(above - 1);
  list_start = found.line;
  parent = {found.parent.line, found.parent.kind, text(found.parent.text)};
  return true;
}

template <typename Text>
bool IndexTable::value_less(const SortedKey& a, const Key& key, std::size_t size, Text text) const {
  if (a.key != key) return a.key < key;
  // Equal keys of texts no longer than a key are equal texts up to the shorter one's end.
  if (a.value_size <= KEY_BYTES && size <= KEY_BYTES) return a.value_size < size;
  return locals_[a.local].value(text_.data()) < text();
}

bool IndexTable::value_starts_with(const SortedKey& a, const Key& key, std::string_view ref) const {
  const Key& a_key = a.key;
  if (a.value_size < ref.size()) return false;
  const std::size_t n = std::min(ref.size(), KEY_BYTES);
  // Compare the first n bytes of the two keys, most significant first.
  const auto top = [](std::uint64_t word, std::size_t bytes) {
    return bytes == 0 ? 0 : word >> (8 * (8 - bytes));
  };
  const bool head_equal =
      n <= 8 ? top(a_key.high, n) == top(key.high, n)
             : a_key.high == key.high && top(a_key.low, n - 8) == top(key.low, n - 8);
  if (!head_equal) return false;
  return ref.size() <= KEY_BYTES ||
         locals_[a.local].value(text_.data()).substr(KEY_BYTES, ref.size() - KEY_BYTES) ==
             ref.substr(KEY_BYTES);
}

void IndexTable::find_locals(std::string_view ref, std::vector<LocalLine>& found) const {
  found.clear();
  const Key key = key_of(ref);
  // The first Local line whose text does not sort before the ref: all that start with it follow.
  // A sample key below the ref's key puts everything up to it before the ref, and one above it
  // everything from it on after.
  const auto first_not_below = std::lower_bound(sample_keys_.begin(), sample_keys_.end(), key);
  const auto first_above = std::upper_bound(first_not_below, sample_keys_.end(), key);
  std::size_t lo = first_not_below == sample_keys_.begin()
                       ? 0
                       : (first_not_below - sample_keys_.begin() - 1) * SAMPLE_STEP;
  std::size_t hi = first_above == sample_keys_.end()
                       ? sorted_keys_.size()
                       : static_cast<std::size_t>(first_above - sample_keys_.begin()) * SAMPLE_STEP;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (value_less(sorted_keys_[mid], key, ref.size(), [&] { return ref; })) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  for (std::size_t i = lo; i < sorted_keys_.size() && value_starts_with(sorted_keys_[i], key, ref);
       ++i) {
    const StoredLocal& it = locals_[sorted_keys_[i].local];
    // The caller reads every value and its entry's line next: ask for them all at once, so
    // that their cache misses overlap instead of queueing one behind the other.
    __builtin_prefetch(text_.data() + it.value_begin);
    __builtin_prefetch(text_.data() + it.entry.text.begin);
    found.push_back({it.line, it.list_depth, it.value(text_.data()), it.entry.line, it.entry.kind,
                     text(it.entry.text)});
  }
  std::sort(found.begin(), found.end(),
            [](const LocalLine& a, const LocalLine& b) { return a.line < b.line; });
}

}  // namespace sitemap
