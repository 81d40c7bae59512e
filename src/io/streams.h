// The byte streams a conversion reads and writes: files for the program, memory for tests and
// fuzzing. The conversion sees only these interfaces, so both run the very same code.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sitemap {

class InputStream {
 public:
  virtual ~InputStream() = default;
  // Reads up to `size` bytes: the count read, 0 at the end of the stream, -1 on a read error.
  virtual long read(char* dest, std::size_t size) = 0;
  virtual void close() = 0;
  // How many bytes the stream expects to hold, or 0 when it cannot tell; only a hint.
  virtual std::size_t size_hint() const { return 0; }
};

class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Takes all `size` bytes, or reports false.
  virtual bool write(const char* data, std::size_t size) = 0;
  // Completes the output (anything buffered included); false when it could not be completed.
  virtual bool close() = 0;

  bool write(std::string_view text) { return write(text.data(), text.size()); }
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
    char block[64 * 1024];
    for (long got; (got = stream.read(block, sizeof block)) != 0;) {
      if (got < 0) {
        failed_ = true;
        break;
      }
      bytes_.append(block, static_cast<std::size_t>(got));
    }
  }
  long read(char* dest, std::size_t size) override {
    if (pos_ == bytes_.size()) return failed_ ? -1 : 0;
    const std::size_t n = bytes_.size() - pos_ < size ? bytes_.size() - pos_ : size;
    bytes_.copy(dest, n, pos_);
    pos_ += n;
    return static_cast<long>(n);
  }
  void close() override {}
  std::size_t size_hint() const override { return bytes_.size(); }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

class MemoryOutput final : public OutputStream {
 public:
  using OutputStream::write;
  bool write(const char* data, std::size_t size) override {
    bytes.append(data, size);
    return true;
  }
  bool close() override { return true; }

  std::string bytes;
};

}  // namespace sitemap
