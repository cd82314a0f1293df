// A test filter library honouring the converter contract in ways its input script chooses.
// Built three times, as scvhtm, scvhlp and scvrtf; FAKE_KIND names which.
#include "FakeScript.h"

#include <ScvConverter.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace {

using scv::test::fake::TCommand;

struct TState {
  std::vector<TCommand> commands;
  std::size_t next = 0;
  std::string pending; // rest of a piece larger than the capacity
  long long bigLeft = 0;
  char bigChar = 'x';
};

std::unique_ptr<TState> State;
ConverterHost* LastHost = nullptr;
int CreateCalls = 0;
int ReadCalls = 0;
int CloseCalls = 0;
int ReadsAfterFailure = 0;
bool Failed = false;

std::string ReadWholeInput(ConverterHost* host) {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  if (host->HostGetSize(host, &low, &high) != 0) {
    return {};
  }
  std::string data;
  char buf[1000];
  // Scripts are short; a huge (sparse) test file is only probed, never read whole.
  while (data.size() < 65536) {
    std::int32_t got = 0;
    if (host->HostRead(host, buf, sizeof buf, &got) != 0 || got <= 0) {
      break;
    }
    data.append(buf, static_cast<std::size_t>(got));
  }
  return data;
}

std::string Utf16ToNarrow(const std::uint16_t* s) {
  std::string out;
  // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic): the name is zero-terminated
  for (; s != nullptr && *s != 0; ++s) {
    out.push_back(*s < 0x80 ? static_cast<char>(*s) : '?');
  }
  return out;
}

// Exercises every callback and describes what it saw.
std::string Probe(ConverterHost* host) {
  std::string r;
  char line[256];
  std::uint32_t low = 7;
  std::uint32_t high = 7;
  const int sizeRc = host->HostGetSize(host, &low, &high);
  std::snprintf(line, sizeof line, "size=%d:%u:%u\n", sizeRc, low, high);
  r += line;
  auto readN = [&](int n) {
    char buf[64] = {};
    std::int32_t got = -9;
    const int rc = host->HostRead(host, buf, n, &got);
    std::string s = std::to_string(rc) + ":" + std::to_string(got) + ":";
    s.append(buf, got > 0 ? static_cast<std::size_t>(got) : 0);
    return s;
  };
  // GetSize resets the position: the first bytes come back again.
  r += "head=" + readN(4) + "\n";
  std::int32_t off = 2;
  int rc = host->HostSeek(host, &off, 99, 0);
  r += "seek0=" + std::to_string(rc) + ":" + readN(3) + "\n";
  off = -2;
  rc = host->HostSeek(host, &off, 99, 1);
  r += "seek1=" + std::to_string(rc) + ":" + readN(2) + "\n";
  off = -3;
  rc = host->HostSeek(host, &off, 99, 2);
  r += "seek2=" + std::to_string(rc) + ":" + readN(10) + "\n";
  r += "eof=" + readN(10) + "\n";
  off = -100;
  host->HostSeek(host, &off, 0, 0);
  r += "before-start=" + readN(2) + "\n";
  char query[4] = {'a', 'b', 'c', 'd'};
  rc = host->HostQueryText(host, query, 77);
  std::snprintf(line, sizeof line, "query=%d:%d:%c\n", rc, query[0], query[1]);
  r += line;
  std::snprintf(line, sizeof line, "codepage=%d:%d\n", host->HostGetCodePage(host),
                host->appData->codePage);
  r += line;
  std::snprintf(line, sizeof line, "record=%u:%d:%lu:%lu:%s:%u\n", host->size,
                host->appData->fileHandle > 0 ? 1 : 0, static_cast<unsigned long>(host->reserved),
                static_cast<unsigned long>(host->appData->reserved),
                Utf16ToNarrow(host->appData->fileName).c_str(),
                ScvFileNameBytes(host->appData->fileName));
  r += line;
  return r;
}

} // namespace

