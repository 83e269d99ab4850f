// The fault injector's switches, each on the probe program as a separate process.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
