#include "keywords/index_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "io/sitemap_input.h"

namespace sitemap {

namespace {

// Bytes asked of the stream at a time once its announced size is used up (pipes announce none).
constexpr std::size_t READ_BLOCK = 1 << 20;

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

IndexText::~IndexText() {
  if (owned_ != nullptr) ::munmap(owned_, capacity_);
}

bool IndexText::grow(std::size_t capacity) {
  void* p = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return false;
  // Huge pages where the system allows them: the index is filled in 2 MiB steps instead of
  // 4 KiB ones, which takes 10,000 page faults off a 42 MB index.
  ::madvise(p, capacity, MADV_HUGEPAGE);
  if (owned_ != nullptr) {
    std::memcpy(p, owned_, size_);
    ::munmap(owned_, capacity_);
  }
  owned_ = static_cast<char*>(p);
  data_ = owned_;
  capacity_ = capacity;
  return true;
}

IndexText::Read IndexText::read_all(InputStream& stream) {
  std::string_view whole;
  if (stream.whole(whole)) {
    // Spares a copy of the whole index (and the page faults of fresh memory for it).
    data_ = whole.data();
    size_ = whole.size();
    return Read::done;
  }
  // The announced size plus one byte, so that a regular file ends in one read that meets its
  // end; streams that announce nothing grow by half each time.
  if (!grow(stream.size_hint() + 1)) return Read::out_of_memory;
  for (;;) {
    if (size_ == capacity_ && !grow(capacity_ + std::max(capacity_ / 2, READ_BLOCK))) {
      return Read::out_of_memory;
    }
    const long got = stream.read(owned_ + size_, capacity_ - size_);
    if (got == 0) return Read::done;
    if (got < 0) return Read::failed;
    size_ += static_cast<std::size_t>(got);
  }
}

IndexTable::Key IndexTable::key_of(std::string_view text) {
  static_assert(KEY_BYTES == 8, "a key is one 8-byte word");
  return {big_endian_bytes(text, 0)};
}

IndexTable::Load IndexTable::load(InputStream& stream) {
  switch (text_.read_all(stream)) {
    case IndexText::Read::done:
      break;
    case IndexText::Read::failed:
      return Load::read_failed;
    case IndexText::Read::out_of_memory:
      return Load::out_of_memory;
  }
  const char* const data = text_.data();
  const std::size_t size = text_.size();
  std::int32_t depth = 0;
  // Where the steps past Local lines end, for the line above the current one and the line
  // above that: the line itself for any line that is no Local line.
  struct Entry {
    std::uint32_t line = ABOVE_FIRST_LINE;
    IndexLineKind kind = IndexLineKind::other;
    std::uint64_t begin = 0;
    std::uint32_t size = 0;
  };
  Entry previous[2];
  // Room for the lines of a typical index without growing (untouched room costs nothing but
  // address space), and for every Local line there can be: each takes at least 28 bytes.
  offsets_.reserve(size / 16 + 2);
  kinds_.reserve(size / 16 + 1);
  locals_.reserve(size / (LOCAL_LITERAL.size() + 1) + 1);
  sorted_keys_.reserve(size / (LOCAL_LITERAL.size() + 1) + 1);
  std::size_t pos = 0;
  for (std::uint32_t i = 0;; ++i) {
    if ((i & ((1u << BLOCK_BITS) - 1)) == 0) block_base_.push_back(pos);
    offsets_.push_back(static_cast<std::uint32_t>(pos - block_base_.back()));
    if (pos == size) break;
    // The pieces of the line reader: up to and with a line feed, or LINE_READ_MAX bytes. A
    // shorter piece that runs into the end of the file is delivered together with the end, so
    // no scan ever examines it, and it is left out.
    const std::size_t take = std::min(size - pos, LINE_READ_MAX);
    const void* lf = std::memchr(data + pos, '\n', take);
    std::size_t end;
    if (lf != nullptr) {
      end = static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
    } else if (take == LINE_READ_MAX) {
      end = pos + take;
    } else {
      break;
    }
    if (i == MAX_LINES) return Load::out_of_memory;
    const std::string_view line = strip_line_end(std::string_view(data + pos, end - pos));
    const IndexLineKind kind = classify(line);
    const std::uint32_t number = i + 1;
    kinds_.push_back(kind);
    if (kind == IndexLineKind::list_start) list_starts_[number % 5].push_back(number);
    if (kind == IndexLineKind::list_start) ++depth;
    if (kind == IndexLineKind::list_end) --depth;

    Entry entry{number, kind, pos, static_cast<std::uint32_t>(line.size())};
    if (kind == IndexLineKind::local) {
      // Two lines up: that line when it is no Local line, else where its own steps ended.
      entry = previous[1];
      const std::string_view value = line.substr(LOCAL_LITERAL.size());
      sorted_keys_.push_back({key_of(value), static_cast<std::uint32_t>(value.size()),
                              static_cast<std::uint32_t>(locals_.size())});
      locals_.push_back({static_cast<std::uint64_t>(value.data() - data), entry.begin,
                         static_cast<std::uint32_t>(value.size()), entry.size, number, depth,
                         entry.line, entry.kind});
    }
    previous[1] = previous[0];
    previous[0] = entry;
    pos = end;
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

std::uint32_t IndexTable::non_local_at_or_above(std::int64_t n) const {
  ++steps_taken_;
  if (n < 1) return ABOVE_FIRST_LINE;
  const auto line = static_cast<std::uint32_t>(n);
  if (kind(line) != IndexLineKind::local) return line;
  // A Local line recorded where the same steps from two lines above it end.
  const auto it =
      std::lower_bound(locals_.begin(), locals_.end(), line,
                       [](const StoredLocal& l, std::uint32_t n) { return l.line < n; });
  return it->entry_line;
}

std::uint32_t IndexTable::list_start_at_or_above(std::int64_t n) const {
  ++steps_taken_;
  if (n < 1) return ABOVE_FIRST_LINE;
  const auto line = static_cast<std::uint32_t>(n);
  const std::vector<std::uint32_t>& starts = list_starts_[line % 5];
  const auto above = std::upper_bound(starts.begin(), starts.end(), line);
  return above == starts.begin() ? ABOVE_FIRST_LINE : *(above - 1);
}

std::string_view IndexTable::line(std::uint32_t n) const {
  const std::uint64_t start = begin(n - 1);
  return strip_line_end(std::string_view(text_.data() + start, begin(n) - start));
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
  if (top(a_key.high, n) != top(key.high, n)) return false;
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
    __builtin_prefetch(text_.data() + it.entry_begin);
    found.push_back({it.line,
                     it.list_depth,
                     it.value(text_.data()),
                     it.entry_line,
                     it.entry_kind,
                     {text_.data() + it.entry_begin, it.entry_size}});
  }
  std::sort(found.begin(), found.end(),
            [](const LocalLine& a, const LocalLine& b) { return a.line < b.line; });
}

}  // namespace sitemap
