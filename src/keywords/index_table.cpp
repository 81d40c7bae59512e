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
  Key key;
  for (std::size_t i = 0; i < KEY_WORDS; ++i) key.word[i] = big_endian_bytes(text, 8 * i);
  return key;
}

IndexTable::Load IndexTable::load(InputStream& stream) {
  // Room for the texts and for every Local line there can be (each takes at least 28 bytes):
  // untouched room costs nothing but address space.
  const std::size_t size = stream.size_hint();
  text_.reserve(size / 2);
  LargeVector<LoadedLocal> loaded;
  loaded.reserve(size / (LOCAL_LITERAL.size() + 1) + 1);
  // How many bytes all values read so far share with the first.
  std::size_t shared = 0;

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
      if (loaded.empty()) {
        shared = value.size();
      } else {
        const std::string_view first = text(loaded.front().value);
        shared = std::min(shared, value.size());
        shared = static_cast<std::size_t>(
            std::mismatch(first.begin(), first.begin() + shared, value.begin()).first -
            first.begin());
      }
      loaded.push_back(
          {{text_.size(), static_cast<std::uint32_t>(value.size())}, number, depth, entry});
      text_.append(value);
      recent[slot] = entry;
      recent_kept[slot] = true;
    } else {
      recent[slot] = {number, kind, {0, 0}};
      recent_text[slot].assign(line);
      recent_kept[slot] = false;
    }
  }
  if (!loaded.empty()) shared_prefix_ = text(loaded.front().value).substr(0, shared);
  sort_locals(loaded);
  return Load::done;
}

void IndexTable::sort_locals(LargeVector<LoadedLocal>& loaded) {
  const std::size_t shared = shared_prefix_.size();
  LargeVector<SortedKey> keys;
  keys.reserve(loaded.size());
  for (std::size_t i = 0; i < loaded.size(); ++i) {
    const std::string_view value = text(loaded[i].value);
    keys.push_back({key_of(value.substr(shared)), static_cast<std::uint32_t>(value.size()),
                    static_cast<std::uint32_t>(i)});
  }
  const auto less = [&](const SortedKey& a, const SortedKey& b) {
    if (a.key != b.key) return a.key < b.key;
    // Equal keys of tails no longer than a key are equal tails up to the shorter one's end.
    if (a.value_size - shared <= KEY_BYTES && b.value_size - shared <= KEY_BYTES) {
      return a.value_size < b.value_size;
    }
    return text(loaded[a.local].value) < text(loaded[b.local].value);
  };
  // A radix sort by the first 8 bytes of the keys, 16 bits a pass from the least significant,
  // leaves only runs of equal first bytes (a page and its anchors, as a rule) for the full
  // comparison; it touches no text and costs four passes over the keys. Below about as many
  // keys as a pass has counters, the counters cost more than they save.
  constexpr int DIGIT_BITS = 16;
  if (keys.size() < (std::size_t{1} << DIGIT_BITS)) {
    std::sort(keys.begin(), keys.end(), less);
  } else {
    LargeVector<SortedKey> spare(keys.size());
    std::vector<std::uint32_t> counts(std::size_t{1} << DIGIT_BITS);
    for (int shift = 0; shift < 64; shift += DIGIT_BITS) {
      std::fill(counts.begin(), counts.end(), 0);
      for (const SortedKey& k : keys) ++counts[(k.key.word[0] >> shift) & 0xffff];
      std::uint32_t at = 0;
      for (std::uint32_t& c : counts) at += std::exchange(c, at);
      for (const SortedKey& k : keys) spare[counts[(k.key.word[0] >> shift) & 0xffff]++] = k;
      keys.swap(spare);
    }
    spare = {};
    for (auto run = keys.begin(); run != keys.end();) {
      auto end = run + 1;
      while (end != keys.end() && end->key.word[0] == run->key.word[0]) ++end;
      if (end - run > 1) std::sort(run, end, less);
      run = end;
    }
  }

  // The records in the order of the values: a lookup then reads its matches from one stretch
  // of records, and the records in line order are let go.
  locals_.reserve(keys.size());
  for (const SortedKey& k : keys) {
    const LoadedLocal& it = loaded[k.local];
    locals_.push_back({k.key, it.value.begin, it.entry.text.begin, it.value.size, it.line,
                       it.list_depth, it.entry.line, static_cast<std::uint16_t>(it.entry.text.size),
                       it.entry.kind});
  }
  for (std::size_t i = 0; i < locals_.size(); i += SAMPLE_STEP) {
    sample_keys_.push_back(locals_[i].key);
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
  if (a.value_size - shared_prefix_.size() < tail.size()) return false;
  // Compare the first bytes of the two keys, as many as the tail has, most significant first.
  for (std::size_t i = 0, left = std::min(tail.size(), KEY_BYTES); left > 0; ++i) {
    const std::size_t bytes = std::min<std::size_t>(left, 8);
    if ((a_key.word[i] ^ key.word[i]) >> (8 * (8 - bytes)) != 0) return false;
    left -= bytes;
  }
  return tail.size() <= KEY_BYTES ||
         a.value(text_.data()).substr(shared_prefix_.size() + KEY_BYTES, tail.size() - KEY_BYTES) ==
             tail.substr(KEY_BYTES);
}

bool IndexTable::first_lookup(std::size_t first, std::size_t ref_size) {
  static_assert(LINE_READ_MAX < UINT16_MAX, "a ref's length and one more fit in 16 bits");
  std::uint16_t& looked_up = locals_[first].looked_up;
  if (looked_up == ref_size + 1) return false;
  if (looked_up == 0) {
    looked_up = static_cast<std::uint16_t>(ref_size + 1);
    return true;
  }
  return other_lookups_.insert(first, ref_size);
}

std::size_t IndexTable::find_locals(std::string_view ref, std::vector<LocalLine>& found) const {
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
    const auto first_not_below = std::lower_bound(sample_keys_.begin(), sample_keys_.end(), key);
    const auto first_above = std::upper_bound(first_not_below, sample_keys_.end(), key);
    lo = first_not_below == sample_keys_.begin()
             ? 0
             : (first_not_below - sample_keys_.begin() - 1) * SAMPLE_STEP;
    std::size_t hi =
        first_above == sample_keys_.end()
            ? locals_.size()
            : static_cast<std::size_t>(first_above - sample_keys_.begin()) * SAMPLE_STEP;
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      const Local& it = locals_[mid];
      if (tail_less(it.key, it.value_size, key, tail, [&] { return it.value(text_.data()); })) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    end = lo;
    while (end < locals_.size() && starts_with_tail(locals_[end], key, tail)) ++end;
  }
  if (lo == end) return NO_MATCH;
  for (std::size_t i = lo; i < end; ++i) {
    const Local& it = locals_[i];
    // The caller reads every value and its entry's line next: ask for them all at once, so
    // that their cache misses overlap instead of queueing one behind the other.
    __builtin_prefetch(text_.data() + it.text_begin + it.value_size - 1);
    __builtin_prefetch(text_.data() + it.entry_begin);
    const std::string_view value = it.value(text_.data());
    found.push_back({it.line,
                     it.list_depth,
                     value,
                     it.entry_line,
                     it.entry_kind,
                     {text_.data() + it.entry_begin, it.entry_size}});
  }
  std::sort(found.begin(), found.end(),
            [](const LocalLine& a, const LocalLine& b) { return a.line < b.line; });
  return lo;
}

}  // namespace sitemap
