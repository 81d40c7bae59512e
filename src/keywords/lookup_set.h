// The lookups a run has made, each told by the place of its first match in the order of the
// Local values and the length of its ref: two refs that match at the same place are both
// prefixes of the same value, so they are the same text exactly when they are as long. A ref
// without matches needs no remembering: looking it up again finds nothing again. So no ref text
// is kept or compared, and a run costs one table of numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/large_memory.h"

namespace sitemap {

class LookupSet {
 public:
  // Adds the lookup unless it is there already; true when it was added.
  bool insert(std::size_t first_match, std::size_t ref_size);

 private:
  void grow();

  // Open addressing; a slot holds its lookup plus one, or 0 when free.
  LargeVector<std::uint64_t> slots_;
  std::size_t count_ = 0;
};

}  // namespace sitemap
