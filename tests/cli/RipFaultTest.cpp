// trackwell rip --all under the fault injector: a full disk, a failing disk, a failed sync or
// rename. A failed track leaves no file under its name and no temporary; the others are whole.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "RipTestSupport.h"

using qltest::TempDir;
using namespace riptest;

namespace {

struct RipFault : ::testing::Test {
  TempDir dir;
  qltest::CdImage img = qltest::WriteCdImage(dir.path(), "disc", {300, 37, 150});
  std::string out = dir / "out", win = dir / "win", log = dir / "faults.log";
  std::string absOut;

  void SetUp() override {
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(win.c_str(), 0755), 0);
    char real[PATH_MAX];
    ASSERT_TRUE(realpath(out.c_str(), real));
    absOut = real;
    // An earlier good file of a name this run writes.
    qltest::WriteFile(out + "/01.wav", "earlier");
  }
  // Rips with the injector switch (e.g. "QL_FAULT_WRITE=5") on calls under the output folder.
  Result Rip(const std::string& fault, const std::string& args = "--all --dir out --json --quiet") {
    return Trackwell(dir.path(), win, "--image " + img.cue + " rip " + args,
                     "LD_PRELOAD=" QL_FAULTINJECT_PATH " QL_FAULT_DIR=" + absOut +
                         " QL_FAULT_PROGRAM=trackwell QL_FAULT_LOG=" + log + " " + fault);
  }
  std::string Track(int n) const { return ImageAudio(img, img.starts[n - 1], img.lengths[n - 1]); }
  void ExpectOnlyWholeFiles(const Summary& s) {
    for (const auto& f : ListDir(out)) {
      EXPECT_NE(f[0], '.') << "a temporary is left: " << f;
      if (f == "01.wav" && qltest::ReadFile(out + "/01.wav") == "earlier") continue;
      const int n = f[1] - '0';
      EXPECT_TRUE(WaveAudio(out + "/" + f) == Track(n)) << f;
      EXPECT_EQ(s.tracks[n - 1].status, "ok") << f;
    }
  }
};

TEST_F(RipFault, OneFailedWriteFailsThatTrackOnly) {
  Result r = Rip("QL_FAULT_WRITE=5:EIO");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(qltest::ReadFile(log).find("EIO"), std::string::npos) << "the fault was not reached";
  Summary s = ParseSummary(r.out);
  ASSERT_EQ(s.tracks.size(), 3u) << r.out << r.err;
  EXPECT_EQ(s.tracks[0].status, "failed");
  EXPECT_FALSE(s.tracks[0].reason.empty());
  EXPECT_EQ(s.tracks[1].status, "ok") << s.tracks[1].reason;
  EXPECT_EQ(s.tracks[2].status, "ok");
  EXPECT_EQ(qltest::ReadFile(out + "/01.wav"), "earlier");
  ExpectOnlyWholeFiles(s);
  EXPECT_EQ(ListDir(out), (std::vector<std::string>{"01.wav", "02.wav", "03.wav"}));
}

TEST_F(RipFault, ADiskThatStaysFullFailsEveryTrackAndWritesNothing) {
  for (const char* args :
       {"--all --dir out --json --quiet", "--all --dir out --mp3 --jobs 2 --json --quiet",
        "--all --dir out --mp3 --json --quiet"}) {
    Result r = Rip("QL_FAULT_WRITE=3+:ENOSPC", args);
    EXPECT_EQ(r.status, 1) << args;
    Summary s = ParseSummary(r.out);
    ASSERT_EQ(s.tracks.size(), 3u) << args << r.out << r.err;
    for (const auto& t : s.tracks) {
      EXPECT_EQ(t.status, "failed") << args;
      EXPECT_FALSE(t.reason.empty()) << args;
    }
    EXPECT_EQ(ListDir(out), (std::vector<std::string>{"01.wav"})) << args;
    EXPECT_EQ(qltest::ReadFile(out + "/01.wav"), "earlier");
  }
}

TEST_F(RipFault, AFailedSyncOrRenameKeepsTheEarlierFile) {
  for (const char* fault : {"QL_FAULT_FSYNC=1:EIO", "QL_FAULT_RENAME=1:EIO"}) {
    Result r = Rip(fault);
    EXPECT_EQ(r.status, 1) << fault;
    Summary s = ParseSummary(r.out);
    ASSERT_EQ(s.tracks.size(), 3u) << fault << r.out << r.err;
    // Which track's commit comes first is the order of the background syncs: one fails.
    int failed = 0;
    for (const auto& t : s.tracks) failed += t.status == "failed";
    EXPECT_EQ(failed, 1) << fault << r.out;
    ExpectOnlyWholeFiles(s);
    unlink((out + "/02.wav").c_str());
    unlink((out + "/03.wav").c_str());
    if (qltest::ReadFile(out + "/01.wav") != "earlier")
      qltest::WriteFile(out + "/01.wav", "earlier");
  }
}

