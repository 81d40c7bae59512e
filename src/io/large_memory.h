// Memory for the few tables and texts that grow with the project: the index's records, their
// sort and their texts, the refs already looked up, the keywords a .qhp lists.
//
// Fresh memory costs a page fault on first touch of every 4 KiB page. On the virtual machine the
// bench runs on a fault has cost 1.6 us, and 10 us at times when the host had to find memory too
// (50 MB touched page by page: 135 ms then; the same with huge pages: 3 ms): then the 40 MB of
// tables of the 100,000-page project cost more in faults than the whole rest of the run. Blocks
// of LARGE_FROM and more are therefore mapped on their own, in whole blocks of LARGE_BLOCK
// aligned to it, and offered to the kernel for transparent huge pages, which fault 2 MiB at a
// time. Where the kernel has none to give, they behave like any other memory.
//
// A huge page is worth it well below its size: a 4 KiB fault took 1.6 us, a 2 MiB one 100 us,
// so from 256 KiB on a block faults no slower in one huge page, however little of it is
// used. (With 2 MiB as the threshold, the tables of 256 KiB to 2 MiB of a .qhp of 100,000
// sections took 1,800 faults more; with 256 KiB sitemap-to-qhp took 6% less time there, the
// median of 21 interleaved pairs of runs.)
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sitemap {

// The size of a huge page on x86-64 and arm64 alike.
inline constexpr std::size_t LARGE_BLOCK = std::size_t{2} << 20;
// The size from which a block is mapped as large.
inline constexpr std::size_t LARGE_FROM = LARGE_BLOCK / 8;

// At least `bytes` bytes, in whole huge pages; throws std::bad_alloc.
void* allocate_large(std::size_t bytes);
void free_large(void* block, std::size_t bytes) noexcept;

// Under AddressSanitizer every table comes from operator new, which it watches.
#if defined(__SANITIZE_ADDRESS__)
#define SITEMAP_LARGE_MEMORY 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SITEMAP_LARGE_MEMORY 0
#endif
#endif
#ifndef SITEMAP_LARGE_MEMORY
#define SITEMAP_LARGE_MEMORY 1
#endif

// An allocator for std::vector and std::basic_string that takes large blocks from
// allocate_large and small ones from operator new.
template <typename T>
struct LargeAllocator {
  using value_type = T;

  LargeAllocator() = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U>&) {}

  static bool large(std::size_t n) { return SITEMAP_LARGE_MEMORY && n * sizeof(T) >= LARGE_FROM; }
  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    if (large(n)) return static_cast<T*>(allocate_large(n * sizeof(T)));
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (large(n)) {
      free_large(p, n * sizeof(T));
    } else {
      ::operator delete(p);
    }
  }
  template <typename U>
  bool operator==(const LargeAllocator<U>&) const {
    return true;
  }
  template <typename U>
  bool operator!=(const LargeAllocator<U>&) const {
    return false;
  }
};

template <typename T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

// Bytes from LargeAllocator that are not cleared first, for reads to fill.
class LargeBuffer {
 public:
  LargeBuffer() = default;
  explicit LargeBuffer(std::size_t size)
      : data_(LargeAllocator<char>().allocate(size)), size_(size) {}
  ~LargeBuffer() {
    if (data_ != nullptr) LargeAllocator<char>().deallocate(data_, size_);
  }
  LargeBuffer(LargeBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  LargeBuffer& operator=(LargeBuffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    return *this;
  }

  char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};
using LargeString = std::basic_string<char, std::char_traits<char>, LargeAllocator<char>>;

// Copies `size` bytes to `dest`. Up to 32 bytes, as most pieces of a DCF line are, with two
// overlapping moves of a size that covers them, without a call: a call to memcpy for each
// piece cost 1.2% more instructions on the 100,000-page project (counted with cachegrind).
inline void copy_bytes(const char* data, std::size_t size, char* dest) {
  const auto two_moves = [&](auto word) {
    std::memcpy(&word, data, sizeof word);
    std::memcpy(dest, &word, sizeof word);
    std::memcpy(&word, data + size - sizeof word, sizeof word);
    std::memcpy(dest + size - sizeof word, &word, sizeof word);
  };
  struct Bytes16 {
    unsigned char b[16];
  };
  if (size > 32) {
    std::memcpy(dest, data, size);
  } else if (size >= 16) {
    two_moves(Bytes16());
  } else if (size >= 8) {
    two_moves(std::uint64_t());
  } else if (size >= 4) {
    two_moves(std::uint32_t());
  } else if (size > 0) {
    dest[0] = data[0];
    dest[size / 2] = data[size / 2];
    dest[size - 1] = data[size - 1];
  }
}

// Text that only grows at its end, for the texts a table keeps, in memory from LargeAllocator:
// unlike a std::basic_string, it copies a short text without a call to memcpy. (Reading the
// index of 100,000 pages takes half a million short appends, and joining its keyword paths a
// third of a million more. On the pages nested up to 6 deep: 632 -> 588 million instructions,
// 3.3% less time.)
class LargeText {
 public:
  void reserve(std::size_t capacity) {
    if (capacity > block_.size()) move_to(capacity);
  }
  void append(std::string_view text) {
    if (block_.size() - size_ < text.size()) {
      move_to(std::max(2 * block_.size(), size_ + text.size()));
    }
    copy_bytes(text.data(), text.size(), block_.data() + size_);
    size_ += text.size();
  }
  // Empties it, keeping its room.
  void clear() { size_ = 0; }
  const char* data() const { return block_.data(); }
  std::size_t size() const { return size_; }

 private:
  void move_to(std::size_t capacity) {
    LargeBuffer larger(capacity);
    if (size_ > 0) std::memcpy(larger.data(), block_.data(), size_);
    block_ = std::move(larger);
  }

  LargeBuffer block_;
  std::size_t size_ = 0;
};

}  // namespace sitemap
