// Word documents older than Word 97: the FIB fields of Word 6/95 and of Word for Windows 1.x/2.x
// and the code page their 8-bit text is written in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace scv::wordppt {

// FIB header fields shared by every Word for Windows version (offsets from the start of the
// main stream, or of the file for Word 1.x/2.x).
inline constexpr std::size_t kOffsetWIdent = 0;
inline constexpr std::size_t kOffsetLid = 6;
inline constexpr std::size_t kOffsetFibFlags = 10;
inline constexpr std::size_t kOffsetFcMin = 24;
inline constexpr std::size_t kOffsetFcMac = 28;
inline constexpr std::size_t kFibHeaderSize = 32;

// Flag word bits of the FIB header.
inline constexpr std::uint16_t kFibComplex = 0x0004; // fast-saved: the text is in pieces
inline constexpr std::uint16_t kFibEncrypted = 0x0100;

// Word 6/95 keep the piece table (CLX) in the main stream; its place is in the FIB.
inline constexpr std::size_t kOffsetFcClx6 = 0x160;
inline constexpr std::size_t kOffsetLcbClx6 = 0x164;

// wIdent of Word for Windows 1.x and 2.x files, which are not compound files: the file is the
// main stream.
inline constexpr std::uint16_t kWIdentWinWord1 = 0xA59B;
inline constexpr std::uint16_t kWIdentWinWord2 = 0xA5DB;

// True when the bytes start with a whole Word for Windows 1.x/2.x FIB header.
bool IsWinWordFile(std::span<const std::uint8_t> bytes);

// The ANSI code page of a FIB language id: the Windows code page of the language's locale for
// the languages written in a non-Western code page (1250-1258, 874 and the double-byte pages
// 932, 936, 949, 950), 1252 for every other id. Ids below 999 are the locale numbers of files
// older than Word for Windows 2.0, which name no language, and give 1252 too.
std::int32_t LegacyCodePage(std::uint16_t lid);

} // namespace scv::wordppt
