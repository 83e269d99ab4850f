// The CD-extraction window on a generated disc image: the grid, selection, the output kinds,
// playback through the chain on the memory device, recording to wave and MP3 files, the disc
// store and a CDDB lookup against the test server.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <cstring>
#include <functional>
#include <memory>

#include "CDDB.h"
#include "CDRipper.h"
#include "CdImage.h"
#include "GuiTest.h"
#include "MMControls.h"
#include "NetTestSupport.h"
#include "Profile.h"
#include "RipperWindowFixture.h"
#include "Settings.h"
#include "StringGrid.h"
#include "TestFiles.h"

using namespace std::chrono_literals;

namespace {

TEST_F(RipperWindow, ListsTheTracksOfTheDiscAndKeepsTheHeaderOutOfSelections) {
  auto w = Make();
  TStringGrid& g = *w->Grid;
  EXPECT_EQ(w->windowTitle(), "Quillon Trackwell Release 1.09");
  ASSERT_EQ(g.RowCount(), 4);
  ASSERT_EQ(g.ColCount(), 7);
  const char* headers[] = {"Track", "Select", "Name", "Saved As", "Start", "Time", "Size (kB)"};
  for (int c = 0; c < 7; ++c) EXPECT_EQ(g.Cell(c, 0), headers[c]);
  EXPECT_EQ(g.Cell(0, 1), "1");
  EXPECT_EQ(g.Cell(2, 1), "01");
  EXPECT_EQ(g.Cell(2, 3), "03");
  // 300 sectors = 4 s from 00:02 (the lead-in), 37 sectors from 00:06, 75 from 00:06.
  EXPECT_EQ(g.Cell(4, 1), "00:02");
  EXPECT_EQ(g.Cell(5, 1), "00:04");
  EXPECT_EQ(g.Cell(6, 1), QString::number(300 * 2352 / 1024));
  EXPECT_EQ(g.Cell(5, 3), "00:01");
  char key[16];
  std::snprintf(key, sizeof key, "%x", w->FCDReader.DiscKey());
  EXPECT_EQ(w->DiscSection, key);
  EXPECT_TRUE(w->DevicesPresent);
  EXPECT_EQ(w->cbDevice->count(), 1);

  w->miSelectAllClick();
  for (int r = 1; r < 4; ++r) EXPECT_EQ(g.Cell(1, r), "Yes");
  EXPECT_EQ(g.Cell(1, 0), "Select");
  g.SetRow(2);
  w->gmiInvertSelectionClick();
  EXPECT_EQ(g.Cell(1, 1), "");
  EXPECT_EQ(g.Cell(1, 0), "Select");
  w->gmiSelectTrackClick();
  EXPECT_EQ(g.Cell(1, 2), "Yes");
  // Shift+click toggles the focused row, Ctrl+click selects every row.
  QMouseEvent shift(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                    Qt::LeftButton, Qt::ShiftModifier);
  w->GridMouseDown(&shift);
  EXPECT_EQ(g.Cell(1, 2), "");
  QMouseEvent ctrl(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                   Qt::LeftButton, Qt::ControlModifier);
  w->GridMouseDown(&ctrl);
  for (int r = 1; r < 4; ++r) EXPECT_EQ(g.Cell(1, r), "Yes");
  EXPECT_EQ(g.Cell(1, 0), "Select");

  // Only the Name column may be edited.
  g.setCurrentCell(1, TFormCDRipper::colName);
  EXPECT_TRUE(g.item(1, TFormCDRipper::colName)->flags() & Qt::ItemIsEditable);
  g.setCurrentCell(1, TFormCDRipper::colTrack);
  EXPECT_FALSE(g.item(1, TFormCDRipper::colTrack)->flags() & Qt::ItemIsEditable);
  EXPECT_FALSE(g.item(0, TFormCDRipper::colName)->flags() & Qt::ItemIsEditable);

  // Too narrow a window snaps back to 639 pixels.
  w->resize(400, 600);
  QApplication::processEvents();
  EXPECT_EQ(w->width(), 639);

  QDir().mkpath(QL_SCREENSHOT_DIR);
  w->resize(760, 560);
  QApplication::processEvents();
  w->grab().save(QL_SCREENSHOT_DIR "/cdripper.png");
}

TEST_F(RipperWindow, ADriveWithoutADiscShowsTheMessageAndSelectsNothing) {
  setenv("QL_CD_IMAGES", (dir / "missing.cue").c_str(), 1);
  auto w = Make();
  TStringGrid& g = *w->Grid;
  ASSERT_EQ(g.RowCount(), 1);
  ASSERT_EQ(g.ColCount(), 1);
  EXPECT_EQ(g.Cell(0, 0), "No CD is in the device or a corrupt CD in the device.");
  EXPECT_FALSE(g.isEnabled());
  w->miSelectAllClick();
  w->gmiInvertSelectionClick();
  w->gmiSelectTrackClick();
  EXPECT_EQ(g.Cell(0, 0), "No CD is in the device or a corrupt CD in the device.");
  EXPECT_EQ(g.Cell(1, 0), "");
  w->sbPlayClick();
  EXPECT_FALSE(w->Playing);
  w->sbNextClick();
  w->sbPreviousClick();
  EXPECT_EQ(g.Row(), 0);

  // The disc appears: the drive watch loads it by itself.
  setenv("QL_CD_IMAGES", img.cue.c_str(), 1);
  std::string bin = qltest::ReadFile(img.bin);
  qltest::WriteFile(dir / "missing.bin", bin);
  std::string cue = qltest::ReadFile(img.cue);
  cue.replace(cue.find("disc.bin"), 8, "missing.bin");
  qltest::WriteFile(dir / "missing.cue", cue);
  ASSERT_TRUE(SpinUntil([&] { return g.RowCount() == 4; }, 5s)) << g.Cell(0, 0).toStdString();
  EXPECT_TRUE(g.isEnabled());
}

TEST_F(RipperWindow, EjectOpensAndClosesTheTrayAndTheGridFollows) {
  auto w = Make();
  ASSERT_EQ(w->Grid->RowCount(), 4);
  w->sbEject->click();
  EXPECT_EQ(w->FCDReader.DeviceStatus(), cdsDoorOpen);
  ASSERT_TRUE(SpinUntil([&] { return w->Grid->RowCount() == 1; }, 5s));
  EXPECT_EQ(w->Grid->Cell(0, 0), "No CD is in the device or a corrupt CD in the device.");
  w->MenuItemEject->trigger();
  EXPECT_NE(w->FCDReader.DeviceStatus(), cdsDoorOpen);
  ASSERT_TRUE(SpinUntil([&] { return w->Grid->RowCount() == 4; }, 5s));
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 1), "01");
}

