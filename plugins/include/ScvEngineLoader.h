// Loading a converter library's heavy back end on first use. A converter library is loaded
// by every scvcmd run, whatever the document type, so it stays small and opens its back end
// (the module that links the parsing library) only when a conversion actually needs it. The
// back end sits in the same folder as the library itself.
#pragma once

#include <dlfcn.h>

#include <string>

namespace scv::plugins {

// Opens <folder of the module containing anchor>/<engineName> once per process and returns
// the address of symbol in it, or nullptr. The back end stays loaded until the process ends:
// parsing libraries keep process-wide state that does not survive being unloaded.
inline void* LoadEngineSymbol(const void* anchor, const char* engineName, const char* symbol) {
  Dl_info info{};
  if (dladdr(anchor, &info) == 0 || info.dli_fname == nullptr) {
    return nullptr;
  }
  std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  path = slash == std::string::npos ? std::string(engineName)
                                    : path.substr(0, slash + 1) + engineName;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    return nullptr;
  }
  return dlsym(handle, symbol);
}

} // namespace scv::plugins
