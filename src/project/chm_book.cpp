#include "project/chm_book.h"

#include <mspack.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "io/file_names.h"
#include "output/xml_text.h"

namespace sitemap {

namespace {

// Where the ITSF header keeps what the repair needs.
constexpr std::size_t GUID1_AT = 0x18;
constexpr std::size_t GUID2_AT = 0x28;
constexpr std::size_t LANGUAGE_AT = 0x14;
constexpr std::size_t DIRECTORY_AT = 0x48;
constexpr unsigned char GUID2[16] = {0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                     0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
// In the directory header (ITSP): its length, the chunk size, the first listing chunk.
constexpr std::size_t ITSP_LENGTH_AT = 0x08;
constexpr std::size_t ITSP_CHUNK_SIZE_AT = 0x10;
constexpr std::size_t ITSP_FIRST_PMGL_AT = 0x20;
constexpr std::size_t ITSP_LAST_PMGL_AT = 0x24;

// The only names the reader hands libmspack, for the book and for the file being extracted.
constexpr const char* BOOK_NAME = "book";
constexpr const char* OUTPUT_NAME = "extracted";

std::uint32_t u32(std::string_view bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) return 0;
  std::uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<unsigned char>(bytes[at + i]);
  return n;
}

std::uint64_t u64(std::string_view bytes, std::size_t at) {
  return u32(bytes, at) | std::uint64_t{u32(bytes, at + 4)} << 32;
}

void put_u32(std::string& bytes, std::size_t at, std::uint32_t n) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(n >> (8 * i) & 0xFF);
}

// A NUL-terminated text at `at`, or empty.
std::string text_at(std::string_view bytes, std::size_t at) {
  if (at >= bytes.size()) return {};
  const std::size_t end = bytes.find('\0', at);
  return std::string(bytes.substr(at, end == std::string_view::npos ? end : end - at));
}

// The files libmspack reads and writes: the book in memory, and the file being extracted, into
// a string. Nothing reaches the file system through it.
struct MemoryFile {
  std::string_view input;
  std::string* output = nullptr;
  std::size_t pos = 0;
};

struct MemorySystem {
  mspack_system sys;  // first: libmspack hands this back as the system
  std::string_view book;
  std::string* output = nullptr;
};

mspack_file* open_file(mspack_system* self, const char* name, int mode) {
  auto* system = reinterpret_cast<MemorySystem*>(self);
  if (mode == MSPACK_SYS_OPEN_READ && std::strcmp(name, BOOK_NAME) == 0) {
    return reinterpret_cast<mspack_file*>(new MemoryFile{system->book, nullptr, 0});
  }
  if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(name, OUTPUT_NAME) == 0 &&
      system->output != nullptr) {
    return reinterpret_cast<mspack_file*>(new MemoryFile{{}, system->output, 0});
  }
  return nullptr;
}

void close_file(mspack_file* file) { delete reinterpret_cast<MemoryFile*>(file); }

int read_file(mspack_file* handle, void* buffer, int bytes) {
  auto* file = reinterpret_cast<MemoryFile*>(handle);
  if (file == nullptr || bytes < 0 || file->output != nullptr) return -1;
  const std::size_t n = std::min(static_cast<std::size_t>(bytes), file->input.size() - file->pos);
  std::memcpy(buffer, file->input.data() + file->pos, n);
  file->pos += n;
  return static_cast<int>(n);
}

int write_file(mspack_file* handle, void* buffer, int bytes) {
  auto* file = reinterpret_cast<MemoryFile*>(handle);
  if (file == nullptr || bytes < 0 || file->output == nullptr) return -1;
  file->output->append(static_cast<const char*>(buffer), static_cast<std::size_t>(bytes));
  return bytes;
}

int seek_file(mspack_file* handle, off_t offset, int mode) {
  auto* file = reinterpret_cast<MemoryFile*>(handle);
  if (file == nullptr) return -1;
  const std::size_t size = file->output != nullptr ? file->output->size() : file->input.size();
  off_t base = 0;
  if (mode == MSPACK_SYS_SEEK_CUR) base = static_cast<off_t>(file->pos);
  if (mode == MSPACK_SYS_SEEK_END) base = static_cast<off_t>(size);
  if (offset > 0 ? base > static_cast<off_t>(size) - offset : base + offset < 0) return -1;
  file->pos = static_cast<std::size_t>(base + offset);
  return 0;
}

