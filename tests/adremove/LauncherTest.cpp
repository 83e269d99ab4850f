// The launcher's algorithm against fake system calls, and the Linux program run as a process
// against the test modules.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Launcher.h"
#include "TestFiles.h"

extern char** environ;

namespace {

std::string Trimmed(std::string line) {
  line.push_back('\0');
  return adremove::TrimCommandLine(line.data());
}

TEST(TrimCommandLine, QuotesAndBlanks) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"\"C:\\Program Files\\Quillon\\uninst.dat\"", "C:\\Program Files\\Quillon\\uninst.dat"},
      {"   \"C:\\a b\"   ", "C:\\a b"},
      {"/S  ", "/S  "},          // no closing quote: trailing blanks stay
      {"   ", ""},               // only blanks
      {"\"C:\\a b", "C:\\a b"},  // opening quote only
      {"\"C:\\a b  ", "C:\\a b  "},
      {"C:\\a b\"  ", "C:\\a b"},  // closing quote only
      {"\"", ""},
      {"\"\"", ""},
      {"  \"  ", "  "},  // the search back stops at the first remaining character
      {"\" \"", " "},
      {"\"\"a\"\"", "\"a\""},  // one quote each side, no more
      {"a \"b\" c", "a \"b\" c"},
      {"\t\"a\"\t", "\t\"a\"\t"},  // tabs are not blanks
      {"\ta\"", "\ta"},
      {"x", "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(Trimmed(c.in), c.out) << "input [" << c.in << "]";
}

TEST(TrimCommandLine, WorksInPlace) {
  char line[] = "  \"abc\"  ";
  char* p = adremove::TrimCommandLine(line);
  EXPECT_EQ(p, line + 3);
  EXPECT_STREQ(p, "abc");
  EXPECT_EQ(line[6], '\0');
}

TEST(LibraryPath, AddsOneSeparator) {
  EXPECT_EQ(adremove::LibraryPath("C:\\WINDOWS", '\\'), "C:\\WINDOWS\\Tarvex.dll");
  EXPECT_EQ(adremove::LibraryPath("C:\\", '\\'), "C:\\Tarvex.dll");
  EXPECT_EQ(adremove::LibraryPath("/home/u/.config/quillon", '/'),
            "/home/u/.config/quillon/Tarvex.dll");
  EXPECT_EQ(adremove::LibraryPath("/", '/'), "/Tarvex.dll");
  EXPECT_EQ(adremove::LibraryPath("C:/x/", '\\'), "C:/x/\\Tarvex.dll");  // only the system's own
}

TEST(ArgumentString, DropsProgramNameAndOneSeparator) {
  EXPECT_EQ(adremove::ArgumentString(nullptr), nullptr);
  EXPECT_STREQ(adremove::ArgumentString("adremove.exe"), "");
  EXPECT_STREQ(adremove::ArgumentString("adremove.exe "), "");
  EXPECT_STREQ(adremove::ArgumentString("adremove.exe   "), "  ");
  EXPECT_STREQ(adremove::ArgumentString("adremove.exe \"C:\\a b\""), "\"C:\\a b\"");
  EXPECT_STREQ(adremove::ArgumentString("\"C:\\Program Files\\adremove.exe\" x y"), "x y");
  EXPECT_STREQ(adremove::ArgumentString("\"C:\\Program Files\\adremove.exe\"x"), "x");
  EXPECT_STREQ(adremove::ArgumentString("adremove.exe\t\tx"), "\tx");
  EXPECT_STREQ(adremove::ArgumentString("\"unclosed name"), "");
}

// Fake system calls that log what the launcher asked for.
class FakeSystem : public adremove::System {
 public:
  std::optional<std::string> dir = "C:\\WINDOWS";
  char separator = '\\';
  bool loads = true;
  bool exports = true;
  int32_t result = 0;

  std::vector<std::string> calls;
  std::string loadedPath;
  static inline std::string received;
  static inline int32_t nextResult = 0;

  const char* WindowsDirectory() override {
    calls.push_back("dir");
    return dir ? dir->c_str() : nullptr;
  }
  char Separator() const override { return separator; }
  void* Load(const char* path) override {
    calls.push_back("load");
    loadedPath = path;
    return loads ? this : nullptr;
  }
  adremove::UninstallFn Find(void* library, const char* name) override {
    calls.push_back(std::string("find ") + name);
    EXPECT_EQ(library, this);
    nextResult = result;
    return exports ? &Uninstall : nullptr;
  }
  void Unload(void* library) override {
    calls.push_back("unload");
    EXPECT_EQ(library, this);
  }
  static int32_t Uninstall(char* line) {
    received = line;
    return nextResult;
  }
};

