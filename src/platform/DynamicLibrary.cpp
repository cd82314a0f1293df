// Loading converter libraries at run time.
#include "platform/DynamicLibrary.h"

#include "platform/FileIo.h"

#include <dlfcn.h>
#include <vector>

namespace scv::platform {

std::string MapLibraryName(std::string_view windowsName) {
  std::string name(windowsName);
  if (name.size() >= 4) {
    std::string ext = name.substr(name.size() - 4);
    for (auto& c : ext) {
      c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    if (ext == ".dll") {
      name.replace(name.size() - 4, 4, ".so");
    }
  }
  return name;
}

TDynamicLibrary::~TDynamicLibrary() {
  Unload();
}

namespace {

// The folder of the binary that holds this code: the program itself, or libscv.so when a
// program embeds the library from elsewhere.
std::string ModuleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&MapLibraryName), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  const std::string path = info.dli_fname;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

bool TDynamicLibrary::Load(std::string_view windowsName) {
  Unload();
  const std::string name = MapLibraryName(windowsName);
  const std::string dir = ProgramDirectory();
  const std::string moduleDir = ModuleDirectory();
  std::vector<std::string> candidates = {dir + name, dir + "../lib/scvcmd/" + name};
  if (!moduleDir.empty() && moduleDir != dir) {
    candidates.push_back(moduleDir + name);
    candidates.push_back(moduleDir + "scvcmd/" + name);
    candidates.push_back(moduleDir + "../scvcmd/" + name);
  }
  for (const std::string& path : candidates) {
    if (FileExists(path)) {
      handle_ = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
      if (handle_ != nullptr) {
        return true;
      }
    }
  }
  handle_ = dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
  return handle_ != nullptr;
}

void* TDynamicLibrary::Symbol(const char* name) const {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

void TDynamicLibrary::Unload() {
  if (handle_ != nullptr) {
    dlclose(handle_);
    handle_ = nullptr;
  }
}

} // namespace scv::platform