off_t tell_file(mspack_file* handle) {
  auto* file = reinterpret_cast<MemoryFile*>(handle);
  return file == nullptr ? -1 : static_cast<off_t>(file->pos);
}

void message(mspack_file*, const char*, ...) {}  // libmspack's own words are not the user's
void* allocate(mspack_system*, std::size_t bytes) { return std::malloc(bytes); }
void release(void* block) { std::free(block); }
void copy(void* from, void* to, std::size_t bytes) { std::memmove(to, from, bytes); }

bool is_control_or_nul(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

}  // namespace

struct ChmBook::Reader {
  MemorySystem system{};
  mschm_decompressor* decompressor = nullptr;
  mschmd_header* header = nullptr;
  std::string bytes;  // the whole book, which libmspack reads through `system`
  std::map<std::string, mschmd_file*> files;  // every file, the format's own too
  std::uint64_t extracted = 0;                // the lengths of the entries extracted so far

  ~Reader() {
    if (header != nullptr) decompressor->close(decompressor, header);
    if (decompressor != nullptr) mspack_destroy_chm_decompressor(decompressor);
  }
};

void repair_chm_header(std::string& bytes) {
  if (!is_chm(bytes) || bytes.size() < DIRECTORY_AT + 16) return;
  // chmcmd 3.2.2 writes the first GUID of the header twice; HTML Help Workshop writes the second
  // one, which libmspack checks for.
  if (bytes.compare(GUID2_AT, 16, bytes, GUID1_AT, 16) == 0) {
    bytes.replace(GUID2_AT, 16, reinterpret_cast<const char*>(GUID2), 16);
  }
  // chmcmd 3.2.2 also records chunk 1 as the first listing chunk of a directory of several,
  // though chunk 0 is one too: a reader that follows the header misses every file listed in
  // chunk 0. The first listing chunk is taken as 0 when all chunks before the recorded one are
  // listing chunks.
  const std::uint64_t directory = u64(bytes, DIRECTORY_AT);
  if (directory >= bytes.size() || bytes.size() - directory < 0x54 ||
      bytes.compare(directory, 4, "ITSP") != 0) {
    return;
  }
  const std::uint64_t header_length = u32(bytes, directory + ITSP_LENGTH_AT);
  const std::uint64_t chunk_size = u32(bytes, directory + ITSP_CHUNK_SIZE_AT);
  const std::uint32_t first = u32(bytes, directory + ITSP_FIRST_PMGL_AT);
  const std::uint32_t last = u32(bytes, directory + ITSP_LAST_PMGL_AT);
  if (first == 0 || first > last || chunk_size < 4 || first > 0xFFFF) return;
  for (std::uint64_t chunk = 0; chunk < first; ++chunk) {
    const std::uint64_t at = directory + header_length + chunk * chunk_size;
    if (at >= bytes.size() || bytes.size() - at < 4 || bytes.compare(at, 4, "PMGL") != 0) return;
  }
  put_u32(bytes, directory + ITSP_FIRST_PMGL_AT, 0);
}

ChmBook::ChmBook() = default;
ChmBook::~ChmBook() = default;

