// WinHelp reader: turns a help file (3.x and 4.x) into plain UTF-8 text.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace scv::hlp {

// Converts a help file to UTF-8 text: topics in file order, each starting with its title line
// and separated from the previous one by an empty line; paragraphs and line breaks end with
// LF, tabs and table cells are separated by TAB. Throws bytes::EFormatError when the file system,
// |SYSTEM or |TOPIC cannot be read; damage inside the topic data ends the text early.
std::string HlpToUtf8(std::span<const std::uint8_t> file);

// The Windows code page of a help file's text from its |SYSTEM file (0 when it names none).
std::int32_t CodePageOfLcid(std::uint32_t lcid);

} // namespace scv::hlp