TEST_F(RipperWindow, WithoutAnyDriveTheGridSaysThereIsNoDisc) {
  unsetenv("QL_CD_IMAGES");
  auto w = Make();
  if (w->FCDReader.NumDevices() > 0) GTEST_SKIP() << "this machine has a CD drive";
  EXPECT_FALSE(w->DevicesPresent);
  EXPECT_EQ(w->Grid->Cell(0, 0), "No CD is in the device or a corrupt CD in the device.");
  w->sbPlayClick();
  w->sbRecordOneClick();
  w->SaveCD1Click();
  EXPECT_FALSE(w->Playing || w->Recording);
}

TEST_F(RipperWindow, OutputKindsRebindRecordAndTheLabel) {
  auto w = Make();
  EXPECT_EQ(w->lblOutput->text(), "Wave");
  EXPECT_TRUE(w->miOutputWave->isChecked());
  w->miOutputBladeEnc->trigger();
  EXPECT_EQ(w->lblOutput->text(), "BladeEnc MP3 Encoder");
  EXPECT_EQ(w->lblOutput->width(), 241);
  EXPECT_TRUE(w->miOutputBladeEnc->isChecked());
  EXPECT_FALSE(w->miOutputWave->isChecked());
  w->miOutputExternal->trigger();
  EXPECT_EQ(w->lblOutput->text(), "External MP3 Encoder");
  EXPECT_FALSE(w->miOutputBladeEnc->isChecked());
  w->miOutputLameEncClick();
  EXPECT_EQ(w->lblOutput->text(), "Lame MP3 Encoder");
  w->miOutputWave->trigger();
  EXPECT_EQ(w->lblOutput->text(), "Wave");
  EXPECT_EQ(w->OutputKind(), TFormCDRipper::okWave);

  // Hints off: no control of the window keeps a tooltip; the dialogs' controls follow.
  EXPECT_FALSE(w->spinPitch->toolTip().isEmpty());
  w->miHintsOn->trigger();
  EXPECT_FALSE(w->miHintsOn->isChecked());
  for (QWidget* c : w->findChildren<QWidget*>())
    EXPECT_TRUE(c->toolTip().isEmpty()) << c->objectName().toStdString();
  for (QWidget* c : w->FormCDDBSettings->findChildren<QWidget*>())
    EXPECT_TRUE(c->toolTip().isEmpty());
  w->miHintsOn->trigger();
  EXPECT_EQ(w->spinPitch->toolTip(),
            "The pich value, changes the frequenzy. 0 = original pitch, -50 = half pitch, 50 = "
            "double pitch.");
}

