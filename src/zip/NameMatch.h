// Entry-name patterns: case folding of names and the "*", "?" and "<set>" wildcard match.
#pragma once

#include <string>
#include <string_view>

namespace scv::zip {

// The form names are compared in: "/" becomes "\" and letters are lower-cased (ASCII, and in
// UTF-8 text the Latin-1, Latin Extended-A, Greek and Cyrillic capitals). Bytes that are not
// valid UTF-8 stay as they are.
std::string FoldName(std::string_view name);

// True when the pattern holds a wildcard ("*", "?" or "<").
bool HasWildcards(std::string_view pattern);

// Matches a folded name against a folded pattern, character by character (UTF-8 sequences
// count as one character): "*" any run, "?" any one character, "<...>" one character of a set
// with ranges "a-z", negated by a leading "!" or "^". An unclosed "<" matches itself. Runs in
// O(pattern x name) steps at worst.
bool IsMatch(std::string_view pattern, std::string_view name);

} // namespace scv::zip
