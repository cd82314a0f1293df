// The WinHelp reader on built help files: block layouts, records and commands, phrase tables,
// character sets, and damaged structures.
#include "hlp/HlpReader.h"

#include "hlp/HlpDecompress.h"
#include "hlp/HlpFileSystem.h"
#include "support/HlpBuilder.h"

#include <gtest/gtest.h>

#include <span>
#include <string>

namespace {

using namespace scv::test;
using scv::bytes::EFormatError;

std::string Convert(const TBytes& file) {
  return scv::hlp::HlpToUtf8(
      std::span(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
}

std::span<const std::uint8_t> Bytes(const TBytes& b) {
  return {reinterpret_cast<const std::uint8_t*>(b.data()), b.size()};
}

TBytes HelpFile(const std::vector<TLink>& links, TTopicLayout layout,
                std::map<std::string, TBytes> extra = {},
                const std::vector<std::pair<std::uint16_t, TBytes>>& system = {}) {
  const std::uint16_t minor = layout == TTopicLayout::kWin30 ? 15 : 33;
  extra["|SYSTEM"] = BuildSystem(minor, FlagsFor(layout), system);
  extra["|TOPIC"] = BuildTopic(links, layout);
  return BuildHelpFile(extra);
}

std::vector<TLink> TwoTopics(std::uint8_t textType) {
  return {
      TopicHeaderLink("Title One"),
      TextLink(TTextRecord().Par("Hello world").Then("A", "\x83").Then("B", "\x81").End("C"),
               textType),
      TopicHeaderLink("Title Two"),
      TextLink(TTextRecord().Then("non", "\x8B").Par("break").End(), textType),
  };
}

TEST(HlpReader, TopicsInEveryBlockLayout) {
  const std::string want = "Title One\nHello world\nA\tB\nC\n\nTitle Two\nnon break\n";
  struct TCase {
    const char* name;
    TTopicLayout layout;
    std::uint8_t textType;
  };
  const TCase cases[] = {
      {"3.1+ plain 4k", TTopicLayout::kPlain4k, 0x20},
      {"LZ77 4k", TTopicLayout::kLz4k, 0x20},
      {"LZ77 2k", TTopicLayout::kLz2k, 0x20},
      {"3.0", TTopicLayout::kWin30, 0x01},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Convert(HelpFile(TwoTopics(c.textType), c.layout)), want);
  }
}

TEST(HlpReader, RecordsCrossBlockBoundaries) {
  std::vector<TLink> links;
  std::string want;
  for (int t = 0; t < 12; ++t) {
    const std::string title = "Topic " + std::to_string(t);
    const std::string body(1500 + 97 * t, static_cast<char>('a' + t));
    links.push_back(TopicHeaderLink(title));
    links.push_back(TextLink(TTextRecord().Par(body).End()));
    want += t > 0 ? "\n" : "";
    want += title;
    want += '\n';
    want += body;
    want += '\n';
  }
  for (const auto layout : {TTopicLayout::kPlain4k, TTopicLayout::kLz4k, TTopicLayout::kLz2k}) {
    SCOPED_TRACE(static_cast<int>(layout));
    EXPECT_EQ(Convert(HelpFile(links, layout)), want);
  }
}

TEST(HlpReader, CommandsWithPayloadsAreSkipped) {
  TBytes picture = "\x86\x22";      // picture, type 0x22
  PutU16(picture, (4 + 16384) * 2); // compressed signed long: 4
  picture += "\x02";                // one hotspot
  picture += std::string("\0\0\0\0", 4);
  TBytes macro = "\xC8";
  PutU16(macro, 6);
  macro += std::string("Beep\0\0", 6);
  TBytes external = "\xEA";
  PutU16(external, 3);
  external += "xyz";
  const auto links = std::vector<TLink>{
      TopicHeaderLink("Commands"),
      TextLink(TTextRecord()
                   .Then("a", std::string("\x80\x01\x00", 3)) // font
                   .Then("b", picture)
                   .Then("c", macro)
                   .Then("d", "\x89")                                 // end of hotspot
                   .Then("e", std::string("\xE3\x01\x02\x03\x04", 5)) // topic jump
                   .Then("f", external)
                   .Then("g", std::string("\x20\0\0\0\0", 5)) // vfld
                   .Then("h", std::string("\x21\0\0", 3))     // dtype
                   .Then("-", "\x8C")                         // non-break hyphen
                   .End("i")),
  };
  EXPECT_EQ(Convert(HelpFile(links, TTopicLayout::kPlain4k)), "Commands\nabcdefgh-i");
}

TEST(HlpReader, ParagraphInfoFieldsAreSkipped) {
  // Every optional field present; the second tab stop carries the 0x4000 flag and a type.
  TBytes fields2;
  PutU16(fields2, 2 * 5);                    // unknown (compressed long)
  fields2 += "\x90\x90\x90\x91\x01\x90\x90"; // spacing and indents, one of two bytes
  fields2 += "\x01";                         // border flags
  PutU16(fields2, 10);
  fields2 += "\x84";     // two tab stops (compressed short: 0x84 / 2 - 64)
  fields2 += "\x50";     // stop at 40
  fields2 += "\x01\x81"; // 0x4000 | 0: (1 >> 1) + 128 * 0x81 = 16512
  fields2 += "\x02";     // tab type 1
  const auto links = std::vector<TLink>{
      TopicHeaderLink("Layout"),
      TextLink(TTextRecord(0x037F, fields2).Par("indented").End()),
  };
  EXPECT_EQ(Convert(HelpFile(links, TTopicLayout::kPlain4k)), "Layout\nindented\n");
}

TEST(HlpReader, TableRecordsSeparateCellsByTabs) {
  TBytes data1;
  PutU16(data1, 2 * 100);
  PutU8(data1, 2 * 10);
  data1 += "\x02\x01"; // two columns, normal table
  data1 += std::string(8, '\0');
  auto cell = [&](int column, const std::string& cmds) {
    PutU16(data1, static_cast<unsigned>(column));
    data1 += std::string(3, '\0');
    data1 += std::string("\0\x80\0\0\0\0", 6); // paragraph info without fields
    data1 += cmds;
  };
  cell(0, "\x82\xFF");
  cell(1, "\x82\xFF");
  cell(0, "\x82\xFF");
  cell(1, "\x82\xFF");
  PutU16(data1, 0xFFFF);
  TLink table;
  table.type = 0x23;
  table.data1 = data1;
  table.data2 = std::string("a\0\0b\0\0c\0\0d\0\0", 12);
  table.dataLen2 = 12;
  const auto links = std::vector<TLink>{TopicHeaderLink("Grid"), table};
  EXPECT_EQ(Convert(HelpFile(links, TTopicLayout::kPlain4k)), "Grid\na\tb\nc\td\n");
}

TEST(HlpReader, OldPhraseTable) {
  // Phrases "the " and "help"; references are (ch - 1) * 256 + next, halved; odd adds a space.
  TBytes phrases;
  PutU16(phrases, 2);
  PutU16(phrases, 0x0100);
  TBytes plain;
  PutU16(plain, 2);
  PutU16(plain, 0x0100);
  const TBytes texts = "the help";
  for (TBytes* p : {&phrases, &plain}) {
    if (p == &phrases) {
      PutU32(*p, static_cast<std::uint32_t>(texts.size()));
    }
    PutU16(*p, 6);
    PutU16(*p, 6 + 4);
    PutU16(*p, 6 + 8);
  }
  phrases += Lz77Literals(texts);
  plain += texts;
  TLink text = TextLink(TTextRecord().Par("x").End());
  text.data2 = std::string("\x01\x00", 2) + "file \x01\x03" + std::string("\0\0", 2);
  text.dataLen2 = 64; // larger than stored: phrase compressed
  const auto links = std::vector<TLink>{TopicHeaderLink("Phrases"), text};
  EXPECT_EQ(Convert(HelpFile(links, TTopicLayout::kLz4k, {{"|Phrases", phrases}})),
            "Phrases\nthe file help \n");
  TLink text30 = text;
  text30.data1 = TTextRecord().Par("x").End().Data1(0x01);
  text30.type = 0x01;
  EXPECT_EQ(Convert(HelpFile({TopicHeaderLink("Phrases"), text30}, TTopicLayout::kWin30,
                             {{"|Phrases", plain}})),
            "Phrases\nthe file help \n");
}

// |PhrIndex for phrase lengths with BitCount 4, least significant bit first.
TBytes HallIndex(const std::vector<std::size_t>& lengths, std::size_t imageSize) {
  std::vector<bool> bits;
  for (const std::size_t len : lengths) {
    const std::size_t n = len - 1;
    for (std::size_t q = 0; q < n / 16; ++q) {
      bits.push_back(true);
    }
    bits.push_back(false);
    for (int b = 0; b < 4; ++b) {
      bits.push_back(((n % 16) >> b & 1) != 0);
    }
  }
  TBytes index;
  PutU32(index, 1);
  PutU32(index, static_cast<std::uint32_t>(lengths.size()));
  PutU32(index, 0);
  PutU32(index, static_cast<std::uint32_t>(imageSize));
  PutU32(index, static_cast<std::uint32_t>(imageSize));
  PutU32(index, 0);
  PutU16(index, 4);
  PutU16(index, 0x4A00);
  for (std::size_t w = 0; w < (bits.size() + 31) / 32; ++w) {
    std::uint32_t word = 0;
    for (std::size_t b = 0; b < 32 && w * 32 + b < bits.size(); ++b) {
      word |= (bits[w * 32 + b] ? 1u : 0u) << b;
    }
    PutU32(index, word);
  }
  return index;
}

TEST(HlpReader, HallPhrases) {
  std::vector<std::string> words = {"Windows", " help", "x"};
  for (int k = 0; k < 200; ++k) {
    words.push_back("w" + std::to_string(k)); // phrase numbers beyond 128
  }
  TBytes image;
  std::vector<std::size_t> lengths;
  for (const auto& w : words) {
    image += w;
    lengths.push_back(w.size());
  }
  const TBytes index = HallIndex(lengths, image.size());
  const auto table = scv::hlp::ReadHallPhrases(Bytes(index), Bytes(image));
  ASSERT_EQ(table.Count(), words.size());
  // 0x00: phrase 0; 0x02: phrase 1; 0x01 0x17: phrase 128 + 0x17 - 0 = 151 -> "w148";
  // 0x13: copy 3 literal bytes; 0x07: one space; 0x1F: two NULs.
  const TBytes coded = std::string("\x00\x02\x01\x17\x13xyz\x07\x1F", 10);
  EXPECT_EQ(table.Expand(Bytes(coded), 100), std::string("Windows helpw148xyz \0\0", 22));
  EXPECT_EQ(table.Expand(Bytes(coded), 5), "Windo"); // bounded output

  TLink text = TextLink(TTextRecord().Par("x").End());
  text.data2 = std::string("\x00\x02\x0F", 3); // phrases 0 and 1, then one NUL
  text.dataLen2 = 40;
  const auto file = HelpFile({TopicHeaderLink("Hall"), text}, TTopicLayout::kLz4k,
                             {{"|PhrIndex", index}, {"|PhrImage", image}});
  EXPECT_EQ(Convert(file), "Hall\nWindows help\n");
}

TEST(HlpReader, PhraseExpansionIsBounded) {
  // One long phrase referenced thousands of times by every record: the text may not grow
  // without bound however large the records claim to expand.
  const TBytes image(4000, 'x');
  const TBytes index = HallIndex({image.size()}, image.size());
  std::vector<TLink> links = {TopicHeaderLink("Bomb")};
  for (int k = 0; k < 40; ++k) {
    TLink text = TextLink(TTextRecord().End());
    text.data2 = TBytes(1000, '\0'); // phrase 0, a thousand times
    text.dataLen2 = 0x7FFFFFFF;
    links.push_back(text);
  }
  const auto file =
      HelpFile(links, TTopicLayout::kPlain4k, {{"|PhrIndex", index}, {"|PhrImage", image}});
  const std::string text = Convert(file);
  EXPECT_GT(text.size(), 1000000u);
  EXPECT_LT(text.size(), 4000000u);
}

TEST(HlpReader, CharacterSetOfTheFile) {
  const auto links = std::vector<TLink>{TopicHeaderLink("\xCF\xF0\xE8"),
                                        TextLink(TTextRecord().Par("caf\xE9").End())};
  struct TCase {
    const char* name;
    std::vector<std::pair<std::uint16_t, TBytes>> system;
    std::string want;
  };
  TBytes lcidRu(8, '\0');
  PutU16(lcidRu, 0x0419);
  TBytes charset;
  PutU16(charset, 204);
  TBytes defFont = std::string("\x0A\xCC", 2) + "Arial" + std::string(1, '\0');
  const TCase cases[] = {
      {"no record: 1252", {}, "\u00CF\u00F0\u00E8\ncaf\u00E9\n"},
      {"LCID 0x0419", {{9, lcidRu}}, "\u041F\u0440\u0438\ncaf\u0439\n"},
      {"charset record", {{11, charset}}, "\u041F\u0440\u0438\ncaf\u0439\n"},
      {"default font charset 204", {{12, defFont}}, "\u041F\u0440\u0438\ncaf\u0439\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Convert(HelpFile(links, TTopicLayout::kPlain4k, {}, c.system)), c.want);
  }
  // Without a record, national font names in |FONT tell the code page; |SYSTEM wins.
  auto fontFile = [](const std::vector<std::string>& faces) {
    TBytes font;
    PutU16(font, static_cast<unsigned>(faces.size()));
    PutU16(font, 0);
    PutU16(font, 8);
    PutU16(font, static_cast<unsigned>(8 + 20 * faces.size()));
    for (const auto& f : faces) {
      TBytes name = f;
      name.resize(20, '\0');
      font += name;
    }
    return font;
  };
  EXPECT_EQ(Convert(HelpFile(links, TTopicLayout::kPlain4k,
                             {{"|FONT", fontFile({"Arial", "Times New Roman CYR"})}})),
            "\u041F\u0440\u0438\ncaf\u0439\n");
  EXPECT_EQ(Convert(HelpFile(links, TTopicLayout::kPlain4k, {{"|FONT", fontFile({"Arial CE"})}})),
            "\u010E\u0111\u010D\ncaf\u00E9\n");
  EXPECT_EQ(Convert(HelpFile(links, TTopicLayout::kPlain4k, {{"|FONT", fontFile({"Arial CYR"})}},
                             {{9, lcidRu}})),
            "\u041F\u0440\u0438\ncaf\u0439\n");
  EXPECT_EQ(Convert(HelpFile(links, TTopicLayout::kPlain4k, {{"|FONT", fontFile({"Arial"})}})),
            "\u00CF\u00F0\u00E8\ncaf\u00E9\n");
  EXPECT_EQ(scv::hlp::CodePageOfLcid(0x0411), 932);
  EXPECT_EQ(scv::hlp::CodePageOfLcid(0x0404), 950);
  EXPECT_EQ(scv::hlp::CodePageOfLcid(0x0804), 936);
  EXPECT_EQ(scv::hlp::CodePageOfLcid(0x0C1A), 1251);
  EXPECT_EQ(scv::hlp::CodePageOfLcid(0x041A), 1250);
  EXPECT_EQ(scv::hlp::CodePageOfLcid(0x0409), 0);
}

TEST(HlpReader, DirectoryOverSeveralPages) {
  std::map<std::string, TBytes> files;
  for (int k = 0; k < 30; ++k) {
    files["|bm" + std::to_string(k)] = "picture";
  }
  files["|SYSTEM"] = BuildSystem(33, 0);
  files["|TOPIC"] = BuildTopic(TwoTopics(0x20), TTopicLayout::kPlain4k);
  const TBytes file = BuildHelpFile(files, 7);
  const scv::hlp::THlpFileSystem fs(Bytes(file));
  EXPECT_EQ(fs.Files().size(), 32u);
  EXPECT_TRUE(fs.Has("|TOPIC"));
  EXPECT_TRUE(fs.Has("|bm29"));
  EXPECT_NE(Convert(file).find("Title Two"), std::string::npos);
}

TEST(HlpReader, Lz77Expansion) {
  struct TCase {
    const char* name;
    TBytes in;
    std::size_t maxOut;
    TBytes want;
  };
  const TCase cases[] = {
      // flags 0x08: three literals then a reference of distance 3, length 6 (overlapping).
      {"overlapping reference",
       std::string("\x08"
                   "abc\x02\x30",
                   6),
       100, "abcabcabc"},
      {"reference before the start", std::string("\x01\x05\x00", 3), 100, ""},
      {"bounded output",
       std::string("\x08"
                   "abc\x02\xF0",
                   6),
       10, "abcabcabca"},
      {"truncated reference",
       std::string("\x02"
                   "a\x00",
                   3),
       100, "a"},
      {"literals only", Lz77Literals("0123456789"), 100, "0123456789"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto out = scv::hlp::ExpandLz77(Bytes(c.in), c.maxOut);
    EXPECT_EQ(std::string(out.begin(), out.end()), c.want);
  }
}

TEST(HlpReader, DamagedFilesFailOrEndEarly) {
  const TBytes good = HelpFile(TwoTopics(0x20), TTopicLayout::kPlain4k);
  struct TCase {
    const char* name;
    TBytes file;
  };
  TBytes badMagic = good;
  badMagic[0] = 'X';
  TBytes dirBeyond = good;
  dirBeyond.replace(4, 4, std::string("\xF0\xFF\xFF\x00", 4));
  TBytes noTopic = BuildHelpFile({{"|SYSTEM", BuildSystem(33, 0)}});
  TBytes badSystem = BuildHelpFile({{"|SYSTEM", "xx"}, {"|TOPIC", "yy"}});
  const TCase failing[] = {
      {"empty", ""},
      {"text file", "This is plain text, not a help file.\r\n"},
      {"bad magic", badMagic},
      {"directory beyond the end", dirBeyond},
      {"no |TOPIC", noTopic},
      {"bad |SYSTEM", badSystem},
      {"cut inside the header", good.substr(0, 10)},
  };
  for (const auto& c : failing) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(Convert(c.file), EFormatError);
  }
  // Every truncation either fails cleanly or yields a prefix of the text.
  for (std::size_t n = 0; n < good.size(); n += 7) {
    try {
      (void)Convert(good.substr(0, n));
    } catch (const EFormatError&) {
    }
  }
}

TEST(HlpReader, HostileLinksEndTheWalk) {
  // A link whose next position points back at itself.
  std::vector<TLink> loop = {TopicHeaderLink("Loop")};
  TBytes topic = BuildTopic(loop, TTopicLayout::kPlain4k);
  topic.replace(12 + 12, 4, std::string("\x0C\x00\x00\x00", 4)); // next = 12: itself
  TBytes looped = BuildHelpFile({{"|SYSTEM", BuildSystem(33, 0)}, {"|TOPIC", topic}});
  EXPECT_EQ(Convert(looped), "Loop\n");

  // Unknown formatting command: the record ends there, the walk goes on.
  const auto odd = std::vector<TLink>{TopicHeaderLink("A"),
                                      TextLink(TTextRecord().Then("before", "\x7E").End("after")),
                                      TopicHeaderLink("B")};
  EXPECT_EQ(Convert(HelpFile(odd, TTopicLayout::kPlain4k)), "A\nbefore\n\nB\n");

  // Sizes larger than the stream are cut to what exists.
  TLink huge = TextLink(TTextRecord().Par("text").End());
  huge.dataLen2 = 0x7FFFFFFF;
  EXPECT_EQ(Convert(HelpFile({TopicHeaderLink("Huge"), huge}, TTopicLayout::kPlain4k)),
            "Huge\ntext\n");
}

TEST(HlpReader, DirectoryCyclesEnd) {
  TBytes file = BuildHelpFile({{"|SYSTEM", BuildSystem(33, 0)},
                               {"|TOPIC", BuildTopic(TwoTopics(0x20), TTopicLayout::kPlain4k)}});
  // The leaf page's next-page field pointing at itself.
  const std::uint32_t dirStart = static_cast<std::uint8_t>(file[4]) |
                                 static_cast<std::uint8_t>(file[5]) << 8 |
                                 static_cast<std::uint8_t>(file[6]) << 16;
  const std::size_t leaf = dirStart + 9 + 38;
  file.replace(leaf + 6, 2, std::string("\0\0", 2));
  EXPECT_NE(Convert(file).find("Title One"), std::string::npos);
}

} // namespace
