#include "codecs/Inflate.h"

#include "support/BitWriter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace scv::codecs {
namespace {

using test::TBitWriter;
using test::TDeflateMode;

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}
std::string Text(const bytes::TMemoryStream& s) {
  return {reinterpret_cast<const char*>(s.Data()), s.Size()};
}

struct TOutcome {
  TInflateResult result;
  std::string output;
};

TOutcome Decode(std::span<const std::uint8_t> input, std::uint64_t limit = 1u << 30,
                std::uint64_t hint = 0) {
  bytes::TMemoryStream out;
  TOutcome o;
  o.result = Inflate(input, out, limit, hint);
  o.output = Text(out);
  return o;
}

std::string RandomText(std::size_t n, unsigned seed, unsigned alphabet) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) {
    c = static_cast<char>('A' + rng() % alphabet);
  }
  return s;
}

// Bytes with a steep frequency slope, so dynamic codes get lengths beyond 11 bits and the
// decoder goes through its second-level tables.
std::string SkewedBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::geometric_distribution<int> geo(0.35);
  std::string s(n, '\0');
  for (auto& c : s) {
    c = static_cast<char>(std::min(geo(rng), 255));
  }
  return s;
}

std::string Periodic(std::size_t n, std::size_t period) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    s[i] = static_cast<char>('a' + (i % period) * 7 % 26);
  }
  return s;
}

TEST(Inflate, RoundTripsEveryBlockKind) {
  std::string xml;
  for (int i = 0; i < 4000; ++i) {
    xml += "<row r=\"" + std::to_string(i) + "\"><c t=\"s\"><v>" + std::to_string(i * 7 % 113) +
           "</v></c></row>";
  }
  const std::vector<std::pair<std::string, std::string>> inputs = {
      {"empty", ""},
      {"one byte", "x"},
      {"xml rows", xml},
      {"random letters", RandomText(70000, 1, 26)},
      {"incompressible", RandomText(50000, 2, 255)},
      {"skewed", SkewedBytes(200000, 3)},
      {"run of one byte", std::string(100000, 'z')},
      {"period 2", Periodic(5000, 2)},
      {"period 5", Periodic(5000, 5)},
      {"period 9", Periodic(5000, 9)},
      {"period 300", Periodic(40000, 300)},
  };
  const std::pair<const char*, TDeflateMode> modes[] = {
      {"stored", TDeflateMode::kStored},
      {"fixed", TDeflateMode::kFixed},
      {"dynamic", TDeflateMode::kDynamic},
  };
  for (const auto& [name, data] : inputs) {
    for (const auto& [modeName, mode] : modes) {
      for (const std::size_t block : {std::size_t{1} << 16, std::size_t{1000}}) {
        SCOPED_TRACE(name + " / " + modeName + " / block " + std::to_string(block));
        const auto packed = test::DeflateEncode(Bytes(data), mode, block);
        // No hint, so the output grows step by step; and an exact hint.
        for (const std::uint64_t hint : {std::uint64_t{0}, std::uint64_t{data.size()}}) {
          const TOutcome o = Decode(packed, 1u << 30, hint);
          ASSERT_EQ(o.result.status, TInflateStatus::kDone);
          ASSERT_EQ(o.result.produced, data.size());
          ASSERT_TRUE(o.output == data);
          ASSERT_EQ(o.result.consumed, packed.size());
        }
      }
    }
  }
}

// Output beyond the limit: exactly `limit` bytes stay, whichever symbol crosses it.
TEST(Inflate, StopsExactlyAtTheLimit) {
  const std::string data = Periodic(3000, 7) + RandomText(3000, 4, 40) + std::string(600, 'q');
  for (const TDeflateMode mode :
       {TDeflateMode::kStored, TDeflateMode::kFixed, TDeflateMode::kDynamic}) {
    const auto packed = test::DeflateEncode(Bytes(data), mode, 2000);
    for (std::size_t limit = 0; limit <= data.size(); limit += limit < 300 ? 1 : 97) {
      SCOPED_TRACE(limit);
      const TOutcome o = Decode(packed, limit, limit);
      ASSERT_EQ(o.result.status,
                limit == data.size() ? TInflateStatus::kDone : TInflateStatus::kOutputLimit);
      ASSERT_EQ(o.output, data.substr(0, limit));
    }
  }
}

