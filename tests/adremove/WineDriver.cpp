// Runs adremove.exe as a Windows process, under Wine, through its edge cases in one go and
// prints one line per check; the exit code is the number of failed checks.
//   adremove_wintest.exe ADREMOVE_EXE TEST_MODULE_DLL NOEXPORT_DLL
// Unix paths ("/...") are taken as paths on Wine's Z: drive. The test module is installed as
// Tarvex.dll in the Windows directory of the (throw-away) Wine prefix.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Launcher.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string Shown(const std::string& s) {
  std::string out = "[";
  for (char c : s) out += c == '\t' ? std::string("\\t") : std::string(1, c);
  return out + "]";
}

std::string TempFolder() {
  char buf[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, buf);
  std::string dir = std::string(buf, n) + "adremove-test";
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

std::string ReadAll(const std::string& path, bool* exists) {
  std::string out;
  *exists = false;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    *exists = true;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
  }
  return out;
}

// Starts the program with this exact command line and returns its exit code; -999 when it
// could not be started or did not end within 30 seconds.
int64_t Launch(const std::string& exe, const std::string& commandLine) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi))
    return -999;
  int64_t result = -999;
  if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0) {
    DWORD code = 0;
    if (GetExitCodeProcess(pi.hProcess, &code)) result = static_cast<int32_t>(code);
  } else {
    TerminateProcess(pi.hProcess, 1);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return result;
}

// The subsystem field of a PE image: 2 is the graphical subsystem, 3 the console.
int Subsystem(const std::string& path) {
  bool exists;
  std::string image = ReadAll(path, &exists);
  if (image.size() < 0x40) return -1;
  uint32_t pe = *reinterpret_cast<const uint32_t*>(image.data() + 0x3c);
  size_t field = size_t(pe) + 4 + 20 + 68;
  if (field + 2 > image.size() || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return -1;
  return *reinterpret_cast<const uint16_t*>(image.data() + field);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: adremove_wintest ADREMOVE_EXE TEST_MODULE_DLL NOEXPORT_DLL\n");
    return 100;
  }
  const std::string exe = WindowsPath(argv[1]);
  const std::string module = WindowsPath(argv[2]);
  const std::string noExport = WindowsPath(argv[3]);

  char windirBuf[MAX_PATH];
  UINT n = GetWindowsDirectoryA(windirBuf, MAX_PATH);
  const std::string windir(windirBuf, n);
  const std::string installed = adremove::LibraryPath(windir, '\\');
  const std::string tmp = TempFolder();
  const std::string record = tmp + "\\record.txt";
  const std::string modulePath = tmp + "\\module.txt";
  SetEnvironmentVariableA("ADREMOVE_RECORD", record.c_str());
  SetEnvironmentVariableA("ADREMOVE_MODULE_PATH", modulePath.c_str());
  SetEnvironmentVariableA("ADREMOVE_RESULT", nullptr);
  std::printf("Windows directory %s\n", windir.c_str());

  Check(Subsystem(exe) == 2, "adremove.exe is a graphical-subsystem program");

  // The path building for directories Wine itself never reports.
  Check(adremove::LibraryPath("C:\\", '\\') == "C:\\Tarvex.dll",
        "drive root C:\\ gets no second backslash");
  Check(adremove::LibraryPath("D:\\WINNT", '\\') == "D:\\WINNT\\Tarvex.dll",
        "D:\\WINNT gets one backslash");

  // The name of the program as the system passes it, quoted the way an uninstaller would.
  const std::string name = "\"" + exe + "\"";

  // No library installed yet; one lying beside the program and in the current folder is not used.
  DeleteFileA(installed.c_str());
  std::string beside = exe.substr(0, exe.find_last_of('\\') + 1) + "Tarvex.dll";
  bool besideCopied = CopyFileA(module.c_str(), beside.c_str(), FALSE);
  SetCurrentDirectoryA(exe.substr(0, exe.find_last_of('\\') + 1).c_str());
  Check(Launch(exe, name + " x") == 1000, "no Tarvex.dll in the Windows directory gives 1000");
  if (besideCopied) DeleteFileA(beside.c_str());

  // The no-arguments check comes before any loading.
  Check(Launch(exe, name) == 3, "no command line gives 3");
  Check(Launch(exe, name + " ") == 3, "an empty command line gives 3");

  if (!CopyFileA(noExport.c_str(), installed.c_str(), FALSE)) {
    Check(false, "install " + noExport + " as " + installed);
    return failures;
  }
  Check(Launch(exe, name + " x") == 1000, "a library without PellicoUninstall gives 1000");

  if (HANDLE f =
          CreateFileA(installed.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      f != INVALID_HANDLE_VALUE) {
    DWORD written;
    WriteFile(f, "MZ no image", 11, &written, nullptr);
    CloseHandle(f);
  }
  Check(Launch(exe, name + " x") == 1000, "a file that is no library gives 1000");

  if (!CopyFileA(module.c_str(), installed.c_str(), FALSE)) {
    Check(false, "install " + module + " as " + installed);
    return failures;
  }

  struct Case {
    std::string tail;  // the command line after the program name and its blank
    std::string received;
    const char* what;
  } cases[] = {
      {"\"C:\\Program Files\\Quillon\\uninst.dat\"", "C:\\Program Files\\Quillon\\uninst.dat",
       "a quoted path with blanks loses its quotes"},
      {"/S /D=C:\\x  ", "/S /D=C:\\x  ", "trailing blanks without a closing quote are passed on"},
      {"   ", "", "only blanks give an empty string"},
      {"\"C:\\Program Files\\Quillon", "C:\\Program Files\\Quillon",
       "an opening quote only is removed"},
      {"  \"C:\\a b\"   ", "C:\\a b", "leading blanks, quotes and trailing blanks"},
      {"C:\\a b\"", "C:\\a b", "a closing quote only is removed"},
      {"\"\"a\"\"", "\"a\"", "only one quote is removed at each end"},
      {"\t\"a\"\t", "\t\"a\"\t", "tabs are not blanks"},
      {"\"", "", "a lone quote"},
  };
  for (const auto& c : cases) {
    DeleteFileA(record.c_str());
    int64_t code = Launch(exe, name + " " + c.tail);
    bool exists;
    std::string got = ReadAll(record, &exists);
    Check(code == 0 && exists && got == c.received, std::string(c.what) + ": " + Shown(c.tail) +
                                                        " -> " + Shown(got) + " exit " +
                                                        std::to_string(code));
  }

  // The program name unquoted, as a bare name.
  bool exists;
  DeleteFileA(record.c_str());
  Check(Launch(exe, "adremove.exe \"C:\\a b\"") == 0 && ReadAll(record, &exists) == "C:\\a b",
        "an unquoted program name");

  std::string loaded = ReadAll(modulePath, &exists);
  Check(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, loaded.c_str(), -1, installed.c_str(),
                       -1) == CSTR_EQUAL,
        "the module is loaded from " + installed + " (" + loaded + ")");

  for (int64_t result : {int64_t(0), int64_t(42), int64_t(1000), int64_t(-1), int64_t(INT32_MAX),
                         int64_t(INT32_MIN)}) {
    SetEnvironmentVariableA("ADREMOVE_RESULT", std::to_string(result).c_str());
    int64_t code = Launch(exe, name + " x");
    Check(code == result, "the result " + std::to_string(result) + " is the exit code (" +
                              std::to_string(code) + ")");
  }

  DeleteFileA(installed.c_str());
  std::printf("%d failed\n", failures);
  return failures;
}
