// RTF reader: turns an RTF byte buffer into plain UTF-8 text.
#pragma once

#include <string>
#include <string_view>

namespace scv::rtf {

// Converts RTF to UTF-8 text. Paragraph, line, section and page breaks and row ends become
// LF; tabs and cell ends become TAB (the last cell of a row ends with the row's LF instead).
// Hidden and deleted text, and destinations that hold no document text (font, colour and
// style tables, document information, pictures, object data, field instructions, page
// headers and footers, ...) are left out. Any byte sequence is accepted: unbalanced braces,
// unknown control words and truncated escapes are tolerated. Throws only std::bad_alloc.
std::string RtfToUtf8(std::string_view rtf);

} // namespace scv::rtf