// A small stream that expands hugely (a "zip bomb") is cut at the limit, and memory stays
// near the limit, not near what the stream would produce.
TEST(Inflate, BombStopsAtLimitWithBoundedMemory) {
  const auto packed = test::DeflateRunOfZeros(64u << 20);
  ASSERT_LT(packed.size(), 600000u);
  bytes::TMemoryStream out;
  const TInflateResult r = Inflate(packed, out, 4096, 4096);
  EXPECT_EQ(r.status, TInflateStatus::kOutputLimit);
  EXPECT_EQ(out.Size(), 4096u);
  EXPECT_LT(out.Capacity(), 64u * 1024);
  // A claim of gigabytes with a small stream: the room made up front follows the hint the
  // caller derives from the compressed size, and the output grows only with real data.
  bytes::TMemoryStream big;
  const auto small =
      test::DeflateEncode(std::string_view("hello hello hello"), TDeflateMode::kFixed);
  const TInflateResult r2 =
      Inflate(Bytes(small), big, std::uint64_t{4} << 30, InflateBound(small.size()));
  EXPECT_EQ(r2.status, TInflateStatus::kDone);
  EXPECT_EQ(Text(big), "hello hello hello");
  EXPECT_LT(big.Capacity(), 64u * 1024);
}

// Every strict prefix of a valid stream is reported as truncated, never as complete, and the
// bytes decoded so far are kept in order.
TEST(Inflate, EveryPrefixIsTruncated) {
  const std::string data = RandomText(3000, 9, 12) + Periodic(2000, 3);
  for (const TDeflateMode mode :
       {TDeflateMode::kStored, TDeflateMode::kFixed, TDeflateMode::kDynamic}) {
    const auto packed = test::DeflateEncode(Bytes(data), mode, 1500);
    for (std::size_t n = 0; n < packed.size(); ++n) {
      const TOutcome o = Decode(std::span<const std::uint8_t>(packed.data(), n));
      ASSERT_EQ(o.result.status, TInflateStatus::kTruncated) << n;
      ASSERT_EQ(o.output, data.substr(0, o.output.size())) << n;
    }
  }
}

// Writes a dynamic block header whose code lengths are sent one by one with a flat
// code-length code; `symbols` may hold repeat codes (16-18) with their extra bits.
void DynamicHeader(TBitWriter& w, unsigned nlen, unsigned ndist,
                   const std::vector<std::pair<unsigned, unsigned>>& symbols) {
  const std::vector<std::uint32_t> ones(19, 1);
  const auto clLens = test::HuffmanLengths(ones, 7);
  const auto clCodes = test::CanonicalCodes(clLens);
  static const unsigned order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                     11, 4,  12, 3, 13, 2, 14, 1, 15};
  w.Put(nlen - 257, 5);
  w.Put(ndist - 1, 5);
  w.Put(19 - 4, 4);
  for (const unsigned s : order) {
    w.Put(clLens[s], 3);
  }
  for (const auto& [sym, extra] : symbols) {
    w.PutCode(clCodes[sym], clLens[sym]);
    if (sym == 16) {
      w.Put(extra, 2);
    } else if (sym == 17) {
      w.Put(extra, 3);
    } else if (sym == 18) {
      w.Put(extra, 7);
    }
  }
}

std::vector<std::pair<unsigned, unsigned>> Plain(const std::vector<unsigned>& lengths) {
  std::vector<std::pair<unsigned, unsigned>> s;
  s.reserve(lengths.size());
  for (const unsigned l : lengths) {
    s.emplace_back(l, 0);
  }
  return s;
}

// Literal/length lengths: 'a' (97) and end-of-block 256 at length 1, nothing else; then the
// given distance lengths.
std::vector<unsigned> TwoSymbolLitLen(unsigned litLenCount) {
  std::vector<unsigned> l(litLenCount, 0);
  l[97] = 1;
  l[256] = 1;
  return l;
}

