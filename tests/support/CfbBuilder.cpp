// Test fixture builder for compound files.
#include "support/CfbBuilder.h"

#include <algorithm>
#include <stdexcept>

namespace scv::test {

namespace {

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::size_t kMiniCutoff = 4096;
constexpr std::size_t kMiniSector = 64;

std::u16string Widen(const std::string& ascii) {
  return {ascii.begin(), ascii.end()};
}

char16_t Upper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

// Directory order: shorter names first, then code unit by code unit, upper-cased.
bool NameLess(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) {
    return a.size() < b.size();
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) {
      return Upper(a[i]) < Upper(b[i]);
    }
  }
  return false;
}

std::uint32_t CeilDiv(std::size_t a, std::size_t b) {
  return static_cast<std::uint32_t>((a + b - 1) / b);
}

} // namespace

void PutU16(std::string& bytes, std::size_t offset, std::uint16_t value) {
  bytes.at(offset) = static_cast<char>(value & 0xFF);
  bytes.at(offset + 1) = static_cast<char>(value >> 8);
}

void PutU32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes.at(offset + static_cast<std::size_t>(i)) = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

std::size_t TCfbBuilder::FindOrAddStorage(const std::string& path) {
  // Up the path to the nearest storage that exists (the root for the empty path), noting the
  // missing ones on the way; they are then added from the top down.
  std::vector<std::string> missing;
  std::size_t parent = 0;
  std::string current = path;
  while (!current.empty()) {
    const auto found = std::find_if(nodes_.begin(), nodes_.end(), [&](const TNode& node) {
      return node.type == 1 && node.path == current;
    });
    if (found != nodes_.end()) {
      parent = static_cast<std::size_t>(found - nodes_.begin());
      break;
    }
    missing.push_back(current);
    const auto slash = current.rfind('/');
    current = slash == std::string::npos ? "" : current.substr(0, slash);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    const std::string& storage = *it;
    const auto slash = storage.rfind('/');
    const std::string leaf = slash == std::string::npos ? storage : storage.substr(slash + 1);
    nodes_.push_back(TNode{Widen(leaf), storage, 1, {}, {}});
    nodes_[parent].children.push_back(nodes_.size() - 1);
    parent = nodes_.size() - 1;
  }
  return parent;
}

TCfbBuilder& TCfbBuilder::AddStorage(const std::string& path) {
  FindOrAddStorage(path);
  return *this;
}

TCfbBuilder& TCfbBuilder::AddStream(const std::string& path, std::string bytes) {
  const auto slash = path.rfind('/');
  const std::size_t parent =
      FindOrAddStorage(slash == std::string::npos ? "" : path.substr(0, slash));
  const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  nodes_.push_back(TNode{Widen(leaf), path, 2, std::move(bytes), {}});
  nodes_[parent].children.push_back(nodes_.size() - 1);
  return *this;
}

TCfbBuilder& TCfbBuilder::AddStream(const std::u16string& name, std::string bytes) {
  std::string path;
  for (const char16_t c : name) {
    path += c < 0x80 ? static_cast<char>(c) : '?';
  }
  nodes_.push_back(TNode{name, path, 2, std::move(bytes), {}});
  nodes_[0].children.push_back(nodes_.size() - 1);
  return *this;
}

std::string TCfbBuilder::Make(const std::vector<std::pair<std::string, std::string>>& streams,
                              int majorVersion) {
  TCfbBuilder b(majorVersion);
  for (const auto& [name, bytes] : streams) {
    b.AddStream(name, bytes);
  }
  return b.Build();
}

std::vector<std::uint8_t> TCfbBuilder::BuildBytes() {
  const std::string s = Build();
  return {s.begin(), s.end()};
}