TEST_F(RipperWindow, PlaybackChainFollowsTheOptionsAndRepeatWrapsToTheFirstTrack) {
  auto w = Make();
  auto& s = *w->FormSettings;
  s.SetEqualizer(false);
  s.SetPitch(false);
  s.SetVolume(false);
  s.SetTimeStretch(false);
  w->SetDSPValues();
  EXPECT_EQ(w->FWaveOut->GetInput(), &w->RingBuffer);
  EXPECT_TRUE(w->PanelDSP->isHidden());
  // Pitch and time stretch exclude each other in the options.
  s.SetEqualizer(true);
  s.SetVolume(true);
  s.SetPitch(true);
  w->SetDSPValues();
  EXPECT_EQ(w->Pitch.GetInput(), &w->RingBuffer);
  EXPECT_EQ(w->Volume.GetInput(), &w->Pitch);
  EXPECT_EQ(w->Equalizer.GetInput(), &w->Volume);
  EXPECT_EQ(w->FWaveOut->GetInput(), &w->Equalizer);
  EXPECT_TRUE(w->PanelHalfSpeed->isHidden());
  s.SetTimeStretch(true);
  EXPECT_FALSE(s.Pitch());
  w->SetDSPValues();
  EXPECT_EQ(w->Volume.GetInput(), &w->RingBuffer);
  EXPECT_EQ(w->Metronome.GetInput(), &w->Volume);
  EXPECT_EQ(w->Equalizer.GetInput(), &w->Metronome);
  EXPECT_EQ(w->FWaveOut->GetInput(), &w->Equalizer);
  EXPECT_FALSE(w->PanelDSP->isHidden());
  EXPECT_TRUE(w->PanelPitch->isHidden());

  // Play the second track to its end: the window goes idle again.
  w->Grid->SetRow(2);
  w->sbPlay->click();
  EXPECT_TRUE(w->Playing);
  EXPECT_FALSE(w->sbStop->isHidden());
  EXPECT_TRUE(w->sbPlay->isHidden());
  EXPECT_TRUE(w->MenuItemStop->isEnabled());
  ASSERT_TRUE(SpinUntil([&] { return !w->Playing; }, 10s));
  EXPECT_FALSE(w->sbPlay->isHidden());
  EXPECT_TRUE(g_ui->Texts().empty());

  // Repeat on the last track wraps to track 1.
  w->Grid->SetRow(3);
  w->sbRepeatClick();
  EXPECT_TRUE(w->RepeatOn());
  w->sbPlayClick();
  ASSERT_TRUE(SpinUntil([&] { return w->Playing && w->Grid->Row() == 1; }, 10s));
  EXPECT_EQ(w->CurrentTrack, 0);
  w->sbStopClick();
  QApplication::processEvents();
  EXPECT_FALSE(w->Playing);
  EXPECT_FALSE(w->RepeatOn());
  EXPECT_FALSE(w->sbPlay->isHidden());
}

