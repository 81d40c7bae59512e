#include "open/open_book.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "io/file_names.h"
#include "io/process.h"
#include "project/chm_book.h"
#include "project/help_project.h"
#include "project/output_folder.h"
#include "project/project_files.h"
#include "shelf/collection.h"

namespace sitemap {

namespace {

constexpr const char* TOOL_FOLDER = "sitemap-to-qhp";
constexpr const char* LIBRARY = "library.qhc";
// What the cache keeps of a conversion beside the book's folder: its namespace, virtual folder,
// start page and .qch (relative to the cache folder), a line each.
constexpr const char* INFO = "open.info";
constexpr const char* BOOK = "book";
// A conversion still going on, or one a crash cut short: never a book of the cache.
constexpr std::string_view PARTIAL = ".partial-";

constexpr const char* ASSISTANT_NOT_FOUND =
    "Error: Qt Assistant not found: install it (Debian: assistant-qt6), or set $ASSISTANT to it.\n";

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// A user's folder as desktops name them: $VARIABLE where it is an absolute path (a relative one
// is passed over, as desktops do), else $HOME/FALLBACK.
bool xdg_folder(const char* variable, const char* fallback, std::string& folder, std::string& err) {
  const char* given = std::getenv(variable);
  if (given != nullptr && given[0] == '/') {
    folder = given;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    folder = std::string(home) + "/" + fallback;
  } else {
    err += std::string("Error: neither $") + variable + " nor $HOME names a folder.\n";
    return false;
  }
  folder += std::string("/") + TOOL_FOLDER;
  return true;
}

// Makes `path` and the folders above it where they are missing, for this user alone.
bool make_folders(const std::string& path, const char* what, std::string& err) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) break;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
      ::access(path.c_str(), W_OK | X_OK) == 0) {
    return true;
  }
  const int error = errno != 0 ? errno : ENOTDIR;
  err += std::string("Error: cannot write the ") + what + " " + path + ": " + std::strerror(error) +
         ".\n";
  return false;
}

// FNV-1a over 64 bits: a book's bytes to a name of its conversion. (Enough to tell a user's
// books apart; one who crafts two books of one hash gets the first shown for the second.)
class Hash {
 public:
  void add(std::string_view bytes) {
    for (const char c : bytes) {
      hash_ ^= static_cast<unsigned char>(c);
      hash_ *= 0x100000001B3u;
    }
  }
  // Sets the texts added apart: "ab" then "c" is not "a" then "bc".
  void add_text(std::string_view text) {
    add(text);
    add(std::string_view("\0", 1));
  }
  std::string hex() const {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash_));
    return text;
  }

 private:
  std::uint64_t hash_ = 0xCBF29CE484222325u;
};

// The key of a book's conversion: its bytes (for a project, the path and bytes of every file
// of its folder), the encoding given and the tool's version.
bool book_key(const OpenRun& run, std::string& key, std::string& err) {
  std::string bytes;
  if (!read_file(run.input, bytes)) {
    err += "Error: Failed to read " + run.input + ".\n";
    return false;
  }
  Hash hash;
  hash.add_text(run.version);
  hash.add_text(run.encoding);
  if (is_chm(bytes) || ends_with_ignoring_case(run.input, ".chm")) {
    hash.add(bytes);
  } else {
    const std::size_t slash = run.input.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : run.input.substr(0, slash);
    std::string warnings;
    hash.add_text(file_name_of(run.input));
    for (const ListedFile& file : list_folder_files(folder, warnings, "WINDOWS-1252")) {
      hash.add_text(file.name);
      if (!read_file(folder + "/" + file.disk_name(), bytes)) {
        err += "Error: Failed to read " + folder + "/" + file.disk_name() + ".\n";
        return false;
      }
      hash.add_text(std::to_string(bytes.size()));
      hash.add(bytes);
    }
  }
  key = hash.hex();
  return true;
}

struct BookInfo {
  std::string namespace_name, virtual_folder, start_page, qch;
};

bool write_info(const std::string& path, const BookInfo& info) {
  const std::string text = info.namespace_name + "\n" + info.virtual_folder + "\n" +
                           info.start_page + "\n" + info.qch + "\n";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && written;
}