std::string TCfbBuilder::Build() {
  const bool v4 = majorVersion_ == 4;
  const std::uint32_t ss = v4 ? 4096 : 512;
  const std::uint32_t per = ss / 4;
  layout_ = TCfbLayout{};
  layout_.sectorSize = ss;

  // Sibling trees: each storage's children sorted and arranged as a balanced binary tree.
  const std::size_t n = nodes_.size();
  std::vector<std::uint32_t> left(n, kNoStream), right(n, kNoStream), child(n, kNoStream);
  for (std::size_t p = 0; p < n; ++p) {
    std::vector<std::size_t> kids = nodes_[p].children;
    std::sort(kids.begin(), kids.end(), [&](std::size_t a, std::size_t b) {
      return NameLess(nodes_[a].name, nodes_[b].name);
    });
    struct TRange {
      std::size_t lo, hi; // [lo, hi)
      std::uint32_t* link;
    };
    std::vector<TRange> work{{0, kids.size(), &child[p]}};
    while (!work.empty()) {
      const TRange r = work.back();
      work.pop_back();
      if (r.lo >= r.hi) {
        continue;
      }
      const std::size_t mid = (r.lo + r.hi) / 2;
      const std::size_t id = kids[mid];
      *r.link = static_cast<std::uint32_t>(id);
      work.push_back({r.lo, mid, &left[id]});
      work.push_back({mid + 1, r.hi, &right[id]});
    }
  }

  // Mini stream: small streams, each padded to whole 64-byte mini sectors.
  std::string mini;
  std::vector<std::uint32_t> miniFat;
  std::vector<std::uint32_t> start(n, kEndOfChain);
  std::vector<std::size_t> regular;
  for (std::size_t i = 1; i < n; ++i) {
    const TNode& node = nodes_[i];
    if (node.type != 2) {
      continue;
    }
    TCfbLayout::TStreamPlace place;
    place.dirId = static_cast<std::uint32_t>(i);
    if (node.bytes.size() < kMiniCutoff) {
      place.inMini = true;
      if (!node.bytes.empty()) {
        const auto first = static_cast<std::uint32_t>(miniFat.size());
        const std::uint32_t count = CeilDiv(node.bytes.size(), kMiniSector);
        for (std::uint32_t k = 0; k < count; ++k) {
          place.chain.push_back(first + k);
          miniFat.push_back(k + 1 < count ? first + k + 1 : kEndOfChain);
        }
        start[i] = first;
        mini += node.bytes;
        mini.resize(miniFat.size() * kMiniSector, '\0');
      }
    } else {
      regular.push_back(i);
    }
    layout_.streams[node.path] = place;
  }

  const std::uint32_t dirCount = CeilDiv(n * 128, ss);
  const std::uint32_t miniFatCount = CeilDiv(miniFat.size() * 4, ss);
  const std::uint32_t miniStreamCount = CeilDiv(mini.size(), ss);
  std::uint32_t contentCount = dirCount + miniFatCount + miniStreamCount;
  for (const std::size_t i : regular) {
    contentCount += CeilDiv(nodes_[i].bytes.size(), ss);
  }

  // FAT and DIFAT sizes, to a fixed point: the FAT must also map its own and the DIFAT sectors.
  auto difatFor = [&](std::uint32_t fat) { return fat > 109 ? CeilDiv(fat - 109, per - 1) : 0u; };
  std::uint32_t fatCount = 1;
  std::uint32_t difatCount = 0;
  for (;;) {
    const std::uint32_t total = fatCount + difatCount + contentCount;
    const std::uint32_t needFat = CeilDiv(total, per);
    const std::uint32_t needDifat = difatFor(needFat);
    if (needFat <= fatCount && needDifat <= difatCount) {
      break;
    }
    fatCount = std::max(fatCount, needFat);
    difatCount = std::max(difatCount, needDifat);
  }
  if (difatSectors_ > difatCount) {
    fatCount = std::max(fatCount, 109 + (difatSectors_ - 1) * (per - 1) + 1);
    difatCount = difatFor(fatCount);
  }
  const std::uint32_t total = fatCount + difatCount + contentCount;
  if (CeilDiv(total, per) > fatCount) {
    throw std::logic_error("FAT sizing");
  }

  std::vector<std::uint32_t> fat(std::size_t{fatCount} * per, kFreeSect);
  std::uint32_t next = 0;
  auto take = [&](std::uint32_t count, std::uint32_t mark, std::vector<std::uint32_t>& out) {
    for (std::uint32_t k = 0; k < count; ++k) {
      out.push_back(next);
      fat[next] = mark;
      ++next;
    }
  };
  auto chainUp = [&](const std::vector<std::uint32_t>& chain) {
    for (std::size_t k = 0; k < chain.size(); ++k) {
      fat[chain[k]] = k + 1 < chain.size() ? chain[k + 1] : kEndOfChain;
    }
  };
  take(fatCount, kFatSect, layout_.fatSectors);
  take(difatCount, kDifSect, layout_.difatSectors);
  take(dirCount, 0, layout_.dirSectors);
  chainUp(layout_.dirSectors);
  take(miniFatCount, 0, layout_.miniFatSectors);
  chainUp(layout_.miniFatSectors);
  take(miniStreamCount, 0, layout_.miniStreamSectors);
  chainUp(layout_.miniStreamSectors);

  // Regular streams: one after another, or dealt out a sector at a time when fragmented.
  std::vector<std::vector<std::uint32_t>> chains(regular.size());
  if (fragmented_) {
    bool more = true;
    for (std::uint32_t round = 0; more; ++round) {
      more = false;
      for (std::size_t r = 0; r < regular.size(); ++r) {
        if (round < CeilDiv(nodes_[regular[r]].bytes.size(), ss)) {
          chains[r].push_back(next++);
          more = true;
        }
      }
    }
    // A single stream cannot interleave with itself: reverse its sectors instead.
    if (regular.size() == 1) {
      std::reverse(chains[0].begin(), chains[0].end());
    }
  } else {
    for (std::size_t r = 0; r < regular.size(); ++r) {
      take(CeilDiv(nodes_[regular[r]].bytes.size(), ss), 0, chains[r]);
    }
  }
  for (std::size_t r = 0; r < regular.size(); ++r) {
    chainUp(chains[r]);
    start[regular[r]] = chains[r].front();
    layout_.streams[nodes_[regular[r]].path].chain = chains[r];
  }
  for (std::size_t i = 1; i < n; ++i) {
    if (nodes_[i].type == 1) {
      layout_.storages[nodes_[i].path] = static_cast<std::uint32_t>(i);
    }
  }

  std::string out(std::size_t{ss} * (total + 1), '\0');
  auto sectorAt = [&](std::uint32_t s) { return (std::size_t{s} + 1) * ss; };

  // Header.
  const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(std::begin(sig), std::end(sig), out.begin());
  PutU16(out, 24, 0x003E);
  PutU16(out, 26, static_cast<std::uint16_t>(v4 ? 4 : 3));
  PutU16(out, 28, 0xFFFE);
  PutU16(out, 30, static_cast<std::uint16_t>(v4 ? 12 : 9));
  PutU16(out, 32, 6);
  PutU32(out, 40, v4 ? dirCount : 0);
  PutU32(out, 44, fatCount);
  PutU32(out, 48, layout_.dirSectors.front());
  PutU32(out, 56, static_cast<std::uint32_t>(kMiniCutoff));
  PutU32(out, 60, miniFatCount ? layout_.miniFatSectors.front() : kEndOfChain);
  PutU32(out, 64, miniFatCount);
  PutU32(out, 68, difatCount ? layout_.difatSectors.front() : kEndOfChain);
  PutU32(out, 72, difatCount);
  std::vector<std::uint32_t> difat = layout_.fatSectors;
  for (std::uint32_t k = 0; k < 109; ++k) {
    PutU32(out, 76 + std::size_t{k} * 4, k < difat.size() ? difat[k] : kFreeSect);
  }
  for (std::uint32_t d = 0; d < difatCount; ++d) {
    const std::size_t base = sectorAt(layout_.difatSectors[d]);
    for (std::uint32_t k = 0; k + 1 < per; ++k) {
      const std::size_t idx = 109 + std::size_t{d} * (per - 1) + k;
      PutU32(out, base + std::size_t{k} * 4, idx < difat.size() ? difat[idx] : kFreeSect);
    }
    PutU32(out, base + std::size_t{per - 1} * 4,
           d + 1 < difatCount ? layout_.difatSectors[d + 1] : kEndOfChain);
  }
  for (std::size_t k = 0; k < fat.size(); ++k) {
    PutU32(out, sectorAt(layout_.fatSectors[k / per]) + (k % per) * 4, fat[k]);
  }

  // Directory.
  for (std::size_t i = 0; i < std::size_t{dirCount} * (ss / 128); ++i) {
    const std::size_t at = layout_.DirEntryOffset(static_cast<std::uint32_t>(i));
    PutU32(out, at + 68, kNoStream);
    PutU32(out, at + 72, kNoStream);
    PutU32(out, at + 76, kNoStream);
    if (i >= n) {
      continue;
    }
    const TNode& node = nodes_[i];
    for (std::size_t k = 0; k < node.name.size() && k < 31; ++k) {
      PutU16(out, at + k * 2, node.name[k]);
    }
    PutU16(out, at + 64,
           static_cast<std::uint16_t>((std::min<std::size_t>(node.name.size(), 31) + 1) * 2));
    out[at + 66] = static_cast<char>(node.type);
    out[at + 67] = 1; // black
    PutU32(out, at + 68, left[i]);
    PutU32(out, at + 72, right[i]);
    PutU32(out, at + 76, child[i]);
    if (node.type == 5) {
      PutU32(out, at + 116, miniStreamCount ? layout_.miniStreamSectors.front() : kEndOfChain);
      PutU32(out, at + 120, static_cast<std::uint32_t>(mini.size()));
    } else if (node.type == 2) {
      PutU32(out, at + 116, start[i]);
      PutU32(out, at + 120, static_cast<std::uint32_t>(node.bytes.size()));
    }
  }

  // Mini FAT, mini stream, regular streams.
  for (std::size_t k = 0; k < miniFat.size(); ++k) {
    PutU32(out, sectorAt(layout_.miniFatSectors[k / per]) + (k % per) * 4, miniFat[k]);
  }
  if (miniFatCount) {
    // Unused mini FAT entries are free.
    for (std::size_t k = miniFat.size(); k < std::size_t{miniFatCount} * per; ++k) {
      PutU32(out, sectorAt(layout_.miniFatSectors[k / per]) + (k % per) * 4, kFreeSect);
    }
  }
  for (std::size_t k = 0; k < mini.size(); ++k) {
    out[sectorAt(layout_.miniStreamSectors[k / ss]) + k % ss] = mini[k];
  }
  for (std::size_t r = 0; r < regular.size(); ++r) {
    const std::string& bytes = nodes_[regular[r]].bytes;
    for (std::size_t s = 0; s < chains[r].size(); ++s) {
      const std::size_t len = std::min<std::size_t>(ss, bytes.size() - s * ss);
      std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(s * ss), len,
                  out.begin() + static_cast<std::ptrdiff_t>(sectorAt(chains[r][s])));
    }
  }
  return out;
}

