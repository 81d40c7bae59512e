// An input stream for tests that hands out at most a few bytes per read and can fail part way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "io/streams.h"

namespace sitemap {

class ChunkedInput final : public InputStream {
 public:
  // Reads of at most `max_chunk` bytes (fewer at some positions, so that pieces straddle reads
  // everywhere); after `good` bytes every read fails.
  ChunkedInput(std::string_view bytes, std::size_t max_chunk, std::size_t good = SIZE_MAX)
      : bytes_(bytes), max_chunk_(max_chunk), good_(good) {}
  long read(char* dest, std::size_t size) override {
    if (pos_ >= good_) return -1;
    const std::size_t chunk = 1 + pos_ % max_chunk_;
    const std::size_t n = std::min({size, chunk, bytes_.size() - pos_, good_ - pos_});
    bytes_.copy(dest, n, pos_);
    pos_ += n;
    return static_cast<long>(n);
  }
  void close() override {}

 private:
  std::string_view bytes_;
  std::size_t max_chunk_;
  std::size_t good_;
  std::size_t pos_ = 0;
};

}  // namespace sitemap
