#include "shelf/jobs.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <vector>

#ifdef SITEMAP_COVERAGE
// clang's profile runtime: the counts so far, written out now.
extern "C" int __llvm_profile_write_file(void);
#endif

namespace sitemap {

namespace {

volatile std::sig_atomic_t caught_signal = 0;

void note_signal(int number) { caught_signal = number; }

struct sigaction previous_int, previous_term;

// Writes all of `bytes` to `fd`.
void write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    done += static_cast<std::size_t>(put);
  }
}

struct Running {
  pid_t pid;
  int fd;
  std::size_t task;
  std::string result;
};

}  // namespace

InterruptGuard::InterruptGuard() {
  caught_signal = 0;
  struct sigaction action {};
  action.sa_handler = note_signal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &previous_int);
  ::sigaction(SIGTERM, &action, &previous_term);
}

InterruptGuard::~InterruptGuard() {
  ::sigaction(SIGINT, &previous_int, nullptr);
  ::sigaction(SIGTERM, &previous_term, nullptr);
}

bool InterruptGuard::interrupted() { return caught_signal != 0; }

int InterruptGuard::signal_number() { return caught_signal; }

unsigned processor_count() {
  const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<unsigned>(count) : 1;
}

void run_tasks(std::size_t count, unsigned jobs,
               const std::function<std::string(std::size_t)>& task,
               const std::function<void(std::size_t, std::string, bool)>& done) {
  if (jobs <= 1) {
    for (std::size_t i = 0; i < count && !InterruptGuard::interrupted(); ++i)
      done(i, task(i), true);
    return;
  }
  std::vector<Running> running;
  std::size_t next = 0;
  while (next < count || !running.empty()) {
    while (next < count && running.size() < jobs && !InterruptGuard::interrupted()) {
      int fds[2];
      if (::pipe(fds) != 0) break;
      std::fflush(stdout);
      std::fflush(stderr);
      const pid_t pid = ::fork();
      if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        break;
      }
      if (pid == 0) {
        // The task's process ends on an interrupt, as the run's would.
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        ::close(fds[0]);
        write_all(fds[1], task(next));
#ifdef SITEMAP_COVERAGE
        __llvm_profile_write_file();  // _exit writes no profile
#endif
        ::_exit(0);
      }
      ::close(fds[1]);
      running.push_back({pid, fds[0], next++, {}});
    }
    if (running.empty()) break;  // interrupted, or no process could be started
    std::vector<pollfd> polls;
    for (const Running& r : running) polls.push_back({r.fd, POLLIN, 0});
    if (::poll(polls.data(), polls.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (std::size_t p = polls.size(); p-- > 0;) {
      if (polls[p].revents == 0) continue;
      Running& r = running[p];
      char block[64 * 1024];
      const ssize_t got = ::read(r.fd, block, sizeof block);
      if (got < 0 && errno == EINTR) continue;
      if (got > 0) {
        r.result.append(block, static_cast<std::size_t>(got));
        continue;
      }
      ::close(r.fd);
      int status = 0;
      while (::waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
      }
      const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      Running ended = std::move(r);
      running.erase(running.begin() + static_cast<long>(p));
      done(ended.task, std::move(ended.result), finished);
    }
  }
}

ProgressLine::ProgressLine() : terminal_(::isatty(STDERR_FILENO) == 1) {}

void ProgressLine::show(std::size_t done, std::size_t total, const std::string& name) {
  if (!terminal_) return;
  std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", done, total, name.c_str());
  std::fflush(stderr);
  shown_ = true;
}

void ProgressLine::clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace sitemap
