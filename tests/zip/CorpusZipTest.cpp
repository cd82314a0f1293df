// The ZIP reader on real archives of the shared corpus, read in place.
#include "platform/CodePage.h"
#include "support/TestPaths.h"
#include "zip/ZipReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace scv::zip {
namespace {

std::u16string Wide(const std::string& path) {
  return platform::Utf8ToWide(path);
}

struct TTally {
  int files = 0;
  std::size_t extracted = 0;
  std::vector<TEntryOutcome> outcomes;
};

// Extracts every file entry of an archive, one name at a time.
TTally ExtractAll(TZipReader& r) {
  TTally t;
  for (std::size_t i = 0; i < r.Count(); ++i) {
    const TZipEntry& e = r.Entry(i);
    if (e.fileName.empty()) {
      continue;
    }
    ++t.files;
    bytes::TMemoryStream s;
    // Names can repeat (case variants); count each entry once.
    const std::size_t n = static_cast<std::size_t>(r.UnZipToStream(s, e.FullName()));
    t.extracted += n;
    for (const auto o : r.LastOutcomes()) {
      t.outcomes.push_back(o);
    }
  }
  return t;
}

// Archives written by early PKZIP versions and others: every entry decodes with its CRC.
TEST(CorpusZip, EveryLegacyMethodDecodes) {
  const char* files[] = {
      "IMPLODE.ZIP", "PKZ110.ZIP",  "PKZ110ES.ZIP",       "PKZ204ES.ZIP",      "PKZ80B1.ZIP",
      "PKZ80B2.ZIP", "PKZ90B4.ZIP", "legacy_implode.zip", "legacy_reduce.zip", "legacy_shrink.zip"};
  for (const char* f : files) {
    SCOPED_TRACE(f);
    TZipReader r;
    r.SetZipName(Wide(test::CorpusDir("zip") + "/" + f));
    ASSERT_NO_THROW(r.ReadZip());
    ASSERT_GT(r.Count(), 0u);
    const TTally t = ExtractAll(r);
    EXPECT_EQ(t.extracted, static_cast<std::size_t>(t.files));
  }
}

TEST(CorpusZip, UnusualArchives) {
  struct Case {
    const char* file;
    std::size_t count; // directory records
    std::size_t extracted;
    TEntryOutcome firstOutcome;
  };
  const Case cases[] = {
      {"aes_archive.zip", 4, 0, TEntryOutcome::kEncrypted},
      {"ignore_encryption_flag.zip", 1, 0, TEntryOutcome::kEncrypted},
      {"xz.zip", 1, 0, TEntryOutcome::kUnknownMethod},
      {"ppmd.zip", 1, 0, TEntryOutcome::kUnknownMethod},
      {"deflate64_issue_25.zip", 1, 0, TEntryOutcome::kUnknownMethod},
      {"data_descriptor.zip", 1, 1, TEntryOutcome::kExtracted},
      {"zip64_demo.zip", 1, 1, TEntryOutcome::kExtracted},
      {"zip64_magic_in_filename_1.zip", 1, 1, TEntryOutcome::kExtracted},
      {"chinese.zip", 1, 1, TEntryOutcome::kExtracted},
      {"non_utf8.zip", 2, 2, TEntryOutcome::kExtracted},
      {"files_and_dirs.zip", 3, 1, TEntryOutcome::kExtracted},
      {"invalid_offset.zip", 4, 2, TEntryOutcome::kExtracted},
      {"extended_timestamp.zip", 2, 2, TEntryOutcome::kExtracted},
      {"symlink.zip", 1, 1, TEntryOutcome::kExtracted},
      {"linux-7z.zip", 1, 1, TEntryOutcome::kExtracted},
      {"windows-7zip.zip", 1, 1, TEntryOutcome::kExtracted},
      {"sample.zip", 1, 1, TEntryOutcome::kExtracted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TZipReader r;
    r.SetZipName(Wide(test::CorpusDir("zip") + "/" + c.file));
    ASSERT_NO_THROW(r.ReadZip());
    EXPECT_EQ(r.Count(), c.count);
    const TTally t = ExtractAll(r);
    EXPECT_EQ(t.extracted, c.extracted);
    ASSERT_FALSE(t.outcomes.empty());
    EXPECT_EQ(t.outcomes[0], c.firstOutcome);
  }
  for (const char* f : {"comment_garbage.zip", "misaligned_comment.zip"}) {
    SCOPED_TRACE(f);
    TZipReader r;
    r.SetZipName(Wide(test::CorpusDir("zip") + "/" + f));
    ASSERT_NO_THROW(r.ReadZip());
    EXPECT_EQ(r.Count(), 0u);
  }
  TZipReader bad;
  bad.SetZipName(Wide(test::CorpusDir("zip") + "/invalid_offset2.zip"));
  EXPECT_THROW(bad.ReadZip(), EBadZipFile);
}

// Every part of every Office Open XML package decodes with its CRC; encrypted packages
// (compound files) and a package cut before its directory have no entries.
TEST(CorpusZip, OfficePackages) {
  const std::vector<std::string> noEntries = {"bug53475-password-is-pass.docx",
                                              "protected_agile.docx",
                                              "truncated62886.docx",
                                              "60320-protected.xlsx",
                                              "extenxls_pwd123.xlsx",
                                              "invalid.xlsx",
                                              "protect.xlsx"};
  int packages = 0;
  for (const char* type : {"docx", "xlsx", "pptx"}) {
    for (const auto& f : std::filesystem::directory_iterator(test::CorpusDir(type))) {
      const std::string name = f.path().filename().string();
      SCOPED_TRACE(name);
      TZipReader r;
      r.SetZipName(Wide(f.path().string()));
      ASSERT_NO_THROW(r.ReadZip());
      if (std::find(noEntries.begin(), noEntries.end(), name) != noEntries.end()) {
        EXPECT_EQ(r.Count(), 0u);
        continue;
      }
      ASSERT_GT(r.Count(), 0u);
      const TTally t = ExtractAll(r);
      EXPECT_EQ(t.extracted, static_cast<std::size_t>(t.files));
      ++packages;
    }
  }
  EXPECT_GT(packages, 90);
}

} // namespace
} // namespace scv::zip
