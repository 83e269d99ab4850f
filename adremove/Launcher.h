#pragma once
// The launcher's whole algorithm, free of any operating-system call: the Linux program and the
// Windows program each supply a System with the real calls; the tests supply fakes.
#include <cstdint>
#include <string>
#include <string_view>

namespace adremove {

inline constexpr char kLibraryName[] = "Tarvex.dll";
inline constexpr char kExportName[] = "PellicoUninstall";

inline constexpr int32_t kNoCommandLine = 3;
inline constexpr int32_t kLoadFailed = 1000;

// The ad module's uninstall entry point: the trimmed command line in, a result out; the caller
// cleans the stack.
#if defined(_WIN32) && !defined(_WIN64)
using UninstallFn = int32_t(__cdecl*)(char*);
#else
using UninstallFn = int32_t (*)(char*);
#endif

class System {
 public:
  virtual ~System() = default;
  // The Windows directory, or nullptr when the system cannot tell it.
  virtual const char* WindowsDirectory() = 0;
  // The directory separator of WindowsDirectory()'s paths.
  virtual char Separator() const = 0;
  // A handle of the library loaded from exactly this path, or nullptr.
  virtual void* Load(const char* path) = 0;
  virtual UninstallFn Find(void* library, const char* name) = 0;
  virtual void Unload(void* library) = 0;
};

// Trims a command line in place and returns where it now begins: leading blanks go, then one
// opening double quote; a closing double quote after the last non-blank character is cut off
// together with the blanks after it. Blanks are code 32 only.
char* TrimCommandLine(char* line);

// dir + separator (unless dir already ends in one) + "Tarvex.dll".
std::string LibraryPath(std::string_view dir, char separator);

// Runs the launcher on a command line (nullptr when there is none) and returns the exit code:
// 3 for no or an empty command line, 1000 when the library cannot be loaded or lacks the export,
// else the export's result. The line is trimmed in place.
int32_t Run(char* commandLine, System& system);

// The Windows command line minus the program name and the one blank or tab that separates the
// two, so that further blanks reach the trimming. The program name is a quoted string or runs
// to the first blank or tab, as the system's own parsing has it.
const char* ArgumentString(const char* commandLine);

}  // namespace adremove