int32_t RunWith(FakeSystem& sys, std::optional<std::string> line) {
  FakeSystem::received = "(not called)";
  if (!line) return adremove::Run(nullptr, sys);
  line->push_back('\0');
  return adremove::Run(line->data(), sys);
}

TEST(Run, NoOrEmptyCommandLineTouchesNothing) {
  FakeSystem sys;
  EXPECT_EQ(RunWith(sys, std::nullopt), 3);
  EXPECT_EQ(RunWith(sys, ""), 3);
  EXPECT_TRUE(sys.calls.empty());
}

TEST(Run, CallsTheExportWithTheTrimmedLineAndUnloads) {
  FakeSystem sys;
  sys.result = 1000;  // a result of 1000 is the module's own, passed on whole
  EXPECT_EQ(RunWith(sys, "  \"C:\\Program Files\\x\" "), 1000);
  EXPECT_EQ(FakeSystem::received, "C:\\Program Files\\x");
  EXPECT_EQ(sys.loadedPath, "C:\\WINDOWS\\Tarvex.dll");
  EXPECT_EQ(sys.calls,
            (std::vector<std::string>{"dir", "load", "find PellicoUninstall", "unload"}));

  sys.result = -2147483647 - 1;
  EXPECT_EQ(RunWith(sys, "   "), sys.result);
  EXPECT_EQ(FakeSystem::received, "");  // only blanks: called with an empty string
}

TEST(Run, DriveRootGetsNoSecondBackslash) {
  FakeSystem sys;
  sys.dir = "C:\\";
  EXPECT_EQ(RunWith(sys, "x"), 0);
  EXPECT_EQ(sys.loadedPath, "C:\\Tarvex.dll");
}

TEST(Run, FailuresGive1000) {
  FakeSystem missing;
  missing.loads = false;
  EXPECT_EQ(RunWith(missing, "x"), 1000);
  EXPECT_EQ(missing.calls, (std::vector<std::string>{"dir", "load"}));  // nothing to unload

  FakeSystem noExport;
  noExport.exports = false;
  EXPECT_EQ(RunWith(noExport, "x"), 1000);
  EXPECT_EQ(FakeSystem::received, "(not called)");
  EXPECT_EQ(noExport.calls.back(), "unload");

  FakeSystem noDir;
  noDir.dir.reset();
  EXPECT_EQ(RunWith(noDir, "x"), 1000);
  EXPECT_EQ(noDir.calls, (std::vector<std::string>{"dir"}));
}

// The Linux program, run as a process. ADREMOVE_BIN is the build's bin folder.
class Program : public ::testing::Test {
 protected:
  qltest::TempDir tmp;
  std::string windir = tmp / "windows";
  std::map<std::string, std::optional<std::string>> env;  // nullopt removes a variable

  void SetUp() override {
    std::filesystem::create_directory(windir);
    env["QL_WINDOWS_DIR"] = windir;
    env["ADREMOVE_RECORD"] = tmp / "record";
    env["ADREMOVE_MODULE_PATH"] = tmp / "module";
    env["ADREMOVE_RESULT"] = std::nullopt;
  }

  static std::string Bin(const std::string& name) { return std::string(ADREMOVE_BIN) + "/" + name; }

  void Install(const std::string& module, const std::string& dir) {
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(Bin(module), dir + "/Tarvex.dll",
                               std::filesystem::copy_options::overwrite_existing);
  }
  void InstallTestModule() { Install("libadremove_testmodule.so", windir); }

  // Runs adremove with these arguments and returns its exit status.
  int Launch(const std::vector<std::string>& args) {
    std::filesystem::remove(tmp / "record");
    std::filesystem::remove(tmp / "module");
    std::vector<std::string> argStore{Bin("adremove")};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
      std::string kv = *e;
      if (!env.count(kv.substr(0, kv.find('=')))) envStore.push_back(kv);
    }
    for (const auto& [k, v] : env)
      if (v) envStore.push_back(k + "=" + *v);
    std::vector<char*> argv, envp;
    for (auto& a : argStore) argv.push_back(a.data());
    for (auto& e : envStore) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }
  std::optional<std::string> Received() {
    if (!std::filesystem::exists(tmp / "record")) return std::nullopt;
    return qltest::ReadFile(tmp / "record");
  }
  std::string ModuleLoaded() { return qltest::ReadFile(tmp / "module"); }
};

