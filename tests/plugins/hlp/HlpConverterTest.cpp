// scvhlp through its exports: a help file converts through the host callbacks; anything that
// is not a readable help file fails at the start.
#include "support/HlpBuilder.h"
#include "support/TestFilterHost.h"

#include <gtest/gtest.h>

namespace {

using namespace scv::test;

TBytes SmallHelpFile() {
  const std::vector<TLink> links = {TopicHeaderLink("Topic"),
                                    TextLink(TTextRecord().Par("Body text").End())};
  return BuildHelpFile(
      {{"|SYSTEM", BuildSystem(33, 4)}, {"|TOPIC", BuildTopic(links, TTopicLayout::kLz4k)}});
}

TEST(HlpConverter, ConvertsThroughTheCallbacks) {
  TFilterLibrary lib("scvhlp.so");
  ASSERT_TRUE(lib.Loaded());
  for (const int32_t capacity : {1, 3, 65536}) {
    SCOPED_TRACE(capacity);
    TMemoryHost host;
    host.bytes = SmallHelpFile();
    const auto run = lib.Convert(host, capacity);
    EXPECT_EQ(run.createResult, 0);
    EXPECT_EQ(run.text, "Topic\nBody text\n");
  }
}

TEST(HlpConverter, UnreadableInputFailsTheStart) {
  TFilterLibrary lib("scvhlp.so");
  ASSERT_TRUE(lib.Loaded());
  struct TCase {
    const char* name;
    TBytes bytes;
    bool open;
    int failReadAfter;
  };
  const TCase cases[] = {
      {"empty file", "", true, -1},
      {"text file", "not a help file", true, -1},
      {"truncated", SmallHelpFile().substr(0, 100), true, -1},
      {"no open file", SmallHelpFile(), false, -1},
      {"read failure", SmallHelpFile(), true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryHost host;
    host.bytes = c.bytes;
    host.open = c.open;
    host.failReadAfter = c.failReadAfter;
    const auto run = lib.Convert(host);
    EXPECT_NE(run.createResult, 0);
    EXPECT_TRUE(run.text.empty());
    int32_t count = 5;
    char buffer[8];
    EXPECT_NE(lib.Read()(&host.host, buffer, sizeof buffer, &count), 0);
    EXPECT_EQ(count, 0);
  }
}

} // namespace
