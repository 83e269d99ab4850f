#include "Launcher.h"

#include <cstring>

namespace adremove {

char* TrimCommandLine(char* line) {
  char* p = line;
  while (*p == ' ') ++p;
  if (*p == '"') ++p;
  if (size_t n = std::strlen(p); n > 0) {
    char* last = p + n - 1;
    while (last > p && *last == ' ') --last;
    if (*last == '"') *last = '\0';
  }
  return p;
}

std::string LibraryPath(std::string_view dir, char separator) {
  std::string path(dir);
  if (path.empty() || path.back() != separator) path += separator;
  path += kLibraryName;
  return path;
}

int32_t Run(char* commandLine, System& system) {
  if (!commandLine || *commandLine == '\0') return kNoCommandLine;
  char* argument = TrimCommandLine(commandLine);

  // A directory the system cannot tell names no library that could be loaded.
  const char* dir = system.WindowsDirectory();
  if (!dir) return kLoadFailed;
  std::string path = LibraryPath(dir, system.Separator());

  void* library = system.Load(path.c_str());
  if (!library) return kLoadFailed;
  int32_t result = kLoadFailed;
  if (UninstallFn uninstall = system.Find(library, kExportName)) result = uninstall(argument);
  system.Unload(library);
  return result;
}

const char* ArgumentString(const char* commandLine) {
  if (!commandLine) return nullptr;
  const char* p = commandLine;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  if (*p == ' ' || *p == '\t') ++p;
  return p;
}

}  // namespace adremove
