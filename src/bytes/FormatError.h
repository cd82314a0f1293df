// The one error a parser raises for input it cannot read: which structure, at which offset of
// the input, and what was wrong with it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace scv::bytes {

// what() reads "<structure> at <offset>: <what>". The extractors catch it in their one place
// and return their result code; nothing reports it further.
class EFormatError : public std::runtime_error {
public:
  EFormatError(std::string_view structure, std::uint64_t offset, std::string_view what)
      : std::runtime_error(Message(structure, offset, what)), structure_(structure),
        offset_(offset) {}

  const std::string& Structure() const { return structure_; }
  std::uint64_t Offset() const { return offset_; }

private:
  static std::string Message(std::string_view structure, std::uint64_t offset,
                             std::string_view what) {
    std::string text;
    text.append(structure).append(" at ").append(std::to_string(offset)).append(": ");
    text.append(what);
    return text;
  }

  std::string structure_;
  std::uint64_t offset_;
};

} // namespace scv::bytes
