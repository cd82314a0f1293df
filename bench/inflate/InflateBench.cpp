// Inflates every deflated member of the benchmark packages with our decoder and with zlib,
// alternating rounds, and prints the best time of each with their ratio; CRC-32 likewise.
// Usage: inflate_bench [rounds] [archive...]   (default: bench-sheet.xlsx and bench-doc.docx)
#include "codecs/Inflate.h"
#include "platform/CodePage.h"
#include "zip/Crc32.h"
#include "zip/ZipEntries.h"
#include "zip/ZipReader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

using namespace scv::codecs;
using namespace scv::zip;
using TClock = std::chrono::steady_clock;

struct TMember {
  std::string name;
  std::vector<std::uint8_t> packed;
  std::size_t size = 0;
  std::uint32_t crc = 0;
};

std::vector<TMember> LoadMembers(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), {});
  TZipReader reader;
  reader.SetZipName(scv::platform::Utf8ToWide(path));
  reader.ReadZip();
  std::vector<TMember> members;
  for (const TZipEntry& e : reader.Entries()) {
    if (e.compressionMethod != 8 || e.relativeOffset + 30 > file.size()) {
      continue;
    }
    TLocalFileHeader h;
    ParseLocalHeader(std::span<const std::uint8_t>(file).subspan(e.relativeOffset), h);
    const std::size_t at = e.relativeOffset + 30 + h.fileNameLength + h.extraFieldLength;
    TMember m;
    m.name = e.FullName();
    m.packed.assign(file.begin() + static_cast<std::ptrdiff_t>(at),
                    file.begin() + static_cast<std::ptrdiff_t>(at + e.compressedSize));
    m.size = e.uncompressedSize;
    m.crc = e.crc32;
    members.push_back(std::move(m));
  }
  return members;
}

double Seconds(TClock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// One pass over all members with our decoder (a reused stream, as the reader uses it).
double OursOnce(const std::vector<TMember>& members, scv::bytes::TMemoryStream& out, bool& ok) {
  const auto t0 = TClock::now();
  for (const TMember& m : members) {
    out.Clear();
    const TInflateResult r = Inflate(m.packed, out, m.size, m.size);
    ok = ok && r.status == TInflateStatus::kDone && out.Size() == m.size;
  }
  return Seconds(TClock::now() - t0);
}

double ZlibOnce(const std::vector<TMember>& members, std::vector<std::uint8_t>& out, bool& ok) {
  const auto t0 = TClock::now();
  for (const TMember& m : members) {
    if (out.size() < m.size) {
      out.resize(m.size);
    }
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<Bytef*>(m.packed.data());
    z.avail_in = static_cast<uInt>(m.packed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(m.size);
    const int rc = inflate(&z, Z_FINISH);
    ok = ok && rc == Z_STREAM_END && z.total_out == m.size;
    inflateEnd(&z);
  }
  return Seconds(TClock::now() - t0);
}

} // namespace

int main(int argc, char** argv) {
  const std::span<char*> args(argv, static_cast<std::size_t>(argc));
  int rounds = args.size() > 1 ? std::atoi(args[1]) : 15;
  std::vector<std::string> paths;
  for (std::size_t i = 2; i < args.size(); ++i) {
    paths.emplace_back(args[i]);
  }
  if (paths.empty()) {
    paths = {std::string(SCV_SHARED_DIR) + "/bench/bench-sheet.xlsx",
             std::string(SCV_SHARED_DIR) + "/bench/bench-doc.docx"};
  }
  rounds = std::max(rounds, 1);
  std::printf("%-22s %8s %10s %10s %10s %10s %7s\n", "archive", "members", "MB out", "ours ms",
              "zlib ms", "ours MB/s", "ratio");
  int status = 0;
  for (const std::string& path : paths) {
    const std::vector<TMember> members = LoadMembers(path);
    double total = 0;
    for (const TMember& m : members) {
      total += static_cast<double>(m.size);
    }
    scv::bytes::TMemoryStream ours;
    std::vector<std::uint8_t> theirs;
    bool okOurs = true;
    bool okZlib = true;
    double bestOurs = 1e9;
    double bestZlib = 1e9;
    for (int r = 0; r < rounds; ++r) { // alternate, so both see the same machine load
      bestOurs = std::min(bestOurs, OursOnce(members, ours, okOurs));
      bestZlib = std::min(bestZlib, ZlibOnce(members, theirs, okZlib));
    }
    // Our output must be right, not just fast: check every member's CRC once.
    bool crcOk = true;
    for (const TMember& m : members) {
      ours.Clear();
      Inflate(m.packed, ours, m.size, m.size);
      crcOk = crcOk && Crc32(ours.Bytes()) == m.crc;
    }
    const std::string name = path.substr(path.find_last_of('/') + 1);
    std::printf("%-22s %8zu %10.1f %10.2f %10.2f %10.0f %7.2f%s\n", name.c_str(), members.size(),
                total / 1e6, bestOurs * 1e3, bestZlib * 1e3, total / 1e6 / bestOurs,
                bestZlib / bestOurs, okOurs && okZlib && crcOk ? "" : "  OUTPUT MISMATCH");
    if (!(okOurs && okZlib && crcOk)) {
      status = 1;
    }
  }
  // CRC-32 over 64 MB: ours against zlib's crc32.
  std::vector<std::uint8_t> block(64u << 20);
  for (std::size_t i = 0; i < block.size(); ++i) {
    block[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
  }
  double bestOurs = 1e9;
  double bestZlib = 1e9;
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  for (int r = 0; r < std::max(3, rounds / 3); ++r) {
    auto t0 = TClock::now();
    a = Crc32(block);
    bestOurs = std::min(bestOurs, Seconds(TClock::now() - t0));
    t0 = TClock::now();
    b = static_cast<std::uint32_t>(crc32(0, block.data(), static_cast<uInt>(block.size())));
    bestZlib = std::min(bestZlib, Seconds(TClock::now() - t0));
  }
  std::printf("%-22s %8s %10.1f %10.2f %10.2f %10.0f %7.2f%s\n", "crc32 (64 MB)", "-",
              static_cast<double>(block.size()) / 1e6, bestOurs * 1e3, bestZlib * 1e3,
              static_cast<double>(block.size()) / 1e6 / bestOurs, bestZlib / bestOurs,
              a == b ? "" : "  CRC MISMATCH");
  return a == b ? status : 1;
}
