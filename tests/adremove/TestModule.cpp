// A stand-in ad module for the launcher's tests, for Linux and as a Windows DLL. Its
// "PellicoUninstall" writes the string it was given to the file named by $ADREMOVE_RECORD and
// the path it was loaded from to $ADREMOVE_MODULE_PATH (when set), and returns $ADREMOVE_RESULT
// (decimal, 0 when unset).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#define MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#define MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::string Env(const char* name) {
#ifdef _WIN32
  char buf[1024];
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
#else
  const char* v = std::getenv(name);
  return v ? v : "";
#endif
}

void Record(const std::string& file, const char* bytes) {
  if (file.empty()) return;
  if (FILE* f = std::fopen(file.c_str(), "wb")) {
    std::fwrite(bytes, 1, std::strlen(bytes), f);
    std::fclose(f);
  }
}

std::string ModulePath() {
#ifdef _WIN32
  HMODULE self = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ModulePath), &self);
  char buf[MAX_PATH * 2];
  DWORD n = GetModuleFileNameA(self, buf, sizeof buf);
  return std::string(buf, n < sizeof buf ? n : 0);
#else
  Dl_info info{};
  return dladdr(reinterpret_cast<void*>(&ModulePath), &info) && info.dli_fname ? info.dli_fname
                                                                               : "";
#endif
}

}  // namespace

MODULE_EXPORT int32_t PellicoUninstall(char* commandLine) {
  Record(Env("ADREMOVE_RECORD"), commandLine);
  Record(Env("ADREMOVE_MODULE_PATH"), ModulePath().c_str());
  return static_cast<int32_t>(std::strtoll(Env("ADREMOVE_RESULT").c_str(), nullptr, 10));
}
