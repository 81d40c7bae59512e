#include "keywords/index_table.h"

#include <algorithm>
#include <cstring>

#include "converter/sitemap_input.h"

namespace sitemap {

namespace {

// Bytes asked of the stream at a time once its announced size is used up (pipes announce none).
constexpr std::size_t READ_BLOCK = 1 << 20;

IndexLineKind classify(std::string_view line) {
  // The list tests come first, as in the scan, and all four are prefix tests.
  if (line_starts_with(line, LIST_START_LITERAL)) return IndexLineKind::list_start;
  if (line_starts_with(line, LIST_END_LITERAL)) return IndexLineKind::list_end;
  if (line_starts_with(line, LOCAL_LITERAL)) return IndexLineKind::local;
  if (line_starts_with(line, NAME_LITERAL)) return IndexLineKind::name;
  return IndexLineKind::other;
}

bool read_all(InputStream& stream, std::string& text) {
  std::size_t used = 0;
  text.resize(stream.size_hint() + 1);
  for (;;) {
    if (used == text.size()) text.resize(text.size() + READ_BLOCK);
    const long got = stream.read(text.data() + used, text.size() - used);
    if (got <= 0) break;
    used += static_cast<std::size_t>(got);
  }
  text.resize(used);
  text.shrink_to_fit();
  return true;
}

}  // namespace

bool IndexTable::load(InputStream& stream) {
  read_all(stream, text_);
  const char* const data = text_.data();
  const std::size_t size = text_.size();
  std::int64_t depth = 0;
  std::size_t pos = 0;
  while (pos < size) {
    // The pieces of the line reader: up to and with a line feed, or LINE_READ_MAX bytes. A
    // shorter piece that runs into the end of the file is delivered together with the end, so
    // no scan ever examines it, and it is left out.
    const std::size_t take = std::min(size - pos, LINE_READ_MAX);
    const void* lf = std::memchr(data + pos, '\n', take);
    std::size_t end;
    if (lf != nullptr) {
      end = static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
    } else if (take == LINE_READ_MAX) {
      end = pos + take;
    } else {
      break;
    }
    if (kinds_.size() >= MAX_LINES) return false;
    const IndexLineKind k = classify(strip_line_end(std::string_view(data + pos, end - pos)));
    begins_.push_back(pos);
    kinds_.push_back(k);
    if (k == IndexLineKind::list_start) ++depth;
    if (k == IndexLineKind::list_end) --depth;
    if (k == IndexLineKind::local)
      locals_.push_back({static_cast<std::uint32_t>(kinds_.size()), depth});
    pos = end;
  }
  begins_.push_back(pos);

  locals_sorted_.resize(locals_.size());
  for (std::uint32_t i = 0; i < locals_sorted_.size(); ++i) locals_sorted_[i] = i;
  std::sort(locals_sorted_.begin(), locals_sorted_.end(), [this](std::uint32_t a, std::uint32_t b) {
    return local_value(locals_[a].line) < local_value(locals_[b].line);
  });
  return true;
}

std::string_view IndexTable::line(std::uint32_t n) const {
  const std::uint64_t begin = begins_[n - 1];
  return strip_line_end(std::string_view(text_.data() + begin, begins_[n] - begin));
}

std::string_view IndexTable::local_value(std::uint32_t n) const {
  return line(n).substr(LOCAL_LITERAL.size());
}

void IndexTable::find_locals(std::string_view ref, std::vector<LocalLine>& found) const {
  found.clear();
  auto it = std::lower_bound(
      locals_sorted_.begin(), locals_sorted_.end(), ref,
      [this](std::uint32_t i, std::string_view r) { return local_value(locals_[i].line) < r; });
  for (; it != locals_sorted_.end() && line_starts_with(local_value(locals_[*it].line), ref);
       ++it) {
    found.push_back(locals_[*it]);
  }
  std::sort(found.begin(), found.end(),
            [](const LocalLine& a, const LocalLine& b) { return a.line < b.line; });
}

}  // namespace sitemap