TOldWordStream::TOldWordStream(std::uint16_t wIdent, std::uint16_t nFib, std::uint16_t lid,
                               std::uint16_t flags) {
  PutU16(bytes, 0, wIdent);
  PutU16(bytes, 2, nFib);
  PutU16(bytes, 6, lid);
  PutU16(bytes, 10, flags);
}

TOldWordStream& TOldWordStream::Range(std::uint32_t fcMin, std::uint32_t fcMac) {
  PutU32(bytes, 24, fcMin);
  PutU32(bytes, 28, fcMac);
  return *this;
}

TOldWordStream& TOldWordStream::Text(std::uint32_t fcMin, const std::string& text) {
  Put(fcMin, text);
  return Range(fcMin, fcMin + static_cast<std::uint32_t>(text.size()));
}

TOldWordStream& TOldWordStream::ClxPlace(std::uint32_t fcClx, std::uint32_t lcbClx) {
  PutU32(bytes, 0x160, fcClx);
  PutU32(bytes, 0x164, lcbClx);
  return *this;
}

TOldWordStream& TOldWordStream::Clx(std::uint32_t fcClx, const std::string& clx) {
  Put(fcClx, clx);
  return ClxPlace(fcClx, static_cast<std::uint32_t>(clx.size()));
}

TOldWordStream& TOldWordStream::Put(std::size_t offset, const std::string& data) {
  if (bytes.size() < offset + data.size()) {
    bytes.resize(offset + data.size(), '\0');
  }
  bytes.replace(offset, data.size(), data);
  return *this;
}

std::string TOldWordStream::CompoundFile() const {
  return TCfbBuilder::Make({{"WordDocument", bytes}});
}

std::string Word6Clx(const std::vector<std::uint32_t>& cps, const std::vector<std::uint32_t>& fcs,
                     const std::string& prefix) {
  std::string plc;
  std::string word(4, '\0');
  for (const std::uint32_t cp : cps) {
    PutU32(word, 0, cp);
    plc += word;
  }
  for (const std::uint32_t fc : fcs) {
    std::string pcd(8, '\0'); // flags, fc, property modifier
    PutU32(pcd, 2, fc);
    plc += pcd;
  }
  std::string clx = prefix;
  clx += '\x02';
  PutU32(word, 0, static_cast<std::uint32_t>(plc.size()));
  clx += word;
  clx += plc;
  return clx;
}

} // namespace scv::test
