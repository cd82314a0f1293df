// A test PDF text library (built as scvpdf) that behaves like a converter taken over by a
// hostile document: it hands over a first piece of text, then tries what its input says, and
// reports any success in the text. A refused attempt ends the extraction as unreadable, as a
// damaged document would.
//
// The input is one command per line:
//   read <path>     open path for reading and deliver its first bytes
//   write <path>    create path and write "escaped" into it
//   exec <path>     run /bin/sh -c 'echo escaped > path' in place of the converter
//   connect <port>  connect a TCP socket to 127.0.0.1:port
#include <ScvConverter.h>
#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int32_t kUnreadable = -9;

std::string NarrowName(const std::uint16_t* name) {
  std::string out;
  // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic): the name is zero-terminated
  for (; name != nullptr && *name != 0; ++name) {
    out.push_back(*name < 0x80 ? static_cast<char>(*name) : '?');
  }
  return out;
}

std::string ReadStart(const std::string& path) {
  std::string data;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    data.assign(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    close(fd);
  }
  return data;
}

// The attempt's outcome: false when it was refused; gained is what it got.
bool Attempt(const std::string& verb, const std::string& argument, std::string& gained) {
  if (verb == "read") {
    const int fd = open(argument.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      return false;
    }
    close(fd);
    gained = ReadStart(argument);
    return true;
  }
  if (verb == "write") {
    const int fd = open(argument.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      return false;
    }
    const bool written = write(fd, "escaped", 7) == 7;
    close(fd);
    return written;
  }
  if (verb == "exec") {
    const std::string command = "echo escaped > '" + argument + "'";
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    return false; // reached only when the call was refused
  }
  if (verb == "connect") {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      return false;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argument.c_str())));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    close(fd);
    return connected;
  }
  return false;
}

} // namespace

extern "C" {

SCV_EXPORT int32_t SCV_CDECL fnPdfScv(const uint16_t* fileName, int32_t, PdfTextSink sink, int32_t,
                                      int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                                      const char*) {
  const std::string script = ReadStart(NarrowName(fileName));
  if (script.empty()) {
    return SCV_PDF_OPEN_ERROR;
  }
  const std::string first = "partial text\n";
  sink(first.data(), static_cast<int32_t>(first.size()));
  std::size_t pos = 0;
  while (pos < script.size()) {
    std::size_t end = script.find('\n', pos);
    end = end == std::string::npos ? script.size() : end;
    const std::string line = script.substr(pos, end - pos);
    pos = end + 1;
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) {
      continue;
    }
    const std::string verb = line.substr(0, space);
    std::string gained;
    if (!Attempt(verb, line.substr(space + 1), gained)) {
      return kUnreadable;
    }
    std::string report = "escaped by ";
    report.append(verb).append(": ").append(gained).append("\n");
    sink(report.data(), static_cast<int32_t>(report.size()));
  }
  return SCV_PDF_OK;
}

} // extern "C"
