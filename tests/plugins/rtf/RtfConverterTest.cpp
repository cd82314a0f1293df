// scvrtf through its exports: the text arrives in pieces, input comes only through the host
// callbacks, and misuse or host failures end in failure codes.
#include "rtf/RtfReader.h"
#include "support/TestFilterHost.h"

#include <gtest/gtest.h>

namespace {

using scv::test::TFilterLibrary;
using scv::test::TMemoryHost;

TEST(RtfConverter, ExportsOnlyTheFilterInterface) {
  TFilterLibrary lib("scvrtf.so");
  ASSERT_TRUE(lib.Loaded());
  EXPECT_EQ(dlsym(lib.Handle(), "fnPdfScv"), nullptr);
}

TEST(RtfConverter, DeliversTheTextInPieces) {
  TFilterLibrary lib("scvrtf.so");
  ASSERT_TRUE(lib.Loaded());
  std::string rtf = "{\\rtf1\\ansi ";
  for (int i = 0; i < 3000; ++i) {
    rtf += "Line \\'e9\\u8364? " + std::to_string(i) + "\\par\n";
  }
  rtf += "}";
  const std::string want = scv::rtf::RtfToUtf8(rtf);
  for (const int32_t capacity : {1, 7, 4096, 65536}) {
    SCOPED_TRACE(capacity);
    TMemoryHost host;
    host.bytes = rtf;
    const auto run = lib.Convert(host, capacity);
    EXPECT_EQ(run.createResult, 0);
    EXPECT_EQ(run.lastReadResult, 0);
    EXPECT_EQ(run.text, want);
  }
}

TEST(RtfConverter, EmptyInputGivesNoText) {
  TFilterLibrary lib("scvrtf.so");
  ASSERT_TRUE(lib.Loaded());
  TMemoryHost host;
  const auto run = lib.Convert(host);
  EXPECT_EQ(run.createResult, 0);
  EXPECT_EQ(run.calls, 1);
  EXPECT_TRUE(run.text.empty());
}

TEST(RtfConverter, HostFailuresFailTheStart) {
  TFilterLibrary lib("scvrtf.so");
  ASSERT_TRUE(lib.Loaded());
  {
    SCOPED_TRACE("no open file");
    TMemoryHost host;
    host.open = false;
    host.bytes = "{\\rtf1 x}";
    EXPECT_NE(lib.Convert(host).createResult, 0);
  }
  {
    SCOPED_TRACE("read failure");
    TMemoryHost host;
    host.bytes = "{\\rtf1 x}";
    host.failReadAfter = 0;
    EXPECT_NE(lib.Convert(host).createResult, 0);
  }
  {
    SCOPED_TRACE("null host");
    EXPECT_NE(lib.Create()(nullptr), 0);
    lib.Close()(nullptr);
  }
}

TEST(RtfConverter, ReadWithoutAConversionFails) {
  TFilterLibrary lib("scvrtf.so");
  ASSERT_TRUE(lib.Loaded());
  TMemoryHost host;
  char buffer[16];
  int32_t count = 99;
  EXPECT_NE(lib.Read()(&host.host, buffer, sizeof buffer, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_NE(lib.Read()(&host.host, buffer, sizeof buffer, nullptr), 0);

  host.bytes = "{\\rtf1 abc}";
  ASSERT_EQ(lib.Create()(&host.host), 0);
  EXPECT_NE(lib.Read()(&host.host, buffer, -1, &count), 0);
  EXPECT_NE(lib.Read()(&host.host, nullptr, 4, &count), 0);
  lib.Close()(&host.host);
  lib.Close()(&host.host); // a second close is harmless
  EXPECT_NE(lib.Read()(&host.host, buffer, sizeof buffer, &count), 0);
}

TEST(RtfConverter, ConversionsDoNotShareState) {
  TFilterLibrary lib("scvrtf.so");
  ASSERT_TRUE(lib.Loaded());
  TMemoryHost first;
  first.bytes = "{\\rtf1 first text}";
  ASSERT_EQ(lib.Create()(&first.host), 0);
  char buffer[5];
  int32_t count = 0;
  ASSERT_EQ(lib.Read()(&first.host, buffer, sizeof buffer, &count), 0);
  lib.Close()(&first.host); // closed before the text was exhausted

  TMemoryHost second;
  second.bytes = "{\\rtf1 second}";
  EXPECT_EQ(lib.Convert(second).text, "second");
}

} // namespace
