#include "keywords/ref_set.h"

#include <functional>

namespace sitemap {

namespace {

constexpr std::uint32_t USED = 0x80000000u;

std::uint64_t hash_of(std::string_view text) { return std::hash<std::string_view>{}(text); }

std::uint32_t tag_of(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32) | USED; }

}  // namespace

bool RefSet::insert(std::string_view ref) {
  // At most half full, so that a search meets an empty slot soon.
  if (2 * (count_ + 1) > slots_.size()) grow();
  const std::uint64_t hash = hash_of(ref);
  const std::uint32_t tag = tag_of(hash);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.tag == 0) {
      slot = {tag, static_cast<std::uint32_t>(count_)};
      arena_.append(ref);
      begins_.push_back(arena_.size());
      hashes_.push_back(hash);
      ++count_;
      return true;
    }
    if (slot.tag == tag && text(slot.ref) == ref) return false;
  }
}

void RefSet::grow() {
  std::vector<Slot> old(slots_.empty() ? 1024 : 2 * slots_.size());
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.tag == 0) continue;
    std::size_t i = hashes_[slot.ref] & mask;
    while (slots_[i].tag != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

}  // namespace sitemap
