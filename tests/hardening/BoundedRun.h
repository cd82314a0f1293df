// Runs scvcmd under a time limit and measures what the run cost: CPU time, wall time and the
// child's peak resident memory. Many runs can go through a small pool of worker threads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace scv::test {

struct TBoundedResult {
  int exitCode = -1;     // 0-255 when the program exited, -1 otherwise
  int signal = 0;        // the signal that ended it, 0 when it exited
  bool timedOut = false; // killed at the time limit
  std::string out;       // standard output
  std::string err;       // standard error
  double cpuSeconds = 0; // user + system time of the child
  double wallSeconds = 0;
  long peakRssKb = 0; // the child's peak resident set
};

// Runs the built scvcmd with args and LC_ALL=C; env entries "NAME=value" replace inherited
// ones. A run that passes wallLimitSeconds is killed and reported as timed out.
TBoundedResult RunScvcmdBounded(const std::vector<std::string>& args, double wallLimitSeconds,
                                const std::vector<std::string>& env = {});

struct TBoundedJob {
  std::vector<std::string> args;
  std::vector<std::string> env;
};

// Runs every job, at most `parallel` at a time; results in the order of the jobs.
std::vector<TBoundedResult> RunScvcmdJobs(const std::vector<TBoundedJob>& jobs,
                                          double wallLimitSeconds, unsigned parallel);

// The inherited ASAN_OPTIONS with a small quarantine appended, so that the peak resident set of
// a sanitized child reflects what the program holds rather than what the checker keeps freed.
std::string LeanSanitizerEnv();

// Peak resident set of a run of scvcmd on a tiny input: the fixed cost every run carries.
long BaselineRssKb();

} // namespace scv::test
