// Runs one program and reports the resources it used: "<peak RSS in KB> <user s> <system s>"
// written to the report file, exit status passed on. A process started straight from a large
// test process inherits that process's high-water mark in its own peak resident set; started
// from this small program instead, the figure is the program's own.
// Usage: hardening_rss_probe <report file> <program> [args...]
#include <cerrno>
#include <cstdio>
#include <memory>
#include <signal.h>
#include <span>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Closes the report file when its owner goes.
struct TFileCloser {
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): the deleter of the owning unique_ptr
  void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    return 126;
  }
  const std::span<char*> args(argv, static_cast<std::size_t>(argc));
  const pid_t pid = fork();
  if (pid < 0) {
    return 126;
  }
  if (pid == 0) {
    // Killing the probe at a time limit ends the measured program too.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    execv(args[2], args.subspan(2).data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (const std::unique_ptr<FILE, TFileCloser> report(std::fopen(args[1], "w")); report) {
    std::fprintf(
        report.get(), "%ld %ld.%06ld %ld.%06ld\n", usage.ru_maxrss,
        static_cast<long>(usage.ru_utime.tv_sec), static_cast<long>(usage.ru_utime.tv_usec),
        static_cast<long>(usage.ru_stime.tv_sec), static_cast<long>(usage.ru_stime.tv_usec));
  }
  if (WIFSIGNALED(status)) {
    // Report the signal the way a shell would see it: end by the same signal.
    signal(WTERMSIG(status), SIG_DFL);
    raise(WTERMSIG(status));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 126;
}
