// The extraction child: text relayed exactly, every way of dying reported as a failure,
// runaway children stopped at their ceilings, nothing of the host leaking into the child.
#include "ExtractionChild.h"

#include "PdfText.h"
#include "support/PdfBuilder.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <ScvConverter.h>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <memory>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace scv::plugins::pdf;
using scv::test::CorpusDir;
using scv::test::TTempDir;

constexpr std::uint64_t kMiB = std::uint64_t{1024} * 1024;

std::string Collected;
std::size_t LargestPiece = 0;

void SCV_CDECL Sink(const char* data, int32_t count) {
  if (count > 0) {
    Collected.append(data, static_cast<std::size_t>(count));
    LargestPiece = std::max(LargestPiece, static_cast<std::size_t>(count));
  }
}

TChildLimits Roomy() {
  TChildLimits limits;
  limits.memoryBytes = 1024 * kMiB;
  limits.cpuSeconds = 30;
  limits.wallMilliseconds = 30000;
  return limits;
}

TChildOutcome RunWork(TChildWork work, void* context = nullptr,
                      const TChildLimits& limits = Roomy()) {
  Collected.clear();
  LargestPiece = 0;
  return RunInChild(limits, work, context, &Sink);
}

// Every byte value, the end record's mark among them, in an order that repeats rarely.
std::string Bytes(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return s;
}

