// The CD-extraction window where it used to lose or forge data: hostile names, failing
// encoders, Stop with Repeat on, cancelled dialogs, unsaved grid edits, the help pages and the
// first tick of the drive watch.
#include <sys/resource.h>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>

#include <chrono>
#include <csignal>
#include <thread>

#include "ExtMP3Encoder.h"
#include "MMControls.h"
#include "MP3Settings.h"
#include "Profile.h"
#include "RipperWindowFixture.h"
#include "StringGrid.h"

using namespace std::chrono_literals;

namespace {

// The window fixture under a suite name of its own (the fixture class is per file).
class RipperFaults : public RipperWindow {};

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

void NoNamingOptions(TFormCDRipper& w) {
  w.FormSettings->SetAddArtist(false);
  w.FormSettings->SetAddTitle(false);
  w.FormSettings->SetAddNumber(false);
}

TEST_F(RipperFaults, HostileNamesPlantNoKeyLeaveNoFolderAndNeverShareAFile) {
  auto w = Make();
  SetOutput(*w);
  NoNamingOptions(*w);
  // As a CDDB server may send them: a bare LF with a key behind it, CR LF with a section,
  // a TAB with quotes, "..", and two tracks named alike.
  w->dfsArtist->setText("Band\r\n[evil]");
  w->dfsTitle->setText("T");
  w->Grid->SetCell(TFormCDRipper::colName, 1, "Intro\nf2=victim.txt");
  w->Grid->SetCell(TFormCDRipper::colName, 2, "..");
  w->Grid->SetCell(TFormCDRipper::colName, 3, "Intro\nf2=victim.txt");
  w->SaveCD1Click();
  const std::string discs = win + "/cdplayer.ini", settings = work + "/QuillonTrackwell.ini";
  EXPECT_EQ(ql::profile::SectionNames(discs), std::vector<std::string>{w->DiscSection});
  EXPECT_EQ(ql::profile::GetString(discs, w->DiscSection, "0", ""), "Introf2=victim.txt");
  EXPECT_EQ(ql::profile::GetString(discs, w->DiscSection, "artist", ""), "Band[evil]");
  EXPECT_FALSE(ql::profile::HasKey(discs, w->DiscSection, "f2"));

  // Record all three: three files in the output folder, none hidden, none shared.
  for (int r = 1; r <= 3; ++r) w->Grid->SetCell(TFormCDRipper::colSelect, r, "Yes");
  AnswerNextModal("btnOK");
  AnswerNextModal("pbOK");
  w->MenuItemRecordall->trigger();
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording && !w->BatchMode; }, 30s));
  EXPECT_TRUE(WaveData(out + "/Introf2=victim.txt.wav") == Track(0));
  EXPECT_TRUE(WaveData(out + "/02.wav") == Track(1));
  EXPECT_TRUE(WaveData(out + "/Introf2=victim.txt (2).wav") == Track(2));
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 3), "Introf2=victim.txt (2).wav");
  EXPECT_EQ(ql::profile::GetString(settings, w->DiscSection, "f2", ""),
            "Introf2=victim.txt (2).wav");
  std::string listing;
  qltest::RunCapture("ls -A '" + out + "' | sort | tr '\\n' '|'", &listing);
  EXPECT_EQ(listing,
            "02.wav|Band[evil] - T.cue|Band[evil] - T.log|Band[evil] - T.m3u|"
            "Introf2=victim.txt (2).wav|Introf2=victim.txt.wav|");
  // The names reach the cue sheet without their line breaks.
  const std::string cue = qltest::ReadFile(out + "/Band[evil] - T.cue");
  EXPECT_NE(cue.find("\nPERFORMER \"Band[evil]\"\n"), std::string::npos) << cue;
  EXPECT_NE(cue.find("\n    TITLE \"Introf2=victim.txt\"\n"), std::string::npos) << cue;

  // A saved-as value planted in the store outside the output folder is never deleted.
  qltest::WriteFile(dir / "victim.txt", "precious");
  ql::profile::WriteString(settings, w->DiscSection, "f0", "../victim.txt");
  w->MenuItemLoadClick();
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 1), "");
  w->Grid->SetCell(TFormCDRipper::colSavedAs, 1, "../victim.txt");
  w->Grid->SetRow(1);
  w->miDeleteSavedTrackClick();
  EXPECT_EQ(qltest::ReadFile(dir / "victim.txt"), "precious");
  EXPECT_EQ(ql::profile::GetString(settings, w->DiscSection, "f0", "x"), "");
}

