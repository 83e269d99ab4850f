// What the CD-extraction window leaves beside the files it records: the log (the CRC-32 of the
// audio read, each track's range, status and file), the cue sheet and the playlist; a stopped
// track, a log that cannot be written, the AccurateRip check against a loopback server, and
// the CDDB entry's year and genre in the MP3 tags.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <thread>

#include "CDRipper.h"
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

class RipperRun : public RipperWindow {
 protected:
  // Band / Live, tracks Intro, Middle, Last; file names "NN-Name.wav".
  void Name(TFormCDRipper& w) {
    SetOutput(w);
    w.FormSettings->SetAddArtist(false);
    w.FormSettings->SetAddTitle(false);
    w.FormSettings->SetAddNumber(true);
    w.dfsArtist->setText("Band");
    w.dfsTitle->setText("Live");
    int row = 1;
    for (const char* name : {"Intro", "Middle", "Last"})
      w.Grid->SetCell(TFormCDRipper::colName, row++, name);
  }
  void RecordSelected(TFormCDRipper& w, std::initializer_list<int> rows) {
    for (int r = 1; r < w.Grid->RowCount(); ++r) w.Grid->SetCell(TFormCDRipper::colSelect, r, "");
    for (int r : rows) w.Grid->SetCell(TFormCDRipper::colSelect, r, "Yes");
    if (!w.WaveFormatChosen) AnswerNextModal("btnOK");
    AnswerNextModal("pbOK");
    w.MenuItemRecordall->trigger();
    ASSERT_TRUE(SpinUntil([&] { return !w.Recording && !w.BatchMode; }, 30s));
  }
  void RecordOne(TFormCDRipper& w, int row) {
    w.Grid->SetRow(row);
    w.sbRecord->click();
    ASSERT_TRUE(SpinUntil([&] { return !w.Recording; }, 30s));
  }
  // The log's lines for track n, up to the empty line after them.
  std::string LogEntry(const std::string& log, int n) {
    char head[16];
    std::snprintf(head, sizeof head, "Track %2d  ", n);
    const auto at = log.find(head);
    if (at == std::string::npos) return {};
    return log.substr(at, log.find("\n\n", at) - at);
  }
};

// The zip CRC-32, bit by bit.
std::uint32_t PlainCrc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string Hex(std::uint32_t v) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%08x", v);
  return buf;
}

