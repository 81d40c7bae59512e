// The keyword index read once and split into the very lines the line reader would deliver, so
// that every lookup and every walk back works on line numbers without reading the file again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "converter/streams.h"

namespace sitemap {

enum class IndexLineKind : std::uint8_t { other, list_start, list_end, name, local };

// A Local line of the index: its 1-based number and the list depth the scan from line 1 has
// reached when it meets it.
struct LocalLine {
  std::uint32_t line;
  std::int64_t list_depth;
};

class IndexTable {
 public:
  // Line numbers must fit the 32-bit fields of the table with room for the two markers below.
  static constexpr std::uint64_t MAX_LINES = UINT32_MAX - 2;

  // Reads the whole stream and splits it. False when it holds more than MAX_LINES lines.
  bool load(InputStream& stream);

  std::uint32_t line_count() const { return static_cast<std::uint32_t>(kinds_.size()); }
  // Line n (1-based, at most line_count()), its line end stripped.
  std::string_view line(std::uint32_t n) const;
  IndexLineKind kind(std::uint32_t n) const { return kinds_[n - 1]; }
  // The text after the Local literal of a Local line.
  std::string_view local_value(std::uint32_t n) const;

  // The Local lines whose text after the literal starts with `ref`, in line order.
  void find_locals(std::string_view ref, std::vector<LocalLine>& found) const;

 private:
  std::string text_;
  std::vector<std::uint64_t> begins_;  // where line n starts, at n - 1; one more for the end
  std::vector<IndexLineKind> kinds_;
  std::vector<LocalLine> locals_;             // in line order
  std::vector<std::uint32_t> locals_sorted_;  // positions in locals_, by local_value
};

}  // namespace sitemap
