// A set of texts, such as the refs already looked up: one byte arena for the texts and an
// open-addressing table of positions into it, so that a hundred thousand pages cost two
// allocations, not a hundred thousand, and a lookup touches one slot.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sitemap {

class RefSet {
 public:
  // Adds `ref` unless it is there already (equal as whole texts); true when it was added.
  bool insert(std::string_view ref);

 private:
  struct Slot {
    std::uint32_t tag = 0;  // hash bits, with the top bit set in every used slot
    std::uint32_t ref = 0;  // which ref, in the order added
  };

  std::string_view text(std::uint32_t ref) const {
    return {arena_.data() + begins_[ref], begins_[ref + 1] - begins_[ref]};
  }
  void grow();

  std::string arena_;                     // the refs, one after the other
  std::vector<std::uint64_t> begins_{0};  // where ref i starts, at i; one more for the end
  // The hash of ref i, at i: growing the table then hashes nothing again.
  std::vector<std::uint64_t> hashes_;
  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

}  // namespace sitemap
