// Loading a converter library's heavy back end on first use. A converter library is loaded
// by every scvcmd run, whatever the document type, so it stays small (plain C calls only, no
// C++ run time to carry) and opens its back end, the module that links the parsing library,
// only when a conversion needs it. The back end sits in the same folder as the library.
#pragma once

#include <array>
#include <dlfcn.h>
#include <limits.h>
#include <span>
#include <string.h>

namespace scv::plugins {

// Opens <folder of the module containing anchor>/<engineName> (once: dlopen counts repeated
// opens of one file) and returns the address of symbol in it, or nullptr. The back end stays
// loaded until the process ends: parsing libraries keep process-wide state that does not
// survive being unloaded.
inline void* LoadEngineSymbol(const void* anchor, const char* engineName, const char* symbol) {
  Dl_info info{};
  if (dladdr(anchor, &info) == 0 || info.dli_fname == nullptr) {
    return nullptr;
  }
  std::array<char, PATH_MAX> path;
  const char* slash = strrchr(info.dli_fname, '/');
  const size_t folder = slash == nullptr ? 0 : static_cast<size_t>(slash - info.dli_fname) + 1;
  const size_t name = strlen(engineName);
  if (folder + name + 1 > path.size()) {
    return nullptr;
  }
  memcpy(path.data(), info.dli_fname, folder);
  memcpy(std::span(path).subspan(folder).data(), engineName, name + 1);
  void* handle = dlopen(path.data(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    return nullptr;
  }
  return dlsym(handle, symbol);
}

} // namespace scv::plugins
