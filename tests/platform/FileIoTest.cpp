// Files by wide name and the lossless argument conversion.
#include "platform/FileIo.h"

#include "platform/DynamicLibrary.h"
#include "support/ProcessRunner.h"

#include <gtest/gtest.h>

namespace scv::platform {
namespace {

TEST(FileIo, ArgumentBytesSurviveTheRoundTrip) {
  // Under LC_ALL=C the code set is served as UTF-8; invalid bytes must come back unchanged.
  const std::string names[] = {"plain.doc", "caf\xC3\xA9.doc", "bad\xFF\xFE.doc",
                               "half\xE2\x82.doc", std::string("\x80", 1)};
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(WideToPath(ArgumentToWide(name)), name);
  }
  EXPECT_EQ(ArgumentToWide("caf\xC3\xA9"), u"café");
}

TEST(FileIo, OpensFilesWhoseNamesAreNotValidText) {
  test::TTempDir dir;
  const std::string path = dir.Write("x\xFF\xC3.bin", "hello");
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(ArgumentToWide(path), bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "hello");
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(FileExists(dir.Path()));
  EXPECT_TRUE(IsDirectory(dir.Path()));
  TFile file;
  EXPECT_FALSE(file.OpenRead(ArgumentToWide(dir.Path()))); // a directory is not a file
  EXPECT_FALSE(file.OpenRead(u"/nonexistent/file"));
}

TEST(FileIo, ReadAtStopsAtTheEnd) {
  test::TTempDir dir;
  const std::string path = dir.Write("f", "0123456789");
  TFile file;
  ASSERT_TRUE(file.OpenRead(ArgumentToWide(path)));
  EXPECT_EQ(file.Size(), 10);
  std::vector<std::uint8_t> buf(8);
  EXPECT_EQ(file.ReadAt(6, buf), 4);
  EXPECT_EQ(buf[0], '6');
  EXPECT_EQ(file.ReadAt(10, buf), 0);
}

TEST(FileIo, OutputFileReportsAFullDisk) {
  TOutputFile out;
  ASSERT_TRUE(out.Create("/dev/full"));
  const std::uint8_t bytes[] = {1, 2, 3};
  EXPECT_FALSE(out.WriteAll(bytes));
}

TEST(DynamicLibrary, MapsWindowsNamesAndFailsQuietly) {
  EXPECT_EQ(MapLibraryName("scvpdf.dll"), "scvpdf.so");
  EXPECT_EQ(MapLibraryName("SCVHTM.DLL"), "SCVHTM.so");
  EXPECT_EQ(MapLibraryName("other"), "other");
  TDynamicLibrary lib;
  EXPECT_FALSE(lib.Load("no-such-library-anywhere.dll"));
  EXPECT_EQ(lib.Symbol("x"), nullptr);
  EXPECT_TRUE(ProgramDirectory().ends_with("/"));
}

} // namespace
} // namespace scv::platform