TEST_F(RipperWindow, NextAndPreviousWhilePlayingMoveThePlayback) {
  setenv("QL_WAVEOUT", "memory", 1);  // at the audio's own pace: the tracks last
  auto w = Make();
  w->Grid->SetRow(1);
  w->sbPlayClick();
  ASSERT_TRUE(w->Playing);
  QApplication::processEvents();
  w->sbNext->click();
  // The stop of the first track must not end the playback of the second.
  for (int i = 0; i < 20; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_TRUE(w->Playing);
  EXPECT_EQ(w->Grid->Row(), 2);
  EXPECT_EQ(w->CurrentTrack, 1);
  EXPECT_TRUE(w->FWaveOut->State() & TMMWaveOut::stPlaying);
  w->sbPreviousClick();
  for (int i = 0; i < 20; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_TRUE(w->Playing);
  EXPECT_EQ(w->CurrentTrack, 0);
  ASSERT_TRUE(SpinUntil([&] { return w->tt->Number() == 1 && w->level1->Peak() > 0; }, 3s));
  w->sbStop->click();
  QApplication::processEvents();
  EXPECT_FALSE(w->Playing);
  EXPECT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];
}

TEST_F(RipperWindow, RecordsOneTrackAndTheSelectedTracksToTheirOwnFiles) {
  auto w = Make();
  SetOutput(*w);
  w->dfsArtist->setText("Band");
  w->dfsTitle->setText("Live");
  w->Grid->SetCell(TFormCDRipper::colName, 1, "Intro");
  w->Grid->SetCell(TFormCDRipper::colName, 3, "Last/One");
  w->FormSettings->SetAddNumber(true);
  w->Grid->SetRow(1);
  w->sbRecord->click();
  EXPECT_TRUE(w->Recording);
  EXPECT_FALSE(w->GaugeRecord->isHidden());
  w->grab().save(QL_SCREENSHOT_DIR "/cdripper-recording.png");
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 20s)) << g_ui->Texts().size();
  const std::string first = out + "/Band-Live-01-Intro.wav";
  EXPECT_TRUE(WaveData(first) == Track(0)) << WaveData(first).size();
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 1), "Band-Live-01-Intro.wav");
  TIniFile settings(work + "/QuillonTrackwell.ini");
  EXPECT_EQ(settings.ReadString(w->DiscSection, "f0", ""), "Band-Live-01-Intro.wav");
  EXPECT_TRUE(w->GaugeRecord->isHidden());
  EXPECT_FALSE(w->sbRecord->isHidden());

  // Tracks 1 and 3 selected: each lands in its own file; track 2 is not recorded.
  w->Grid->SetCell(TFormCDRipper::colSelect, 1, "Yes");
  w->Grid->SetCell(TFormCDRipper::colSelect, 3, "Yes");
  std::remove(first.c_str());
  // The wave format is chosen once per window (CD audio as it is), then the options are saved.
  AnswerNextModal("btnOK");
  AnswerNextModal("pbOK");
  w->MenuItemRecordall->trigger();
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording && !w->BatchMode; }, 30s));
  EXPECT_TRUE(WaveData(first) == Track(0)) << WaveData(first).size();
  EXPECT_TRUE(WaveData(out + "/Band-Live-03-Last-One.wav") == Track(2));
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 3), "Band-Live-03-Last-One.wav");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 2), "");
  EXPECT_FALSE(qltest::Run("test -e '" + out + "/Band-Live-02-02.wav'") == 0);
  EXPECT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];

  // Delete stored track removes the file and clears the cell and the key.
  w->Grid->SetRow(3);
  w->miDeleteSavedTrackClick();
  EXPECT_NE(qltest::Run("test -e '" + out + "/Band-Live-03-Last-One.wav'"), 0);
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 3), "");
  EXPECT_EQ(settings.ReadString(w->DiscSection, "f2", "x"), "");
}

TEST_F(RipperWindow, RecordingNeedsAnExistingOutputDirectory) {
  auto w = Make();
  w->FormSettings->SetOutputDirectory(out);
  rmdir(out.c_str());
  w->sbRecordOneClick();
  EXPECT_FALSE(w->Recording);
  ASSERT_FALSE(g_ui->Texts().empty());
  EXPECT_EQ(g_ui->Texts().back(),
            "Error! Invalid directory. Please select directory from the dialog General Settings.");
  // The batch commands start nothing and leave no batch behind.
  g_ui->Clear();
  w->miEncodeAllClick();
  w->miExtMP3EncoderAllClick();
  EXPECT_EQ(g_ui->Texts().size(), 2u);
  EXPECT_FALSE(w->BatchMode || w->EncodeAll || w->ExternalAll || w->Recording);
}

TEST_F(RipperWindow, ARecordingThatCannotStartShowsWhyAndGoesBackToIdle) {
  auto w = Make();
  SetOutput(*w);
  w->FormSettings->SetAddArtist(false);
  w->FormSettings->SetAddTitle(false);
  w->FormSettings->SetAddNumber(false);
  // The files cannot be made: folders have their names.
  mkdir((out + "/01.wav").c_str(), 0755);
  mkdir((out + "/01.mp3").c_str(), 0755);
  w->Grid->SetRow(1);
  // Wave output: the name is refused before anything starts.
  w->sbRecord->click();
  EXPECT_FALSE(w->Recording);
  ASSERT_FALSE(g_ui->Texts().empty());
  EXPECT_EQ(g_ui->Texts().back(), "Error reading wave file");
  // MP3 output: the encoder fails inside the trigger's start, after the recording view is on.
  w->miOutputBladeEnc->trigger();
  g_ui->Clear();
  w->sbRecord->click();
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 5s));
  QApplication::processEvents();
  ASSERT_FALSE(g_ui->Texts().empty());
  EXPECT_NE(g_ui->Texts().back().find("Unable to create file"), std::string::npos)
      << g_ui->Texts().back();
  EXPECT_FALSE(w->sbRecord->isHidden());
  EXPECT_TRUE(w->GaugeRecord->isHidden());
  EXPECT_TRUE(w->MenuItemPlay->isEnabled());
}