// True when this process has no child left, living or unreaped.
bool NoChildrenLeft() {
  return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

int OpenDescriptorCount() {
  int n = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (dirent* e = readdir(dir)) {
    n += e->d_name[0] != '.' ? 1 : 0;
  }
  closedir(dir);
  return n;
}

// Writes raw bytes on the child's pipe, past its frame writer.
void Raw(const std::string& bytes) {
  if (write(3, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    _exit(99);
  }
}
std::string U32(std::uint32_t v) {
  return std::string(reinterpret_cast<const char*>(&v), 4);
}
std::string U64(std::uint64_t v) {
  return std::string(reinterpret_cast<const char*>(&v), 8);
}

TEST(ExtractionChild, RelaysTextExactlyInOrder) {
  struct Case {
    const char* name;
    std::vector<std::size_t> pieces; // sizes of successive writes
    std::int32_t result;
  };
  const Case cases[] = {
      {"nothing", {}, 0},
      {"encrypted, no text", {}, SCV_PDF_ENCRYPTED},
      {"one byte", {1}, 0},
      {"exactly one frame", {std::size_t{64} * 1024}, 0},
      {"one frame and one byte", {64 * 1024 + 1}, 0},
      {"many tiny pieces", std::vector<std::size_t>(20000, 3), 0},
      {"mixed, several MB",
       {1, 70000, 5, std::size_t{4} * 1024 * 1024, 65535, 65537, 17, 200000},
       0},
  };
  struct Context {
    const Case* c;
    std::string text;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t total = 0;
    for (const std::size_t p : c.pieces) {
      total += p;
    }
    Context context{&c, Bytes(total, 7)};
    const TChildOutcome r = RunWork(
        +[](void* p, TTextOutput& out) -> std::int32_t {
          const Context& ctx = *static_cast<const Context*>(p);
          std::string_view rest(ctx.text);
          for (const std::size_t n : ctx.c->pieces) {
            out.Write(rest.substr(0, n));
            rest.remove_prefix(n);
          }
          return ctx.c->result;
        },
        &context);
    EXPECT_EQ(r.end, TChildEnd::kFinished);
    EXPECT_EQ(r.result, c.result);
    EXPECT_TRUE(Collected == context.text) << Collected.size() << " of " << total << " bytes";
    EXPECT_LE(LargestPiece, 64u * 1024);
    EXPECT_TRUE(NoChildrenLeft());
  }
}

TEST(ExtractionChild, EveryWayOfDyingIsAFailure) {
  struct Case {
    const char* name;
    TChildWork work;
    TChildEnd end;
    std::int32_t result;
  };
  // Each writes well over a frame of text first, so the parent has relayed part of it.
  static const std::string kText = Bytes(300000, 3);
  const Case cases[] = {
      {"segmentation fault",
       +[](void*, TTextOutput& out) -> std::int32_t {
         out.Write(kText);
         raise(SIGSEGV);
         return 0;
       },
       TChildEnd::kAbnormalExit, kUnreadable},
      {"abort",
       +[](void*, TTextOutput& out) -> std::int32_t {
         out.Write(kText);
         abort();
       },
       TChildEnd::kAbnormalExit, kUnreadable},
      {"broken pipe signal",
       +[](void*, TTextOutput& out) -> std::int32_t {
         out.Write(kText);
         raise(SIGPIPE);
         return 0;
       },
       TChildEnd::kAbnormalExit, kUnreadable},
      {"quiet exit with status 0 half-way",
       +[](void*, TTextOutput& out) -> std::int32_t {
         out.Write(kText);
         _exit(0);
       },
       TChildEnd::kAbnormalExit, kUnreadable},
      {"complete stream, then exit status 1",
       +[](void*, TTextOutput&) -> std::int32_t {
         Raw(U32(5) + "hello" + U32(0xFFFFFFFFu) + U32(0) + U64(5));
         _exit(1);
       },
       TChildEnd::kAbnormalExit, kUnreadable},
      {"end record with a wrong byte total",
       +[](void*, TTextOutput&) -> std::int32_t {
         Raw(U32(5) + "hello" + U32(0xFFFFFFFFu) + U32(0) + U64(4));
         _exit(0);
       },
       TChildEnd::kBrokenStream, kUnreadable},
      {"frame longer than allowed",
       +[](void*, TTextOutput&) -> std::int32_t {
         Raw(U32(0x7FFFFFFF) + "hello");
         _exit(0);
       },
       TChildEnd::kBrokenStream, kUnreadable},
      {"bytes after the end record",
       +[](void*, TTextOutput&) -> std::int32_t {
         Raw(U32(0xFFFFFFFFu) + U32(0) + U64(0) + "x");
         _exit(0);
       },
       TChildEnd::kBrokenStream, kUnreadable},
      // An exception is the work's own failure: reported, as the child ran to its end.
      {"exception in the work",
       +[](void*, TTextOutput& out) -> std::int32_t {
         out.Write(kText);
         throw std::runtime_error("damaged");
       },
       TChildEnd::kFinished, kInternal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TChildOutcome r = RunWork(c.work);
    EXPECT_EQ(r.end, c.end);
    EXPECT_EQ(r.result, c.result);
    EXPECT_TRUE(NoChildrenLeft());
  }
}

TEST(ExtractionChild, CeilingsStopRunawayChildren) {
  struct Case {
    const char* name;
    TChildWork work;
    TChildLimits limits;
    TChildEnd end;
    double maxSeconds;
  };
  const TChildLimits memory48{48 * kMiB, 30, 30000};
  const TChildLimits cpu1{1024 * kMiB, 1, 30000};
  const TChildLimits wall500{1024 * kMiB, 30, 500};
  const Case cases[] = {
      {"memory grows without end",
       +[](void*, TTextOutput& out) -> std::int32_t {
         out.Write("started");
         std::vector<std::unique_ptr<char[]>> held;
         for (;;) {
           held.push_back(std::make_unique_for_overwrite<char[]>(kMiB));
           std::memset(held.back().get(), 1, kMiB);
         }
       },
       memory48, TChildEnd::kMemoryLimit, 10},
      {"endless computation",
       +[](void*, TTextOutput&) -> std::int32_t {
         volatile std::uint64_t spins = 0;
         for (;;) {
           spins = spins + 1;
         }
       },
       cpu1, TChildEnd::kAbnormalExit, 8},
      {"sleeps for ever",
       +[](void*, TTextOutput&) -> std::int32_t {
         for (;;) {
           pause();
         }
       },
       wall500, TChildEnd::kTimeLimit, 5},
      // The pipe closed, the process still there: the wait for its exit is bounded too.
      {"closes its output and lingers",
       +[](void*, TTextOutput&) -> std::int32_t {
         Raw(U32(0xFFFFFFFFu) + U32(0) + U64(0));
         close(3);
         for (;;) {
           pause();
         }
       },
       wall500, TChildEnd::kTimeLimit, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = std::chrono::steady_clock::now();
    const TChildOutcome r = RunWork(c.work, nullptr, c.limits);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.end, c.end);
    EXPECT_EQ(r.result, kUnreadable);
    EXPECT_LE(seconds, c.maxSeconds);
    if (c.end == TChildEnd::kMemoryLimit) {
      EXPECT_GT(r.peakMemoryBytes, c.limits.memoryBytes);
      EXPECT_LT(r.peakMemoryBytes, c.limits.memoryBytes + 64 * kMiB);
    }
    EXPECT_TRUE(NoChildrenLeft());
  }
}

TEST(ExtractionChild, ChildHoldsNothingOfTheHost) {
  // An inheritable pipe, away from the low numbers the child reuses for itself.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const int hostPipe[2] = {fcntl(ends[0], F_DUPFD, 10), fcntl(ends[1], F_DUPFD, 10)};
  close(ends[0]);
  close(ends[1]);
  const int before = OpenDescriptorCount();
  struct Context {
    int fds[2];
  } context{{hostPipe[0], hostPipe[1]}};
  const TChildOutcome r = RunWork(
      +[](void* p, TTextOutput& out) -> std::int32_t {
        const Context& ctx = *static_cast<const Context*>(p);
        struct stat null {};
        stat("/dev/null", &null);
        for (int fd = 0; fd <= 2; ++fd) {
          struct stat st {};
          const bool isNull =
              fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == null.st_rdev;
          out.Write(isNull ? "null " : "NOT-NULL ");
        }
        for (const int fd : ctx.fds) {
          out.Write(fcntl(fd, F_GETFD) == -1 && errno == EBADF ? "closed " : "OPEN ");
        }
        // Only 0, 1, 2 and the pipe on 3 are open.
        for (int fd = 4; fd < 1024; ++fd) {
          if (fcntl(fd, F_GETFD) != -1) {
            out.Write("extra ");
            break;
          }
        }
        return 0;
      },
      &context);
  EXPECT_EQ(r.end, TChildEnd::kFinished);
  EXPECT_EQ(Collected, "null null null closed closed ");
  // The parent keeps no descriptor of the run either.
  EXPECT_EQ(OpenDescriptorCount(), before);
  close(hostPipe[0]);
  close(hostPipe[1]);
}

volatile sig_atomic_t Alarms = 0;
void CountAlarm(int) {
  Alarms = Alarms + 1;
}

// The child is confined whatever its host: it may read and write files as its host may, but
// not start a program or open a socket. Each refusal is reported in the text; a program that
// did start would end the child without its end record.
std::string PlantedPath;
std::string ReadablePath;

TEST(ExtractionChild, ChildMayNeitherRunProgramsNorConnect) {
  TTempDir dir;
  PlantedPath = dir.File("planted.txt");
  ReadablePath = dir.Write("readable.txt", "text");
  const TChildOutcome r = RunWork(+[](void*, TTextOutput& out) -> std::int32_t {
    const auto report = [&](const char* what, bool refused) {
      out.Write(std::string(what) + (refused ? "=refused " : "=allowed "));
    };
    const int written = open(PlantedPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    report("write", written < 0);
    execl("/bin/sh", "sh", "-c", "exit 0", static_cast<char*>(nullptr));
    report("exec", true);
    const int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    report("socket", sock < 0);
    const int read = open(ReadablePath.c_str(), O_RDONLY | O_CLOEXEC);
    report("read", read < 0);
    return 0;
  });
  EXPECT_EQ(r.end, TChildEnd::kFinished);
  EXPECT_EQ(Collected, "write=allowed exec=refused socket=refused read=allowed ");
}

TEST(ExtractionChild, SignalsToTheParentLoseNothing) {
  // A timer interrupts the parent's waits and reads every half millisecond.
  struct sigaction action {};
  action.sa_handler = &CountAlarm;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0; // no SA_RESTART: calls fail with EINTR
  struct sigaction old {};
  ASSERT_EQ(sigaction(SIGALRM, &action, &old), 0);
  itimerval timer{{0, 500}, {0, 500}};
  setitimer(ITIMER_REAL, &timer, nullptr);
  static const std::string kText = Bytes(3 * kMiB, 11);
  const TChildOutcome r = RunWork(+[](void*, TTextOutput& out) -> std::int32_t {
    for (std::size_t i = 0; i < kText.size(); i += 100000) {
      out.Write(std::string_view(kText).substr(i, 100000));
      const timespec pause{0, 1'000'000};
      nanosleep(&pause, nullptr);
    }
    return 0;
  });
  const itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_GT(Alarms, 10);
  EXPECT_EQ(r.end, TChildEnd::kFinished);
  EXPECT_TRUE(Collected == kText);
}

TEST(ExtractionChild, HostThatIgnoresChildExits) {
  // With SIGCHLD ignored the system reaps the child itself and its status is lost: the
  // complete stream must still count, and a crash must still fail.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction old {};
  ASSERT_EQ(sigaction(SIGCHLD, &ignore, &old), 0);
  const TChildOutcome good = RunWork(+[](void*, TTextOutput& out) -> std::int32_t {
    out.Write("text");
    return 0;
  });
  const std::string goodText = Collected;
  const TChildOutcome bad = RunWork(+[](void*, TTextOutput& out) -> std::int32_t {
    out.Write("text");
    abort();
  });
  sigaction(SIGCHLD, &old, nullptr);
  EXPECT_EQ(good.end, TChildEnd::kFinished);
  EXPECT_EQ(good.result, 0);
  EXPECT_EQ(goodText, "text");
  EXPECT_EQ(bad.end, TChildEnd::kAbnormalExit);
  EXPECT_EQ(bad.result, kUnreadable);
}

// ---------------------------------------------------------------------------------------
// Real PDF extraction.
// ---------------------------------------------------------------------------------------

class TStringOutput final : public TTextOutput {
public:
  void Write(std::string_view text) override { text_.append(text); }
  std::string text_;
};

// A one-page PDF whose content stream is `content`, with a correct cross-reference table.
std::string OnePagePdf(const std::string& content) {
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream"};
  return scv::test::BuildPdf(objects);
}

TEST(PdfInChild, SameBytesAsExtractingInProcess) {
  const char* files[] = {"pdflatex-4-pages.pdf", "two_column.pdf", "habibi.pdf",
                         "libreoffice-writer-password.pdf", "multicolumn.pdf"};
  for (const char* file : files) {
    for (const int layout : {0, 1, 2}) {
      SCOPED_TRACE(std::string(file) + " layout " + std::to_string(layout));
      TPdfRequest request{CorpusDir("pdf") + "/" + file, layout == 1, layout == 2};
      TStringOutput direct;
      const std::int32_t want = ExtractPdfText(request.path, request.s1, request.s2, direct);
      const TChildOutcome r = RunWork(&ExtractPdfRequest, &request, LimitsForInput(1));
      EXPECT_EQ(r.end, TChildEnd::kFinished);
      EXPECT_EQ(r.result, want);
      EXPECT_TRUE(Collected == direct.text_) << Collected.size() << " vs " << direct.text_.size();
    }
  }
}

std::uint64_t Relayed = 0;
void SCV_CDECL CountingSink(const char*, int32_t count) {
  Relayed += count > 0 ? count : 0;
}

TEST(PdfInChild, SaveFloodStopsAtTheMemoryCeiling) {
  // Every unmatched save operator costs the engine a copy of the graphics state (about
  // 1.3 KB): these 150,000 would take some 200 MB. The run happens in a fresh process, so
  // that its resource counters hold this conversion alone.
  TTempDir dir;
  std::string saves;
  for (int i = 0; i < 150000; ++i) {
    saves += "q ";
  }
  TPdfRequest request{dir.Write("saves.pdf", OnePagePdf(saves)), 0, 0};
  const TChildLimits limits{64 * kMiB, 30, 30000};
  struct Report {
    TChildEnd end;
    std::int32_t result;
    long selfBeforeKb, selfAfterKb, childrenKb;
    double seconds;
  } report{};
  int channel[2];
  ASSERT_EQ(pipe(channel), 0);
  const pid_t helper = fork();
  ASSERT_GE(helper, 0);
  if (helper == 0) {
    close(channel[0]);
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    Report out{};
    out.selfBeforeKb = self.ru_maxrss;
    const auto start = std::chrono::steady_clock::now();
    const TChildOutcome r = RunInChild(limits, &ExtractPdfRequest, &request, &CountingSink);
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    out.end = r.end;
    out.result = r.result;
    out.selfAfterKb = self.ru_maxrss;
    out.childrenKb = children.ru_maxrss;
    _exit(write(channel[1], &out, sizeof out) == sizeof out ? 0 : 1);
  }
  close(channel[1]);
  const ssize_t got = read(channel[0], &report, sizeof report);
  close(channel[0]);
  int status = 0;
  waitpid(helper, &status, 0);
  ASSERT_EQ(got, static_cast<ssize_t>(sizeof report));
  EXPECT_EQ(report.end, TChildEnd::kMemoryLimit);
  EXPECT_EQ(report.result, kUnreadable);
  EXPECT_LT(report.seconds, 10);
  // The child stopped near its ceiling: it started with what the helper held.
  EXPECT_LE(report.childrenKb, report.selfBeforeKb + long{64} * 1024 + long{32} * 1024);
  // The host process itself never held the flood.
  EXPECT_LE(report.selfAfterKb, report.selfBeforeKb + long{16} * 1024);
  std::cout << "[ measures ] save flood: " << report.seconds << " s, child peak "
            << report.childrenKb << " KB, host peak " << report.selfAfterKb << " KB (from "
            << report.selfBeforeKb << " KB)\n";
}

} // namespace