TEST_F(RipperFaults, AFailingEncoderKeepsTheWaveWhichSavedAsThenNames) {
  TIniFile settings(work + "/QuillonTrackwell.ini");
  settings.WriteString("Externa MP3 Encoder", "Name", "broken");
  settings.WriteString("Externa MP3 Encoder broken", "Program", "/bin/false");
  settings.WriteString("Externa MP3 Encoder broken", "Arguments", "$1 $2");
  auto w = Make();
  SetOutput(*w);
  NoNamingOptions(*w);
  w->Grid->SetRow(2);
  w->miOutputExternal->trigger();
  AnswerNextModal("pbOK");
  w->sbRecord->click();
  ASSERT_TRUE(w->Recording);
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording && !g_ui->Texts().empty(); }, 20s));
  ASSERT_TRUE(SpinUntil([&] { return w->lblEncodersRunning->text() == "0"; }, 5s));
  EXPECT_TRUE(WaveData(out + "/02.wav") == Track(1));
  EXPECT_FALSE(Exists(out + "/02.mp3"));
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 2), "02.wav");
  EXPECT_EQ(settings.ReadString(w->DiscSection, "f1", ""), "02.wav");
  ASSERT_EQ(g_ui->Texts().size(), 1u);
  EXPECT_EQ(g_ui->Texts()[0],
            "External MP3 encoder failed! \"/bin/false\" exited with code 1; "
            "the wave file \"" +
                out + "/02.wav\" was kept.");
}

TEST_F(RipperFaults, StopEndsARecordingAlsoWhileRepeatIsOn) {
  // One long track, so Stop comes long before its end.
  img = qltest::WriteCdImage(dir.path(), "long", {{9000}});
  setenv("QL_CD_IMAGES", img.cue.c_str(), 1);
  auto w = Make();
  SetOutput(*w);
  NoNamingOptions(*w);
  w->sbRepeatClick();
  ASSERT_TRUE(w->RepeatOn());
  // Recording runs as fast as the image is read: each read waits a little, so the track
  // lasts long enough for a Stop in the middle.
  w->FCDReader.OnDataRead = [](TMMDSPComponent*) {
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  };
  w->Grid->SetRow(1);
  w->sbRecordOneClick();
  ASSERT_TRUE(w->Recording);
  // Some buffers in (a second or so of audio), then Stop.
  ASSERT_TRUE(SpinUntil([&] { return w->FramesRead >= 5 || !w->Recording; }, 20s));
  ASSERT_TRUE(w->Recording);
  w->sbStopClick();
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 20s));
  EXPECT_FALSE(w->RepeatOn());
  // A valid, shorter file, named by Saved As.
  std::string data = WaveData(out + "/01.wav");
  EXPECT_LT(data.size(), Track(0).size());
  EXPECT_GE(data.size(), 2u * 35280);
  EXPECT_TRUE(data == Track(0).substr(0, data.size()))
      << data.size() << " at " << Track(0).find(data.substr(0, 4096)) << " of " << Track(0).size();
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 1), "01.wav");
  w->FCDReader.OnDataRead = nullptr;
}

TEST_F(RipperFaults, CancelledDialogsEndTheirCommandsAndBatchesUseTheStoredMp3Options) {
  auto w = Make();
  SetOutput(*w);
  NoNamingOptions(*w);
  w->Grid->SetRow(1);
  // The encoder dialog was saved once; Cancel now still ends the command.
  w->FormExtMP3Encoder->dfsProgram->setCurrentText("/bin/cp");
  w->FormExtMP3Encoder->pbSaveClick();
  AnswerNextModal("pbCancel");
  w->miExtMP3EncoderClick();
  EXPECT_FALSE(w->Recording);
  EXPECT_FALSE(w->ExternalOutput);
  EXPECT_FALSE(Exists(out + "/01.wav"));
  // "Record selected" with the encoder library takes the MP3 options as a single Encode does.
  w->FormMP3Settings->SetBitRateIndex(2);  // 48 kbit/s
  w->Grid->SetCell(TFormCDRipper::colSelect, 3, "Yes");
  AnswerNextModal("pbOK");
  AnswerNextModal("btnOK");
  w->miEncodeAllClick();
  EXPECT_EQ(w->MP3Encoder.GetBitrate(), TMMBitrates(2));
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording && !w->BatchMode; }, 30s));
  EXPECT_TRUE(Exists(out + "/03.mp3"));
}

TEST_F(RipperFaults, ANameBeingEditedIsSavedAndRecordedAndHelpIsThere) {
  auto w = Make();
  SetOutput(*w);
  NoNamingOptions(*w);
  w->Grid->SetRow(2);
  w->Grid->SetEditableColumn(TFormCDRipper::colName);
  w->Grid->SetEditing(true);
  w->Grid->setCurrentCell(2, TFormCDRipper::colName);
  w->Grid->editItem(w->Grid->item(2, TFormCDRipper::colName));
  QApplication::processEvents();
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  editor->setText("Typed");
  w->dfsArtist->setText("A");
  w->dfsTitle->setText("T");
  w->miSaveCD->trigger();
  EXPECT_EQ(ql::profile::GetString(win + "/cdplayer.ini", w->DiscSection, "1", ""), "Typed");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 2), "Typed");
  // The help pages are a resource of the program.
  EXPECT_TRUE(QFile(":/help/qlcdext.html").exists());
}

