// A whole input file as read-only bytes in memory: mapped from the page cache where the system
// allows it (nothing is copied and only the pages a parser touches are read), read into a
// buffer otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace scv::storage {

// The file's bytes, valid as long as the returned owner lives; null when the file cannot be
// opened or read.
std::shared_ptr<const void> LoadInputFile(const std::u16string& fileName,
                                          std::span<const std::uint8_t>& bytes);

} // namespace scv::storage
