// A compiled HTML Help book (.chm), read with libmspack from memory: its files, and what its
// project file said (#SYSTEM, #WINDOWS, #STRINGS). A .chm comes from strangers: every length and
// offset in it is checked before it is used, and libmspack, which reads what remains, is kept to
// the bytes it is given.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sitemap {

// Whether a file starts as a .chm does (known also where no .chm can be read).
inline bool is_chm(std::string_view bytes) { return bytes.substr(0, 4) == "ITSF"; }

// Mends, in place, what chmcmd 3.2.2 (Free Pascal's help compiler) writes wrong in a .chm header,
// so that the book reads as HTML Help Workshop's do.
void repair_chm_header(std::string& bytes);

// Real books map a few thousand context ids at most; a crafted #IVB of half a gigabyte would
// hold 67 million, and take gigabytes to convert.
constexpr std::size_t MAX_CONTEXT_IDS = std::size_t{1} << 20;

// What the book's project file said, from its system files; texts as bytes in the book's code
// page, paths as the compiler wrote them.
struct ChmSettings {
  std::string contents;
  std::string index;
  std::string default_topic;
  std::string title;
  std::uint32_t language = 0;  // #SYSTEM's, else the file header's
  // #IVB: the context numbers of [MAP], each with the page its alias led to; at most
  // MAX_CONTEXT_IDS, and how many more it holds.
  std::vector<std::pair<std::uint32_t, std::string>> context_ids;
  std::size_t context_ids_left_out = 0;
  bool binary_contents_only = false;  // #TOCIDX and no contents file of text
};

class ChmBook {
 public:
  ChmBook();
  ChmBook(const ChmBook&) = delete;
  ChmBook& operator=(const ChmBook&) = delete;
  ~ChmBook();

  // Opens the book whose bytes are `bytes` (taken over, and repaired as they come in: see
  // repair_chm_header). False with the error line's message when libmspack cannot read it.
  bool open(std::string bytes, const std::string& name, std::string& error);
  // The names of the book's files as stored ("/index.htm"), the format's own (names starting
  // with "/#", "/$" or "::") and chmcmd's note on the book left out, in the order that is
  // fastest to extract.
  std::vector<std::string> file_names() const;
  // One file's bytes; false when it cannot be decompressed, or claims more than the book could
  // hold (then too_large() tells so).
  bool extract(const std::string& name, std::string& bytes);
  // Whether the last extract() refused a length no book of this size can decompress to.
  bool too_large() const { return too_large_; }
  // Settings from the system files, the contents and index files as the book's default window
  // names them, else as #SYSTEM does, else the book's only .hhc and .hhk.
  ChmSettings settings();

 private:
  struct Reader;
  std::unique_ptr<Reader> reader_;
  bool too_large_ = false;
};

// A stored name as a path inside the output folder ('/' dropped from its start), or empty when
// it is no safe one: absolute, with a "." or ".." part, a NUL or control character, or not UTF-8.
std::string safe_entry_path(std::string_view name);

}  // namespace sitemap
