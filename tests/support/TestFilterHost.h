// A converter host over bytes in memory for the filter library tests: loads a library from
// the build's bin folder and runs one conversion through its three exports.
#pragma once

#include "ScvConverter.h"
#include "support/TestPaths.h"

#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <string>

namespace scv::test {

struct TMemoryHost {
  ConverterHost host{}; // first member: callbacks find the rest from its address
  AppDataType appData{};
  std::string bytes;
  std::size_t pos = 0;
  bool open = true;       // false: every callback answers "no open file"
  int failReadAfter = -1; // >= 0: reads fail (count -1) after this many successful reads
  int reads = 0;

  TMemoryHost() {
    host.size = sizeof(ConverterHost);
    host.appData = &appData;
    host.HostGetSize = &GetSize;
    host.HostSeek = &Seek;
    host.HostRead = &Read;
    host.HostQueryText = &QueryText;
    host.HostGetCodePage = &GetCodePage;
    appData.fileHandle = 3;
    appData.codePage = SCV_CODEPAGE_UTF8;
  }
  TMemoryHost(const TMemoryHost&) = delete;
  TMemoryHost& operator=(const TMemoryHost&) = delete;

  static TMemoryHost& Of(ConverterHost* h) { return *reinterpret_cast<TMemoryHost*>(h); }

  static int32_t SCV_STDCALL GetSize(ConverterHost* h, uint32_t* low, uint32_t* high) {
    TMemoryHost& m = Of(h);
    if (!m.open) {
      return SCV_HOST_NO_FILE;
    }
    *low = static_cast<uint32_t>(m.bytes.size());
    *high = 0;
    m.pos = 0;
    return SCV_HOST_OK;
  }
  static int32_t SCV_STDCALL Seek(ConverterHost* h, int32_t* offset, int32_t, int32_t origin) {
    TMemoryHost& m = Of(h);
    if (!m.open) {
      return SCV_HOST_NO_FILE;
    }
    const std::int64_t base = origin == 0   ? 0
                              : origin == 1 ? static_cast<std::int64_t>(m.pos)
                                            : static_cast<std::int64_t>(m.bytes.size());
    const std::int64_t to = base + *offset;
    m.pos = to < 0 ? 0 : static_cast<std::size_t>(to);
    return SCV_HOST_OK;
  }
  static int32_t SCV_STDCALL Read(ConverterHost* h, void* buffer, int32_t count, int32_t* got) {
    TMemoryHost& m = Of(h);
    if (!m.open) {
      return SCV_HOST_NO_FILE;
    }
    if (m.failReadAfter >= 0 && m.reads >= m.failReadAfter) {
      *got = -1;
      return SCV_HOST_OK;
    }
    ++m.reads;
    const std::size_t left = m.pos < m.bytes.size() ? m.bytes.size() - m.pos : 0;
    const std::size_t n =
        count < 0 ? 0 : std::min<std::size_t>(left, static_cast<std::size_t>(count));
    if (n > 0) {
      m.bytes.copy(static_cast<char*>(buffer), n, m.pos);
    }
    m.pos += n;
    *got = static_cast<int32_t>(n);
    return SCV_HOST_OK;
  }
  static int32_t SCV_STDCALL QueryText(ConverterHost*, char* destination, int32_t) {
    *destination = '\0';
    return 0;
  }
  static int32_t SCV_STDCALL GetCodePage(ConverterHost* h) { return Of(h).appData.codePage; }
};

class TFilterLibrary {
public:
  explicit TFilterLibrary(const std::string& soName)
      : handle_(dlopen((BinDir() + "/" + soName).c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ != nullptr) {
      create_ = reinterpret_cast<CreateConverterProc>(dlsym(handle_, SCV_EXPORT_CREATE));
      read_ = reinterpret_cast<ReadConverterProc>(dlsym(handle_, SCV_EXPORT_READ));
      close_ = reinterpret_cast<CloseConverterProc>(dlsym(handle_, SCV_EXPORT_CLOSE));
    }
  }
  ~TFilterLibrary() {
    if (handle_ != nullptr) {
      dlclose(handle_);
    }
  }
  TFilterLibrary(const TFilterLibrary&) = delete;
  TFilterLibrary& operator=(const TFilterLibrary&) = delete;

  bool Loaded() const { return create_ != nullptr && read_ != nullptr && close_ != nullptr; }
  void* Handle() const { return handle_; }
  CreateConverterProc Create() const { return create_; }
  ReadConverterProc Read() const { return read_; }
  CloseConverterProc Close() const { return close_; }

  struct TRun {
    int32_t createResult = -1;
    int32_t lastReadResult = 0;
    int calls = 0;
    std::string text;
  };

  // One conversion as the bridge runs it: create, read pieces until 0 bytes or failure, close.
  TRun Convert(TMemoryHost& host, int32_t capacity = 65536) const {
    TRun run;
    run.createResult = create_(&host.host);
    if (run.createResult == 0) {
      std::string buffer(static_cast<std::size_t>(capacity), '\0');
      while (true) {
        int32_t count = 0;
        run.lastReadResult = read_(&host.host, buffer.data(), capacity, &count);
        ++run.calls;
        if (run.lastReadResult != 0 || count <= 0) {
          break;
        }
        run.text.append(buffer.data(), static_cast<std::size_t>(count));
      }
    }
    close_(&host.host);
    return run;
  }

private:
  void* handle_;
  CreateConverterProc create_ = nullptr;
  ReadConverterProc read_ = nullptr;
  CloseConverterProc close_ = nullptr;
};

} // namespace scv::test
