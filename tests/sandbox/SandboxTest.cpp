// The confined program against a converter library that tries to break out: every attempt
// is refused, the conversion fails as an unreadable document would (251) and no destination
// is left, though the library had handed over text first. The same runs with the sandbox
// switched off succeed, so each attempt is a real one.
#include "sandbox/Sandbox.h"

#include "support/ProcessRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using scv::test::ReadFileBytes;
using scv::test::RunProgram;
using scv::test::TRunResult;
using scv::test::TTempDir;

// A listening TCP socket on the loopback address; connections wait in its backlog.
class TListener {
public:
  TListener() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
        listen(fd_, 8) == 0 && getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &size) == 0) {
      port_ = ntohs(at.sin_port);
    }
  }
  ~TListener() { close(fd_); }
  TListener(const TListener&) = delete;
  TListener& operator=(const TListener&) = delete;
  int Port() const { return port_; }

private:
  int fd_;
  int port_ = 0;
};

TRunResult RunHostile(const std::vector<std::string>& args, const std::string& cwd, bool confined) {
  std::vector<std::string> env = {"LC_ALL=C", std::string("LD_LIBRARY_PATH=") + HOSTILE_DIR};
  if (!confined) {
    env.emplace_back("SCV_NO_SANDBOX=1");
  }
  return RunProgram(std::string(HOSTILE_DIR) + "/scvcmd", args, env, cwd);
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Sandbox, HostileConverterIsRefusedAndLeavesNoDestination) {
  TTempDir in;  // the source, and a private file beside it
  TTempDir out; // the destination's folder, the working directory
  const std::string secret = in.Write("secret.txt", "private words");
  const TListener listener;
  ASSERT_NE(listener.Port(), 0);
  struct Case {
    const char* name;
    std::string command;
    std::string trace; // a file the attempt makes when it succeeds; empty when none
  };
  const Case cases[] = {
      {"read beside the source", "read " + secret, ""},
      {"read the destination's folder", "read " + out.Path(), ""},
      {"write beside the destination", "write " + out.File("planted.txt"), out.File("planted.txt")},
      {"write beside the source", "write " + in.File("planted.txt"), in.File("planted.txt")},
      {"run a shell", "exec " + out.File("ran.txt"), out.File("ran.txt")},
      {"connect a socket", "connect " + std::to_string(listener.Port()), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = in.Write("h.pdf", c.command + "\n");
    for (const char* destination : {"out.txt", "*"}) {
      SCOPED_TRACE(destination);
      const TRunResult r = RunHostile({source, destination}, out.Path(), true);
      EXPECT_EQ(r.exitCode, 251);
      EXPECT_EQ(r.out, "Input file \"" + source + "\" format not correct\r\n");
      EXPECT_TRUE(Names(out.Path()).empty()) << "left in the destination's folder";
      if (!c.trace.empty()) {
        EXPECT_FALSE(std::filesystem::exists(c.trace));
      }
    }
    // Switched off, the same attempt succeeds.
    const TRunResult open = RunHostile({"-c65001", source, "out.txt"}, out.Path(), false);
    EXPECT_EQ(open.exitCode, 0) << open.out;
    if (!c.trace.empty()) {
      EXPECT_TRUE(std::filesystem::exists(c.trace));
      std::filesystem::remove(c.trace);
    } else {
      EXPECT_NE(ReadFileBytes(out.File("out.txt")).find("escaped by"), std::string::npos);
    }
    std::filesystem::remove(out.File("out.txt"));
  }
}

TEST(Sandbox, ConfinedRunsStillPlaceTheirDestination) {
  TTempDir in;
  TTempDir out;
  const std::string source = in.Write("ok.pdf", "\n");
  // A new name, an existing one without and with -o, and one that appears to be taken.
  TRunResult r = RunHostile({"-c65001", source, "a.txt"}, out.Path(), true);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(ReadFileBytes(out.File("a.txt")), "\xEF\xBB\xBFpartial text\n");
  r = RunHostile({source, "a.txt"}, out.Path(), true);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Output file \"a.txt\" already exists, convert canceled\r\n");
  out.Write("a.txt", "old");
  r = RunHostile({"-o", "-c65001", source, "a.txt"}, out.Path(), true);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(ReadFileBytes(out.File("a.txt")), "\xEF\xBB\xBFpartial text\n");
  // A folder that does not exist is a create error, as without the sandbox.
  r = RunHostile({source, "missing/a.txt"}, out.Path(), true);
  EXPECT_EQ(r.exitCode, 250);
  EXPECT_EQ(r.out, "Output file \"missing/a.txt\" create error\r\n");
  EXPECT_EQ(Names(out.Path()), std::vector<std::string>{"a.txt"});
}

TEST(Sandbox, DocumentFromStandardInputMayNotWriteEither) {
  // Its document is read back through an anonymous file, so reads stay open; writes do not.
  TTempDir dir;
  const std::string planted = dir.File("planted.txt");
  const std::string source = dir.Write("h.pdf", "write " + planted + "\n");
  const std::string command =
      "exec '" + std::string(HOSTILE_DIR) + "/scvcmd' -tpdf - out.txt < '" + source + "'";
  const std::vector<std::string> env = {"LC_ALL=C", std::string("LD_LIBRARY_PATH=") + HOSTILE_DIR};
  const TRunResult r = RunProgram("/bin/sh", {"-c", command}, env, dir.Path());
  EXPECT_EQ(r.exitCode, 251);
  EXPECT_EQ(r.out, "Input file \"-\" format not correct\r\n");
  EXPECT_FALSE(std::filesystem::exists(planted));
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.txt")));
}

} // namespace
