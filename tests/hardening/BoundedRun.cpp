// Runs scvcmd under a time limit and measures what the run cost.
#include "hardening/BoundedRun.h"

#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace scv::test {
namespace {

using TClock = std::chrono::steady_clock;

// The environment of the child: ours, with LC_ALL=C and the given entries replacing inherited
// ones of the same name.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> add = {"LC_ALL=C"};
  add.insert(add.end(), extra.begin(), extra.end());
  std::vector<std::string> result;
  // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic): environ ends at a null entry
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& a : add) {
      const auto eq = a.find('=');
      if (entry.compare(0, eq + 1, a, 0, eq + 1) == 0) {
        replaced = true;
      }
    }
    if (!replaced) {
      result.push_back(entry);
    }
  }
  // Later entries of the same name win, as the caller's list intends.
  for (std::size_t i = 0; i < add.size(); ++i) {
    const auto eq = add[i].find('=');
    bool later = false;
    for (std::size_t j = i + 1; j < add.size(); ++j) {
      if (add[j].compare(0, eq + 1, add[i], 0, eq + 1) == 0) {
        later = true;
      }
    }
    if (!later) {
      result.push_back(add[i]);
    }
  }
  return result;
}

} // namespace

TBoundedResult RunScvcmdBounded(const std::vector<std::string>& args, double wallLimitSeconds,
                                const std::vector<std::string>& env) {
  // Close-on-exec pipes: children started at the same time by other threads must not hold
  // our write ends open, or this reader would never see the end of the output.
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    throw std::runtime_error("pipe failed");
  }
  // The program runs under the probe, which reports its own figures to a file.
  const TTempDir reportDir;
  const std::string report = reportDir.File("usage");
  const std::string program = SCV_RSS_PROBE;
  const std::string scvcmd = ScvcmdPath();
  std::vector<std::string> envStrings = ChildEnvironment(env);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  argv.push_back(const_cast<char*>(report.c_str()));
  argv.push_back(const_cast<char*>(scvcmd.c_str()));
  for (const auto& a : args) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  envp.reserve(envStrings.size() + 1);
  for (auto& e : envStrings) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  pid_t pid = 0;
  const auto start = TClock::now();
  const int spawned =
      posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (spawned != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    throw std::runtime_error("cannot start " + program);
  }

  TBoundedResult result;
  const auto deadline = start + std::chrono::duration_cast<TClock::duration>(
                                    std::chrono::duration<double>(wallLimitSeconds));
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    const auto now = TClock::now();
    if (now >= deadline && !result.timedOut) {
      kill(pid, SIGKILL);
      result.timedOut = true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    const int waitMs =
        result.timedOut
            ? 1000
            : static_cast<int>(std::max<long long>(1, std::min<long long>(left.count(), 1000)));
    const int ready = poll(fds, 2, waitMs);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    for (auto& fd : fds) {
      if (fd.fd >= 0 && (fd.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        const ssize_t n = read(fd.fd, buf, sizeof buf);
        if (n <= 0) {
          close(fd.fd);
          fd.fd = -1;
          --open;
        } else {
          (&fd == &fds[0] ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
        }
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) {
      close(fd.fd);
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.wallSeconds = std::chrono::duration<double>(TClock::now() - start).count();
  std::istringstream usage(ReadFileBytes(report));
  double user = 0;
  double system = 0;
  usage >> result.peakRssKb >> user >> system;
  result.cpuSeconds = user + system;
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

std::vector<TBoundedResult> RunScvcmdJobs(const std::vector<TBoundedJob>& jobs,
                                          double wallLimitSeconds, unsigned parallel) {
  std::vector<TBoundedResult> results(jobs.size());
  std::atomic<std::size_t> next{0};
  std::mutex failureLock;
  std::string failure;
  auto worker = [&] {
    for (std::size_t i = next++; i < jobs.size(); i = next++) {
      try {
        results[i] = RunScvcmdBounded(jobs[i].args, wallLimitSeconds, jobs[i].env);
      } catch (const std::exception& e) {
        const std::lock_guard<std::mutex> lock(failureLock);
        failure = e.what();
      }
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < std::max(1u, parallel); ++t) {
    threads.emplace_back(worker);
  }
  worker();
  for (auto& t : threads) {
    t.join();
  }
  if (!failure.empty()) {
    throw std::runtime_error(failure);
  }
  return results;
}

std::string LeanSanitizerEnv() {
  const char* inherited = std::getenv("ASAN_OPTIONS");
  std::string value = inherited != nullptr ? inherited : "";
  if (!value.empty()) {
    value += ':';
  }
  return "ASAN_OPTIONS=" + value + "quarantine_size_mb=1:thread_local_quarantine_size_kb=64";
}

long BaselineRssKb() {
  static const long baseline = [] {
    TTempDir dir;
    const std::string in = dir.Write("tiny.rtf", "{\\rtf1 x}");
    const TBoundedResult r =
        RunScvcmdBounded({"-o", "-c65001", in, dir.File("tiny.txt")}, 60, {LeanSanitizerEnv()});
    return r.peakRssKb;
  }();
  return baseline;
}

} // namespace scv::test
