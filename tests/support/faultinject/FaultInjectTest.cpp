// The fault injector's switches, each on the probe program as a separate process.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <filesystem>
#include <string>
#include <vector>

#include "FaultInject.h"
#include "TestFiles.h"

namespace {

struct Result {
  int rc = 0;
  std::string out;
};

// Runs the probe under the injector with the given settings ("NAME=value ..."), scoped to dir.
Result Probe(const qltest::TempDir& dir, const std::string& settings, const std::string& kind,
             const std::string& file, int count) {
  const std::string cmd =
      "env ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + std::string(QL_FAULTINJECT_PATH) +
      " QL_FAULT_DIR='" + dir.path() + "' QL_FAULT_LOG='" + (dir / "faults.log") + "' " + settings +
      " " + QL_FAULT_PROBE_PATH + " " + kind + " '" + (dir / file) + "' " + std::to_string(count);
  Result r;
  r.rc = qltest::RunCapture(cmd, &r.out);
  return r;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

long long Size(const std::string& path) {
  std::error_code ec;
  auto n = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<long long>(n);
}

TEST(FaultInject, TheNthWriteFailsInEveryWriteCall) {
  for (const char* kind : {"write", "pwrite", "writev", "fwrite", "ofstream"}) {
    SCOPED_TRACE(kind);
    qltest::TempDir dir;
    Result r = Probe(dir, "QL_FAULT_WRITE=3", kind, "out.bin", 5);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, Lines({"1 ok", "2 ok", "3 ENOSPC", "4 ok", "5 ok"}));
    // pwrite writes each piece at its own place: the failed one leaves a hole. A C++ file
    // stream keeps the piece it could not write and writes it with the next one.
    const std::string k = kind;
    EXPECT_EQ(Size(dir / "out.bin"), k == "pwrite" || k == "ofstream" ? 500 : 400);
    EXPECT_NE(qltest::ReadFile(dir / "faults.log").find("write 3 ENOSPC " + dir.path()),
              std::string::npos);
  }
}

TEST(FaultInject, OnwardFailuresChosenErrorsAndShortWrites) {
  qltest::TempDir dir;
  EXPECT_EQ(Probe(dir, "QL_FAULT_WRITE=2+:EIO", "write", "a", 4).out,
            Lines({"1 ok", "2 EIO", "3 EIO", "4 EIO"}));
  EXPECT_EQ(Probe(dir, "QL_FAULT_WRITE=2:SHORT", "writev", "b", 3).out,
            Lines({"1 ok", "2 short 50", "3 ok"}));
  EXPECT_EQ(Size(dir / "b"), 250);
  EXPECT_EQ(Probe(dir, "QL_FAULT_WRITE=1:28", "pwrite", "c", 2).out, Lines({"1 ENOSPC", "2 ok"}));
}

TEST(FaultInject, CallsOutsideTheFolderOrOfOtherProgramsAreNeverTouched) {
  qltest::TempDir dir, elsewhere;
  // The probe's own standard output is outside the folder: it still reports every line.
  Result r = Probe(dir, "QL_FAULT_WRITE=1+ QL_FAULT_DIR='" + elsewhere.path() + "'", "write",
                   "out.bin", 3);
  EXPECT_EQ(r.out, Lines({"1 ok", "2 ok", "3 ok"}));
  r = Probe(dir, "QL_FAULT_WRITE=1+ QL_FAULT_PROGRAM=another", "write", "out.bin", 2);
  EXPECT_EQ(r.out, Lines({"1 ok", "2 ok"}));
  r = Probe(dir, "QL_FAULT_WRITE=1+ QL_FAULT_PROGRAM=ql_fault_probe", "write", "out.bin", 2);
  EXPECT_EQ(r.out, Lines({"1 ENOSPC", "2 ENOSPC"}));
}

TEST(FaultInject, ReadsFailAtTheNthCallOrAtABadSpot) {
  for (const char* kind : {"read", "pread", "fread"}) {
    SCOPED_TRACE(kind);
    qltest::TempDir dir;
    qltest::WriteFile(dir / "in.bin", std::string(1000, 'a'));
    EXPECT_EQ(Probe(dir, "QL_FAULT_READ=2", kind, "in.bin", 3).out,
              Lines({"1 ok", "2 EIO", "3 ok"}));
    // Byte 550 lies in the sixth 100-byte piece, and stays bad when read again.
    EXPECT_EQ(Probe(dir, "QL_FAULT_READ_AT=550", kind, "in.bin", 7).out,
              Lines({"1 ok", "2 ok", "3 ok", "4 ok", "5 ok", "6 EIO", "7 ok"}));
  }
}

TEST(FaultInject, OpensForWritingFailButOpensForReadingAreNotCounted) {
  qltest::TempDir dir;
  Result r = Probe(dir, "QL_FAULT_OPEN=1", "open", "new.txt", 2);
  EXPECT_EQ(r.out, Lines({"1 ENOSPC", "2 ok", "0 ok"}));
  qltest::TempDir dir2;
  r = Probe(dir2, "QL_FAULT_OPEN=1+:EIO", "open", "new.txt", 1);
  EXPECT_EQ(r.out, Lines({"1 EIO", "0 ENOENT"}));  // never created
  EXPECT_EQ(Size(dir2 / "new.txt"), -1);
}

TEST(FaultInject, SyncsAndRenamesFail) {
  qltest::TempDir dir;
  EXPECT_EQ(Probe(dir, "QL_FAULT_FSYNC=2", "fsync", "f", 3).out, Lines({"1 ok", "2 EIO", "3 ok"}));
  EXPECT_EQ(Probe(dir, "QL_FAULT_FSYNC=1:ENOSPC", "fdatasync", "f", 2).out,
            Lines({"1 ENOSPC", "2 ok"}));
  qltest::WriteFile(dir / "r", "keep");
  // rename() there, renameat() back: the second call fails and leaves the moved name alone.
  EXPECT_EQ(Probe(dir, "QL_FAULT_RENAME=2", "rename", "r", 3).out,
            Lines({"1 ok", "2 ENOSPC", "3 ok"}));
  EXPECT_EQ(qltest::ReadFile(dir / "r"), "keep");
}

TEST(FaultInject, KillEndsTheProcessBeforeTheNthWrite) {
  qltest::TempDir dir;
  Result r = Probe(dir, "QL_FAULT_KILL_WRITE=3", "write", "out.bin", 5);
  EXPECT_NE(r.rc, 0);
  EXPECT_EQ(r.out, Lines({"1 ok", "2 ok"}));
  EXPECT_EQ(Size(dir / "out.bin"), 200);
  EXPECT_NE(qltest::ReadFile(dir / "faults.log").find("kill 3 SIGKILL"), std::string::npos);
}

// A test program that holds the injector arms it by an argument, again and again, without
// touching its environment.
TEST(FaultInject, ArmedInsideTheProgramByAnArgument) {
  using ArmFn = void (*)(const char*);
  auto arm = reinterpret_cast<ArmFn>(dlsym(RTLD_DEFAULT, QL_FAULT_ARM_SYMBOL));
  if (!arm) {
    // Not preloaded here: the test runs again in a child that is.
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    const std::string cmd =
        "exec env ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" QL_FAULTINJECT_PATH " '" +
        std::string(self) + "' --gtest_filter=FaultInject.ArmedInsideTheProgramByAnArgument";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    return;
  }
  qltest::TempDir dir, other;
  // Three writes of two bytes: each one's count, or minus its errno.
  auto writes = [](const std::string& path) {
    std::vector<int> r;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int i = 0; i < 3; ++i) {
      ssize_t n = write(fd, "ab", 2);
      r.push_back(n < 0 ? -errno : static_cast<int>(n));
    }
    close(fd);
    return r;
  };
  const std::vector<int> clean{2, 2, 2}, second{2, -EIO, 2};
  EXPECT_EQ(writes(dir / "a"), clean);
  const std::string settings = "QL_FAULT_DIR=" + dir.path() + "\nQL_FAULT_LOG=" + (other / "log") +
                               "\nQL_FAULT_WRITE=2:EIO\n";
  arm(settings.c_str());
  EXPECT_EQ(writes(dir / "a"), second);
  EXPECT_EQ(writes(other / "b"), clean);  // outside the scope
  arm(settings.c_str());                  // the counts start again
  EXPECT_EQ(writes(dir / "a"), second);
  arm((settings + "QL_FAULT_PROGRAM=someone-else\n").c_str());
  EXPECT_EQ(writes(dir / "a"), clean);
  arm(nullptr);
  EXPECT_EQ(writes(dir / "a"), clean);
  EXPECT_EQ(qltest::ReadFile(other / "log"),
            "write 2 EIO " + dir / "a\nwrite 2 EIO " + dir / "a\n");
  EXPECT_EQ(std::getenv("QL_FAULT_WRITE"), nullptr);
}

}  // namespace
