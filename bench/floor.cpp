// The least work any converter must do, for the benchmark to measure against: map both inputs,
// find every line feed of both, and write a file of the size the DCF has for the same project.
// With --read the inputs are read in blocks instead of mapped, which on some virtual machines
// costs less (mapped memory is slow to read there).
// usage: floor [--read] CONTENTS INDEX OUTPUT SIZE   (prints the number of line feeds)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long count_in(const char* p, const char* end) {
  long lines = 0;
  while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) !=
         nullptr) {
    ++lines;
    ++p;
  }
  return lines;
}

long read_line_feeds(const char* path) {
  const int fd = ::open(path, O_RDONLY);
  if (fd < 0) std::exit(1);
  static char block[64 * 1024];
  long lines = 0;
  for (ssize_t got; (got = ::read(fd, block, sizeof block)) > 0;)
    lines += count_in(block, block + got);
  ::close(fd);
  return lines;
}

long map_line_feeds(const char* path) {
  const int fd = ::open(path, O_RDONLY);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) std::exit(1);
  const auto size = static_cast<std::size_t>(st.st_size);
  long lines = 0;
  if (size > 0) {
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (map == MAP_FAILED) std::exit(1);
    lines = count_in(static_cast<const char*>(map), static_cast<const char*>(map) + size);
    ::munmap(map, size);
  }
  ::close(fd);
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  const bool read = argc == 6 && std::strcmp(argv[1], "--read") == 0;
  if (read) ++argv;
  if (argc != 5 + read) return 2;
  const auto line_feeds = read ? read_line_feeds : map_line_feeds;
  const long lines = line_feeds(argv[1]) + line_feeds(argv[2]);
  const int out = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (out < 0) return 1;
  static char block[64 * 1024];
  std::memset(block, 'x', sizeof block);
  for (long left = std::atol(argv[4]); left > 0;) {
    const long n = left < static_cast<long>(sizeof block) ? left : static_cast<long>(sizeof block);
    if (::write(out, block, static_cast<std::size_t>(n)) != n) return 1;
    left -= n;
  }
  if (::close(out) != 0) return 1;
  std::printf("%ld\n", lines);
  return 0;
}
