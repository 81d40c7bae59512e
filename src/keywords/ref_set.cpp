#include "keywords/ref_set.h"

#include <functional>

namespace sitemap {

namespace {

std::uint64_t hash_of(std::string_view text) { return std::hash<std::string_view>{}(text); }

}  // namespace

bool RefSet::insert(std::string_view ref) {
  // At most half full, so that a search meets an empty slot soon.
  if (2 * (count_ + 1) > slots_.size()) grow();
  const std::uint64_t hash = hash_of(ref);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.begin == 0) {
      slot = {hash, arena_.size() + 1, ref.size()};
      arena_.append(ref);
      ++count_;
      return true;
    }
    if (slot.hash == hash && slot.size == ref.size() &&
        arena_.compare(slot.begin - 1, slot.size, ref) == 0) {
      return false;
    }
  }
}

void RefSet::grow() {
  std::vector<Slot> old(slots_.empty() ? 1024 : 2 * slots_.size());
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.begin == 0) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].begin != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

}  // namespace sitemap
