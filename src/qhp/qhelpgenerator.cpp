#include "qhp/qhelpgenerator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#ifdef SITEMAP_COVERAGE
// clang's profile runtime: the counts so far, written out now.
extern "C" int __llvm_profile_write_file(void);
#endif

namespace sitemap {

namespace {

bool is_executable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string find_qhelpgenerator() {
  // $QHELPGENERATOR first; one that names no program is passed over for the usual places.
  if (const char* given = std::getenv("QHELPGENERATOR"); given != nullptr && *given != '\0') {
    if (is_executable(given)) return given;
  }
  std::vector<std::string> folders;
  if (const char* path = std::getenv("PATH")) {
    std::string all = path;
    for (std::size_t start = 0; start <= all.size();) {
      const std::size_t end = std::min(all.find(':', start), all.size());
      folders.push_back(all.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const char* folder :
       {"/usr/lib/qt6/libexec", "/usr/lib/qt6/bin", "/usr/lib/x86_64-linux-gnu/qt6/libexec",
        "/usr/lib/x86_64-linux-gnu/qt5/bin", "/usr/lib/aarch64-linux-gnu/qt5/bin",
        "/usr/lib/qt5/bin", "/usr/lib64/qt6/libexec", "/usr/lib64/qt5/bin"}) {
    folders.emplace_back(folder);
  }
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    const std::string candidate = folder + "/qhelpgenerator";
    if (is_executable(candidate)) return candidate;
  }
  return {};
}

namespace {

// Runs `generator` in `folder` on `input`, for `result`; its output appended to `output`.
bool run_in(const std::string& generator, const std::string& folder, const std::string& input,
            const std::string& result, std::string& output) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    return false;
  }
  if (child == 0) {
    ::dup2(pipe_fds[1], STDOUT_FILENO);
    ::dup2(pipe_fds[1], STDERR_FILENO);
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, STDIN_FILENO);
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
#ifdef SITEMAP_COVERAGE
    __llvm_profile_write_file();  // exec leaves no exit to write it at
#endif
    ::execl(generator.c_str(), generator.c_str(), input.c_str(), "-o", result.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  char block[4096];
  for (;;) {
    const ssize_t got = ::read(pipe_fds[0], block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    output.append(block, static_cast<std::size_t>(got));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool run_generator(const std::string& generator, const std::string& folder,
                   const std::string& input, const std::string& result, std::string& output) {
  return run_in(generator, folder, input, result, output);
}

bool run_qhelpgenerator(const std::string& generator, const std::string& qhp_path,
                        std::string& output) {
  const std::size_t slash = qhp_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : qhp_path.substr(0, slash);
  const std::string qhp = qhp_path.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::string stem = qhp.substr(0, qhp.rfind('.'));
  if (!run_in(generator, folder, qhp, stem + ".qch", output)) return false;
  // Assistant registers a book only in a collection file that exists; an empty one is made
  // from an empty collection project, which goes again.
  const std::string collection = folder + "/" + stem + ".qhc";
  struct stat st;
  if (::stat(collection.c_str(), &st) == 0) return true;
  const std::string project = folder + "/" + stem + ".qhcp";
  const int fd = ::open(project.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return true;  // a file of the user's by that name: no collection then
  constexpr std::string_view EMPTY = "<QHelpCollectionProject version=\"1.0\"/>\n";
  const bool written =
      ::write(fd, EMPTY.data(), EMPTY.size()) == static_cast<ssize_t>(EMPTY.size());
  ::close(fd);
  const bool made = written && run_in(generator, folder, stem + ".qhcp", stem + ".qhc", output);
  ::unlink(project.c_str());
  return made;
}

}  // namespace sitemap
