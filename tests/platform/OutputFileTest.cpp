// The destination written as one whole: what lands where, with which permissions, and what is
// left behind (never a temporary file, never part of a text).
#include "platform/OutputFile.h"

#include "platform/FileIo.h"
#include "support/ProcessRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace scv::platform {
namespace {

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The names in a folder, so that a leftover temporary file shows.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(OutputFile, PlacesTheTextAndLeavesNothingElse) {
  struct Case {
    const char* name;
    const char* existing; // content of out.txt before, or null
    bool replace;
    TPlaceResult want;
    const char* after; // content of out.txt after
  };
  const Case cases[] = {
      {"new file", nullptr, false, TPlaceResult::kWritten, "text"},
      {"new file with replace", nullptr, true, TPlaceResult::kWritten, "text"},
      {"file appeared meanwhile", "user", false, TPlaceResult::kExists, "user"},
      {"replaced", "older and longer", true, TPlaceResult::kWritten, "text"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TTempDir dir;
    if (c.existing != nullptr) {
      dir.Write("out.txt", c.existing);
    }
    EXPECT_EQ(WriteFileAtomically(dir.File("out.txt"), Bytes("text"), c.replace), c.want);
    EXPECT_EQ(test::ReadFileBytes(dir.File("out.txt")), c.after);
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"out.txt"});
  }
}

TEST(OutputFile, FailuresLeaveTheFolderAsItWas) {
  test::TTempDir dir;
  dir.Write("keep.txt", "keep");
  std::filesystem::create_directory(dir.File("sub"));
  struct Case {
    const char* name;
    std::string path;
    TPlaceResult want;
  };
  const Case cases[] = {
      {"missing folder", dir.File("no/such/out.txt"), TPlaceResult::kCreateFailed},
      {"a directory", dir.File("sub"), TPlaceResult::kCreateFailed},
      {"a folder name", dir.File("sub/"), TPlaceResult::kCreateFailed},
      {"full device", "/dev/full", TPlaceResult::kWriteFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(WriteFileAtomically(c.path, Bytes("text"), true), c.want);
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"keep.txt", "sub"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("sub")));
  }
  EXPECT_EQ(WriteFileAtomically("/dev/null", Bytes("text"), true), TPlaceResult::kWritten);
}

TEST(OutputFile, PermissionsAreThoseOfADirectCreate) {
  test::TTempDir dir;
  const mode_t old = umask(027);
  EXPECT_EQ(WriteFileAtomically(dir.File("new.txt"), Bytes("a"), false), TPlaceResult::kWritten);
  EXPECT_EQ(ModeOf(dir.File("new.txt")), 0640u);
  // Replacing keeps the mode the old file had, as truncating it would.
  const std::string kept = dir.Write("kept.txt", "old");
  chmod(kept.c_str(), 0604);
  EXPECT_EQ(WriteFileAtomically(kept, Bytes("new"), true), TPlaceResult::kWritten);
  EXPECT_EQ(ModeOf(kept), 0604u);
  umask(old);
}

TEST(OutputFile, FollowsSymbolicLinks) {
  test::TTempDir dir;
  const std::string target = dir.Write("target.txt", "old");
  std::filesystem::create_symlink("target.txt", dir.File("link.txt"));
  std::filesystem::create_symlink("made.txt", dir.File("dangling.txt"));
  EXPECT_EQ(WriteFileAtomically(dir.File("link.txt"), Bytes("new"), true), TPlaceResult::kWritten);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.txt")));
  EXPECT_EQ(test::ReadFileBytes(target), "new");
  EXPECT_EQ(WriteFileAtomically(dir.File("dangling.txt"), Bytes("made"), false),
            TPlaceResult::kWritten);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("dangling.txt")));
  EXPECT_EQ(test::ReadFileBytes(dir.File("made.txt")), "made");
  std::filesystem::create_symlink("loop.txt", dir.File("loop.txt"));
  EXPECT_EQ(WriteFileAtomically(dir.File("loop.txt"), Bytes("x"), true),
            TPlaceResult::kCreateFailed);
}

TEST(OutputFile, LongNamesStillGetATemporaryFile) {
  test::TTempDir dir;
  const std::string name(250, 'n');
  EXPECT_EQ(WriteFileAtomically(dir.File(name), Bytes("text"), false), TPlaceResult::kWritten);
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{name});
}

TEST(FileIo, ReadAllFromDescriptorReadsPastOneChunk) {
  test::TTempDir dir;
  const std::string content(200000, 'q');
  const std::string path = dir.Write("in", content + "end");
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::vector<std::uint8_t> got;
  EXPECT_TRUE(ReadAllFromDescriptor(fd, got));
  close(fd);
  EXPECT_EQ(std::string(got.begin(), got.end()), content + "end");
  EXPECT_FALSE(ReadAllFromDescriptor(-1, got));
}

} // namespace
} // namespace scv::platform
