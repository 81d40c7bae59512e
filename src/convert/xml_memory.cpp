#include "convert/xml_memory.h"

#include <libxml/xmlmemory.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "io/large_memory.h"

namespace sitemap {

namespace {

// Each block starts with its size, for free and realloc, in a header that keeps the alignment
// malloc gives.
constexpr std::size_t HEADER = alignof(std::max_align_t);

void* allocate(std::size_t size) {
  if (size > SIZE_MAX - HEADER) return nullptr;
  char* block;
  try {
    block = LargeAllocator<char>().allocate(size + HEADER);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  std::memcpy(block, &size, sizeof size);
  return block + HEADER;
}

std::size_t size_of(void* memory) {
  std::size_t size;
  std::memcpy(&size, static_cast<char*>(memory) - HEADER, sizeof size);
  return size;
}

void release(void* memory) {
  if (memory == nullptr) return;
  LargeAllocator<char>().deallocate(static_cast<char*>(memory) - HEADER, size_of(memory) + HEADER);
}

void* reallocate(void* memory, std::size_t size) {
  if (memory == nullptr) return allocate(size);
  void* larger = allocate(size);
  if (larger == nullptr) return nullptr;
  const std::size_t old_size = size_of(memory);
  std::memcpy(larger, memory, old_size < size ? old_size : size);
  release(memory);
  return larger;
}

char* duplicate(const char* text) {
  const std::size_t size = std::strlen(text) + 1;
  void* copy = allocate(size);
  if (copy != nullptr) std::memcpy(copy, text, size);
  return static_cast<char*>(copy);
}

}  // namespace

// Also under AddressSanitizer, where LargeAllocator takes everything from operator new: the
// sanitizer then checks the headers and sizes too.
void use_large_memory_for_libxml2() { xmlMemSetup(release, allocate, reallocate, duplicate); }

}  // namespace sitemap