TEST(Inflate, RejectsMalformedStreams) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> stream;
    TInflateStatus want;
    std::string output;
  };
  std::vector<Case> cases;
  {
    TBitWriter w; // final block of the reserved type 3
    w.Put(1, 1);
    w.Put(3, 2);
    w.Put(0, 16);
    cases.push_back({"block type 3", w.Bytes(), TInflateStatus::kBadData, ""});
  }
  {
    TBitWriter w; // stored block whose length check is wrong
    w.Put(1, 1);
    w.Put(0, 2);
    w.Align();
    w.Put(5, 16);
    w.Put(5, 16);
    w.Put(0x41414141, 32);
    w.Put(0x41, 8);
    cases.push_back({"stored NLEN mismatch", w.Bytes(), TInflateStatus::kBadData, ""});
  }
  {
    TBitWriter w; // fixed block: literal 'a', then a match reaching two bytes back
    w.Put(1, 1);
    w.Put(1, 2);
    w.PutCode(0x30 + 'a', 8);
    w.PutCode(1, 7); // length symbol 257 = 3
    w.PutCode(1, 5); // distance code 1 = 2
    w.PutCode(0, 7);
    cases.push_back({"distance before start", w.Bytes(), TInflateStatus::kBadData, "a"});
  }
  {
    TBitWriter w; // fixed block: literal/length symbol 286 is not a symbol
    w.Put(1, 1);
    w.Put(1, 2);
    w.PutCode(0xC0 + (286 - 280), 8);
    w.Put(0, 16);
    cases.push_back({"fixed symbol 286", w.Bytes(), TInflateStatus::kBadData, ""});
  }
  {
    TBitWriter w; // fixed block: distance code 30 is not a code
    w.Put(1, 1);
    w.Put(1, 2);
    w.PutCode(0x30 + 'a', 8);
    w.PutCode(1, 7);
    w.PutCode(30, 5);
    w.Put(0, 16);
    cases.push_back({"fixed distance 30", w.Bytes(), TInflateStatus::kBadData, "a"});
  }
  {
    TBitWriter w; // three literal codes of length 1: over-subscribed
    w.Put(1, 1);
    w.Put(2, 2);
    auto l = TwoSymbolLitLen(257);
    l[98] = 1;
    l.push_back(1);
    DynamicHeader(w, 257, 1, Plain(l));
    w.Put(0, 16);
    cases.push_back({"over-subscribed literal code", w.Bytes(), TInflateStatus::kBadData, ""});
  }
  {
    TBitWriter w; // literal code with two lengths-2 codes only: incomplete
    w.Put(1, 1);
    w.Put(2, 2);
    std::vector<unsigned> l(257, 0);
    l[97] = 2;
    l[256] = 2;
    l.push_back(0);
    DynamicHeader(w, 257, 1, Plain(l));
    w.Put(0, 16);
    cases.push_back({"incomplete literal code", w.Bytes(), TInflateStatus::kBadData, ""});
  }
  {
    TBitWriter w; // no end-of-block code
    w.Put(1, 1);
    w.Put(2, 2);
    std::vector<unsigned> l(257, 0);
    l[97] = 1;
    l[98] = 1;
    l.push_back(0);
    DynamicHeader(w, 257, 1, Plain(l));
    w.Put(0, 16);
    cases.push_back({"missing end-of-block code", w.Bytes(), TInflateStatus::kBadData, ""});
  }
  {
    TBitWriter w; // repeat-previous as the very first length
    w.Put(1, 1);
    w.Put(2, 2);
    DynamicHeader(w, 257, 1, {{16, 0}});
    w.Put(0, 16);
    cases.push_back({"repeat with nothing before", w.Bytes(), TInflateStatus::kBadData, ""});
  }
  {
    TBitWriter w; // zero runs past the declared count
    w.Put(1, 1);
    w.Put(2, 2);
    DynamicHeader(w, 257, 1, {{18, 127}, {18, 127}, {18, 127}});
    w.Put(0, 16);
    cases.push_back({"repeat past the count", w.Bytes(), TInflateStatus::kBadData, ""});
  }
  {
    TBitWriter w; // 287 literal/length codes declared
    w.Put(1, 1);
    w.Put(2, 2);
    w.Put(30, 5);
    w.Put(0, 5);
    w.Put(0, 4);
    w.Put(0, 16);
    cases.push_back({"too many length codes", w.Bytes(), TInflateStatus::kBadData, ""});
  }
  {
    TBitWriter w; // a lone one-bit distance code is allowed; its unused twin is not
    w.Put(1, 1);
    w.Put(2, 2);
    std::vector<unsigned> l(258, 0);
    l[97] = 1;
    l[256] = 2;
    l[257] = 2;
    l.push_back(1); // distance code 0 only
    DynamicHeader(w, 258, 1, Plain(l));
    w.PutCode(0, 1); // 'a'
    w.PutCode(3, 2); // length 3
    w.PutCode(0, 1); // distance 1
    w.PutCode(3, 2); // length 3
    w.PutCode(1, 1); // the distance code that does not exist
    w.Put(0, 16);
    cases.push_back(
        {"unused half of a one-code distance tree", w.Bytes(), TInflateStatus::kBadData, "aaaa"});
  }
  {
    TBitWriter w; // the same, used properly, ends well
    w.Put(1, 1);
    w.Put(2, 2);
    std::vector<unsigned> l(258, 0);
    l[97] = 1;
    l[256] = 2;
    l[257] = 2;
    l.push_back(1);
    DynamicHeader(w, 258, 1, Plain(l));
    w.PutCode(0, 1);
    w.PutCode(3, 2);
    w.PutCode(0, 1);
    w.PutCode(2, 2); // end of block
    cases.push_back({"one-code distance tree", w.Bytes(), TInflateStatus::kDone, "aaaa"});
  }
  {
    TBitWriter w; // no distance codes at all, literals only
    w.Put(1, 1);
    w.Put(2, 2);
    auto l = TwoSymbolLitLen(257);
    l.push_back(0);
    DynamicHeader(w, 257, 1, Plain(l));
    w.PutCode(0, 1);
    w.PutCode(0, 1);
    w.PutCode(1, 1);
    cases.push_back({"empty distance tree", w.Bytes(), TInflateStatus::kDone, "aa"});
  }
  {
    TBitWriter w; // non-final empty stored block, then nothing
    w.Put(0, 1);
    w.Put(0, 2);
    w.Align();
    w.Put(0, 16);
    w.Put(0xFFFF, 16);
    cases.push_back({"missing final block", w.Bytes(), TInflateStatus::kTruncated, ""});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TOutcome o = Decode(c.stream);
    EXPECT_EQ(o.result.status, c.want);
    EXPECT_EQ(o.output, c.output);
  }
}