extern "C" {

SCV_EXPORT int32_t SCV_STDCALL CreateConverter(ConverterHost* host) {
  ++CreateCalls;
  LastHost = host;
  Failed = false;
  State.reset();
  State = std::make_unique<TState>();
  const std::string script = ReadWholeInput(host);
  State->commands = scv::test::fake::ParseScript(script);
  for (const TCommand& c : State->commands) {
    if (c.verb == "create-fail") {
      return 5;
    }
  }
  // Probes run now, while the file is open and its position is the library's to move.
  for (TCommand& c : State->commands) {
    if (c.verb == "probe") {
      c.verb = "piece";
      c.text = Probe(host);
    }
  }
  return 0;
}

SCV_EXPORT int32_t SCV_STDCALL ReadConverter(ConverterHost* host, char* buffer, int32_t capacity,
                                             int32_t* count) {
  (void)host;
  ++ReadCalls;
  if (Failed) {
    ++ReadsAfterFailure;
  }
  *count = 0;
  if (!State) {
    return 9;
  }
  TState& s = *State;
  auto deliver = [&](std::string& from) {
    const std::size_t n = from.size() < static_cast<std::size_t>(capacity) ? from.size() : capacity;
    from.copy(buffer, n);
    from.erase(0, n);
    *count = static_cast<int32_t>(n);
  };
  if (!s.pending.empty()) {
    deliver(s.pending);
    return 0;
  }
  auto deliverBig = [&]() {
    const long long n = s.bigLeft < capacity ? s.bigLeft : capacity;
    const std::span<char> out(buffer, static_cast<std::size_t>(n));
    std::fill(out.begin(), out.end(), s.bigChar);
    s.bigLeft -= n;
    *count = static_cast<int32_t>(n);
  };
  if (s.bigLeft > 0) {
    deliverBig();
    return 0;
  }
  while (s.next < s.commands.size()) {
    const TCommand& c = s.commands[s.next++];
    if (c.verb == "piece") {
      s.pending = c.text;
      deliver(s.pending);
      return 0;
    }
    if (c.verb == "big") {
      const std::size_t space = c.text.find(' ');
      s.bigLeft = std::atoll(c.text.substr(0, space).c_str());
      s.bigChar = space != std::string::npos && space + 1 < c.text.size() ? c.text[space + 1] : 'x';
      deliverBig();
      return 0;
    }
    if (c.verb == "fail") {
      Failed = true;
      return 3;
    }
    if (c.verb == "negative") {
      *count = -7;
      return 0;
    }
    if (c.verb == "overcount") {
      const std::span<char> out(buffer, static_cast<std::size_t>(capacity));
      std::fill(out.begin(), out.end(), 'o');
      *count = capacity * 2 > capacity ? capacity * 2 : capacity;
      return 0;
    }
    if (c.verb == "kind") {
      s.pending = FAKE_KIND;
      deliver(s.pending);
      return 0;
    }
    if (c.verb == "capacity") {
      s.pending = "cap=" + std::to_string(capacity);
      deliver(s.pending);
      return 0;
    }
  }
  return 0;
}

SCV_EXPORT int32_t SCV_STDCALL CloseConverter(ConverterHost* host) {
  (void)host;
  ++CloseCalls;
  State.reset();
  return 0;
}

// Test hooks, reached by the test program through the already loaded library.

SCV_EXPORT void FakeCounters(int* create, int* read, int* close, int* readsAfterFailure) {
  *create = CreateCalls;
  *read = ReadCalls;
  *close = CloseCalls;
  *readsAfterFailure = ReadsAfterFailure;
}

SCV_EXPORT void FakeResetCounters() {
  CreateCalls = ReadCalls = CloseCalls = ReadsAfterFailure = 0;
}

// Calls the file callbacks through the host kept from the last conversion: with no file open
// each must answer 1 and leave its outputs alone.
SCV_EXPORT int FakeProbeWithoutFile(int* sizeRc, int* seekRc, int* readRc, int* untouched) {
  if (LastHost == nullptr) {
    return 0;
  }
  std::uint32_t low = 5;
  std::uint32_t high = 5;
  *sizeRc = LastHost->HostGetSize(LastHost, &low, &high);
  std::int32_t off = 1;
  *seekRc = LastHost->HostSeek(LastHost, &off, 0, 0);
  char buf[4] = {'q', 'q', 'q', 'q'};
  std::int32_t got = 5;
  *readRc = LastHost->HostRead(LastHost, buf, 4, &got);
  *untouched = low == 5 && high == 5 && got == 5 && buf[0] == 'q' ? 1 : 0;
  return 1;
}

} // extern "C"
