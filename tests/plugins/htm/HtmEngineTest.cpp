// The HTML converter library through its exports, as a host drives it.
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <ScvConverter.h>
#include <cstddef>
#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

// A host serving one in-memory document through the callbacks.
struct TMemoryHost {
  ConverterHost host{};
  AppDataType appData{};
  std::string document;
  std::size_t pos = 0;
  bool open = true;
  bool failReads = false;
};

// The host record leads the struct, so the callbacks find the rest from its address.
static_assert(offsetof(TMemoryHost, host) == 0);

TMemoryHost* Self(ConverterHost* host) {
  return reinterpret_cast<TMemoryHost*>(host);
}

int32_t SCV_STDCALL GetSize(ConverterHost* host, uint32_t* low, uint32_t* high) {
  TMemoryHost* self = Self(host);
  if (!self->open) {
    return SCV_HOST_NO_FILE;
  }
  *low = static_cast<uint32_t>(self->document.size());
  *high = 0;
  self->pos = 0;
  return SCV_HOST_OK;
}

int32_t SCV_STDCALL Seek(ConverterHost* host, int32_t* offset, int32_t, int32_t origin) {
  TMemoryHost* self = Self(host);
  if (!self->open) {
    return SCV_HOST_NO_FILE;
  }
  const long long base = origin == 1   ? static_cast<long long>(self->pos)
                         : origin == 2 ? static_cast<long long>(self->document.size())
                                       : 0;
  self->pos = static_cast<std::size_t>(base + *offset);
  return SCV_HOST_OK;
}

int32_t SCV_STDCALL Read(ConverterHost* host, void* buffer, int32_t count, int32_t* got) {
  TMemoryHost* self = Self(host);
  if (!self->open) {
    return SCV_HOST_NO_FILE;
  }
  if (self->failReads) {
    *got = -1;
    return SCV_HOST_OK;
  }
  // Short reads on purpose: a library must keep reading until it gets 0.
  const std::size_t left =
      self->pos < self->document.size() ? self->document.size() - self->pos : 0;
  std::size_t n = std::min<std::size_t>({left, static_cast<std::size_t>(count), 7777});
  if (n > 0) {
    self->document.copy(static_cast<char*>(buffer), n, self->pos);
  }
  self->pos += n;
  *got = static_cast<int32_t>(n);
  return SCV_HOST_OK;
}

int32_t SCV_STDCALL QueryText(ConverterHost*, char* destination, int32_t) {
  *destination = 0;
  return 0;
}

int32_t SCV_STDCALL GetCodePage(ConverterHost* host) {
  return host->appData->codePage;
}

class THtmLibrary : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    handle_ = dlopen((scv::test::BinDir() + "/scvhtm.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    create_ = reinterpret_cast<CreateConverterProc>(dlsym(handle_, SCV_EXPORT_CREATE));
    read_ = reinterpret_cast<ReadConverterProc>(dlsym(handle_, SCV_EXPORT_READ));
    close_ = reinterpret_cast<CloseConverterProc>(dlsym(handle_, SCV_EXPORT_CLOSE));
    ASSERT_TRUE(create_ && read_ && close_);
  }
  static void TearDownTestSuite() {
    if (handle_ != nullptr) {
      dlclose(handle_);
    }
  }

  void Prepare(TMemoryHost& h, std::string document) {
    h.document = std::move(document);
    h.appData.fileHandle = 3;
    h.appData.codePage = SCV_CODEPAGE_UTF8;
    h.host.size = sizeof(ConverterHost);
    h.host.appData = &h.appData;
    h.host.HostGetSize = &GetSize;
    h.host.HostSeek = &Seek;
    h.host.HostRead = &Read;
    h.host.HostQueryText = &QueryText;
    h.host.HostGetCodePage = &GetCodePage;
  }

  // Runs one conversion; pieces receives each piece. Returns CreateConverter's result.
  int32_t Convert(TMemoryHost& h, int32_t capacity, std::vector<std::string>& pieces) {
    const int32_t rc = create_(&h.host);
    if (rc == 0) {
      std::vector<char> buffer(static_cast<std::size_t>(capacity));
      for (int guard = 0; guard < 1000000; ++guard) {
        int32_t count = -1;
        if (read_(&h.host, buffer.data(), capacity, &count) != 0 || count <= 0) {
          break;
        }
        EXPECT_LE(count, capacity);
        pieces.emplace_back(buffer.data(), static_cast<std::size_t>(count));
      }
    }
    close_(&h.host);
    return rc;
  }

  static inline void* handle_ = nullptr;
  static inline CreateConverterProc create_ = nullptr;
  static inline ReadConverterProc read_ = nullptr;
  static inline CloseConverterProc close_ = nullptr;
};

