// A forked child runs the extraction; the parent relays its text and enforces the ceilings.
//
// Stream from child to parent, native byte order (both ends are the same program):
//   text frame:  u32 n (1 .. kFrameBytes), then n bytes of text
//   end record:  u32 kEndMark, i32 result, u64 total text bytes
// The end record is the last thing the child writes. The parent reports the child's result
// only when the end record arrived, its byte total matches what was relayed, nothing follows
// it, and the child exited with status 0: a child that dies or stops half-way, for whatever
// reason, can never look like a finished extraction.
#include "ExtractionChild.h"

#include "sandbox/Sandbox.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <errno.h>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <span>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace scv::plugins::pdf {

namespace {

constexpr std::uint32_t kFrameBytes = 64 * 1024;
constexpr int kPipeBytes = 1024 * 1024;
constexpr std::uint32_t kEndMark = 0xFFFFFFFFu;
constexpr std::size_t kEndBytes = 4 + 12;

// Exit statuses of a child that could not do its work; anything but 0 is a failure.
constexpr int kExitSetupFailed = 70;
constexpr int kExitStreamBroken = 71;

// How often the parent samples the child's resident memory. Poppler's fastest growth measured
// (unmatched graphics-state saves) is about 1 GB/s, so a child overshoots by 10 MB at most
// while the parent wakes only a hundred times a second.
constexpr std::int64_t kMemoryCheckNs = 10'000'000;

constexpr std::uint64_t kMiB = std::uint64_t{1024} * 1024;

// Ceilings. Measured on the shared PDF corpus and the 5.7 MB benchmark document (release
// build): no file grows the process by more than 5 MB, and processor time stays below 1 s per
// MB of input (GeoTopo 0.54 s/MB, the benchmark 0.93 s/MB; about twice that with the
// sanitizers). The ceilings leave a margin of 50 and of 10 over that.
constexpr std::uint64_t kMemoryFloor = 256 * kMiB;
constexpr std::uint64_t kMemoryPerInputByte = 32;
constexpr std::uint64_t kCpuFloorSeconds = 30;
constexpr std::uint64_t kCpuSecondsPerMiB = 10;
// Wall-clock time allows for a busy machine: twice the processor time.
constexpr std::uint64_t kWallPerCpu = 2;

#if defined(__SANITIZE_ADDRESS__)
#define SCV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SCV_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef SCV_ADDRESS_SANITIZER
// The address sanitizer keeps freed memory in quarantine (256 MB by default) and adds shadow
// memory: a sanitized build of the corpus's GeoTopo grows by about 400 MB where the release
// build grows by 4 MB.
constexpr std::uint64_t kSanitizerAllowance = 512 * kMiB;
#else
constexpr std::uint64_t kSanitizerAllowance = 0;
#endif

std::int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Resident bytes from a /proc/<pid>/statm descriptor (second field, in pages); -1 when it
// cannot be read (the child already gone).
std::int64_t ResidentBytes(int statmFd) {
  std::array<char, 128> text;
  ssize_t n;
  do {
    n = pread(statmFd, text.data(), text.size() - 1, 0);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    return -1;
  }
  text[static_cast<std::size_t>(n)] = '\0';
  std::size_t p = 0;
  while (text[p] != '\0' && text[p] != ' ') {
    ++p;
  }
  if (text[p] != ' ') {
    return -1; // no second field: the scan must not run past the text
  }
  std::int64_t pages = 0;
  bool any = false;
  for (++p; text[p] >= '0' && text[p] <= '9'; ++p) {
    pages = pages * 10 + (text[p] - '0');
    any = true;
  }
  return any ? pages * sysconf(_SC_PAGESIZE) : -1;
}

std::int64_t OwnResidentBytes() {
  const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return 0;
  }
  const std::int64_t rss = ResidentBytes(fd);
  close(fd);
  return rss < 0 ? 0 : rss;
}

int OpenStatm(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/statm", static_cast<int>(pid));
  return open(path, O_RDONLY | O_CLOEXEC);
}

class TFd {
public:
  explicit TFd(int fd = -1) : fd_(fd) {}
  ~TFd() { Close(); }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) {
      close(fd_);
      fd_ = -1;
    }
  }

private:
  int fd_;
};

// ---------------------------------------------------------------------------------------
// Child side. Runs between fork and _exit: it never returns into the caller's code, never
// runs the parent's exit handlers and never flushes the parent's stdio buffers.
// ---------------------------------------------------------------------------------------

// Writes all bytes, through short writes and interruptions. A pipe the parent closed (it
// killed us or died) ends the child with a failure status, whether SIGPIPE is ignored or not.
void WriteAllOrDie(int fd, std::span<const char> data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      _exit(kExitStreamBroken);
    }
    data = data.subspan(static_cast<std::size_t>(n));
  }
}

