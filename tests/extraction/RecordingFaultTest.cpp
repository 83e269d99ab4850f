// The CD-extraction window recording onto a failing disk: a full disk, an I/O error, a short
// write, a failed flush, rename or creation at the Nth call into the output folder, N walking
// until the recording no longer reaches the fault. An earlier file of the track's name stays as
// it was, nothing half-written is left, the user is told which file failed, and Saved As names
// no file that was not written; a take that survives the fault is the whole track.
#include <chrono>

#include "FaultWalk.h"
#include "RipperWindowFixture.h"
#include "StringGrid.h"

using namespace std::chrono_literals;

namespace {

class RecordingFaults : public RipperWindow {};

TEST_F(RecordingFaults, AFailingDiskKeepsTheEarlierTrackAndSaysWhichFile) {
  QL_RUN_WITH_FAULT_INJECTOR();
  auto w = Make();
  SetOutput(*w);
  w->FormSettings->SetAddArtist(false);
  w->FormSettings->SetAddTitle(false);
  w->FormSettings->SetAddNumber(false);
  const std::string track = out + "/01.wav";
  qltest::WriteToneWav(dir / "earlier.wav", 0.2);
  const std::string earlier = qltest::ReadFile(dir / "earlier.wav");
  qltest::InjectedFaults faults(out, dir / "faults.log");
  for (const qltest::FaultKind& kind : qltest::kSaveFaults) {
    long n = 1, failed = 0;
    for (; n < 5000; n += n < 8 ? 1 : n / 4) {
      qltest::WriteFile(track, earlier);
      w->Grid->SetCell(TFormCDRipper::colSavedAs, 1, "");
      g_ui->Clear();
      faults.Arm(kind.variable, n, kind.error);
      w->Grid->SetRow(1);
      w->sbRecordOneClick();
      // A failed write closes the file at once; the take ends when the trigger has stopped.
      const bool ended = SpinUntil(
          [&] {
            return !w->Recording &&
                   !(w->Trigger.State() & (TMMTrigger::stOpen | TMMTrigger::stPlaying));
          },
          30s);
      faults.Disarm();
      ASSERT_TRUE(ended);
      QApplication::processEvents();
      const std::string hits = faults.Hits();
      SCOPED_TRACE(std::string(kind.variable) + "=" + std::to_string(n) + ":" + kind.error + " " +
                   hits);
      EXPECT_TRUE(qltest::Temporaries(out).empty()) << qltest::Temporaries(out)[0];
      const std::vector<std::string> texts = g_ui->Texts();
      const std::string now = qltest::ReadFile(track);
      if (now == earlier) {
        ++failed;
        ASSERT_FALSE(hits.empty()) << "the track was not recorded without any fault";
        ASSERT_EQ(texts.size(), 1u) << "a failed recording reported nothing";
        // The file that could not be written, and why; a file that could not be made at all
        // gives the wave file's own texts.
        EXPECT_TRUE(texts[0].find(track) != std::string::npos ||
                    texts[0] == "Unable to create wave file" ||
                    texts[0] == "Unable to setup file IO buffer")
            << texts[0];
        EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 1), "");
      } else {
        // Recorded whole despite the fault (a short write is finished by the next one; the
        // folder's flush comes after the rename), or the fault was not reached.
        EXPECT_TRUE(WaveData(track) == Track(0)) << "a damaged take under the track's name";
        // A fault that hit the log, cue sheet or playlist after the take is told as theirs.
        const bool sideFault = hits.find(".log") != std::string::npos ||
                               hits.find(".cue") != std::string::npos ||
                               hits.find(".m3u") != std::string::npos;
        if (sideFault && !texts.empty()) {
          EXPECT_EQ(texts.size(), 1u);
          EXPECT_NE(texts[0].find("could not be written"), std::string::npos) << texts[0];
          EXPECT_NE(texts[0].find(".log"), std::string::npos) << texts[0];
        } else {
          EXPECT_TRUE(texts.empty()) << texts[0];
        }
        EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 1), "01.wav");
      }
      if (hits.empty()) break;
    }
    std::printf("[   walk   ] %s:%s reached up to call %ld, %ld takes failed\n", kind.variable,
                kind.error, n - 1, failed);
    EXPECT_GT(n, 1) << kind.variable << " was never reached";
    EXPECT_LT(n, 5000);
  }
}

}  // namespace
