// adremove.exe: a GUI-subsystem program that opens no window. It takes its command line from the
// system, finds the Windows directory with GetWindowsDirectoryA and calls the ad module through
// LoadLibraryA and GetProcAddress.
#include <windows.h>

#include <cstring>
#include <string>

#include "Launcher.h"

namespace {

class WindowsSystem : public adremove::System {
 public:
  const char* WindowsDirectory() override {
    UINT n = GetWindowsDirectoryA(dir_, MAX_PATH);
    // 0 is a failure; a value of MAX_PATH or more is the size the directory would have needed,
    // and the buffer then holds nothing usable.
    return n > 0 && n < MAX_PATH ? dir_ : nullptr;
  }
  char Separator() const override { return '\\'; }
  void* Load(const char* path) override { return LoadLibraryA(path); }
  adremove::UninstallFn Find(void* library, const char* name) override {
    FARPROC f = GetProcAddress(static_cast<HMODULE>(library), name);
    return reinterpret_cast<adremove::UninstallFn>(reinterpret_cast<void (*)()>(f));
  }
  void Unload(void* library) override { FreeLibrary(static_cast<HMODULE>(library)); }

 private:
  char dir_[MAX_PATH] = {};
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) try {
  // WinMain's own argument string has lost the blanks after the program name, so the tail is
  // taken from the full command line; it is copied because it is trimmed in place.
  const char* tail = adremove::ArgumentString(GetCommandLineA());
  std::string line = tail ? tail : "";
  WindowsSystem system;
  // No error boxes from the loader: failures are reported by the exit code alone.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  return adremove::Run(tail ? line.data() : nullptr, system);
} catch (...) {
  // Nothing may escape (the uninstaller reads the exit code; no error box is wanted).
  return 1;
}