TEST_F(RipperWindow, EncodesATrackToMp3ThroughTheEncoderLibrary) {
  auto w = Make();
  SetOutput(*w);
  w->FormSettings->SetAddArtist(false);
  w->FormSettings->SetAddTitle(false);
  w->FormSettings->SetAddNumber(false);
  w->miOutputBladeEnc->trigger();
  // The file carries the names the window shows.
  w->dfsArtist->setText("Band");
  w->dfsTitle->setText("Live");
  w->Grid->SetRow(1);
  w->sbRecord->click();
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 20s));
  const std::string mp3 = out + "/01.mp3";
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 1), "01.mp3");
  std::string pcm = dir / "decoded.raw";
  ASSERT_EQ(qltest::Run("ffmpeg -v error -y -i '" + mp3 + "' -f s16le -ac 2 '" + pcm + "'"), 0);
  // Exactly the 4 seconds of the track: the encoder's delay and padding are in the file.
  EXPECT_EQ(qltest::ReadFile(pcm).size(), 4u * 176400);
  std::string tags;
  ASSERT_EQ(qltest::RunCapture(
                "ffprobe -v error -show_entries format_tags -of default=nw=1 '" + mp3 + "'", &tags),
            0);
  EXPECT_NE(tags.find("TAG:artist=Band\n"), std::string::npos) << tags;
  EXPECT_NE(tags.find("TAG:album=Live\n"), std::string::npos) << tags;
  EXPECT_NE(tags.find("TAG:track=1/"), std::string::npos) << tags;
  EXPECT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];
}

TEST_F(RipperWindow, SavedDiscComesBackWithItsNamesAndTheWindowSettings) {
  std::string section;
  {
    auto w = Make();
    section = w->DiscSection;
    // Artist or title empty: nothing of the disc is written.
    w->SaveCD1Click();
    ASSERT_FALSE(g_ui->Texts().empty());
    EXPECT_EQ(g_ui->Texts()[0],
              "Can not save ini files. A CD can not have the fields Artist and Title empty.");
    EXPECT_FALSE(TIniFile("cdplayer.ini").SectionExists(w->DiscSection));
    g_ui->Clear();

    w->dfsArtist->setText("Band");
    w->dfsTitle->setText("Live");
    w->Grid->SetCell(TFormCDRipper::colName, 1, "Intro");
    w->Grid->SetCell(TFormCDRipper::colName, 2, "Middle");
    w->sl[3]->setValue(7);
    w->sl[11]->setValue(-4);
    w->miOutputBladeEnc->trigger();
    w->resize(800, 600);
    QApplication::processEvents();
    w->SaveCD1Click();
    EXPECT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];
    TIniFile discs("cdplayer.ini");
    EXPECT_EQ(discs.ReadString(w->DiscSection, "artist", ""), "Band");
    // Each index is followed by one space (the reader trims it, the file holds it).
    EXPECT_NE(qltest::ReadFile(win + "/cdplayer.ini").find("order=0 1 2 \r\n"), std::string::npos)
        << qltest::ReadFile(win + "/cdplayer.ini");
    EXPECT_EQ(discs.ReadString(w->DiscSection, "numtracks", ""), "3");
    EXPECT_EQ(discs.ReadString(w->DiscSection, "EntryType", ""), "1");
    EXPECT_EQ(discs.ReadString(w->DiscSection, "1", ""), "Middle");
    EXPECT_EQ(discs.ReadString(w->DiscSection, "2", ""), "03");
    TIniFile settings(work + "/QuillonTrackwell.ini");
    EXPECT_TRUE(settings.ValueExists(w->DiscSection, "f2"));
    EXPECT_EQ(settings.ReadString("OPTIONS: SETTINGS", "EQ3", ""), "7");
    EXPECT_EQ(settings.ReadString("OPTIONS: SETTINGS", "miOutputBladeEnc", ""), "1");
    EXPECT_EQ(settings.ReadString("OPTIONS: SETTINGS", "Width", ""), "800");
    // The DSP save writes the drive type as an index over the dialog's text.
    EXPECT_EQ(settings.ReadString("OPTIONS: SETTINGS", "DeviceType", ""), "0");
  }
  // A stored empty name keeps the grid's default.
  TIniFile("cdplayer.ini").WriteString(section, "2", "");
  auto w = Make();
  EXPECT_EQ(w->dfsArtist->text(), "Band");
  EXPECT_EQ(w->dfsTitle->text(), "Live");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 1), "Intro");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 2), "Middle");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 3), "03");
  EXPECT_EQ(w->sl[3]->value(), 7);
  EXPECT_EQ(w->sl[11]->value(), -4);
  EXPECT_EQ(w->lblOutput->text(), "BladeEnc MP3 Encoder");
  EXPECT_EQ(w->width(), 800);
  EXPECT_TRUE(w->DiscLoaded);

  // Loading is refused while playing.
  w->Grid->SetRow(1);
  w->sbPlayClick();
  ASSERT_TRUE(w->Playing);
  w->MenuItemLoadClick();
  EXPECT_EQ(g_ui->Texts().back(),
            "Quillon Trackwell can not load saved data while it is recording or playing");
  w->sbStopClick();
}