TEST_F(RipperFaults, TheFirstDriveWatchTickKeepsNamesMadeAfterOpening) {
  auto w = Make();
  // A lookup right after opening named the disc.
  w->dfsArtist->setText("Looked Up");
  w->Grid->SetCell(TFormCDRipper::colName, 1, "Found");
  w->LongTimerTimer();
  w->LongTimerTimer();
  EXPECT_EQ(w->dfsArtist->text(), "Looked Up");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 1), "Found");
}

TEST_F(RipperFaults, ClosingADiscNeverNamedShowsNoErrorBox) {
  auto w = Make();
  w->FormSettings->SetSaveOnExit(true);
  w->SliderVolume->setValue(12345);
  w->MenuItemExitClick();
  EXPECT_TRUE(w->isHidden());
  EXPECT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];
  EXPECT_EQ(
      TIniFile(work + "/QuillonTrackwell.ini").ReadInteger("OPTIONS: SETTINGS", "VolumeValue", 0),
      12345);
  EXPECT_FALSE(ql::profile::HasKey(win + "/cdplayer.ini", w->DiscSection, "artist"));
}

TEST_F(RipperFaults, ADataTrackIsRefusedWithItsMessageAndNothingIsNamed) {
  img = qltest::WriteCdImage(dir.path(), "mixed", {qltest::DataTrack(50), 60});
  setenv("QL_CD_IMAGES", img.cue.c_str(), 1);
  auto w = Make();
  SetOutput(*w);
  NoNamingOptions(*w);
  w->Grid->SetRow(1);
  w->sbRecordOneClick();
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 10s));
  ASSERT_FALSE(g_ui->Texts().empty());
  EXPECT_EQ(g_ui->Texts()[0], "Track 1 is a data track: it holds no audio");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 1), "");
  EXPECT_FALSE(Exists(out + "/01.wav"));
  // The audio track next to it records as ever.
  g_ui->Clear();
  w->Grid->SetRow(2);
  w->sbRecordOneClick();
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 10s));
  EXPECT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];
  EXPECT_TRUE(WaveData(out + "/02.wav") == Track(1));
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 2), "02.wav");
}

}  // namespace

// A disk that fills up while a batch records: the process may write no file larger than
// 400 KiB (a real write error, EFBIG, as a full disk gives ENOSPC). Track 1 (300 sectors,
// 705,600 bytes) cannot be written whole.
TEST_F(RipperFaults, AFullDiskStopsTheBatchWithAMessageAndNamesNoFile) {
  auto w = Make();
  SetOutput(*w);
  NoNamingOptions(*w);
  qltest::WriteToneWav(out + "/01.wav", 0.5);
  const std::string earlier = qltest::ReadFile(out + "/01.wav");
  for (int r = 1; r <= 3; ++r) w->Grid->SetCell(TFormCDRipper::colSelect, r, "Yes");
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 400 * 1024;
  auto oldSignal = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  AnswerNextModal("btnOK");  // the wave format
  AnswerNextModal("pbOK");   // the options
  w->MenuItemRecordall->trigger();
  const bool ended = SpinUntil([&] { return !w->Recording && !w->BatchMode; }, 20s);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldSignal);
  ASSERT_TRUE(ended);
  QApplication::processEvents();
  // The user is told which file could not be written, and why.
  ASSERT_FALSE(g_ui->Texts().empty());
  const std::string shown = g_ui->Texts().back();
  EXPECT_NE(shown.find(out + "/01.wav"), std::string::npos) << shown;
  // The earlier file is as it was, nothing half-written lies beside it, and the batch did
  // not go on to the other tracks.
  EXPECT_TRUE(qltest::ReadFile(out + "/01.wav") == earlier);
  std::string listing;
  qltest::RunCapture("ls -A '" + out + "' | grep -v '^01.wav$' | sort | tr '\\n' '|'", &listing);
  EXPECT_EQ(listing, "disc 0e000503.cue|disc 0e000503.log|disc 0e000503.m3u|");
  // The log tells the failure; the cue sheet and the playlist name no file.
  const std::string log = qltest::ReadFile(out + "/disc 0e000503.log");
  EXPECT_NE(log.find("Status:     failed ("), std::string::npos) << log;
  EXPECT_EQ(log.find("Status:     ok"), std::string::npos) << log;
  EXPECT_EQ(qltest::ReadFile(out + "/disc 0e000503.cue").find("FILE"), std::string::npos);
  EXPECT_EQ(qltest::ReadFile(out + "/disc 0e000503.m3u"), "#EXTM3U\n");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 1), "");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 2), "");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 3), "");
}
