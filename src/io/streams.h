// The byte streams a conversion reads and writes: files for the program, memory for tests and
// fuzzing. The conversion sees only these interfaces, so both run the very same code.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "io/large_memory.h"

namespace sitemap {

class InputStream {
 public:
  virtual ~InputStream() = default;
  // Reads up to `size` bytes: the count read, 0 at the end of the stream, -1 on a read error.
  virtual long read(char* dest, std::size_t size) = 0;
  virtual void close() = 0;
  // How many bytes the stream expects to hold, or 0 when it cannot tell; only a hint.
  virtual std::size_t size_hint() const { return 0; }
  // Goes back to the first byte, for the stream to be read again; false when it cannot.
  virtual bool rewind() { return false; }
};

class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Takes all `size` bytes, or reports false. What fits in the room a buffering stream offers
  // is copied there without a call: a DCF is written a few bytes at a time, and a call for
  // each piece cost 3% of a run.
  bool write(const char* data, std::size_t size) {
    if (room_ != nullptr && size <= static_cast<std::size_t>(room_end_ - room_)) {
      copy_bytes(data, size, room_);
      room_ += size;
      return true;
    }
    return write_out(data, size);
  }
  bool write(std::string_view text) { return write(text.data(), text.size()); }
  // Completes the output (anything buffered included); false when it could not be completed.
  virtual bool close() = 0;

 protected:
  // Takes what did not fit in the room; the same contract as write().
  virtual bool write_out(const char* data, std::size_t size) = 0;

  // The room for writes to fill, [room_, room_end_); none where both are null.
  char* room_ = nullptr;
  char* room_end_ = nullptr;
};

class MemoryInput final : public InputStream {
 public:
  explicit MemoryInput(std::string_view bytes) : bytes_(bytes) {}
  long read(char* dest, std::size_t size) override {
    const std::size_t n = bytes_.size() - pos_ < size ? bytes_.size() - pos_ : size;
    bytes_.copy(dest, n, pos_);
    pos_ += n;
    return static_cast<long>(n);
  }
  void close() override {}
  std::size_t size_hint() const override { return bytes_.size(); }
  bool rewind() override {
    pos_ = 0;
    return true;
  }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

// A stream read to its end ahead of time, handed out again as it came: its bytes, then the end,
// or the read error at the very place it met one.
class ReplayInput final : public InputStream {
 public:
  // Reads all of `stream`; may throw std::bad_alloc.
  explicit ReplayInput(InputStream& stream) {
    // The announced size and one byte more, for a regular file to end in one read that meets
    // its end; others grow by doubling. The memory is not cleared first: the reads fill it.
    bytes_ = LargeBuffer(stream.size_hint() + 1);
    for (long got;; size_ += static_cast<std::size_t>(got)) {
      if (size_ == bytes_.size()) {
        LargeBuffer larger(2 * bytes_.size());
        std::copy(bytes_.data(), bytes_.data() + size_, larger.data());
        bytes_ = std::move(larger);
      }
      got = stream.read(bytes_.data() + size_, bytes_.size() - size_);
      if (got <= 0) {
        failed_ = got < 0;
        break;
      }
    }
  }
  long read(char* dest, std::size_t size) override {
    if (pos_ == size_) return failed_ ? -1 : 0;
    const std::size_t n = size_ - pos_ < size ? size_ - pos_ : size;
    std::copy(bytes_.data() + pos_, bytes_.data() + pos_ + n, dest);
    pos_ += n;
    return static_cast<long>(n);
  }
  void close() override {}
  std::size_t size_hint() const override { return size_; }
  bool rewind() override {
    pos_ = 0;
    return true;
  }
  std::string_view bytes() const { return {bytes_.data(), size_}; }
  bool failed() const { return failed_; }

 private:
  LargeBuffer bytes_;
  std::size_t size_ = 0;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

class MemoryOutput final : public OutputStream {
 public:
  bool close() override { return true; }

  std::string bytes;

 private:
  bool write_out(const char* data, std::size_t size) override {
    bytes.append(data, size);
    return true;
  }
};

}  // namespace sitemap