TEST_F(RipperWindow, NamesTheDiscFromTheCddbServer) {
  // Tracks of 300, 37 and 1 sectors: disc ID 0e000403.
  img = qltest::WriteCdImage(dir.path(), "named", {{300}, {37}, {1}});
  setenv("QL_CD_IMAGES", img.cue.c_str(), 1);
  std::string db = dir / "db";
  ASSERT_EQ(qltest::Run("mkdir -p '" + db + "/rock'"), 0);
  qltest::WriteFile(db + "/rock/0e000403",
                    "# xmcd\r\n#\r\n# Track frame offsets:\r\n#\t150\r\n#\t450\r\n#\t487\r\n#\r\n"
                    "# Disc length: 6 seconds\r\n#\r\nDISCID=0e000403\r\nDTITLE=Some One / A Disc"
                    "\r\nTTITLE0=First\r\nTTITLE1=Second\r\nTTITLE2=Third\r\nEXTD=\r\nEXTT0=\r\n"
                    "EXTT1=\r\nEXTT2=\r\nPLAYORDER=\r\n");
  auto server = qltest::StartCddbServer(db);
  ASSERT_TRUE(server->running());
  // Entries fetched are cached: here, not in the user's cache.
  setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  TIniFile settings(work + "/QuillonTrackwell.ini");
  {
    // Without a user the lookup is refused.
    settings.WriteString("OPTIONS: CDDB Settings", "UserName", "");
    auto w = Make();
    // ... and the CDDB options are opened for the address.
    bool asked = false;
    QTimer::singleShot(0, [&] {
      if (QWidget* m = QApplication::activeModalWidget()) {
        asked = m->objectName() == "FormCDDBSettings";
        static_cast<QDialog*>(m)->reject();
      }
    });
    w->GetdatafromMMCDDBClick();
    ASSERT_FALSE(g_ui->Texts().empty());
    EXPECT_EQ(g_ui->Texts().back(), "Invalid e-mail address");
    EXPECT_TRUE(asked);
    EXPECT_TRUE(w->FCDDB.GetEmail().empty());
  }
  settings.WriteString("OPTIONS: CDDB Settings", "Protocol", "CDDBP");
  settings.WriteString("OPTIONS: CDDB Settings", "UserName", "me");
  settings.WriteString("OPTIONS: CDDB Settings", "UserHost", "example.org");
  settings.WriteString("OPTIONS: CDDB Settings", "CDDBHost",
                       "127.0.0.1:" + std::to_string(server->port()));
  auto w = Make();
  EXPECT_EQ(w->FCDDB.GetEmail(), "me@example.org");
  g_ui->Clear();
  w->GetdatafromMMCDDBClick();
  EXPECT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];
  EXPECT_EQ(w->dfsArtist->text(), "Some One");
  EXPECT_EQ(w->dfsTitle->text(), "A Disc");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 1), "First");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 3), "Third");
  EXPECT_TRUE(w->isEnabled());
  // A server that refuses: its own line in an error box, and the names stay as they were.
  auto refusing = qltest::StartCddbServer(db, {"--force", "query=500 Unknown developer email"});
  ASSERT_TRUE(refusing->running());
  w->FCDDB.SetPort(refusing->port());
  w->FCDDB.SetCacheDir("");  // the disc is in the cache now: ask the server
  w->dfsArtist->setText("Mine");
  g_ui->Clear();
  w->GetdatafromCDDB->trigger();
  ASSERT_FALSE(g_ui->Texts().empty());
  EXPECT_EQ(g_ui->Texts().back(), "500 Unknown developer email");
  EXPECT_EQ(w->dfsArtist->text(), "Mine");
  EXPECT_EQ(w->dfsTitle->text(), "A Disc");
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 1), "First");
  EXPECT_TRUE(w->isEnabled());
  unsetenv("XDG_CACHE_HOME");
}

}  // namespace