bool read_info(const std::string& path, BookInfo& info) {
  std::string text;
  if (!read_file(path, text)) return false;
  std::string* fields[] = {&info.namespace_name, &info.virtual_folder, &info.start_page, &info.qch};
  std::size_t at = 0;
  for (std::string* field : fields) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;
    field->assign(text, at, end - at);
    at = end + 1;
  }
  return !info.namespace_name.empty() && !info.qch.empty();
}

// The URL Assistant shows a book's page at: qthelp://NAMESPACE/FOLDER/PAGE, the page's path
// escaped where a URL needs it, its anchor kept.
std::string page_url(const BookInfo& info) {
  std::string url = "qthelp://" + info.namespace_name + "/" + info.virtual_folder + "/";
  const std::size_t hash = info.start_page.find('#');
  for (const char c : info.start_page.substr(0, hash)) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9') || std::strchr("-._~/!$&'()*+,;=:@", c) != nullptr) {
      url += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      url += escaped;
    }
  }
  if (hash != std::string::npos) url += info.start_page.substr(hash);
  return url;
}

// Holds a lock on a file until it goes: runs at once take turns.
class Lock {
 public:
  explicit Lock(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
      }
    }
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  ~Lock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool held() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Removes what conversions cut short left in the cache (only while the lock is held: no other
// run is converting then).
void remove_partial_conversions(const std::string& cache) {
  DIR* dir = ::opendir(cache.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> partial;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::string_view(entry->d_name).substr(0, PARTIAL.size()) == PARTIAL) {
      partial.push_back(cache + "/" + entry->d_name);
    }
  }
  ::closedir(dir);
  for (const std::string& path : partial) remove_folder(path);
}

// The book in the cache folder `book`, converted there first where it is not there yet.
bool cached_book(const OpenRun& run, const std::string& cache, const std::string& book,
                 BookInfo& info, std::string& err) {
  if (read_info(book + "/" + INFO, info)) return true;
  if (exists(book)) remove_folder(book);  // a folder of the cache without its info: no book
  // Converted aside, and renamed into place whole.
  const std::string partial = cache + "/" + std::string(PARTIAL) + std::string(file_name_of(book)) +
                              "-" + std::to_string(::getpid());
  if (::mkdir(partial.c_str(), 0700) != 0) {
    err += "Error: cannot write the cache folder " + cache + ": " + std::strerror(errno) + ".\n";
    return false;
  }
  const CachedConversion done = run.convert(partial + "/" + BOOK);
  err += done.err;
  if (done.status != 0) {
    remove_folder(partial);
    return false;
  }
  info = {done.namespace_name, done.virtual_folder, done.start_page, done.qch};
  // The .qch relative to the book's cache folder, which is renamed.
  if (info.qch.compare(0, partial.size() + 1, partial + "/") == 0) {
    info.qch.erase(0, partial.size() + 1);
  }
  if (!write_info(partial + "/" + INFO, info) || ::rename(partial.c_str(), book.c_str()) != 0) {
    err += "Error: cannot write the cache folder " + cache + ": " + std::strerror(errno) + ".\n";
    remove_folder(partial);
    return false;
  }
  return true;
}