class TPipeOutput final : public TTextOutput {
public:
  explicit TPipeOutput(int fd) : fd_(fd) {}

  void Write(std::string_view text) override {
    while (!text.empty()) {
      const std::size_t n = std::min<std::size_t>(text.size(), kFrameBytes - fill_);
      std::memcpy(frame_.data() + 4 + fill_, text.data(), n);
      fill_ += static_cast<std::uint32_t>(n);
      total_ += n;
      text.remove_prefix(n);
      if (fill_ == kFrameBytes) {
        Flush();
      }
    }
  }

  void Finish(std::int32_t result) {
    Flush();
    std::array<char, kEndBytes> end{};
    std::memcpy(end.data(), &kEndMark, 4);
    std::memcpy(end.data() + 4, &result, 4);
    std::memcpy(end.data() + 8, &total_, 8);
    WriteAllOrDie(fd_, end);
  }

private:
  void Flush() {
    if (fill_ == 0) {
      return;
    }
    std::memcpy(frame_.data(), &fill_, 4);
    WriteAllOrDie(fd_, std::span(frame_).first(4 + std::size_t{fill_}));
    fill_ = 0;
  }

  int fd_;
  std::uint32_t fill_ = 0;
  std::uint64_t total_ = 0;
  std::array<char, 4 + kFrameBytes> frame_;
};

// Leaves the child with /dev/null on 0, 1 and 2, the pipe on 3 and nothing else open, so it
// cannot write on the host's streams or hold the host's other pipes and files open.
bool IsolateDescriptors(int pipeFd) {
  const int pipe3 = fcntl(pipeFd, F_DUPFD, 3); // above the standard descriptors, whatever they are
  const int null = open("/dev/null", O_RDWR);
  if (pipe3 < 0 || null < 0) {
    return false;
  }
  for (int fd = 0; fd <= 2; ++fd) {
    if (null != fd && dup2(null, fd) < 0) {
      return false;
    }
  }
  if (pipe3 != 3 && dup2(pipe3, 3) < 0) {
    return false;
  }
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 4u, ~0u, 0u) == 0) {
    return true;
  }
#endif
  rlimit files{};
  const rlim_t top = getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                         ? std::min<rlim_t>(files.rlim_cur, 1 << 20)
                         : 1 << 16;
  for (rlim_t fd = 4; fd < top; ++fd) {
    close(static_cast<int>(fd));
  }
  return true;
}

// Default handling for the signals a host may catch or ignore: a crash must end the child
// (not run the host's handler in a copy of the host), and SIGXCPU must end it at the
// processor-time ceiling.
void ResetSignals() {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_UNBLOCK, &all, nullptr);
  for (const int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS, SIGTRAP, SIGXCPU, SIGXFSZ,
                        SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2}) {
    signal(sig, SIG_DFL);
  }
}

[[noreturn]] void ChildMain(pid_t parent, int pipeFd, const TChildLimits& limits, TChildWork work,
                            void* context) {
  ResetSignals();
  // A child whose parent is gone has nobody to deliver to.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
    _exit(kExitSetupFailed);
  }
  // A crash of the engine must not leave a core file (or feed a crash reporter) per document.
  prctl(PR_SET_DUMPABLE, 0);
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  // SIGXCPU at the ceiling, SIGKILL two seconds later should it be caught; never above a
  // hard limit the host already has (raising it is not allowed).
  rlimit cpu{};
  if (getrlimit(RLIMIT_CPU, &cpu) != 0) {
    _exit(kExitSetupFailed);
  }
  const rlim_t hard = rlim_t{limits.cpuSeconds} + 2;
  cpu.rlim_max = cpu.rlim_max == RLIM_INFINITY ? hard : std::min(cpu.rlim_max, hard);
  cpu.rlim_cur = std::min<rlim_t>(limits.cpuSeconds, cpu.rlim_max);
  if (setrlimit(RLIMIT_CPU, &cpu) != 0 || !IsolateDescriptors(pipeFd)) {
    _exit(kExitSetupFailed);
  }
  // The engine reads the document and writes only to the pipe: no file-system writes, no
  // programs, no sockets, whatever host (confined or not) forked it.
  sandbox::ConfineWorker();
  std::int32_t result = kInternal;
  std::unique_ptr<TPipeOutput> out;
  try {
    out = std::make_unique<TPipeOutput>(3);
    result = work(context, *out);
  } catch (...) {
    result = kInternal;
  }
  if (!out) {
    _exit(kExitSetupFailed);
  }
  out->Finish(result);
  _exit(0);
}

