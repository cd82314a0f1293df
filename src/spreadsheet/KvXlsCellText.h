// Text of cells that carry their own characters (LABEL, RSTRING, the STRING result of a
// formula) and of boolean and error values, in the layouts of each BIFF version.
#pragma once

#include "spreadsheet/KvXlsBOF.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace scv::spreadsheet {

// BIFF versions, from the BOF record that starts a stream.
inline constexpr std::uint8_t kBiff2 = 2;
inline constexpr std::uint8_t kBiff3 = 3;
inline constexpr std::uint8_t kBiff4 = 4;
inline constexpr std::uint8_t kBiff5 = 5;
inline constexpr std::uint8_t kBiff8 = 8;

// How a workbook lays out its cell records and stores its 8-bit text.
struct TBiffContext {
  std::uint8_t biff = kBiff8;
  // Code page of the 8-bit characters of BIFF2-5 strings (the CODEPAGE record; 1252 without
  // one). 1200 means each byte is a UTF-16 code unit (Latin-1).
  std::int32_t codePage = 1252;
};

// The BIFF version a BOF record names: its id (0x0009, 0x0209, 0x0409, 0x0809) and, for
// 0x0809, its vers field (0x0500 BIFF5, anything else BIFF8). 0 for any other id.
std::uint8_t BiffVersionOfBof(std::uint16_t id, std::span<const std::uint8_t> body);

// The code page a CODEPAGE record value stands for as far as 8-bit text goes: 1200 and the
// pages this system converts are kept; Macintosh Roman (0x8000) is 10000; the ANSI aliases
// (367 ASCII, 0x8001) and unusable values give 1252.
std::int32_t TextCodePage(std::uint16_t cv);

// 932, 936, 949 and 950: a 1-byte string of such a workbook holds double-byte characters.
bool IsDoubleByteCodePage(std::int32_t codePage);

// Appends 8-bit text of the code page as UTF-8. A zero character becomes a space, as in the
// shared strings.
void AppendCodePageText(std::string& out, std::span<const std::uint8_t> bytes,
                        std::int32_t codePage);

// A cell string at `offset` of a record body: BIFF8 an XLUnicodeString (cch 2, flags 1 with
// fHighByte in bit 0, characters); BIFF3-5 a 2-byte count and 8-bit characters; BIFF2 a 1-byte
// count (countSize 1) and 8-bit characters. BIFF8 characters that pass the end of the body
// continue in the CONTINUE records after it (`after` at the next record header), each led by an
// option byte that gives the width of what follows. The text is cut to the characters present.
void ReadCellString(std::span<const std::uint8_t> body, std::size_t offset, std::size_t countSize,
                    const TBiffContext& context, TBiffStream after, std::string& out);

// TRUE or FALSE.
std::string_view BooleanText(bool value);

// The error text of an error code (#NULL!, #DIV/0!, #VALUE!, #REF!, #NAME?, #NUM!, #N/A,
// #GETTING_DATA); empty for a code the format does not define.
std::string_view ErrorText(std::uint8_t code);

} // namespace scv::spreadsheet
