// adremove for Linux: the command line is the arguments joined by single blanks, the Windows
// directory is $QL_WINDOWS_DIR, else $XDG_CONFIG_HOME/quillon, else ~/.config/quillon, and the
// library is loaded by path with dlopen. The system keeps only the low 8 bits of the exit code.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "Launcher.h"

namespace {

class PosixSystem : public adremove::System {
 public:
  const char* WindowsDirectory() override {
    if (const char* d = std::getenv("QL_WINDOWS_DIR"); d && *d) {
      dir_ = d;
    } else if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
      dir_ = std::string(x) + "/quillon";
    } else {
      const char* home = std::getenv("HOME");
      dir_ = std::string(home ? home : "") + "/.config/quillon";
    }
    return dir_.c_str();
  }
  char Separator() const override { return '/'; }
  // The path always holds a '/', so dlopen takes it as a path and searches nowhere.
  void* Load(const char* path) override { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
  adremove::UninstallFn Find(void* library, const char* name) override {
    return reinterpret_cast<adremove::UninstallFn>(dlsym(library, name));
  }
  void Unload(void* library) override { dlclose(library); }

 private:
  std::string dir_;
};

}  // namespace

int main(int argc, char** argv) try {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  PosixSystem system;
  return adremove::Run(argc > 1 ? line.data() : nullptr, system);
} catch (const std::exception& e) {
  std::fprintf(stderr, "adremove: %s\n", e.what());
  return 1;
} catch (...) {
  std::fprintf(stderr, "adremove: unknown error\n");
  return 1;
}