bool ChmBook::open(std::string bytes, const std::string& name, std::string& error) {
  reader_ = std::make_unique<Reader>();
  Reader& r = *reader_;
  r.bytes = std::move(bytes);
  repair_chm_header(r.bytes);
  r.system.sys = {open_file, close_file, read_file, write_file, seek_file, tell_file,
                  message,   allocate,   release,   copy,       nullptr};
  r.system.book = r.bytes;
  r.decompressor = mspack_create_chm_decompressor(&r.system.sys);
  if (r.decompressor == nullptr) {
    error = "Out of memory.";
    return false;
  }
  r.header = r.decompressor->open(r.decompressor, BOOK_NAME);
  if (r.header == nullptr) {
    const int code = r.decompressor->last_error(r.decompressor);
    error = code == MSPACK_ERR_NOMEMORY ? "Out of memory."
                                        : name + " is not a .chm book that can be read (" +
                                              (code == MSPACK_ERR_SIGNATURE ? "not a .chm"
                                               : code == MSPACK_ERR_READ    ? "cut short"
                                                                            : "damaged") +
                                              ").";
    return false;
  }
  for (mschmd_file* file = r.header->files; file != nullptr; file = file->next) {
    if (file->filename != nullptr) r.files.emplace(file->filename, file);
  }
  return true;
}

std::vector<std::string> ChmBook::file_names() const {
  std::vector<mschmd_file*> files;
  for (const auto& [name, file] : reader_->files) {
    if (name.size() < 2 || name[0] != '/' || name[1] == '#' || name[1] == '$') continue;
    // chmcmd's note that it, not HTML Help Workshop, made the book: no page of the book.
    if (name == "/_#_README_#_") continue;
    if (name.back() == '/' && file->length == 0) continue;  // a folder
    files.push_back(file);
  }
  // Stored files first, then the compressed ones in the order of their data: libmspack then
  // decompresses each stretch once.
  std::sort(files.begin(), files.end(), [](const mschmd_file* a, const mschmd_file* b) {
    const unsigned ia = a->section->id, ib = b->section->id;
    return ia != ib ? ia < ib : a->offset < b->offset;
  });
  std::vector<std::string> names;
  names.reserve(files.size());
  for (const mschmd_file* file : files) names.emplace_back(file->filename);
  return names;
}

bool ChmBook::extract(const std::string& name, std::string& bytes) {
  const auto found = reader_->files.find(name);
  if (found == reader_->files.end()) return false;
  bytes.clear();
  // libmspack writes out whatever length an entry claims. LZX spends at least two bits on a
  // match, which copies at most 257 bytes, so no book decompresses to more than about 1,028
  // times its size: a length beyond that is a crafted one, refused before anything is
  // decompressed, and so is a total beyond it, which entries that share one stretch of data
  // could otherwise reach many times over. (Real books compress 3 to 300 times: a page of 6 MB
  // of repeated text takes 22 KB.) No single page is allowed more than 512 MiB of memory.
  constexpr std::uint64_t MAX_EXPANSION = 1100;
  constexpr std::uint64_t MAX_ENTRY = std::uint64_t{512} << 20;
  const std::uint64_t budget =
      MAX_EXPANSION * std::uint64_t{reader_->bytes.size()} + (std::uint64_t{1} << 20);
  const off_t length = found->second->length;
  too_large_ = length < 0 || static_cast<std::uint64_t>(length) > MAX_ENTRY ||
               static_cast<std::uint64_t>(length) > budget - reader_->extracted;
  if (too_large_) return false;
  reader_->extracted += static_cast<std::uint64_t>(length);
  reader_->system.output = &bytes;
  const int result =
      reader_->decompressor->extract(reader_->decompressor, found->second, OUTPUT_NAME);
  reader_->system.output = nullptr;
  return result == MSPACK_ERR_OK;
}

