// A test PDF text library honouring the export contract in ways its input script chooses.
#include "FakeScript.h"

#include <ScvConverter.h>
#include <cstdio>
#include <memory>
#include <string>

namespace {

int Calls = 0;

// Closes the script file when its owner goes.
struct TFileCloser {
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): the deleter of the owning unique_ptr
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string NarrowName(const std::uint16_t* name) {
  std::string out;
  // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic): the name is zero-terminated
  for (; name != nullptr && *name != 0; ++name) {
    out.push_back(*name < 0x80 ? static_cast<char>(*name) : '?');
  }
  return out;
}

} // namespace

extern "C" {

SCV_EXPORT int32_t SCV_CDECL fnPdfScv(const uint16_t* fileName, int32_t fileNameBytes,
                                      PdfTextSink sink, int32_t option4, int32_t option5,
                                      int32_t s1, int32_t option7, int32_t s2, int32_t mode9,
                                      const char* text10, const char* text11) {
  ++Calls;
  const std::string path = NarrowName(fileName);
  std::unique_ptr<std::FILE, TFileCloser> f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    return SCV_PDF_OPEN_ERROR;
  }
  std::string script;
  char buf[4096];
  std::size_t got = 0;
  while ((got = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
    script.append(buf, got);
  }
  f.reset();

  int result = 0;
  for (const auto& c : scv::test::fake::ParseScript(script)) {
    if (c.verb == "piece") {
      sink(c.text.data(), static_cast<int32_t>(c.text.size()));
    } else if (c.verb == "big") {
      const std::size_t space = c.text.find(' ');
      long long n = std::atoll(c.text.substr(0, space).c_str());
      const std::string chunk(1000, space + 1 < c.text.size() ? c.text[space + 1] : 'x');
      for (; n > 0; n -= 1000) {
        sink(chunk.data(), static_cast<int32_t>(n < 1000 ? n : 1000));
      }
    } else if (c.verb == "sink-empty") {
      sink("zz", 0);
      sink("zz", -5);
    } else if (c.verb == "args") {
      char line[512];
      std::snprintf(line, sizeof line,
                    "bytes=%d a4=%d a5=%d s1=%d a7=%d s2=%d a9=%d t10=[%s] t11=[%s]",
                    fileNameBytes == static_cast<int32_t>(path.size() * 2) ? 1 : 0, option4,
                    option5, s1, option7, s2, mode9, text10, text11);
      sink(line, static_cast<int32_t>(std::string(line).size()));
    } else if (c.verb == "result") {
      result = std::atoi(c.text.c_str());
    }
  }
  return result;
}

SCV_EXPORT int FakePdfCalls() {
  return Calls;
}

} // extern "C"
