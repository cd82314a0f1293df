// Loading converter libraries at run time (LoadLibraryA / GetProcAddress / FreeLibrary).
#pragma once

#include <string>
#include <string_view>

namespace scv::platform {

// Owner of one loaded library. Load("scvpdf.dll") looks for scvpdf.so in the program
// directory, then in <program dir>/../lib/scvcmd/, then - for a program that embeds libscv.so
// from another folder - beside libscv.so and in its scvcmd/ and ../scvcmd/ folders, then
// through dlopen's own search.
class TDynamicLibrary {
public:
  TDynamicLibrary() = default;
  ~TDynamicLibrary();
  TDynamicLibrary(const TDynamicLibrary&) = delete;
  TDynamicLibrary& operator=(const TDynamicLibrary&) = delete;

  bool Load(std::string_view windowsName);
  bool IsLoaded() const { return handle_ != nullptr; }
  void* Symbol(const char* name) const;
  void Unload();

private:
  void* handle_ = nullptr;
};

// Maps "name.dll" (any case of the extension) to "name.so"; other names are unchanged.
std::string MapLibraryName(std::string_view windowsName);

} // namespace scv::platform