TEST_F(RipFault, AnUnreadableSectorFailsItsTrackInEveryMode) {
  // A bad spot in the image file, in track 1's sector 250: never silent zeros.
  for (const char* mode : {"normal", "burst", "sync"}) {
    SCOPED_TRACE(mode);
    unlink((out + "/02.wav").c_str());
    unlink((out + "/03.wav").c_str());
    Result r = Trackwell(
        dir.path(), win,
        "--image " + img.cue + " rip --all --dir out --json --quiet --mode " + mode,
        "LD_PRELOAD=" QL_FAULTINJECT_PATH " QL_FAULT_DIR=" + dir.path() +
            " QL_FAULT_PROGRAM=trackwell QL_FAULT_READ_AT=" + std::to_string(250 * 2352 + 5));
    EXPECT_EQ(r.status, 1);
    Summary s = ParseSummary(r.out);
    ASSERT_EQ(s.tracks.size(), 3u) << r.out << r.err;
    EXPECT_EQ(s.tracks[0].status, "failed");
    EXPECT_NE(s.tracks[0].reason.find("could not be read"), std::string::npos)
        << s.tracks[0].reason;
    EXPECT_EQ(s.tracks[0].skipped, 1);
    EXPECT_EQ(s.tracks[1].status, "ok");
    EXPECT_EQ(s.tracks[2].status, "ok");
    EXPECT_EQ(qltest::ReadFile(out + "/01.wav"), "earlier");
    ExpectOnlyWholeFiles(s);
  }
}

TEST_F(RipFault, TestAndCopyCatchesAReadThatSilentlyDiffers) {
  // Byte 11 of track 2's sector 20 reads wrong once: in the copy (2nd read), then in the test
  // read (1st). Either way the two CRCs differ, the run fails and says which track; the other
  // tracks match.
  const long long at = (img.starts[1] + 20) * 2352LL + 11;
  const std::string good = PythonCrc32(img.bin, img.starts[1] * 2352LL, img.lengths[1] * 2352LL);
  for (int nth : {2, 1}) {
    SCOPED_TRACE(nth);
    unlink(log.c_str());
    Result r = Trackwell(dir.path(), win,
                         "--image " + img.cue + " rip --all --dir out --test-and-copy --json",
                         "LD_PRELOAD=" QL_FAULTINJECT_PATH " QL_FAULT_DIR=" + dir.path() +
                             " QL_FAULT_PROGRAM=trackwell QL_FAULT_LOG=" + log +
                             " QL_FAULT_FLIP_AT=" + std::to_string(at) + ":" + std::to_string(nth));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(qltest::ReadFile(log).find("flip_at " + std::to_string(nth)), std::string::npos);
    Summary s = ParseSummary(r.out);
    ASSERT_EQ(s.tracks.size(), 3u) << r.out << r.err;
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.tracks[0].testAndCopy, "match");
    EXPECT_EQ(s.tracks[2].testAndCopy, "match");
    EXPECT_EQ(s.tracks[1].testAndCopy, "mismatch");
    EXPECT_EQ(nth == 2 ? s.tracks[1].testCrc : s.tracks[1].copyCrc, good);
    EXPECT_NE(nth == 2 ? s.tracks[1].copyCrc : s.tracks[1].testCrc, good);
    // The copy stays for the user to judge; the log and the messages say the reads differ.
    EXPECT_EQ(s.tracks[1].status, "ok");
    EXPECT_EQ(WaveAudio(out + "/02.wav") == Track(2), nth == 1);
    EXPECT_NE(r.err.find("track 2: test CRC"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("THE READS DIFFER"), std::string::npos) << r.err;
    std::string logText;
    for (const auto& f : ListDir(out, true))
      if (f.size() > 4 && f.substr(f.size() - 4) == ".log")
        logText = qltest::ReadFile(out + "/" + f);
    EXPECT_NE(logText.find("Test and copy: 1 track(s) read differently"), std::string::npos)
        << logText;
  }
  // One track to a file: the same finding fails the command.
  Result r =
      Trackwell(dir.path(), win, "--image " + img.cue + " rip --track 2 --test-and-copy -o one.wav",
                "LD_PRELOAD=" QL_FAULTINJECT_PATH " QL_FAULT_DIR=" + dir.path() +
                    " QL_FAULT_PROGRAM=trackwell QL_FAULT_FLIP_AT=" + std::to_string(at) + ":2");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("THE READS DIFFER"), std::string::npos) << r.err;
  // A sector that cannot be read fails the track in its test read: no file.
  r = Trackwell(dir.path(), win, "--image " + img.cue + " rip --track 2 --test-and-copy -o two.wav",
                "LD_PRELOAD=" QL_FAULTINJECT_PATH " QL_FAULT_DIR=" + dir.path() +
                    " QL_FAULT_PROGRAM=trackwell QL_FAULT_READ_AT=" + std::to_string(at));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("could not be read"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "two.wav"));
}

}  // namespace
