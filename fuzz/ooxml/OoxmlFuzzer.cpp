// Fuzzes the whole OOXML path: the input is an archive in an in-memory file, converted as a
// document, workbook or presentation (the last byte picks which, the code page and the
// all-text mode).
#include "ooxml/OfficeXCvt.h"
#include "platform/CodePage.h"
#include "support/FuzzFile.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace {

constexpr std::size_t kMaxInput = 1u << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) {
    return 0;
  }
  const std::span<const std::uint8_t> bytes(data, size);
  const std::string name = scv::fuzz::WriteFuzzFile(bytes);
  if (name.empty()) {
    return 0;
  }
  using namespace scv::ooxml;
  // Fresh module objects per input: the ZIP reader keeps a directory for an unchanged file,
  // and same-size inputs written in quick succession may look unchanged.
  FinalizeOfficeX();
  InitializeOfficeX();
  SetOfficeXTextLimit(std::size_t{16} << 20);
  SetOfficeXPartLimit(std::uint64_t{16} << 20);
  const std::uint8_t pick = bytes.empty() ? 0 : bytes.back();
  // Parts are inflated in pieces of a size the input picks, so that pieces end anywhere.
  SetOfficeXPieceSize(1 + std::size_t{bytes.size() > 1 ? bytes[bytes.size() - 2] : 0u} * 31);
  // Bit 6 of the last byte asks for the all-text mode.
  SetOfficeXAllText((pick & 0x40) != 0);
  const std::int32_t codePages[] = {65001, 1200, 1252, 932};
  scv::TConversionResult result;
  const std::int32_t r = OfficeXToText(scv::platform::Utf8ToWide(name), result, 0, pick % 3,
                                       codePages[(pick >> 2) & 3]);
  if (r > 0 && static_cast<std::size_t>(r) > result.Capacity()) {
    __builtin_trap();
  }
  if (r < -15 || r == -1 || r == -3) {
    __builtin_trap();
  }
  return 0;
}