// Output goes at the stream's position; bytes before it are not part of the history.
TEST(Inflate, AppendsAtPositionAndKeepsEarlierBytesOutOfReach) {
  bytes::TMemoryStream out;
  out.Write("prefix", 6);
  const auto packed = test::DeflateEncode(std::string_view("abcabcabcabc"), TDeflateMode::kFixed);
  TInflateResult r = Inflate(Bytes(packed), out, 1000);
  EXPECT_EQ(r.status, TInflateStatus::kDone);
  EXPECT_EQ(Text(out), "prefixabcabcabcabc");
  EXPECT_EQ(out.Position(), out.Size());

  TBitWriter w; // a match of distance 3 as the first symbol: "fix" is not reachable
  w.Put(1, 1);
  w.Put(1, 2);
  w.PutCode(1, 7);
  w.PutCode(2, 5); // distance 3
  w.PutCode(0, 7);
  bytes::TMemoryStream out2;
  out2.Write("prefix", 6);
  r = Inflate(w.Bytes(), out2, 1000);
  EXPECT_EQ(r.status, TInflateStatus::kBadData);
  EXPECT_EQ(Text(out2), "prefix");
}

// Random bytes and random mutations of valid streams: the decoder ends within a step budget
// (the test's time), never writes past the limit and never reports garbage as complete
// with more output than the limit.
TEST(Inflate, SurvivesGarbageAndMutations) {
  std::mt19937 rng(11);
  const std::string data = RandomText(20000, 5, 20) + Periodic(8000, 13);
  const auto packed = test::DeflateEncode(Bytes(data), TDeflateMode::kDynamic, 5000);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> input;
    if (round % 3 == 0) {
      input.resize(rng() % 400);
      for (auto& b : input) {
        b = static_cast<std::uint8_t>(rng());
      }
    } else {
      input = packed;
      for (int k = 0; k < 1 + round % 5; ++k) {
        input[rng() % input.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
      }
    }
    const std::uint64_t limit = 40000;
    const TOutcome o = Decode(input, limit);
    ASSERT_LE(o.output.size(), limit);
    ASSERT_EQ(o.result.produced, o.output.size());
  }
}

