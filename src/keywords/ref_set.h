// A set of texts, such as the refs already looked up: one byte arena for the texts and an
// open-addressing table of positions into it, so that a hundred thousand pages cost two
// allocations, not a hundred thousand, and a lookup of a text that is not there touches one
// slot and no text.
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
  // A used slot holds the ref's whole hash, so that a search compares texts only for a ref that
  // is there, and where the ref lies in the arena, so that it reads nothing else.
  struct Slot {
    std::uint64_t hash = 0;
    std::uint64_t begin = 0;  // in the arena, plus one; 0 in a free slot
    std::size_t size = 0;
  };

  void grow();

  std::string arena_;  // the refs, one after the other
  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

}  // namespace sitemap