TEST_F(RipperRun, TheLogNamesEachTrackWithTheCrcOfItsAudioAndTheCueAndPlaylistNameTheFiles) {
  // The disc's catalogue number and track 3's ISRC, as a ripper's cue sheet gives them.
  std::string sheet = qltest::ReadFile(img.cue);
  sheet.insert(0, "CATALOG 0123456789012\r\n");
  const auto track3 = sheet.find("  TRACK 03 AUDIO\r\n");
  ASSERT_NE(track3, std::string::npos) << sheet;
  sheet.insert(track3 + 18, "    ISRC USABC9900003\r\n");
  qltest::WriteFile(img.cue, sheet);
  auto w = Make();
  Name(*w);
  RecordSelected(*w, {1, 3});
  EXPECT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];
  const std::string log = qltest::ReadFile(out + "/Band - Live.log");
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.find("Source:      "), std::string::npos) << log;
  EXPECT_NE(log.find("Read mode:   normal copy\nRead offset: 0 samples\nArtist:      Band\n"
                     "Title:       Live\n"),
            std::string::npos)
      << log;
  const std::string t1 = LogEntry(log, 1), t3 = LogEntry(log, 3);
  EXPECT_NE(t1.find("Track  1  Intro\n"), std::string::npos) << t1;
  EXPECT_NE(t1.find("(300 sectors)"), std::string::npos) << t1;
  EXPECT_NE(t1.find("Status:     ok\n"), std::string::npos) << t1;
  EXPECT_NE(t1.find("CRC-32:     " + Hex(PlainCrc32(Track(0))) + "\n"), std::string::npos) << t1;
  EXPECT_NE(t1.find("Skipped sectors: 0\n"), std::string::npos) << t1;
  EXPECT_NE(t1.find("File:       01-Intro.wav"), std::string::npos) << t1;
  EXPECT_NE(t3.find("CRC-32:     " + Hex(PlainCrc32(Track(2))) + "\n"), std::string::npos) << t3;
  EXPECT_NE(t3.find("(75 sectors)"), std::string::npos) << t3;
  EXPECT_NE(t3.find("ISRC:       USABC9900003\n"), std::string::npos) << t3;
  EXPECT_NE(log.find("Catalogue:   0123456789012\n"), std::string::npos) << log;
  EXPECT_EQ(LogEntry(log, 2), "");
  EXPECT_NE(log.find("2 track(s) ripped, 0 failed."), std::string::npos) << log;
  const std::string cue = qltest::ReadFile(out + "/Band - Live.cue");
  EXPECT_NE(cue.find("PERFORMER \"Band\"\nTITLE \"Live\"\nFILE \"01-Intro.wav\" WAVE\n"
                     "  TRACK 01 AUDIO\n    TITLE \"Intro\"\n    INDEX 01 00:00:00\n"
                     "FILE \"03-Last.wav\" WAVE\n  TRACK 03 AUDIO\n    TITLE \"Last\"\n"
                     "    ISRC USABC9900003\n"),
            std::string::npos)
      << cue;
  EXPECT_EQ(qltest::ReadFile(out + "/Band - Live.m3u"),
            "#EXTM3U\n#EXTINF:4,Band - Intro\n01-Intro.wav\n#EXTINF:1,Band - Last\n03-Last.wav\n");
  // The wave carries the names as LIST INFO texts.
  std::string tags;
  ASSERT_EQ(qltest::RunCapture("ffprobe -v error -show_entries format_tags -of default=nw=1 '" +
                                   out + "/03-Last.wav'",
                               &tags),
            0);
  for (const char* tag : {"TAG:title=Last\n", "TAG:artist=Band\n", "TAG:album=Live\n"})
    EXPECT_NE(tags.find(tag), std::string::npos) << tag << tags;

  // Track 2 on its own later: the disc's log holds the three tracks in their order.
  RecordOne(*w, 2);
  const std::string all = qltest::ReadFile(out + "/Band - Live.log");
  EXPECT_NE(LogEntry(all, 2).find("CRC-32:     " + Hex(PlainCrc32(Track(1)))), std::string::npos)
      << all;
  EXPECT_LT(all.find("Track  1"), all.find("Track  2"));
  EXPECT_LT(all.find("Track  2"), all.find("Track  3"));
  EXPECT_NE(all.find("3 track(s) ripped, 0 failed."), std::string::npos) << all;

  // Recorded in another wave format (22.05 kHz mono 8-bit through the converter): the CRC is
  // still that of the audio read from the disc, not of the file.
  TWaveFormatEx f{};
  pcmBuildFormat(&f, 8, 1, 22050);
  qltest::WriteFile(work + "/QuillonTrackwell.bin",
                    std::string(reinterpret_cast<const char*>(&f), sizeof f));
  RecordOne(*w, 1);
  EXPECT_NEAR(double(WaveData(out + "/01-Intro.wav").size()), 4 * 22050.0, 64.0);
  const std::string converted = qltest::ReadFile(out + "/Band - Live.log");
  EXPECT_NE(LogEntry(converted, 1).find("CRC-32:     " + Hex(PlainCrc32(Track(0))) + "\n"),
            std::string::npos)
      << converted;
}