// The library collection, made (empty) where there is none.
bool library(const OpenRun& run, const std::string& folder, std::string& err) {
  const std::string path = folder + "/" + LIBRARY;
  if (exists(path)) return true;
  const std::string pid = std::to_string(::getpid());
  const std::string project = ".library-" + pid + ".qhcp";
  const std::string made = ".library-" + pid + ".qhc";
  const std::string project_path = folder + "/" + project;
  const int fd = ::open(project_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  constexpr std::string_view EMPTY = "<QHelpCollectionProject version=\"1.0\"/>\n";
  const bool written =
      fd >= 0 && ::write(fd, EMPTY.data(), EMPTY.size()) == static_cast<ssize_t>(EMPTY.size());
  if (fd >= 0) ::close(fd);
  std::string output;
  const bool generated = written && run.generate(folder, project, made, output);
  ::unlink(project_path.c_str());
  if (generated && ::rename((folder + "/" + made).c_str(), path.c_str()) == 0) return true;
  ::unlink((folder + "/" + made).c_str());
  err += output + "Error: failed to make the library " + path + ".\n";
  return false;
}

std::string real_path(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// `path` with its "." and ".." parts taken back, without looking at the disk (what it names may
// be gone).
std::string lexically_normal(const std::string& path) {
  std::vector<std::string> parts;
  for (std::size_t start = 1; start <= path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string normal;
  for (const std::string& part : parts) normal += "/" + part;
  return normal.empty() ? "/" : normal;
}

// Registers the book of the cache folder `book` in the library, in place of the book of its
// namespace registered before, whose folder in the cache goes. With Assistant itself, which
// also updates the copy of the collection it keeps for itself: one registered there under an
// old path would stay.
bool register_book(const std::string& assistant, const std::string& library,
                   const std::string& cache, const std::string& book, const BookInfo& info,
                   std::string& err) {
  const std::string qch = book + "/" + info.qch;
  std::vector<RegisteredBook> books;
  std::string error;
  const bool known = read_collection(library, books, error);
  // The .qch registered for the namespace before, as an absolute path; Qt keeps it relative to
  // the collection's folder.
  std::string before;
  for (const RegisteredBook& registered : books) {
    if (registered.namespace_name != info.namespace_name || registered.file.empty()) continue;
    before = lexically_normal(registered.file[0] == '/'
                                  ? registered.file
                                  : real_path(library.substr(0, library.rfind('/'))) + "/" +
                                        registered.file);
  }
  if (known && !before.empty() && real_path(before) == real_path(qch)) return true;
  std::string output;
  if (!known || !before.empty()) {
    // Named by the new .qch, whose namespace is the old one's: the old may be gone.
    run_program(assistant, {"-collectionFile", library, "-unregister", qch}, "", output);
    output.clear();
  }
  if (!run_program(assistant, {"-collectionFile", library, "-register", qch}, "", output)) {
    err += output + "Error: " + assistant + " failed to register " + qch + " in " + library + ".\n";
    return false;
  }
  // The cache folder of the book replaced: the part of its path right below the cache's.
  const std::string cache_path = real_path(cache) + "/";
  if (before.compare(0, cache_path.size(), cache_path) == 0) {
    const std::string folder = before.substr(0, before.find('/', cache_path.size()));
    if (folder.size() > cache_path.size() && folder != real_path(book)) remove_folder(folder);
  }
  return true;
}

}  // namespace

int open_book(const OpenRun& run, std::string& err) {
  std::string cache, data, key;
  if (!xdg_folder("XDG_CACHE_HOME", ".cache", cache, err) ||
      !xdg_folder("XDG_DATA_HOME", ".local/share", data, err) ||
      !make_folders(cache, "cache folder", err) || !make_folders(data, "library folder", err) ||
      !book_key(run, key, err)) {
    return 1;
  }
  const std::string book = cache + "/" + namespace_of(stem_of(run.input)) + "-" + key;
  const std::string library_path = data + "/" + LIBRARY;
  BookInfo info;
  std::string assistant;
  {
    const Lock lock(cache + "/.lock");
    if (!lock.held()) {
      err += "Error: cannot write the cache folder " + cache + ": " + std::strerror(errno) + ".\n";
      return 1;
    }
    remove_partial_conversions(cache);
    if (!cached_book(run, cache, book, info, err) || !library(run, data, err)) return 1;
    assistant =
        find_program("ASSISTANT", {"assistant", "assistant-qt6"},
                     {"/usr/lib/qt6/bin", "/usr/lib/x86_64-linux-gnu/qt6/bin",
                      "/usr/lib/aarch64-linux-gnu/qt6/bin", "/usr/lib64/qt6/bin",
                      "/usr/lib/x86_64-linux-gnu/qt5/bin", "/usr/lib/aarch64-linux-gnu/qt5/bin",
                      "/usr/lib/qt5/bin", "/usr/lib64/qt5/bin"});
    if (assistant.empty()) {
      err += ASSISTANT_NOT_FOUND;
      return 1;
    }
    if (!register_book(assistant, library_path, cache, book, info, err)) return 1;
  }
  int error = 0;
  if (!start_program(assistant, {"-collectionFile", library_path, "-showUrl", page_url(info)},
                     error)) {
    err += "Error: failed to start " + assistant + ": " + std::strerror(error) + ".\n";
    return 1;
  }
  return 0;
}

}  // namespace sitemap
