#include "project/output_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace sitemap {

namespace {

constexpr int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

bool is_empty_folder(int fd) {
  const int copy = ::dup(fd);
  if (copy < 0) return false;
  DIR* dir = ::fdopendir(copy);
  if (dir == nullptr) {
    ::close(copy);
    return false;
  }
  // The copy shares the descriptor's place in the listing: from the start.
  ::rewinddir(dir);
  bool empty = true;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") empty = false;
  }
  ::closedir(dir);
  return empty;
}

// Removes everything inside the folder open as `fd`, never following a link.
void remove_contents(int fd) {
  const int copy = ::dup(fd);
  if (copy < 0) return;
  DIR* dir = ::fdopendir(copy);
  if (dir == nullptr) {
    ::close(copy);
    return;
  }
  // The copy shares the descriptor's place in the listing, which the check that the folder was
  // empty left at its end: from the start, or nothing would be removed.
  ::rewinddir(dir);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (::unlinkat(fd, entry->d_name, 0) == 0) continue;
    const int sub = ::openat(fd, entry->d_name, FOLDER_FLAGS);
    if (sub >= 0) {
      remove_contents(sub);
      ::close(sub);
      ::unlinkat(fd, entry->d_name, AT_REMOVEDIR);
    }
  }
  ::closedir(dir);
}

bool is_safe_part(std::string_view part) {
  if (part.empty() || part == "." || part == "..") return false;
  for (const char c : part) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

bool remove_folder(const std::string& path) {
  const int fd = ::open(path.c_str(), FOLDER_FLAGS);
  if (fd < 0) return false;
  remove_contents(fd);
  ::close(fd);
  return ::rmdir(path.c_str()) == 0;
}

bool is_new_or_empty_folder(const std::string& path) {
  const int fd = ::open(path.c_str(), FOLDER_FLAGS);
  if (fd < 0) return errno == ENOENT;
  const bool empty = is_empty_folder(fd);
  ::close(fd);
  return empty;
}

OutputFolder::~OutputFolder() {
  if (last_folder_fd_ >= 0) ::close(last_folder_fd_);
  if (fd_ >= 0) ::close(fd_);
}

bool OutputFolder::open(const std::string& path, std::string& error) {
  path_ = path;
  if (::mkdir(path.c_str(), 0777) == 0) {
    created_ = true;
  } else if (errno != EEXIST) {
    error = "Failed to create " + path + ".";
    return false;
  }
  fd_ = ::open(path.c_str(), FOLDER_FLAGS);
  if (fd_ < 0) {
    error = errno == ENOTDIR || errno == ELOOP ? path + " is not a folder."
                                               : "Failed to open " + path + ".";
    return false;
  }
  if (!created_ && !is_empty_folder(fd_)) {
    ::close(fd_);
    fd_ = -1;
    error = path + " is not empty.";
    return false;
  }
  return true;
}

int OutputFolder::open_parent(std::string_view relative, std::string_view& leaf) {
  const std::size_t slash = relative.rfind('/');
  const std::string_view folder = slash == std::string_view::npos ? "" : relative.substr(0, slash);
  leaf = slash == std::string_view::npos ? relative : relative.substr(slash + 1);
  if (folder.empty()) return fd_;
  if (last_folder_fd_ >= 0 && folder == last_folder_) return last_folder_fd_;
  int at = fd_;
  std::size_t start = 0;
  while (start <= folder.size()) {
    const std::size_t end = std::min(folder.find('/', start), folder.size());
    const std::string part(folder.substr(start, end - start));
    start = end + 1;
    if (::mkdirat(at, part.c_str(), 0777) != 0 && errno != EEXIST) break;
    const int next = ::openat(at, part.c_str(), FOLDER_FLAGS);
    if (at != fd_) ::close(at);
    at = next;
    if (at < 0) return -1;
    if (end == folder.size()) {
      if (last_folder_fd_ >= 0) ::close(last_folder_fd_);
      last_folder_fd_ = at;
      last_folder_.assign(folder);
      return at;
    }
  }
  if (at != fd_ && at >= 0) ::close(at);
  return -1;
}

bool OutputFolder::write(std::string_view relative, std::string_view bytes) {
  // Every part is checked before anything is made: no absolute name, no "..", no control
  // characters.
  for (std::size_t start = 0; start <= relative.size();) {
    const std::size_t end = std::min(relative.find('/', start), relative.size());
    if (!is_safe_part(relative.substr(start, end - start))) {
      errno = EINVAL;
      return false;
    }
    start = end + 1;
  }
  std::string_view leaf;
  const int folder = open_parent(relative, leaf);
  if (folder < 0) return false;
  const std::string name(leaf);
  const int fd =
      ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool written = write_all(fd, bytes);
  const int saved = errno;
  const bool closed = ::close(fd) == 0;
  if (!written) errno = saved;
  return written && closed;
}

void OutputFolder::discard() {
  if (last_folder_fd_ >= 0) ::close(last_folder_fd_);
  last_folder_fd_ = -1;
  if (fd_ < 0) return;
  remove_contents(fd_);
  ::close(fd_);
  fd_ = -1;
  if (created_) ::rmdir(path_.c_str());
}

}  // namespace sitemap