namespace {

TEST_F(RipperWindow, RecordsInTheStoredWaveFormatThroughTheConverter) {
  // 22.05 kHz mono 8-bit, stored as the chosen wave format: two stages from CD audio.
  TWaveFormatEx f{};
  pcmBuildFormat(&f, 8, 1, 22050);
  qltest::WriteFile(work + "/QuillonTrackwell.bin",
                    std::string(reinterpret_cast<const char*>(&f), sizeof f));
  auto w = Make();
  SetOutput(*w);
  w->FormSettings->SetAddArtist(false);
  w->FormSettings->SetAddTitle(false);
  w->FormSettings->SetAddNumber(false);
  w->Grid->SetRow(1);
  w->sbRecordOneClick();
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 20s));
  EXPECT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];
  const std::string file = out + "/01.wav";
  std::string probe = dir / "probe.txt";
  ASSERT_EQ(qltest::Run("ffprobe -v error -show_entries stream=sample_rate,channels,codec_name "
                        "-of default=nw=1 '" +
                        file + "' > '" + probe + "'"),
            0);
  std::string p = qltest::ReadFile(probe);
  EXPECT_NE(p.find("codec_name=pcm_u8"), std::string::npos) << p;
  EXPECT_NE(p.find("sample_rate=22050"), std::string::npos) << p;
  EXPECT_NE(p.find("channels=1"), std::string::npos) << p;
  // 4 seconds at 22050 bytes a second.
  EXPECT_NEAR(double(WaveData(file).size()), 4 * 22050.0, 64.0);
}

TEST_F(RipperWindow, HandsTheRecordedWaveToTheExternalEncoder) {
  // The "encoder" copies the wave to the MP3 name; the job then deletes the wave.
  TIniFile settings(work + "/QuillonTrackwell.ini");
  settings.WriteString("Externa MP3 Encoder", "Name", "copy");
  settings.WriteString("Externa MP3 Encoder copy", "Program", "/bin/cp");
  settings.WriteString("Externa MP3 Encoder copy", "Arguments", "$1 $2");
  auto w = Make();
  SetOutput(*w);
  w->FormSettings->SetAddArtist(false);
  w->FormSettings->SetAddTitle(false);
  w->FormSettings->SetAddNumber(false);
  w->Grid->SetCell(TFormCDRipper::colName, 3, "My Song");
  w->Grid->SetRow(3);
  w->miOutputExternal->trigger();
  AnswerNextModal("pbOK");
  w->sbRecord->click();
  ASSERT_TRUE(w->Recording);
  ASSERT_TRUE(SpinUntil(
      [&] {
        return !w->Recording && w->EncodersRunning == 0 &&
               qltest::Run("test -e '" + out + "/My_Song.mp3'") == 0 &&
               qltest::Run("test -e '" + out + "/My_Song.wav'") != 0;
      },
      20s));
  EXPECT_TRUE(WaveData(out + "/My_Song.mp3") == Track(2));
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 3), "My_Song.mp3");
  EXPECT_EQ(settings.ReadString(w->DiscSection, "f2", ""), "My_Song.mp3");
  ASSERT_TRUE(SpinUntil([&] { return w->lblEncodersRunning->text() == "0"; }, 5s));
  // The encoder dialog's lists are kept in the work directory.
  EXPECT_EQ(qltest::ReadFile(work + "/extenc.ini").find("/bin/cp"), 0u);
}

TEST_F(RipperWindow, GeneralOptionsChangeThePanelsOnlyWhenSaved) {
  auto w = Make();
  ASSERT_FALSE(w->PanelEqualizer->isHidden());
  auto untick = [](QWidget* dialog) {
    dialog->findChild<QCheckBox*>("cbEqualizer")->setChecked(false);
    dialog->findChild<QCheckBox*>("cbAddNumber")->setChecked(false);
  };
  // Cancel: the stages come back, the naming option keeps the user's change.
  w->FormSettings->SetAddNumber(true);
  AnswerNextModal("pbCancel", untick);
  w->miDSPSettingsClick();
  EXPECT_TRUE(w->FormSettings->Equalizer());
  EXPECT_FALSE(w->FormSettings->AddNumber());
  EXPECT_FALSE(w->PanelEqualizer->isHidden());
  AnswerNextModal("pbOK", untick);
  w->miDSPSettings->trigger();
  EXPECT_TRUE(w->PanelEqualizer->isHidden());
  EXPECT_NE(w->FWaveOut->GetInput(), &w->Equalizer);
  EXPECT_EQ(
      TIniFile(work + "/QuillonTrackwell.ini").ReadString("OPTIONS: SETTINGS", "Equalizer", ""),
      "0");
}

