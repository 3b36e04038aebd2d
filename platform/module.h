// Parts of a program loaded only when they are needed (the window shells: a program that
// runs headless never maps the window toolkit).
#pragma once

#include <string>

namespace plat {

// The entry point of a program part: called as main is.
using ModuleMain = int (*)(int argc, char** argv);

// Loads the module at path and finds its entry point named symbol. Null when the module
// or its entry point cannot be loaded, with why in *error.
ModuleMain loadModuleMain(const std::string& path, const char* symbol, std::string* error);

// The file name of a module called name on this platform ("name.so", "name.dll").
std::string moduleFileName(const std::string& name);

}  // namespace plat