TEST_F(RipperRun, TheCueSheetKeepsTheDiscsPregapsAndReadsBackAsTheSameDiscAndTheMp3HasItsIsrc) {
  // Track 2's last 25 sectors before its INDEX 01 are its pregap; track 3 carries an ISRC.
  std::string sheet = qltest::ReadFile(img.cue);
  const auto track2 = sheet.find("  TRACK 02 AUDIO\r\n");
  ASSERT_NE(track2, std::string::npos) << sheet;
  sheet.insert(track2 + 18, "    INDEX 00 00:03:50\r\n");
  const auto track3 = sheet.find("  TRACK 03 AUDIO\r\n");
  sheet.insert(track3 + 18, "    ISRC USABC9900003\r\n");
  qltest::WriteFile(img.cue, sheet);
  auto w = Make();
  Name(*w);
  const TMMCDTrackList toc = w->FCDReader.TrackList();
  ASSERT_EQ(w->FCDReader.TrackPregap(1), 25u);
  RecordSelected(*w, {1, 2, 3});
  EXPECT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];
  const std::string cue = qltest::ReadFile(out + "/Band - Live.cue");
  // The pregap lies at the end of track 1's file, as on the disc.
  EXPECT_NE(cue.find("FILE \"01-Intro.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Intro\"\n"
                     "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    TITLE \"Middle\"\n"
                     "    INDEX 00 00:03:50\nFILE \"02-Middle.wav\" WAVE\n    INDEX 01 00:00:00\n"),
            std::string::npos)
      << cue;
  // Read back as a disc: the same table of contents, the same pregap, the same audio.
  w.reset();
  setenv("QL_CD_IMAGES", (out + "/Band - Live.cue").c_str(), 1);
  auto again = Make();
  const TMMCDTrackList back = again->FCDReader.TrackList();
  ASSERT_EQ(back.dwNumTracks, toc.dwNumTracks);
  for (unsigned i = 0; i < toc.dwNumTracks; ++i) {
    // The track records are packed: their fields are copied before they are compared.
    const std::uint32_t start = back.Tracks[i].dwStartMSF, length = back.Tracks[i].dwLengthMSF;
    const std::uint32_t wasStart = toc.Tracks[i].dwStartMSF, wasLength = toc.Tracks[i].dwLengthMSF;
    EXPECT_EQ(start, wasStart) << i;
    EXPECT_EQ(length, wasLength) << i;
  }
  EXPECT_EQ(again->FCDReader.TrackPregap(1), 25u);
  again.reset();
  setenv("QL_CD_IMAGES", img.cue.c_str(), 1);

  // An MP3 of track 3 carries its ISRC.
  auto mp3 = Make();
  Name(*mp3);
  mp3->miOutputBladeEnc->trigger();
  RecordOne(*mp3, 3);
  std::string tags;
  ASSERT_EQ(qltest::RunCapture("ffprobe -v error -show_entries format_tags -of default=nw=1 '" +
                                   out + "/03-Last.mp3'",
                               &tags),
            0);
  EXPECT_NE(tags.find("TAG:TSRC=USABC9900003\n"), std::string::npos) << tags;
}

TEST_F(RipperRun, AStoppedRecordingIsLoggedAsStoppedAndTheCueAndPlaylistLeaveItOut) {
  img = qltest::WriteCdImage(dir.path(), "long", {{9000}});
  setenv("QL_CD_IMAGES", img.cue.c_str(), 1);
  auto w = Make();
  Name(*w);
  // Each read waits a little, so Stop comes in the middle of the track.
  w->FCDReader.OnDataRead = [](TMMDSPComponent*) { std::this_thread::sleep_for(3ms); };
  w->Grid->SetRow(1);
  w->sbRecord->click();
  ASSERT_TRUE(SpinUntil([&] { return w->FramesRead >= 5 || !w->Recording; }, 20s));
  ASSERT_TRUE(w->Recording);
  w->sbStopClick();
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 20s));
  w->FCDReader.OnDataRead = nullptr;
  const std::string log = qltest::ReadFile(out + "/Band - Live.log");
  const std::string t1 = LogEntry(log, 1);
  EXPECT_NE(t1.find("Status:     failed (stopped by the user: "), std::string::npos) << log;
  EXPECT_NE(t1.find(" of 21168000 bytes read)"), std::string::npos) << log;
  EXPECT_EQ(log.find("Status:     ok"), std::string::npos) << log;
  EXPECT_NE(log.find("0 track(s) ripped, 1 failed."), std::string::npos) << log;
  // The shorter file is kept (Saved As names it), but nothing presents it as the track.
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 1), "01-Intro.wav");
  EXPECT_EQ(qltest::ReadFile(out + "/Band - Live.cue").find("FILE"), std::string::npos);
  EXPECT_EQ(qltest::ReadFile(out + "/Band - Live.m3u"), "#EXTM3U\n");
}

