#include "io/file_streams.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

namespace sitemap {

namespace {
// Output is handed to the system in blocks of this size.
constexpr std::size_t WRITE_BLOCK = 64 * 1024;

Outcome open_failure(Report& report, std::string_view message) {
  fail(report, message);
  return Outcome::failure;
}

// Opens an input for reading. Only a regular file or a FIFO will do: a directory, for one, opens
// but can never be read, and must not pass for an empty file.
int open_input(const char* name) {
  const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode))) {
    ::close(fd);
    errno = EISDIR;
    return -1;
  }
  return fd;
}

Outcome open_inputs(OpenedFiles& files, Report& report, const std::string& contents_name,
                    const std::string& index_name) {
  files.contents = open_input_file(contents_name);
  if (!files.contents) return open_failure(report, "Failed to open " + contents_name + ".");
  files.index = open_input_file(index_name);
  if (!files.index) {
    files.contents->close();
    return open_failure(report, "Failed to open " + index_name + ".");
  }
  return Outcome::success;
}

Outcome open_files(OpenedFiles& files, Report& report) {
  if (open_inputs(files, report, CONTENTS_FILE, INDEX_FILE) != Outcome::success) {
    return Outcome::failure;
  }
  const int dcf = ::open(DCF_FILE, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (dcf < 0) {
    files.contents->close();
    files.index->close();
    return open_failure(report, "Failed to open qt-assistant.dcf.");
  }
  files.output = std::make_unique<FileOutput>(dcf);
  return Outcome::success;
}

// The permissions a newly created file gets: 0666 less the process's umask.
mode_t new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

std::unique_ptr<FileInput> open_input_file(const std::string& name) {
  const int fd = open_input(name.c_str());
  return fd < 0 ? nullptr : std::make_unique<FileInput>(fd);
}

FileInput::~FileInput() { close(); }

WholeInput::~WholeInput() {
  if (mapped_ != nullptr) ::munmap(mapped_, bytes_.size());
}

bool WholeInput::load(FileInput& input) {
  struct stat st;
  const int fd = input.descriptor();
  if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    const auto size = static_cast<std::size_t>(st.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped != MAP_FAILED) {
      ::madvise(mapped, size, MADV_SEQUENTIAL);
      mapped_ = mapped;
      bytes_ = std::string_view(static_cast<const char*>(mapped), size);
      return true;
    }
  }
  read_ = std::make_unique<ReplayInput>(input);
  bytes_ = read_->bytes();
  return !read_->failed();
}

void WholeInput::release(std::size_t end) {
  if (mapped_ == nullptr) return;
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  end = std::min(end, bytes_.size());
  // Whole pages only, up to the last one that ends before `end` (or the end itself).
  const std::size_t to = end == bytes_.size() ? (end + page - 1) / page * page : end / page * page;
  // A reader that starts again from the start gives back from there.
  const std::size_t from = to > released_ ? released_ : 0;
  if (to > from) ::madvise(static_cast<char*>(mapped_) + from, to - from, MADV_DONTNEED);
  released_ = to;
}

long FileInput::read(char* dest, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd_, dest, size);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

std::size_t FileInput::size_hint() const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return 0;
  return static_cast<std::size_t>(st.st_size);
}

bool FileInput::rewind() { return fd_ >= 0 && ::lseek(fd_, 0, SEEK_SET) == 0; }

void FileInput::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

FileOutput::FileOutput(int fd) : fd_(fd), buffer_(new char[WRITE_BLOCK]) {
  room_ = buffer_.get();
  room_end_ = buffer_.get() + WRITE_BLOCK;
}

FileOutput::~FileOutput() { close(); }

bool FileOutput::write_out(const char* data, std::size_t size) {
  // The room is too small for these bytes: what it holds goes first.
  if (!flush()) return false;
  if (size >= WRITE_BLOCK) return write_through(data, size);
  std::memcpy(buffer_.get(), data, size);
  room_ = buffer_.get() + size;
  return true;
}

bool FileOutput::flush() {
  const bool ok = write_through(buffer_.get(), static_cast<std::size_t>(room_ - buffer_.get()));
  room_ = buffer_.get();
  return ok;
}

bool FileOutput::write_through(const char* data, std::size_t size) {
  if (fd_ < 0) return false;
  while (size > 0) {
    const ssize_t put = ::write(fd_, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

bool FileOutput::close() {
  if (fd_ < 0) return true;
  const bool flushed = flush();
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  return flushed && closed;
}

ReplacingFileOutput::ReplacingFileOutput(std::string target, std::string temporary, int fd)
    : FileOutput(fd), target_(std::move(target)), temporary_(std::move(temporary)) {}

ReplacingFileOutput::~ReplacingFileOutput() {
  close();
  if (!committed_) ::unlink(temporary_.c_str());
}

std::unique_ptr<ReplacingFileOutput> ReplacingFileOutput::create(const std::string& target) {
  // Hidden, so that a listing of the project's files never takes it for one of them.
  const std::size_t slash = target.rfind('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::string temporary = target.substr(0, base) + "." + target.substr(base) + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  // mkostemp makes the file private; the finished file gets the usual permissions.
  if (::fchmod(fd, new_file_mode()) != 0) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return nullptr;
  }
  return std::unique_ptr<ReplacingFileOutput>(
      new ReplacingFileOutput(target, std::move(temporary), fd));
}

bool ReplacingFileOutput::commit() {
  if (!close() || ::rename(temporary_.c_str(), target_.c_str()) != 0) return false;
  committed_ = true;
  return true;
}

Outcome open_input_files(OpenedFiles& files, Report& report, const std::string& contents,
                         const std::string& index) {
  try {
    return open_inputs(files, report, contents, index);
  } catch (const std::bad_alloc&) {
    files = OpenedFiles{};
    return open_failure(report, OUT_OF_MEMORY);
  }
}

Outcome open_conversion_files(OpenedFiles& files, Report& report) {
  try {
    return open_files(files, report);
  } catch (const std::bad_alloc&) {
    files = OpenedFiles{};
    return open_failure(report, OUT_OF_MEMORY);
  }
}

void print_report(const Report& report) {
  std::fwrite(report.out.data(), 1, report.out.size(), stdout);
  std::fflush(stdout);
  std::fwrite(report.err.data(), 1, report.err.size(), stderr);
}

}  // namespace sitemap
