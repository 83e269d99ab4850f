// The CD-extraction window killed in the middle of a recording or a save (a power cut, kill -9):
// the window runs in a child process with the fault injector, which kills it before its Nth
// write. No half-written file ever lies under the track's name (an earlier file of that name
// stays as it was), each store is old or new, and the next start of the window removes the
// leftovers.
#include <sys/wait.h>

#include <QLineEdit>

#include <chrono>
#include <csignal>
#include <filesystem>

#include "FaultWalk.h"
#include "MMControls.h"
#include "Profile.h"
#include "RipperWindowFixture.h"
#include "StringGrid.h"

using namespace std::chrono_literals;

namespace {

class RecordingKill : public RipperWindow {
 protected:
  // The child's part: record track 1 into the folder the parent names; exits 0 when done.
  void RecordAsChild(const std::string& folder) {
    auto w = Make();
    w->FormSettings->SetOutputDirectory(folder);
    w->FormSettings->SetAddArtist(false);
    w->FormSettings->SetAddTitle(false);
    w->FormSettings->SetAddNumber(false);
    w->Grid->SetRow(1);
    w->sbRecordOneClick();
    ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 60s));
    ASSERT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];
  }

  // Runs this test as a child that records into out and is killed before its nth write there
  // (0: not killed). Returns the wait status.
  int RunChild(long n) {
    setenv("QL_RECORD_CHILD_IMAGE", img.cue.c_str(), 1);
    return qltest::RunKilledChild("QL_RECORD_CHILD_OUT=" + out, out, n, dir / "child.txt");
  }
};

TEST_F(RecordingKill, NoHalfFileUnderTheTrackNameAndTheNextStartRemovesTheLeftover) {
  if (const char* folder = std::getenv("QL_RECORD_CHILD_OUT")) {
    setenv("QL_CD_IMAGES", std::getenv("QL_RECORD_CHILD_IMAGE"), 1);
    RecordAsChild(folder);
    return;
  }
  const std::string track = out + "/01.wav";
  qltest::WriteToneWav(dir / "earlier.wav", 0.2);
  const std::string earlier = qltest::ReadFile(dir / "earlier.wav");
  int killed = 0, leftovers = 0;
  long n = 1;
  for (; n < 400; n += n < 8 ? 1 : n / 4) {
    qltest::WriteFile(track, earlier);
    const int status = RunChild(n);
    SCOPED_TRACE("killed before write " + std::to_string(n) + "\n" +
                 qltest::ReadFile(dir / "child.txt"));
    if (WIFSIGNALED(status)) {
      ASSERT_EQ(WTERMSIG(status), SIGKILL);
      ++killed;
      // Killed while the take was written: the earlier file; killed while its log, cue sheet
      // or playlist was written: the whole take.
      EXPECT_TRUE(qltest::ReadFile(track) == earlier || WaveData(track) == Track(0))
          << "the track's name holds a half file";
      leftovers += !qltest::Temporaries(out).empty();
      continue;
    }
    // Not reached any more: the recording is complete.
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(WaveData(track) == Track(0));
    EXPECT_TRUE(qltest::Temporaries(out).empty());
    break;
  }
  RecordProperty("killed_runs", killed);
  EXPECT_GE(killed, 3) << "the recording was never killed in its middle";
  EXPECT_GT(leftovers, 0);

  // Killed once more in the middle; the next start of the window clears the folder of the
  // leftover before anything else is written there, and records the track whole.
  qltest::WriteFile(track, earlier);
  ASSERT_TRUE(WIFSIGNALED(RunChild(3)));
  ASSERT_FALSE(qltest::Temporaries(out).empty());
  qltest::WriteFile(work + "/QuillonTrackwell.ini",
                    "[OPTIONS: SETTINGS]\r\nDirectory=" + out + "\r\n");
  {
    auto w = Make();
    ASSERT_EQ(w->FormSettings->OutputDirectory(), out);
    EXPECT_TRUE(qltest::Temporaries(out).empty()) << qltest::Temporaries(out)[0];
    EXPECT_TRUE(qltest::ReadFile(track) == earlier);
    w->FormSettings->SetAddArtist(false);
    w->FormSettings->SetAddTitle(false);
    w->FormSettings->SetAddNumber(false);
    w->Grid->SetRow(1);
    w->sbRecordOneClick();
    ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 60s));
  }
  EXPECT_TRUE(WaveData(track) == Track(0));
  EXPECT_TRUE(qltest::Temporaries(out).empty());
}

