// Other programs: found as a user's shell finds them, run to their end, or started on their own.
#pragma once

#include <string>
#include <vector>

namespace sitemap {

// Whether `path` is a regular file this user may run.
bool is_executable(const std::string& path);

// The program the environment variable `variable` names, where it names one that can be run;
// else the first of `names` found in a folder of PATH, else in one of `folders`; empty where
// there is none.
std::string find_program(const char* variable, const std::vector<std::string>& names,
                         const std::vector<std::string>& folders);

// Runs `program` with `args` in `folder` ("" for the current one), its input /dev/null, and
// waits for it; what it writes to its output and errors is appended to `output`. True when it
// exited with status 0.
bool run_program(const std::string& program, const std::vector<std::string>& args,
                 const std::string& folder, std::string& output);

// Starts `program` with `args` in a session of its own, its input and output /dev/null, and does
// not wait for it (nor leave it a zombie). False, with its errno in `error`, when it could not
// be started.
bool start_program(const std::string& program, const std::vector<std::string>& args, int& error);

}  // namespace sitemap
