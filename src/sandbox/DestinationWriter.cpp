// The writer process: one message in (the text's length, then the text), one byte out (the
// placement's outcome). A message cut short (the converter failed, or died) places nothing.
#include "sandbox/DestinationWriter.h"

#include "platform/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace scv::sandbox {
namespace {

// Text is received in pieces of this size, so a length that was never sent costs nothing.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

bool ReadExactly(int fd, std::span<std::uint8_t> into) {
  while (!into.empty()) {
    const ssize_t n = read(fd, into.data(), into.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    into = into.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

[[noreturn]] void WriterMain(pid_t parent, int in, int out, const std::string& path, bool replace) {
  // Nobody is left to hand over text once the converter is gone.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
    _exit(0);
  }
  std::uint64_t size = 0;
  if (!ReadExactly(in, {reinterpret_cast<std::uint8_t*>(&size), sizeof size})) {
    _exit(0);
  }
  platform::TPlaceResult result = platform::TPlaceResult::kWriteFailed;
  try {
    std::vector<std::uint8_t> data;
    bool whole = true;
    while (whole && data.size() < size) {
      const std::size_t at = data.size();
      data.resize(at + static_cast<std::size_t>(std::min<std::uint64_t>(size - at, kPieceBytes)));
      whole = ReadExactly(in, std::span(data).subspan(at));
    }
    if (!whole) {
      _exit(0);
    }
    result = platform::WriteFileAtomically(path, data, replace);
  } catch (const std::bad_alloc&) {
    result = platform::TPlaceResult::kWriteFailed;
  }
  const auto code = static_cast<std::uint8_t>(result);
  platform::WriteAllToDescriptor(out, {&code, 1});
  _exit(0);
}

} // namespace

TDestinationWriter::~TDestinationWriter() {
  Finish();
}

bool TDestinationWriter::Start(std::string_view path, bool replace) {
  int down[2];
  int up[2];
  if (pipe2(down, O_CLOEXEC) != 0) {
    return false;
  }
  if (pipe2(up, O_CLOEXEC) != 0) {
    close(down[0]);
    close(down[1]);
    return false;
  }
  const std::string target(path);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    close(down[1]);
    close(up[0]);
    WriterMain(parent, down[0], up[1], target, replace);
  }
  close(down[0]);
  close(up[1]);
  if (pid < 0) {
    close(down[1]);
    close(up[0]);
    return false;
  }
  pid_ = pid;
  toWriter_ = down[1];
  fromWriter_ = up[0];
  return true;
}

platform::TPlaceResult TDestinationWriter::Write(std::span<const std::uint8_t> data) {
  platform::TPlaceResult result = platform::TPlaceResult::kWriteFailed;
  if (pid_ <= 0) {
    return result;
  }
  const std::uint64_t size = data.size();
  const bool sent = platform::WriteAllToDescriptor(
                        toWriter_, {reinterpret_cast<const std::uint8_t*>(&size), sizeof size}) &&
                    platform::WriteAllToDescriptor(toWriter_, data);
  close(toWriter_);
  toWriter_ = -1;
  std::uint8_t code = 0;
  if (sent && ReadExactly(fromWriter_, {&code, 1}) &&
      code <= static_cast<std::uint8_t>(platform::TPlaceResult::kWriteFailed)) {
    result = static_cast<platform::TPlaceResult>(code);
  }
  Finish();
  return result;
}

void TDestinationWriter::Finish() {
  if (toWriter_ >= 0) {
    close(toWriter_);
    toWriter_ = -1;
  }
  if (fromWriter_ >= 0) {
    close(fromWriter_);
    fromWriter_ = -1;
  }
  if (pid_ > 0) {
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
}

} // namespace scv::sandbox