TEST_F(RipperRun, ALogThatCannotBeWrittenIsToldAndTheOptionLeavesTheSideFilesOut) {
  auto w = Make();
  Name(*w);
  // A folder holds the log's name.
  ASSERT_EQ(mkdir((out + "/Band - Live.log").c_str(), 0755), 0);
  RecordOne(*w, 1);
  ASSERT_EQ(g_ui->Texts().size(), 1u);
  const std::string shown = g_ui->Texts()[0];
  EXPECT_NE(shown.find(out + "/Band - Live.log"), std::string::npos) << shown;
  EXPECT_NE(shown.find("could not be written: "), std::string::npos) << shown;
  EXPECT_NE(shown.find("folder"), std::string::npos) << shown;
  // The recording itself is good and kept.
  EXPECT_TRUE(WaveData(out + "/01-Intro.wav") == Track(0));
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 1), "01-Intro.wav");

  // Side files off: nothing beside the files, nothing to tell.
  rmdir((out + "/Band - Live.log").c_str());
  g_ui->Clear();
  w->FormSettings->SetSideFiles(false);
  RecordOne(*w, 2);
  EXPECT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];
  std::string listing;
  qltest::RunCapture("ls -A '" + out + "' | sort | tr '\\n' '|'", &listing);
  EXPECT_EQ(listing, "01-Intro.wav|02-Middle.wav|");
}

TEST_F(RipperRun, TheGeneralOptionsKeepTheSideFilesAndAccurateRipChoicesAfterTheOldKeys) {
  auto w = Make();
  TFormSettings& d = *w->FormSettings;
  EXPECT_TRUE(d.SideFiles());
  EXPECT_FALSE(d.VerifyAccurateRip());
  EXPECT_EQ(d.AccurateRipServer(), "http://www.accuraterip.com/accuraterip/");
  EXPECT_FALSE(d.edAccurateRipServer->isEnabled());
  d.cbSideFiles->setChecked(false);
  d.cbAccurateRip->setChecked(true);
  EXPECT_TRUE(d.edAccurateRipServer->isEnabled());
  d.edAccurateRipServer->setText("  http://127.0.0.1:9/ar/ ");
  d.show();
  d.grab().save(QL_SCREENSHOT_DIR "/general-options.png");
  const std::string ini = dir / "options.ini";
  d.SaveSettings(ini);
  const std::string text = qltest::ReadFile(ini);
  const auto offset = text.find("ReadOffset=0");
  ASSERT_NE(offset, std::string::npos) << text;
  EXPECT_LT(offset, text.find("SideFiles=0"));
  EXPECT_LT(text.find("SideFiles=0"), text.find("AccurateRip=1"));
  EXPECT_NE(text.find("AccurateRipServer=http://127.0.0.1:9/ar/"), std::string::npos) << text;
  d.hide();

  TFormSettings again;
  again.LoadSettings(ini);
  EXPECT_FALSE(again.SideFiles());
  EXPECT_TRUE(again.VerifyAccurateRip());
  EXPECT_EQ(again.AccurateRipServer(), "http://127.0.0.1:9/ar/");
  // An empty address is the database's own.
  again.SetAccurateRipServer("");
  EXPECT_EQ(again.AccurateRipServer(), "http://www.accuraterip.com/accuraterip/");
}

// AccurateRip's rule written out once more, over a whole track.
void PlainAccurateRip(const std::string& audio, bool first, bool last, std::uint32_t& v1,
                      std::uint32_t& v2) {
  v1 = v2 = 0;
  const std::uint64_t n = audio.size() / 4;
  for (std::uint64_t i = 0; i < n; ++i) {
    const auto* b = reinterpret_cast<const unsigned char*>(audio.data() + 4 * i);
    const std::uint64_t word = b[0] | b[1] << 8 | b[2] << 16 | std::uint64_t(b[3]) << 24;
    const std::uint64_t mult = i + 1;
    if ((first && mult < 2939) || (last && mult > n - 2940)) continue;
    v1 += static_cast<std::uint32_t>(word * mult);
    v2 += static_cast<std::uint32_t>(word * mult) + static_cast<std::uint32_t>(word * mult >> 32);
  }
}