std::string Join(const std::vector<std::string>& pieces) {
  std::string all;
  for (const auto& p : pieces) {
    all += p;
  }
  return all;
}

TEST_F(THtmLibrary, DeliversTheTextInPiecesOfAtMostTheCapacity) {
  TMemoryHost h;
  std::string body;
  for (int i = 0; i < 3000; ++i) {
    body += "<p>\xD0\x96\xE4\xB8\xAD paragraph " + std::to_string(i) + "</p>";
  }
  Prepare(h, "<title>T</title>" + body);
  std::vector<std::string> pieces;
  ASSERT_EQ(Convert(h, 1001, pieces), 0);
  ASSERT_GT(pieces.size(), 10u);
  for (const std::string& p : pieces) {
    // Every piece is whole UTF-8: none starts with a continuation byte.
    EXPECT_NE(static_cast<unsigned char>(p[0]) & 0xC0, 0x80);
  }
  const std::string text = Join(pieces);
  EXPECT_TRUE(text.starts_with("T\n\n\xD0\x96\xE4\xB8\xAD paragraph 0\n\n\xD0\x96"))
      << text.substr(0, 40);
  EXPECT_NE(text.find("paragraph 2999\n"), std::string::npos);
}

TEST_F(THtmLibrary, TinyCapacityStillMakesProgress) {
  TMemoryHost h;
  Prepare(h, "<p>\xF0\x9F\x98\x80x</p>");
  std::vector<std::string> pieces;
  ASSERT_EQ(Convert(h, 1, pieces), 0);
  EXPECT_EQ(Join(pieces), "\xF0\x9F\x98\x80x\n");
}

TEST_F(THtmLibrary, ConversionsInOneProcessDoNotInterfere) {
  struct Case {
    const char* doc;
    const char* want;
  };
  const Case cases[] = {{"<p>first</p>", "first\n"},
                        {"<title>second</title>", "second\n"},
                        {"", ""},
                        {"<pre>third</pre>", "third\n"},
                        // Well-formed UTF-8 with characters the parser must not see still
                        // goes through the decoder.
                        {"<p>a\x01"
                         "b\xEF\xBF\xBF\xC3\xA9</p>",
                         "ab\xEF\xBF\xBD\xC3\xA9\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.doc);
    TMemoryHost h;
    Prepare(h, c.doc);
    std::vector<std::string> pieces;
    ASSERT_EQ(Convert(h, 65536, pieces), 0);
    EXPECT_EQ(Join(pieces), c.want);
  }
}

TEST_F(THtmLibrary, RefusesWhatItCannotRead) {
  TMemoryHost failing;
  Prepare(failing, "<p>x</p>");
  failing.failReads = true;
  std::vector<std::string> pieces;
  EXPECT_NE(Convert(failing, 100, pieces), 0);

  TMemoryHost closed;
  Prepare(closed, "<p>x</p>");
  closed.open = false;
  EXPECT_NE(Convert(closed, 100, pieces), 0);

  // Reading without a started conversion fails rather than inventing text.
  char buffer[16];
  int32_t count = 5;
  EXPECT_NE(read_(&closed.host, buffer, sizeof buffer, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(pieces.size(), 0u);
}

} // namespace
