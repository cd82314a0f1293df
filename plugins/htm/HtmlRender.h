// Rendering an HTML document as plain text, the way a reader sees it.
#pragma once

#include <string>
#include <string_view>

namespace scv::htm {

// Parses UTF-8 HTML (as DecodeToUtf8 gives it) with libxml2's HTML parser, which reads it a
// block at a time as it reads a file and makes no copy of the whole text, and returns its text:
// the title first, then the body; script, style and other invisible content dropped;
// whitespace collapsed outside preformatted text; block elements on lines of their own; table
// cells of a row separated by TAB. Lines end in LF; the text ends with one LF unless it is
// empty. Throws std::bad_alloc when memory runs out.
std::string RenderHtml(std::string_view utf8);

} // namespace scv::htm
