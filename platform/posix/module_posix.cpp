#include <dlfcn.h>

#include "platform/module.h"

namespace plat {

ModuleMain loadModuleMain(const std::string& path, const char* symbol, std::string* error) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) *error = ::dlerror();
    return nullptr;
  }
  void* entry = ::dlsym(handle, symbol);
  if (entry == nullptr) {
    if (error != nullptr) *error = path + ": no " + symbol;
    ::dlclose(handle);
    return nullptr;
  }
  // The module stays loaded for the life of the program.
  return reinterpret_cast<ModuleMain>(entry);
}

std::string moduleFileName(const std::string& name) {
  return name + ".so";
}

}  // namespace plat
