#include "io/large_memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace sitemap {

namespace {

std::size_t whole_blocks(std::size_t bytes) {
  if (bytes > SIZE_MAX - LARGE_BLOCK) throw std::bad_alloc();
  return (bytes + LARGE_BLOCK - 1) / LARGE_BLOCK * LARGE_BLOCK;
}

}  // namespace

void* allocate_large(std::size_t bytes) {
  const std::size_t size = whole_blocks(bytes);
  // One block more than asked for, so that an aligned stretch lies within; the rest is given
  // back at once.
  void* mapped = ::mmap(nullptr, size + LARGE_BLOCK, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + LARGE_BLOCK - 1) / LARGE_BLOCK * LARGE_BLOCK;
  if (aligned != start) ::munmap(mapped, aligned - start);
  const std::uintptr_t end = start + size + LARGE_BLOCK;
  if (end != aligned + size)
    ::munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
  void* block = reinterpret_cast<void*>(aligned);
  // Only a request: a kernel without transparent huge pages refuses it, and that is fine.
  ::madvise(block, size, MADV_HUGEPAGE);
  return block;
}

void free_large(void* block, std::size_t bytes) noexcept {
  ::munmap(block, (bytes + LARGE_BLOCK - 1) / LARGE_BLOCK * LARGE_BLOCK);
}

}  // namespace sitemap