ChmSettings ChmBook::settings() {
  ChmSettings settings;
  std::string system, windows, strings;
  extract("/#SYSTEM", system);
  extract("/#WINDOWS", windows);
  extract("/#STRINGS", strings);
  std::string window_name;
  std::string system_contents, system_index;
  // #SYSTEM: a version, then records of a code, a length and data.
  for (std::size_t at = 4; at + 4 <= system.size();) {
    const unsigned code =
        static_cast<unsigned char>(system[at]) | static_cast<unsigned char>(system[at + 1]) << 8;
    const std::size_t length = static_cast<unsigned char>(system[at + 2]) |
                               static_cast<unsigned char>(system[at + 3]) << 8;
    at += 4;
    if (length > system.size() - at) break;
    const std::string_view data = std::string_view(system).substr(at, length);
    at += length;
    const std::string text = text_at(data, 0);
    switch (code) {
      case 0:
        system_contents = text;
        break;
      case 1:
        system_index = text;
        break;
      case 2:
        settings.default_topic = text;
        break;
      case 3:
        settings.title = text;
        break;
      case 4:
        settings.language = u32(data, 0);
        break;
      case 5:
        window_name = text;
        break;
      default:
        break;
    }
  }
  if (settings.language == 0) settings.language = u32(reader_->bytes, LANGUAGE_AT);
  // #IVB: the length of the rest, then pairs of a context number and the offset in #STRINGS of
  // its page's path.
  std::string ivb;
  extract("/#IVB", ivb);
  const std::size_t stored = ivb.size() < 4 ? 0 : ivb.size() - 4;
  const std::size_t pairs = std::min<std::size_t>(u32(ivb, 0), stored) / 8;
  const std::size_t kept = std::min(pairs, MAX_CONTEXT_IDS);
  settings.context_ids_left_out = pairs - kept;
  for (std::size_t i = 0; i < kept; ++i) {
    settings.context_ids.emplace_back(u32(ivb, 4 + 8 * i),
                                      text_at(strings, u32(ivb, 4 + 8 * i + 4)));
  }
  // #WINDOWS: a count, an entry size, the entries; their texts are offsets into #STRINGS.
  const std::uint32_t count = u32(windows, 0);
  const std::uint32_t entry_size = u32(windows, 4);
  std::size_t chosen = SIZE_MAX;
  if (entry_size >= 0x70 && count > 0) {
    for (std::size_t i = 0; i < count && 8 + (i + 1) * std::size_t{entry_size} <= windows.size();
         ++i) {
      const std::size_t entry = 8 + i * std::size_t{entry_size};
      if (chosen == SIZE_MAX) chosen = entry;  // the first, unless the default one is found
      if (!window_name.empty() &&
          ascii_lower(text_at(strings, u32(windows, entry + 0x08))) == ascii_lower(window_name)) {
        chosen = entry;
        break;
      }
    }
  }
  const auto window_text = [&](std::size_t field) {
    const std::uint32_t offset = chosen == SIZE_MAX ? 0 : u32(windows, chosen + field);
    return offset == 0 ? std::string() : text_at(strings, offset);
  };
  settings.contents = window_text(0x60);
  settings.index = window_text(0x64);
  if (!window_text(0x14).empty()) settings.title = window_text(0x14);
  if (!window_text(0x68).empty()) settings.default_topic = window_text(0x68);
  // "Untitled" is what the compilers put where the author gave no title.
  if (settings.title == "Untitled") settings.title.clear();
  if (settings.contents.empty()) settings.contents = system_contents;
  if (settings.index.empty()) settings.index = system_index;
  // Else the book's only contents and index files.
  std::vector<std::string> hhc, hhk;
  for (const auto& entry : reader_->files) {
    if (ends_with_ignoring_case(entry.first, ".hhc")) hhc.push_back(entry.first);
    if (ends_with_ignoring_case(entry.first, ".hhk")) hhk.push_back(entry.first);
  }
  if (settings.contents.empty() && hhc.size() == 1) settings.contents = hhc.front();
  if (settings.index.empty() && hhk.size() == 1) settings.index = hhk.front();
  settings.binary_contents_only = hhc.empty() && reader_->files.count("/#TOCIDX") != 0;
  return settings;
}

std::string safe_entry_path(std::string_view stored) {
  if (stored.empty() || stored[0] != '/') return {};
  // Some compilers (chmcmd) store the '\\' of the project's paths; HTML Help reads it as '/'.
  std::string path(stored.substr(1));
  std::replace(path.begin(), path.end(), '\\', '/');
  const std::string_view name = path;
  if (name.empty() || !is_valid_utf8(name)) return {};
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t end = std::min(name.find('/', start), name.size());
    const std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == ".." ||
        std::any_of(part.begin(), part.end(), is_control_or_nul)) {
      return {};
    }
    start = end + 1;
  }
  return path;
}

}  // namespace sitemap
