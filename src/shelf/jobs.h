// Work on a shelf's books side by side: each task in a process of its own, as many at once as
// asked, their results handed back in the parent as they end; an interrupt (Ctrl-C) noted, so
// that the run can take back what was half done; and the progress line of a terminal.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace sitemap {

// From now until the object goes, SIGINT and SIGTERM are noted instead of ending the process
// (the processes of tasks still end on them), and interrupted() tells whether one came.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
  static bool interrupted();
  // The signal that came, for the exit status (128 + it); 0 for none.
  static int signal_number();
};

// Runs task(i) for i from 0 to count - 1, `jobs` at a time: with more than one, each in a
// child process of its own (which ends on an interrupt); else in this process, one by one.
// done(i, result, finished) is called in this process as each ends, in any order: `finished`
// is false for a task whose process died before it handed over its result. No task starts
// once interrupted.
void run_tasks(std::size_t count, unsigned jobs,
               const std::function<std::string(std::size_t)>& task,
               const std::function<void(std::size_t, std::string, bool)>& done);

// The number of processors, for the default of -j.
unsigned processor_count();

// One line on standard error, "[3/12] sakura.chm", written over in place, where standard error
// is a terminal; nothing elsewhere.
class ProgressLine {
 public:
  ProgressLine();
  ~ProgressLine() { clear(); }
  void show(std::size_t done, std::size_t total, const std::string& name);
  // Takes the line away, for other lines to be printed or at the end.
  void clear();

 private:
  bool terminal_;
  bool shown_ = false;
};

}  // namespace sitemap