TEST_F(RipperWindow, ClosingSavesTheDiscWhenTheOptionsSayAlways) {
  auto w = Make();
  w->FormSettings->SetSaveOnExit(true);
  w->dfsArtist->setText("Band");
  w->dfsTitle->setText("Live");
  std::string section = w->DiscSection;
  w->MenuItemExitClick();
  EXPECT_TRUE(w->isHidden());
  EXPECT_EQ(TIniFile("cdplayer.ini").ReadString(section, "title", ""), "Live");
}

}  // namespace
TEST_F(RipperWindow, KeepsItsWidthThroughPlayAndStopAndItsColumnsFitTheirTexts) {
  auto w = Make();
  QApplication::processEvents();
  ASSERT_EQ(w->width(), 639);
  w->Grid->SetRow(1);
  for (int round = 0; round < 2; ++round) {
    w->sbPlayClick();
    QApplication::processEvents();
    EXPECT_TRUE(w->sbRepeat->isVisible());
    w->sbStopClick();
    QApplication::processEvents();
    // Repeat belongs to playing; the idle window has its width of before.
    EXPECT_FALSE(w->sbRepeat->isVisible());
    EXPECT_EQ(w->width(), 639);
  }
  // Every header and a five-digit size fit their columns, and the grid needs no scroll bar.
  TStringGrid& g = *w->Grid;
  const QFontMetrics fm(g.font());
  for (int c = 0; c < TFormCDRipper::kColumns; ++c)
    EXPECT_GT(g.ColWidth(c), fm.horizontalAdvance(g.Cell(c, 0))) << c;
  EXPECT_GT(g.ColWidth(TFormCDRipper::colSize), fm.horizontalAdvance("99999"));
  int total = 0;
  for (int c = 0; c < TFormCDRipper::kColumns; ++c) total += g.ColWidth(c);
  EXPECT_LE(total, g.viewport()->width());
  EXPECT_FALSE(g.horizontalScrollBar()->isVisible());
}

TEST_F(RipperWindow, NamesFromTheDiscsTextWhereTheStoreHasNoneAndTheReadOffsetCorrection) {
  // A disc whose cue sheet names it: the grid and the edits show the names the store lacks.
  img = qltest::WriteCdImage(dir.path(), "named", {{300, "Opening", "Guest"}, {37}, {75, "Coda"}},
                             false, "The Album", "The Band");
  setenv("QL_CD_IMAGES", img.cue.c_str(), 1);
  {
    auto w = Make();
    EXPECT_EQ(w->dfsArtist->text(), "The Band");
    EXPECT_EQ(w->dfsTitle->text(), "The Album");
    EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 1), "Opening");
    EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 2), "02");
    EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 3), "Coda");
    // The store wins where it has a name.
    w->Grid->SetCell(TFormCDRipper::colName, 1, "Stored");
    w->dfsTitle->setText("Stored Title");
    w->SaveCD1Click();
  }
  {
    auto w = Make();
    EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 1), "Stored");
    EXPECT_EQ(w->dfsTitle->text(), "Stored Title");
    EXPECT_EQ(w->dfsArtist->text(), "The Band");
    EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colName, 3), "Coda");

    // A read offset of +100 samples: track 1 comes out 400 bytes later on the disc; the
    // option is stored with the general options.
    SetOutput(*w);
    w->FormSettings->SetAddArtist(false);
    w->FormSettings->SetAddTitle(false);
    w->FormSettings->SetAddNumber(false);
    w->FormSettings->SetReadOffset(100);
    w->FormSettings->SaveSettings(work + "/QuillonTrackwell.ini");
    EXPECT_EQ(
        TIniFile(work + "/QuillonTrackwell.ini").ReadInteger("OPTIONS: SETTINGS", "ReadOffset", 0),
        100);
    w->Grid->SetRow(1);
    w->sbRecord->click();
    ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 20s));
    const std::string bin = qltest::ReadFile(img.bin);
    EXPECT_TRUE(WaveData(out + "/Stored.wav") == bin.substr(400, 300 * 2352))
        << WaveData(out + "/Stored.wav").size();
  }
}