// Linux keeps only the low 8 bits of an exit code: 1000 arrives as 232.
constexpr int kLoadFailedStatus = 1000 & 0xff;

TEST_F(Program, NoCommandLineGives3) {
  InstallTestModule();
  EXPECT_EQ(Launch({}), 3);
  EXPECT_EQ(Launch({""}), 3);
  EXPECT_EQ(Received(), std::nullopt);
}

TEST_F(Program, LibraryThatCannotServeGives1000) {
  EXPECT_EQ(Launch({"x"}), kLoadFailedStatus);  // missing

  qltest::WriteFile(windir + "/Tarvex.dll", "MZ not a library");
  EXPECT_EQ(Launch({"x"}), kLoadFailedStatus);

  Install("libadremove_noexport.so", windir);
  EXPECT_EQ(Launch({"x"}), kLoadFailedStatus);

  // Loaded by path only: a Tarvex.dll on the library search path is not found.
  std::filesystem::remove(windir + "/Tarvex.dll");
  Install("libadremove_testmodule.so", tmp / "elsewhere");
  env["LD_LIBRARY_PATH"] = tmp / "elsewhere";
  EXPECT_EQ(Launch({"x"}), kLoadFailedStatus);
  EXPECT_EQ(Received(), std::nullopt);
}

TEST_F(Program, ResultBecomesTheExitCode) {
  InstallTestModule();
  for (int result : {0, 7, 255}) {
    env["ADREMOVE_RESULT"] = std::to_string(result);
    EXPECT_EQ(Launch({"x"}), result);
    EXPECT_EQ(Received(), "x");
  }
  env["ADREMOVE_RESULT"] = "-1";
  EXPECT_EQ(Launch({"x"}), 255);
  env["ADREMOVE_RESULT"] = "300";
  EXPECT_EQ(Launch({"x"}), 300 & 0xff);
}

TEST_F(Program, PassesTheTrimmedCommandLine) {
  InstallTestModule();
  struct Case {
    std::vector<std::string> args;
    std::string received;
  } cases[] = {
      {{"\"/opt/Quillon Player/uninst.dat\""}, "/opt/Quillon Player/uninst.dat"},
      {{"\"/opt/Quillon", "Player/uninst.dat\""}, "/opt/Quillon Player/uninst.dat"},
      {{"/S  "}, "/S  "},
      {{"   "}, ""},
      {{"", ""}, ""},  // two empty arguments join to one blank
      {{"\"/opt/Quillon Player"}, "/opt/Quillon Player"},
      {{"  \"a\"  "}, "a"},
      {{"a", "", "b"}, "a  b"},
      {{"\t\"a\"\t"}, "\t\"a\"\t"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Launch(c.args), 0);
    EXPECT_EQ(Received(), c.received) << "first argument [" << c.args[0] << "]";
  }
}

TEST_F(Program, FindsTheWindowsDirectory) {
  InstallTestModule();
  EXPECT_EQ(Launch({"x"}), 0);
  EXPECT_EQ(ModuleLoaded(), windir + "/Tarvex.dll");

  env["QL_WINDOWS_DIR"] = windir + "/";  // no second separator
  EXPECT_EQ(Launch({"x"}), 0);
  EXPECT_EQ(ModuleLoaded(), windir + "/Tarvex.dll");

  env["QL_WINDOWS_DIR"] = "";  // empty counts as unset
  env["XDG_CONFIG_HOME"] = tmp / "config";
  Install("libadremove_testmodule.so", tmp / "config/quillon");
  EXPECT_EQ(Launch({"x"}), 0);
  EXPECT_EQ(ModuleLoaded(), tmp / "config/quillon/Tarvex.dll");

  env["XDG_CONFIG_HOME"] = std::nullopt;
  env["HOME"] = tmp / "home";
  EXPECT_EQ(Launch({"x"}), kLoadFailedStatus);
  Install("libadremove_testmodule.so", tmp / "home/.config/quillon");
  EXPECT_EQ(Launch({"x"}), 0);
  EXPECT_EQ(ModuleLoaded(), tmp / "home/.config/quillon/Tarvex.dll");
}

}  // namespace
