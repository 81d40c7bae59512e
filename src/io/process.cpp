#include "io/process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#ifdef SITEMAP_COVERAGE
// clang's profile runtime: the counts so far, written out now.
extern "C" int __llvm_profile_write_file(void);
#endif

namespace sitemap {

namespace {

// The argument vector execv wants: the program's path first, a null last.
std::vector<char*> argument_vector(const std::string& program,
                                   const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// In a child: becomes `program`; where that fails, writes why (its errno) to `report`, where
// given, and exits with 127.
[[noreturn]] void become(const std::string& program, std::vector<char*>& argv, int report = -1) {
#ifdef SITEMAP_COVERAGE
  __llvm_profile_write_file();  // exec leaves no exit to write it at
#endif
  ::execv(program.c_str(), argv.data());
  const int failed = errno;
  if (report >= 0) (void)!::write(report, &failed, sizeof failed);
  ::_exit(127);
}

void wait_for(pid_t child, int& status) {
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

bool is_executable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string find_program(const char* variable, const std::vector<std::string>& names,
                         const std::vector<std::string>& folders) {
  // One that names no program is passed over for the usual places.
  if (const char* given = std::getenv(variable); given != nullptr && *given != '\0') {
    if (is_executable(given)) return given;
  }
  std::vector<std::string> all;
  if (const char* path = std::getenv("PATH")) {
    const std::string list = path;
    for (std::size_t start = 0; start <= list.size();) {
      const std::size_t end = std::min(list.find(':', start), list.size());
      all.push_back(list.substr(start, end - start));
      start = end + 1;
    }
  }
  const std::size_t on_path = all.size();
  all.insert(all.end(), folders.begin(), folders.end());
  // Every name on PATH before any in the usual folders: PATH is the user's choice.
  for (const auto& [from, to] : {std::pair<std::size_t, std::size_t>{0, on_path},
                                 std::pair<std::size_t, std::size_t>{on_path, all.size()}}) {
    for (const std::string& name : names) {
      for (std::size_t i = from; i < to; ++i) {
        if (all[i].empty()) continue;
        const std::string candidate = all[i] + "/" + name;
        if (is_executable(candidate)) return candidate;
      }
    }
  }
  return {};
}

bool run_program(const std::string& program, const std::vector<std::string>& args,
                 const std::string& folder, std::string& output) {
  std::vector<char*> argv = argument_vector(program, args);
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
    if (!folder.empty() && ::chdir(folder.c_str()) != 0) ::_exit(127);
    become(program, argv);
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
  wait_for(child, status);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool start_program(const std::string& program, const std::vector<std::string>& args, int& error) {
  std::vector<char*> argv = argument_vector(program, args);
  // The program's grandparent is this process: its parent ends at once, so that init takes it
  // over and this process never waits for it. A pipe that closes on exec tells whether it began.
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    error = errno;
    return false;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    error = errno;
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    return false;
  }
  if (child == 0) {
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, STDIN_FILENO);
      ::dup2(null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
    }
    const pid_t grandchild = ::fork();
    if (grandchild != 0) {
      if (grandchild < 0) {
        const int failed = errno;
        (void)!::write(pipe_fds[1], &failed, sizeof failed);
      }
      ::_exit(0);
    }
    become(program, argv, pipe_fds[1]);
  }
  ::close(pipe_fds[1]);
  int status = 0;
  wait_for(child, status);
  int failed = 0;
  ssize_t got;
  while ((got = ::read(pipe_fds[0], &failed, sizeof failed)) < 0 && errno == EINTR) {
  }
  ::close(pipe_fds[0]);
  if (got == static_cast<ssize_t>(sizeof failed)) {
    error = failed;
    return false;
  }
  return true;
}

}  // namespace sitemap
