// Paths the tests need: the shared corpus, the built program and its plug-ins.
#pragma once

#include <string>

namespace scv::test {

inline std::string SharedDir() {
  return SCV_SHARED_DIR;
}
inline std::string CorpusDir(const std::string& type) {
  return SharedDir() + "/corpus/" + type;
}
inline std::string BinDir() {
  return SCV_BIN_DIR;
}
inline std::string ScvcmdPath() {
  return BinDir() + "/scvcmd";
}
inline std::string SourceDir() {
  return SCV_SOURCE_DIR;
}

} // namespace scv::test