TEST_F(RecordingKill, SaveCdKilledLeavesEachStoreWholeAndTheNextStartCleansUp) {
  const std::string ini = work + "/QuillonTrackwell.ini", discs = win + "/cdplayer.ini";
  if (const char* parent = std::getenv("QL_SAVE_CHILD_DIR")) {
    // The child's part: the parent's folders, the disc named and saved.
    const std::string p = parent;
    setenv("QL_WINDOWS_DIR", (p + "/win").c_str(), 1);
    setenv("QL_CD_IMAGES", std::getenv("QL_RECORD_CHILD_IMAGE"), 1);
    ASSERT_EQ(chdir((p + "/work").c_str()), 0);
    auto w = Make();
    w->dfsArtist->setText("Artist");
    w->dfsTitle->setText("Title");
    w->Grid->SetCell(TFormCDRipper::colName, 1, "First");
    w->SliderVolume->setValue(20000);
    w->SaveCD1Click();
    EXPECT_TRUE(g_ui->Texts().empty());
    return;
  }
  qltest::TempDir side;  // the child's output, outside the injector's scope
  auto restore = [&] {
    qltest::WriteFile(ini, "; mine\r\n[OPTIONS: SETTINGS]\r\nVolumeValue=7\r\n");
    qltest::WriteFile(discs, "; discs\r\n[other]\r\n0=x\r\n");
  };
  auto child = [&](long n) {
    setenv("QL_RECORD_CHILD_IMAGE", img.cue.c_str(), 1);
    return qltest::RunKilledChild("QL_SAVE_CHILD_DIR=" + dir.path(), dir.path(), n,
                                  side / "child.txt");
  };
  restore();
  const std::string oldIni = qltest::ReadFile(ini), oldDiscs = qltest::ReadFile(discs);
  ASSERT_EQ(child(0), 0) << qltest::ReadFile(side / "child.txt");
  const std::string newIni = qltest::ReadFile(ini), newDiscs = qltest::ReadFile(discs);
  ASSERT_NE(newIni, oldIni);
  ASSERT_NE(newDiscs, oldDiscs);
  int killed = 0;
  for (long n = 1; n < 50; ++n) {
    restore();
    const int status = child(n);
    SCOPED_TRACE("killed before write " + std::to_string(n));
    const std::string nowIni = qltest::ReadFile(ini), nowDiscs = qltest::ReadFile(discs);
    EXPECT_TRUE(nowIni == oldIni || nowIni == newIni) << nowIni;
    EXPECT_TRUE(nowDiscs == oldDiscs || nowDiscs == newDiscs) << nowDiscs;
    if (!WIFSIGNALED(status)) {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      break;
    }
    ++killed;
  }
  EXPECT_GE(killed, 2);  // one write per store at least
  // Killed while writing each store: the next start removes both leftovers.
  for (long n : {1, 2}) {
    restore();
    ASSERT_TRUE(WIFSIGNALED(child(n)));
  }
  ASSERT_FALSE(qltest::Temporaries(work).empty() && qltest::Temporaries(win).empty());
  auto w = Make();
  EXPECT_TRUE(qltest::Temporaries(work).empty()) << qltest::Temporaries(work)[0];
  EXPECT_TRUE(qltest::Temporaries(win).empty()) << qltest::Temporaries(win)[0];
}

}  // namespace