std::string Le32(std::uint32_t v) {
  return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

TEST_F(RipperRun, VerifiesTheTracksWithAnAccurateRipServerAndKeepsTheRipWhenItCannot) {
  auto w = Make();
  Name(*w);
  // Tracks of 300, 37 and 75 sectors from sector 0; CDDB disc ID 0e000503.
  const std::uint32_t id1 = 0 + 300 + 337 + 412, id2 = 1 + 300 * 2 + 337 * 3 + 412 * 4;
  const std::uint32_t cddb = 0x0e000503;
  std::uint32_t v1[3], v2[3];
  for (int t = 0; t < 3; ++t) PlainAccurateRip(Track(t), t == 0, t == 2, v1[t], v2[t]);
  char path[128];
  std::snprintf(path, sizeof path, "%x/%x/%x/dBAR-003-%08x-%08x-%08x.bin", id1 & 0xF,
                (id1 >> 4) & 0xF, (id1 >> 8) & 0xF, id1, id2, cddb);
  const std::string db = dir / "ar";
  ASSERT_EQ(qltest::Run("mkdir -p '" + db + "/" + std::string(path).substr(0, 5) + "'"), 0);
  // Track 1 by its v1 sum, track 3 by its v2 sum; track 2 holds another sum.
  std::string entry = std::string(1, 3) + Le32(id1) + Le32(id2) + Le32(cddb);
  entry += std::string(1, 12) + Le32(v1[0]) + Le32(0);
  entry += std::string(1, 4) + Le32(v1[1] ^ 1) + Le32(0);
  entry += std::string(1, 2) + Le32(v2[2]) + Le32(0);
  qltest::WriteFile(db + "/" + path, entry);
  auto server = qltest::StartHttpServer(db);
  ASSERT_TRUE(server->running());
  w->FormSettings->SetVerifyAccurateRip(true);
  w->FormSettings->SetAccurateRipServer("http://127.0.0.1:" + std::to_string(server->port()) + "/");

  RecordSelected(*w, {1, 2, 3});
  ASSERT_EQ(g_ui->Texts().size(), 1u);
  EXPECT_EQ(g_ui->Texts()[0],
            "Track 1: accurate (confidence 12)\nTrack 2: not accurate\n"
            "Track 3: accurate (confidence 2)\n");
  EXPECT_TRUE(w->isEnabled());
  const std::string log = qltest::ReadFile(out + "/Band - Live.log");
  EXPECT_NE(log.find("AccurateRip: " + std::string(path)), std::string::npos) << log;
  EXPECT_NE(LogEntry(log, 1).find("AccurateRip: v1 " + Hex(v1[0]) + ", v2 " + Hex(v2[0]) +
                                  ": accurate (confidence 12)"),
            std::string::npos)
      << log;
  EXPECT_NE(LogEntry(log, 2).find(": not accurate\n"), std::string::npos) << log;

  // The disc is not in the database.
  std::remove((db + "/" + path).c_str());
  g_ui->Clear();
  RecordOne(*w, 1);
  ASSERT_EQ(g_ui->Texts().size(), 1u);
  EXPECT_NE(g_ui->Texts()[0].find("Track 1: not in database\n"), std::string::npos)
      << g_ui->Texts()[0];

  // No server: said so, the tracks stay unverified, the files are kept.
  w->FormSettings->SetAccurateRipServer("http://127.0.0.1:1/");
  g_ui->Clear();
  RecordOne(*w, 1);
  ASSERT_EQ(g_ui->Texts().size(), 1u);
  const std::string said = g_ui->Texts()[0];
  EXPECT_NE(said.find("Track 1: unverified\nTrack 2: unverified\nTrack 3: unverified\n"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("AccurateRip: "), std::string::npos) << said;
  EXPECT_NE(said.find("the recorded files are kept"), std::string::npos) << said;
  EXPECT_TRUE(WaveData(out + "/01-Intro.wav") == Track(0));
  EXPECT_NE(LogEntry(qltest::ReadFile(out + "/Band - Live.log"), 1).find(": unverified"),
            std::string::npos);
  EXPECT_TRUE(w->isEnabled());

  // A track with its first second removed is no whole track: it is not checked.
  w->FormSettings->cbRemoveFirstSec->setChecked(true);
  g_ui->Clear();
  RecordOne(*w, 1);
  ASSERT_EQ(g_ui->Texts().size(), 1u);
  EXPECT_NE(g_ui->Texts()[0].find("Track 1: not checked, the track was not read whole"),
            std::string::npos)
      << g_ui->Texts()[0];
  const std::string trimmed = LogEntry(qltest::ReadFile(out + "/Band - Live.log"), 1);
  EXPECT_NE(trimmed.find("(300 sectors)"), std::string::npos) << trimmed;
  EXPECT_NE(trimmed.find("Status:     ok (the first second left out)\n"), std::string::npos)
      << trimmed;
  EXPECT_NE(trimmed.find("CRC-32:     " + Hex(PlainCrc32(Track(0).substr(75 * 2352))) + "\n"),
            std::string::npos)
      << trimmed;
  // Track 2 (37 sectors) without its first second cannot start: its failure is told once,
  // then one report that does not count it as checked.
  g_ui->Clear();
  RecordOne(*w, 2);
  ASSERT_TRUE(SpinUntil([&] { return g_ui->Texts().size() >= 2; }, 5s));
  QApplication::processEvents();
  ASSERT_EQ(g_ui->Texts().size(), 2u);
  EXPECT_NE(g_ui->Texts()[1].find("Track 2: not checked, the recording failed"), std::string::npos)
      << g_ui->Texts()[1];
  EXPECT_NE(LogEntry(qltest::ReadFile(out + "/Band - Live.log"), 2).find("Status:     failed ("),
            std::string::npos);
}

TEST_F(RipperRun, TheAccurateRipRequestCanBeAbortedWhileTheWindowWaits) {
  // The server waits 5 s before it answers.
  mkdir((dir / "www").c_str(), 0755);
  auto server = qltest::StartScriptedHttpServer(dir / "www");
  ASSERT_TRUE(server->running());
  auto w = Make();
  Name(*w);
  w->FormSettings->SetVerifyAccurateRip(true);
  w->FormSettings->SetAccurateRipServer("http://127.0.0.1:" + std::to_string(server->port()) +
                                        "/slow?disc=");
  bool windowDisabled = false, aborted = false;
  QTimer abort;
  abort.setInterval(20);
  QObject::connect(&abort, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->objectName() == "AccurateRipProgress" && top->isVisible() && top->isEnabled())
        if (auto* b = top->findChild<QAbstractButton*>("pbAbort")) {
          windowDisabled = !w->isEnabled();
          top->grab().save(QL_SCREENSHOT_DIR "/accuraterip-progress.png");
          aborted = true;
          abort.stop();
          b->click();
        }
  });
  abort.start();
  const auto start = std::chrono::steady_clock::now();
  RecordOne(*w, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  EXPECT_TRUE(aborted);
  EXPECT_TRUE(windowDisabled);
  EXPECT_TRUE(w->isEnabled());
  ASSERT_EQ(g_ui->Texts().size(), 1u);
  EXPECT_NE(g_ui->Texts()[0].find("Track 1: unverified\nAccurateRip: "), std::string::npos)
      << g_ui->Texts()[0];
  EXPECT_TRUE(WaveData(out + "/01-Intro.wav") == Track(0));
  EXPECT_NE(LogEntry(qltest::ReadFile(out + "/Band - Live.log"), 1).find(": unverified"),
            std::string::npos);
}

TEST_F(RipperRun, TheMp3CarriesTheCddbYearAndGenreAndTheLogNamesTheExternalEncodersMp3) {
  // Tracks of 300, 37 and 1 sectors: disc ID 0e000403.
  img = qltest::WriteCdImage(dir.path(), "named", {{300}, {37}, {1}});
  setenv("QL_CD_IMAGES", img.cue.c_str(), 1);
  const std::string db = dir / "db";
  ASSERT_EQ(qltest::Run("mkdir -p '" + db + "/rock'"), 0);
  qltest::WriteFile(db + "/rock/0e000403",
                    "# xmcd\r\n#\r\n# Track frame offsets:\r\n#\t150\r\n#\t450\r\n#\t487\r\n#\r\n"
                    "# Disc length: 6 seconds\r\n#\r\nDISCID=0e000403\r\nDTITLE=Some One / A Disc"
                    "\r\nDYEAR=1999\r\nDGENRE=Art Rock\r\nTTITLE0=First\r\nTTITLE1=Second\r\n"
                    "TTITLE2=Third\r\nEXTD=\r\nEXTT0=\r\nEXTT1=\r\nEXTT2=\r\nPLAYORDER=\r\n");
  auto server = qltest::StartCddbServer(db);
  ASSERT_TRUE(server->running());
  setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  TIniFile settings(work + "/QuillonTrackwell.ini");
  settings.WriteString("OPTIONS: CDDB Settings", "Protocol", "CDDBP");
  settings.WriteString("OPTIONS: CDDB Settings", "UserName", "me");
  settings.WriteString("OPTIONS: CDDB Settings", "UserHost", "example.org");
  settings.WriteString("OPTIONS: CDDB Settings", "CDDBHost",
                       "127.0.0.1:" + std::to_string(server->port()));
  // The external "encoder" copies the wave to the MP3 name.
  settings.WriteString("Externa MP3 Encoder", "Name", "copy");
  settings.WriteString("Externa MP3 Encoder copy", "Program", "/bin/cp");
  settings.WriteString("Externa MP3 Encoder copy", "Arguments", "$1 $2");
  auto w = Make();
  SetOutput(*w);
  w->FormSettings->SetAddArtist(false);
  w->FormSettings->SetAddTitle(false);
  w->FormSettings->SetAddNumber(false);
  w->GetdatafromMMCDDBClick();
  ASSERT_EQ(w->dfsArtist->text(), "Some One");
  EXPECT_EQ(w->DiscYear(), "1999");
  EXPECT_EQ(w->DiscGenre(), "Art Rock");

  w->miOutputBladeEnc->trigger();
  RecordOne(*w, 1);
  std::string tags;
  ASSERT_EQ(qltest::RunCapture("ffprobe -v error -show_entries format_tags -of default=nw=1 '" +
                                   out + "/First.mp3'",
                               &tags),
            0);
  EXPECT_NE(tags.find("TAG:date=1999\n"), std::string::npos) << tags;
  EXPECT_NE(tags.find("TAG:genre=Art Rock\n"), std::string::npos) << tags;
  const std::string cue = qltest::ReadFile(out + "/Some One - A Disc.cue");
  EXPECT_EQ(cue.rfind("REM GENRE \"Art Rock\"\nREM DATE 1999\n", 0), 0u) << cue;
  EXPECT_NE(cue.find("FILE \"First.mp3\" MP3\n"), std::string::npos) << cue;

  // The external encoder: the log names the wave until the MP3 is made, then the MP3.
  w->miOutputExternal->trigger();
  AnswerNextModal("pbOK");
  w->Grid->SetRow(2);
  w->sbRecord->click();
  ASSERT_TRUE(SpinUntil(
      [&] {
        return !w->Recording && w->EncodersRunning == 0 &&
               qltest::ReadFile(out + "/Some One - A Disc.m3u").find("Second.mp3") !=
                   std::string::npos;
      },
      20s))
      << qltest::ReadFile(out + "/Some One - A Disc.m3u");
  EXPECT_TRUE(WaveData(out + "/Second.mp3") == Track(1));
  const std::string log = qltest::ReadFile(out + "/Some One - A Disc.log");
  EXPECT_NE(LogEntry(log, 2).find("File:       Second.mp3"), std::string::npos) << log;
  EXPECT_NE(LogEntry(log, 1).find("File:       First.mp3"), std::string::npos) << log;
  unsetenv("XDG_CACHE_HOME");
}

}  // namespace
