#include "keywords/lookup_set.h"

namespace sitemap {

namespace {

// Fibonacci hashing: the high bits of the product spread neighbouring places over the table.
std::size_t slot_of(std::uint64_t entry, std::size_t mask) {
  return static_cast<std::size_t>((entry * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

}  // namespace

bool LookupSet::insert(std::size_t first_match, std::size_t ref_size) {
  // At most half full, so that a search meets a free slot soon.
  if (2 * (count_ + 1) > slots_.size()) grow();
  // A place fits in 32 bits (lines are counted in 32 bits) and so does a ref's length.
  const std::uint64_t entry = (std::uint64_t{first_match} << 32 | ref_size) + 1;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = slot_of(entry, mask);; i = (i + 1) & mask) {
    if (slots_[i] == entry) return false;
    if (slots_[i] == 0) {
      slots_[i] = entry;
      ++count_;
      return true;
    }
  }
}

void LookupSet::grow() {
  LargeVector<std::uint64_t> old(slots_.empty() ? 1024 : 2 * slots_.size());
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const std::uint64_t entry : old) {
    if (entry == 0) continue;
    std::size_t i = slot_of(entry, mask);
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = entry;
  }
}

}  // namespace sitemap
