// The result codes, one set for the extractors, the C interface and the command line: an
// extractor returns a byte count or a negative code, the library and a run return 0 or a code,
// and a run exits with the code's low byte. The C interface spells the same values SCV_*.
#pragma once

#include <cstdint>

namespace scv {

inline constexpr std::int32_t kResultOk = 0;
inline constexpr std::int32_t kResultExists = 1; // run: the destination exists, no -o
inline constexpr std::int32_t kResultUsage = 2;  // run: the command line is rejected
inline constexpr std::int32_t kResultLibraryMissing = -1;
inline constexpr std::int32_t kResultNotFound = -2;
inline constexpr std::int32_t kResultTypeNotSupported = -3;
inline constexpr std::int32_t kResultOpenError = -4;
inline constexpr std::int32_t kResultBadFormat = -5;
inline constexpr std::int32_t kResultCreateError = -6; // run: the destination cannot be made
inline constexpr std::int32_t kResultWriteError = -7;  // run: writing the destination failed
inline constexpr std::int32_t kResultEncrypted = -11;
// Extractor: text that is not UTF-8 while encoding for a code page; reported as kResultBadFormat.
inline constexpr std::int32_t kResultBadUtf8 = -15;
inline constexpr std::int32_t kResultArgument = -22; // library: NULL output pointers

} // namespace scv