// Piece by piece, whatever the piece size, the decoder gives exactly what the one-shot decoder
// gives: the same bytes, status and counts, for valid, limited, cut and damaged streams.
TEST(Inflate, PiecesMatchTheWholeDecode) {
  const std::string data = RandomText(30000, 21, 30) + Periodic(30000, 11) +
                           std::string(30000, 'r') + SkewedBytes(20000, 22);
  std::mt19937 rng(23);
  std::vector<std::vector<std::uint8_t>> inputs;
  for (const TDeflateMode mode :
       {TDeflateMode::kStored, TDeflateMode::kFixed, TDeflateMode::kDynamic}) {
    for (const std::size_t block : {std::size_t{1} << 16, std::size_t{777}}) {
      const auto packed = test::DeflateEncode(Bytes(data), mode, block);
      inputs.push_back(packed);
      inputs.emplace_back(packed.begin(),
                          packed.begin() + static_cast<std::ptrdiff_t>(packed.size() * 2 / 3));
      for (int k = 0; k < 2; ++k) {
        auto damaged = packed;
        damaged[rng() % damaged.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        inputs.push_back(std::move(damaged));
      }
    }
  }
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    for (const std::uint64_t limit : {std::uint64_t{1} << 30, std::uint64_t{data.size()},
                                      std::uint64_t{50000}, std::uint64_t{0}}) {
      const TOutcome whole = Decode(inputs[i], limit);
      for (const std::size_t piece :
           {std::size_t{1000}, std::size_t{40000}, TInflateStream::kDefaultPieceSize}) {
        for (const bool ahead : {false, true}) {
          SCOPED_TRACE("input " + std::to_string(i) + " limit " + std::to_string(limit) +
                       " piece " + std::to_string(piece) + (ahead ? " ahead" : ""));
          TInflateStream stream(inputs[i], limit, piece, ahead);
          std::string out;
          for (auto p = stream.Next(); !p.empty(); p = stream.Next()) {
            ASSERT_LE(p.size(), piece + 258);
            out.append(reinterpret_cast<const char*>(p.data()), p.size());
          }
          ASSERT_TRUE(stream.Next().empty());
          const TInflateResult r = stream.Result();
          ASSERT_EQ(r.status, whole.result.status);
          ASSERT_EQ(r.produced, whole.result.produced);
          ASSERT_EQ(r.consumed, whole.result.consumed);
          ASSERT_TRUE(out == whole.output);
        }
      }
    }
  }
}

// Decoding ahead keeps the pieces the caller holds intact while it decodes the next ones, and a
// stream dropped at any point, before its end or after a failure, stops its thread.
TEST(Inflate, AheadKeepsHeldPiecesAndStopsWhenDropped) {
  const std::string data = RandomText(200000, 31, 40) + Periodic(100000, 17);
  const auto packed = test::DeflateEncode(Bytes(data), TDeflateMode::kDynamic, 4000);
  {
    TInflateStream stream(packed, data.size(), 1000, true);
    std::size_t at = 0;
    for (auto p = stream.Next(); !p.empty(); p = stream.Next()) {
      // The other thread has had time to fill every free slot; the piece must not have moved.
      const std::string copy(reinterpret_cast<const char*>(p.data()), p.size());
      std::this_thread::yield();
      ASSERT_EQ(std::string(reinterpret_cast<const char*>(p.data()), p.size()), copy);
      ASSERT_EQ(copy, data.substr(at, copy.size()));
      at += copy.size();
      ASSERT_EQ(stream.Result().produced, at);
    }
    EXPECT_EQ(at, data.size());
    EXPECT_EQ(stream.Result().status, TInflateStatus::kDone);
    EXPECT_TRUE(stream.Next().empty());
  }
  for (const std::size_t taken :
       {std::size_t{0}, std::size_t{1}, std::size_t{5}, std::size_t{100}}) {
    TInflateStream stream(packed, data.size(), 1000, true);
    for (std::size_t k = 0; k < taken; ++k) {
      ASSERT_FALSE(stream.Next().empty());
    }
  }
  auto damaged = packed;
  damaged.resize(damaged.size() / 2);
  TInflateStream stream(damaged, data.size(), 1000, true);
  while (!stream.Next().empty()) {
  }
  EXPECT_EQ(stream.Result().status, TInflateStatus::kTruncated);
}

} // namespace
} // namespace scv::codecs
