// In-memory ZIP writer for tests.
#include "support/ZipBuilder.h"

#include <array>

namespace scv::test {
namespace {

void U16(std::string& s, std::uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void U32(std::string& s, std::uint32_t v) {
  U16(s, v & 0xFFFF);
  U16(s, v >> 16);
}
void U64(std::string& s, std::uint64_t v) {
  U32(s, static_cast<std::uint32_t>(v));
  U32(s, static_cast<std::uint32_t>(v >> 32));
}
std::uint32_t Clamp32(std::uint64_t v) {
  return v >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
}

} // namespace

std::uint32_t ReferenceCrc32(std::string_view data) {
  return ReferenceCrc32Update(0, data);
}

std::uint32_t ReferenceCrc32Update(std::uint32_t crc, std::string_view data) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) {
        c = (c & 1u) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
      }
      t[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (const char ch : data) {
    crc = table[(crc ^ static_cast<std::uint8_t>(ch)) & 0xFFu] ^ (crc >> 8);
  }
  return ~crc;
}

TZipItem& TZipBuilder::Add(std::string name, std::string data, std::uint16_t method) {
  TZipItem item;
  item.name = std::move(name);
  item.data = std::move(data);
  item.method = method;
  items_.push_back(std::move(item));
  return items_.back();
}

std::string TZipBuilder::Build() const {
  std::string out = prefix_;
  std::string central;
  for (const TZipItem& it : items_) {
    std::string packed;
    if (it.payload) {
      packed = *it.payload;
    } else if (it.method == 8) {
      packed = DeflateEncode(it.data, it.deflateMode);
    } else {
      packed = it.data;
    }
    const std::uint32_t crc = it.crc.value_or(ReferenceCrc32(it.data));
    const std::uint64_t usize = it.statedSize.value_or(it.data.size());
    const std::uint64_t csize = it.statedCompressed.value_or(packed.size());
    const std::uint64_t offset = out.size() - prefix_.size();
    const std::uint16_t flags =
        static_cast<std::uint16_t>(it.flags | (it.dataDescriptor ? 0x0008 : 0));

    std::string localExtra;
    if (it.zip64) {
      U16(localExtra, 0x0001);
      U16(localExtra, 16);
      U64(localExtra, usize);
      U64(localExtra, csize);
    }
    U32(out, 0x04034B50);
    U16(out, it.zip64 ? 45 : 20);
    U16(out, flags);
    U16(out, it.method);
    U16(out, 0x6000); // 12:00
    U16(out, 0x5821); // 2024-01-01
    U32(out, it.dataDescriptor ? 0 : crc);
    U32(out, it.dataDescriptor ? 0 : (it.zip64 ? 0xFFFFFFFFu : Clamp32(csize)));
    U32(out, it.dataDescriptor ? 0 : (it.zip64 ? 0xFFFFFFFFu : Clamp32(usize)));
    U16(out, static_cast<std::uint32_t>(it.name.size()));
    U16(out, static_cast<std::uint32_t>(localExtra.size()));
    out += it.name;
    out += localExtra;
    out += packed;
    if (it.dataDescriptor) {
      U32(out, 0x08074B50);
      U32(out, crc);
      U32(out, Clamp32(csize));
      U32(out, Clamp32(usize));
    }

    std::string extra;
    if (it.zip64) {
      U16(extra, 0x0001);
      U16(extra, 24);
      U64(extra, usize);
      U64(extra, csize);
      U64(extra, offset);
    }
    U32(central, 0x02014B50);
    U16(central, it.versionMadeBy);
    U16(central, it.zip64 ? 45 : 20);
    U16(central, flags);
    U16(central, it.method);
    U16(central, 0x6000);
    U16(central, 0x5821);
    U32(central, crc);
    U32(central, it.zip64 ? 0xFFFFFFFFu : Clamp32(csize));
    U32(central, it.zip64 ? 0xFFFFFFFFu : Clamp32(usize));
    U16(central, static_cast<std::uint32_t>(it.name.size()));
    U16(central, static_cast<std::uint32_t>(extra.size()));
    U16(central, 0); // comment
    U16(central, 0); // disk
    U16(central, 0); // internal attributes
    U32(central, 0); // external attributes
    U32(central, it.zip64 ? 0xFFFFFFFFu : Clamp32(offset));
    central += it.name;
    central += extra;
  }
  const std::uint64_t dirOffset = statedDirOffset_.value_or(out.size() - prefix_.size());
  const std::uint64_t count = statedCount_.value_or(items_.size());
  out += central;
  if (zip64End_) {
    const std::uint64_t zip64EndAt = out.size() - prefix_.size();
    U32(out, 0x06064B50);
    U64(out, 44);
    U16(out, 45);
    U16(out, 45);
    U32(out, 0);
    U32(out, 0);
    U64(out, count);
    U64(out, count);
    U64(out, central.size());
    U64(out, dirOffset);
    U32(out, 0x07064B50);
    U32(out, 0);
    U64(out, zip64EndAt);
    U32(out, 1);
  }
  U32(out, 0x06054B50);
  U16(out, 0);
  U16(out, 0);
  U16(out, zip64End_ ? 0xFFFF : static_cast<std::uint32_t>(count & 0xFFFF));
  U16(out, zip64End_ ? 0xFFFF : static_cast<std::uint32_t>(count & 0xFFFF));
  U32(out, zip64End_ ? 0xFFFFFFFFu : Clamp32(central.size()));
  U32(out, zip64End_ ? 0xFFFFFFFFu : Clamp32(dirOffset));
  U16(out, static_cast<std::uint32_t>(comment_.size()));
  out += comment_;
  return out;
}

} // namespace scv::test
