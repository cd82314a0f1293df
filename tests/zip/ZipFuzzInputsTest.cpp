// Replays the ZIP and Deflate fuzz seeds and every saved crash input through the same steps
// as the fuzz targets, under the test build's sanitizers.
#include "codecs/Inflate.h"
#include "platform/CodePage.h"
#include "support/ProcessRunner.h"
#include "support/TestPaths.h"
#include "zip/ZipReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace scv::zip {
namespace {

std::vector<std::filesystem::path> Inputs(const std::string& parser) {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path root = std::filesystem::path(test::SourceDir()) / "fuzz";
  for (const std::filesystem::path& dir :
       {root / parser / "corpus", root / "regressions" / parser}) {
    if (std::filesystem::is_directory(dir)) {
      for (const auto& f : std::filesystem::directory_iterator(dir)) {
        files.push_back(f.path());
      }
    }
  }
  return files;
}

TEST(ZipFuzzInputs, ArchivesReadAndExtractWithoutFault) {
  const auto files = Inputs("zip");
  ASSERT_FALSE(files.empty());
  for (const auto& path : files) {
    SCOPED_TRACE(path.string());
    TZipReader reader;
    reader.SetZipName(platform::Utf8ToWide(path.string()));
    reader.SetEntrySizeLimit(std::uint64_t{64} << 20);
    try {
      reader.ReadZip();
    } catch (const EZipError&) {
      continue;
    }
    for (std::size_t i = 0; i < reader.Count() && i < 64; ++i) {
      bytes::TMemoryStream s;
      try {
        reader.UnZipToStream(s, reader.Entry(i).FullName());
      } catch (const EZipError&) {
      }
      EXPECT_LE(s.Size(), std::uint64_t{64} << 20);
    }
  }
}

TEST(ZipFuzzInputs, DeflateStreamsDecodeWithinLimits) {
  const auto files = Inputs("inflate");
  ASSERT_FALSE(files.empty());
  for (const auto& path : files) {
    SCOPED_TRACE(path.string());
    const std::string bytes = test::ReadFileBytes(path.string());
    if (bytes.empty()) {
      continue;
    }
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             bytes.size());
    const auto control = static_cast<std::uint8_t>(bytes[0]);
    const std::uint64_t limit = (control & 0x80) != 0 ? (control & 0x7F) * 37u : 16u << 20;
    bytes::TMemoryStream out;
    if ((control & 0x40) != 0) {
      out.Write("earlier bytes", 13);
    }
    const std::span<const std::uint8_t> input = data.subspan(1);
    const codecs::TInflateResult r =
        codecs::Inflate(input, out, limit, (control & 0x20) != 0 ? limit : 0);
    EXPECT_LE(r.produced, limit);
    EXPECT_LE(r.consumed, input.size());
  }
}

} // namespace
} // namespace scv::zip
