#include "DynLib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <climits>

namespace ql {

std::string DynLib::MapName(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  std::string base;
  for (char c : name) base += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (base.size() > 4 && base.compare(base.size() - 4, 4, ".dll") == 0) {
    base.resize(base.size() - 4);
  } else if (name.find(".so") != std::string::npos) {
    return name;  // already a shared object's name
  }
  return "lib" + base + ".so";
}

std::string DynLib::ExecutableDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

bool DynLib::Load(const std::string& name) {
  Free();
  std::string mapped = MapName(name);
  if (mapped.find('/') == std::string::npos) {
    // Beside the program (the build tree), else where an install puts them: lib/quillon
    // under the program's prefix.
    std::string dir = ExecutableDir();
    for (const std::string& candidate :
         {dir + "/" + mapped, dir + "/../lib/quillon/" + mapped,
          dir + "/../lib/x86_64-linux-gnu/quillon/" + mapped, dir + "/../lib64/quillon/" + mapped})
      if (access(candidate.c_str(), F_OK) == 0) {
        mapped = candidate;
        break;
      }
  }
  handle_ = dlopen(mapped.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* e = dlerror();
    error_ = e ? e : "cannot load " + mapped;
    return false;
  }
  error_.clear();
  return true;
}

void DynLib::Free() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

void* DynLib::Symbol(const char* name) const {
  return handle_ ? dlsym(handle_, name) : nullptr;
}

}  // namespace ql