// ---------------------------------------------------------------------------------------
// Parent side.
// ---------------------------------------------------------------------------------------

// Parses the child's stream and hands the text to the sink as it arrives.
class TStreamReader {
public:
  explicit TStreamReader(PdfTextSink sink) : sink_(sink) {}

  // False when the bytes break the stream format.
  bool Feed(std::span<const char> data) {
    while (!data.empty()) {
      if (done_) {
        return false; // nothing may follow the end record
      }
      if (textLeft_ > 0) {
        const std::size_t n = std::min<std::size_t>(data.size(), textLeft_);
        sink_(data.data(), static_cast<std::int32_t>(n));
        relayed_ += n;
        textLeft_ -= static_cast<std::uint32_t>(n);
        data = data.subspan(n);
        continue;
      }
      // Collect a frame header, or the end record once its mark is seen.
      const std::size_t want = (headFill_ >= 4 && IsEndMark()) ? kEndBytes : 4;
      const std::size_t n = std::min(data.size(), want - headFill_);
      std::memcpy(head_.data() + headFill_, data.data(), n);
      headFill_ += n;
      data = data.subspan(n);
      if (headFill_ < want) {
        continue;
      }
      if (want == 4 && !IsEndMark()) {
        std::uint32_t frame = 0;
        std::memcpy(&frame, head_.data(), 4);
        if (frame == 0 || frame > kFrameBytes) {
          return false;
        }
        textLeft_ = frame;
        headFill_ = 0;
      } else if (want == kEndBytes) {
        std::uint64_t total = 0;
        std::memcpy(&result_, head_.data() + 4, 4);
        std::memcpy(&total, head_.data() + 8, 8);
        if (total != relayed_) {
          return false;
        }
        done_ = true;
      }
    }
    return true;
  }

  bool Done() const { return done_; }
  std::int32_t Result() const { return result_; }

private:
  bool IsEndMark() const {
    std::uint32_t mark = 0;
    std::memcpy(&mark, head_.data(), 4);
    return mark == kEndMark;
  }

  PdfTextSink sink_;
  std::array<char, kEndBytes> head_{};
  std::size_t headFill_ = 0;
  std::uint32_t textLeft_ = 0;
  std::uint64_t relayed_ = 0;
  std::int32_t result_ = kUnreadable;
  bool done_ = false;
};

// The child process: watched, and killed and reaped in any case before RunInChild returns.
class TChild {
public:
  TChild(pid_t pid, std::int64_t baseResident, std::uint64_t memoryBytes)
      : pid_(pid), baseResident_(baseResident), memoryBytes_(memoryBytes), statm_(OpenStatm(pid)) {}
  ~TChild() { Kill(); }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  // False when the child holds more memory than allowed.
  bool MemoryWithinLimit() {
    if (statm_.Get() < 0) {
      return true; // no /proc: the ceiling cannot be watched
    }
    const std::int64_t rss = ResidentBytes(statm_.Get());
    if (rss < 0) {
      return true;
    }
    const std::uint64_t growth =
        rss > baseResident_ ? static_cast<std::uint64_t>(rss - baseResident_) : 0;
    peak_ = std::max(peak_, growth);
    return growth <= memoryBytes_;
  }

  // Waits for the exit until deadlineNs, watching memory meanwhile. False when the child
  // had to be killed; exitedCleanly tells whether it ended with status 0.
  bool WaitForExit(std::int64_t deadlineNs, bool& exitedCleanly, TChildEnd& killedFor) {
    long pauseNs = 100'000;
    for (;;) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        reaped_ = true;
        exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        return true;
      }
      if (r < 0 && errno == ECHILD) {
        // Reaped elsewhere (the host ignores SIGCHLD or reaps every child): the status is
        // lost, and the complete stream alone vouches for the work.
        reaped_ = true;
        exitedCleanly = true;
        return true;
      }
      if (r < 0 && errno != EINTR) {
        killedFor = TChildEnd::kAbnormalExit;
        return false;
      }
      if (!MemoryWithinLimit()) {
        killedFor = TChildEnd::kMemoryLimit;
        return false;
      }
      if (NowNs() >= deadlineNs) {
        killedFor = TChildEnd::kTimeLimit;
        return false;
      }
      const timespec pause{0, pauseNs};
      nanosleep(&pause, nullptr);
      pauseNs = std::min(pauseNs * 2, 5'000'000L);
    }
  }

  void Kill() {
    if (reaped_) {
      return;
    }
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
  }

  std::uint64_t Peak() const { return peak_; }

