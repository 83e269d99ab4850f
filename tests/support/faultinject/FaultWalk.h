#pragma once
// Fault walks over the saves of a window, inside the test program: the injector is preloaded
// into the test program itself (a test started without it runs itself again with it), and each
// step arms one fault at the Nth call, runs the user's save once and disarms it. N walks from 1
// until the save no longer reaches the fault. After every step each file the save writes holds
// its earlier bytes or the complete new ones, no temporary is left, and the user was told
// exactly when something was not saved.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FaultInject.h"
#include "ScriptedUi.h"
#include "TestFiles.h"

namespace qltest {

struct FaultKind {
  const char* variable;  // QL_FAULT_WRITE, ...
  const char* error;     // ENOSPC, EIO, SHORT
};
inline const FaultKind kSaveFaults[] = {{"QL_FAULT_WRITE", "ENOSPC"},  {"QL_FAULT_WRITE", "EIO"},
                                        {"QL_FAULT_WRITE", "SHORT"},   {"QL_FAULT_FSYNC", "EIO"},
                                        {"QL_FAULT_RENAME", "ENOSPC"}, {"QL_FAULT_OPEN", "ENOSPC"}};

using ArmFn = void (*)(const char*);

// The injector's arming entry point when the library is loaded in this process.
inline ArmFn FaultArm() {
  return reinterpret_cast<ArmFn>(dlsym(RTLD_DEFAULT, QL_FAULT_ARM_SYMBOL));
}

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string SelfPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// The command line that runs the current test again with the injector preloaded and the given
// variables ("NAME=value" each) in its environment.
inline std::string RerunCommand(const std::vector<std::string>& env) {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string(info->test_suite_name()) + "." + info->name();
  const char* asan = std::getenv("ASAN_OPTIONS");
  const char* preload = std::getenv("LD_PRELOAD");
  // A sanitized program refuses a preload ahead of its runtime unless told not to mind.
  std::string asanOptions =
      std::string(asan && *asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
  // exec: the wait status is the test program's own (a kill shows as the signal).
  std::string command = "exec env LD_PRELOAD=" +
                        ShellQuote(std::string(QL_FAULTINJECT_PATH) +
                                   (preload && *preload ? std::string(" ") + preload : "")) +
                        " ASAN_OPTIONS=" + ShellQuote(asanOptions);
  for (const auto& e : env) command += " " + ShellQuote(e);
  return command + " " + ShellQuote(SelfPath()) + " --gtest_filter=" + ShellQuote(filter);
}

// Runs the current test again in a child process with the injector preloaded; returns the
// child's exit status (0: it passed). Its output goes where this program's goes.
inline int RerunWithInjector() {
  return std::system(RerunCommand({}).c_str());
}

// Runs the current test again in a child that the injector kills before its nth write under
// scope (n 0: never); role ("NAME=value") tells the test body to play the child's part. The
// child's output goes to output. Returns the wait status.
inline int RunKilledChild(const std::string& role, const std::string& scope, long n,
                          const std::string& output) {
  const std::string self = std::filesystem::path(SelfPath()).filename().string();
  const std::string command =
      RerunCommand({role, std::string(QL_FAULT_ENV_DIR) + "=" + scope,
                    std::string(QL_FAULT_ENV_PROGRAM) + "=" + self,
                    std::string(QL_FAULT_ENV_KILL_WRITE) + "=" + std::to_string(n)}) +
      " >" + ShellQuote(output) + " 2>&1";
  return std::system(command.c_str());
}

// In a test body: with no injector in this process, the test runs in a child that has it.
#define QL_RUN_WITH_FAULT_INJECTOR()                                                      \
  do {                                                                                    \
    if (!::qltest::FaultArm()) {                                                          \
      ASSERT_EQ(::qltest::RerunWithInjector(), 0) << "the test failed with the injector"; \
      return;                                                                             \
    }                                                                                     \
  } while (0)

// One armed fault at a time, on the calls on files under scope.
class InjectedFaults {
 public:
  InjectedFaults(std::string scope, std::string log)
      : scope_(std::move(scope)), log_(std::move(log)) {}
  ~InjectedFaults() {
    Disarm();
    std::error_code ignored;
    std::filesystem::remove(log_, ignored);
  }

  void Arm(const std::string& variable, long n, const std::string& error) {
    std::filesystem::remove(log_);
    // Programs the window starts (encoders) inherit the preload; they are left alone.
    const std::string self = std::filesystem::path(SelfPath()).filename().string();
    settings_ = std::string(QL_FAULT_ENV_DIR) + "=" + scope_ + "\n" + QL_FAULT_ENV_LOG + "=" +
                log_ + "\n" + QL_FAULT_ENV_PROGRAM + "=" + self + "\n" + variable + "=" +
                std::to_string(n) + (error.empty() ? "" : ":" + error) + "\n";
    if (ArmFn f = FaultArm()) f(settings_.c_str());
  }
  void Disarm() {
    if (ArmFn f = FaultArm()) f(nullptr);
  }
  // What the injector did since the last Arm (empty: the fault was never reached).
  std::string Hits() const {
    return std::filesystem::exists(log_) ? ReadFile(log_) : std::string();
  }

 private:
  std::string scope_, log_, settings_;
};

// A file's bytes, or nothing when it does not exist.
inline std::optional<std::string> Snapshot(const std::string& path) {
  if (!std::filesystem::exists(path)) return std::nullopt;
  return ReadFile(path);
}

inline std::vector<std::string> Temporaries(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string().find(".qlpart") != std::string::npos)
      found.push_back(e.path().filename().string());
  return found;
}

struct SaveWalk {
  std::string scope;               // the folder whose files the faults hit
  std::vector<std::string> files;  // what the save writes
  // Puts the earlier files back (each must differ from what the save writes) and readies the
  // window for one more save (answers for its dialogs, for instance).
  std::function<void()> restore;
  std::function<void()> save;  // the user's save
  // Optional: a part of the save that stands on its own, run after restore; what it leaves
  // (a file saved whole by the first of two saves) is a state the walk accepts too.
  std::function<void()> part;
  // Checks the texts shown after a save that did not store everything (optional).
  std::function<void(const std::vector<std::string>&)> check_message;
};

// Walks every fault of kSaveFaults over walk.save; ui records what the user is shown.
inline void WalkSaveFaults(const SaveWalk& walk, ql::ScriptedUi& ui) {
  const std::filesystem::path scope(walk.scope);
  const std::string log = scope.parent_path() / (scope.filename().string() + ".faults");
  InjectedFaults faults(walk.scope, log);
  // The save without faults gives the complete new files.
  walk.restore();
  std::vector<std::optional<std::string>> earlier, fresh;
  for (const auto& f : walk.files) earlier.push_back(Snapshot(f));
  ui.Clear();
  walk.save();
  for (const auto& f : walk.files) fresh.push_back(Snapshot(f));
  ASSERT_TRUE(ui.Texts().empty()) << ui.Texts()[0];
  std::vector<std::optional<std::string>> part(walk.files.size());
  if (walk.part) {
    walk.restore();
    walk.part();
    for (std::size_t i = 0; i < walk.files.size(); ++i) part[i] = Snapshot(walk.files[i]);
  }
  for (std::size_t i = 0; i < walk.files.size(); ++i) {
    ASSERT_TRUE(fresh[i].has_value()) << walk.files[i] << " was not written";
    ASSERT_NE(earlier[i], fresh[i]) << "the earlier " << walk.files[i] << " must differ";
  }

  for (const FaultKind& kind : kSaveFaults) {
    long n = 1;
    for (; n < 200; ++n) {
      walk.restore();
      ui.Clear();
      faults.Arm(kind.variable, n, kind.error);
      walk.save();
      faults.Disarm();
      const std::string hits = faults.Hits();
      SCOPED_TRACE(std::string(kind.variable) + "=" + std::to_string(n) + ":" + kind.error + " " +
                   hits);
      EXPECT_TRUE(Temporaries(walk.scope).empty()) << Temporaries(walk.scope)[0];
      bool all_new = true;
      for (std::size_t i = 0; i < walk.files.size(); ++i) {
        const auto now = Snapshot(walk.files[i]);
        all_new = all_new && now == fresh[i];
        EXPECT_TRUE(now == earlier[i] || now == fresh[i] || (walk.part && now == part[i]))
            << walk.files[i] << " is neither the earlier file nor the new one:\n"
            << now.value_or("(missing)");
      }
      const std::vector<std::string> texts = ui.Texts();
      if (hits.empty()) {
        EXPECT_TRUE(all_new);
        EXPECT_TRUE(texts.empty()) << texts[0];
        break;
      }
      if (all_new) {
        // Only a fault the files survive whole may pass unsaid (a short write is finished
        // by the next one; the folder's flush comes after the rename).
        EXPECT_TRUE(texts.empty()) << "a complete save reported as failed: " << texts[0];
      } else {
        EXPECT_FALSE(texts.empty()) << "a failed save reported nothing";
        if (!texts.empty() && walk.check_message) walk.check_message(texts);
      }
    }
    std::printf("[   walk   ] %s:%s reached at calls 1-%ld\n", kind.variable, kind.error, n - 1);
    EXPECT_GT(n, 1) << kind.variable << " was never reached";
    EXPECT_LT(n, 200) << kind.variable << " was still reached at call 200";
  }
}

}  // namespace qltest