private:
  pid_t pid_;
  std::int64_t baseResident_;
  std::uint64_t memoryBytes_;
  std::uint64_t peak_ = 0;
  TFd statm_;
  bool reaped_ = false;
};

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
  return b != 0 && a > std::numeric_limits<std::uint64_t>::max() / b
             ? std::numeric_limits<std::uint64_t>::max()
             : a * b;
}

} // namespace

TChildLimits LimitsForInput(std::uint64_t inputBytes) {
  TChildLimits limits;
  const std::uint64_t memory =
      std::max(kMemoryFloor, SaturatingMultiply(inputBytes, kMemoryPerInputByte));
  limits.memoryBytes = memory > std::numeric_limits<std::uint64_t>::max() - kSanitizerAllowance
                           ? std::numeric_limits<std::uint64_t>::max()
                           : memory + kSanitizerAllowance;
  const std::uint64_t mib = inputBytes / kMiB + (inputBytes % kMiB != 0 ? 1 : 0);
  // Wall milliseconds must fit 32 bits: processor time stops at about 24 days.
  constexpr std::uint64_t kMaxCpu = std::numeric_limits<std::uint32_t>::max() / 1000 / kWallPerCpu;
  const std::uint64_t cpu =
      std::min(kMaxCpu, std::max(kCpuFloorSeconds, SaturatingMultiply(mib, kCpuSecondsPerMiB)));
  limits.cpuSeconds = static_cast<std::uint32_t>(cpu);
  limits.wallMilliseconds = static_cast<std::uint32_t>(cpu * kWallPerCpu * 1000);
  return limits;
}

TChildOutcome RunInChild(const TChildLimits& limits, TChildWork work, void* context,
                         PdfTextSink sink) noexcept {
  TChildOutcome outcome;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    outcome.result = kInternal;
    outcome.end = TChildEnd::kStartFailed;
    return outcome;
  }
  TFd readEnd(ends[0]);
  TFd writeEnd(ends[1]);
  // Room for many frames, so the child rarely waits for the parent to be scheduled (best
  // effort: the system may cap pipe sizes).
  fcntl(ends[1], F_SETPIPE_SZ, kPipeBytes);
  const std::int64_t baseResident = OwnResidentBytes();
  const pid_t parent = getpid();
  const std::int64_t startNs = NowNs();
  const pid_t pid = fork();
  if (pid < 0) {
    outcome.result = kInternal;
    outcome.end = TChildEnd::kStartFailed;
    return outcome;
  }
  if (pid == 0) {
    ChildMain(parent, writeEnd.Get(), limits, work, context);
  }
  // Only the child may hold the write end, so its exit (or death) shows here as end of file.
  writeEnd.Close();

  TChild child(pid, baseResident, limits.memoryBytes);
  TStreamReader reader(sink);
  const std::int64_t deadlineNs = startNs + std::int64_t{limits.wallMilliseconds} * 1'000'000;
  std::int64_t nextCheckNs = startNs + kMemoryCheckNs;
  std::array<char, kFrameBytes> buffer;
  TChildEnd end = TChildEnd::kFinished;
  bool endOfFile = false;
  while (!endOfFile) {
    std::int64_t now = NowNs();
    if (now >= nextCheckNs) {
      if (!child.MemoryWithinLimit()) {
        end = TChildEnd::kMemoryLimit;
        break;
      }
      nextCheckNs = now + kMemoryCheckNs;
    }
    if (now >= deadlineNs) {
      end = TChildEnd::kTimeLimit;
      break;
    }
    const std::int64_t waitNs = std::min(nextCheckNs, deadlineNs) - now;
    pollfd watch{readEnd.Get(), POLLIN, 0};
    const int ready = poll(&watch, 1, static_cast<int>((waitNs + 999'999) / 1'000'000));
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      end = TChildEnd::kAbnormalExit;
      break;
    }
    if (ready == 0) {
      continue;
    }
    const ssize_t n = read(readEnd.Get(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) {
        continue;
      }
      end = TChildEnd::kAbnormalExit;
      break;
    }
    if (n == 0) {
      endOfFile = true;
    } else if (!reader.Feed(std::span(buffer).first(static_cast<std::size_t>(n)))) {
      end = TChildEnd::kBrokenStream;
      break;
    }
  }
  bool exitedCleanly = false;
  if (endOfFile && !child.WaitForExit(deadlineNs, exitedCleanly, end)) {
    exitedCleanly = false;
  }
  child.Kill();
  outcome.peakMemoryBytes = child.Peak();
  if (end == TChildEnd::kFinished && !(exitedCleanly && reader.Done())) {
    end = TChildEnd::kAbnormalExit;
  }
  outcome.end = end;
  outcome.result = end == TChildEnd::kFinished ? reader.Result() : kUnreadable;
  return outcome;
}

} // namespace scv::plugins::pdf
