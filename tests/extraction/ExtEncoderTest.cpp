// The external encoder dialog, its stores, its command line and its jobs with a real program.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>

#include "ExtMP3Encoder.h"
#include "ExtMP3Exec.h"
#include "Fs.h"
#include "GuiTest.h"
#include "Profile.h"
#include "TestFiles.h"

using qltest::ReadFile;
using qltest::TempDir;
using qltest::WriteFile;

TEST(ExtEncoder, ArgumentsPlaceTheFilesAsWholeArguments) {
  using V = std::vector<std::string>;
  auto args = [](const std::string& t) {
    return TFormExtMP3Encoder::Arguments("/enc/enc", t, "/out", "Track 1.wav", "/out",
                                         "Track 1.mp3");
  };
  EXPECT_EQ(args("-b 192 $1 $2"),
            (V{"/enc/enc", "-b", "192", "/out/Track_1.wav", "/out/Track_1.mp3"}));
  EXPECT_EQ(args("-q"), (V{"/enc/enc", "-q", "/out/Track_1.wav", "/out/Track_1.mp3"}));
  EXPECT_EQ(args("$2 $1"), (V{"/enc/enc", "/out/Track_1.mp3", "/out/Track_1.wav"}));
  EXPECT_EQ(args("$1 $1"), (V{"/enc/enc", "/out/Track_1.wav", "$1", "/out/Track_1.mp3"}));
  EXPECT_EQ(TFormExtMP3Encoder::Underscored("a b  c"), "a_b__c");
}

TEST(ExtEncoder, DefinitionsAreStoredByNameAndListed) {
  TempDir dir;
  std::string ini = dir / "QuillonTrackwell.ini";
  {
    TFormExtMP3Encoder d;
    d.WorkDirectory = dir.path();
    d.LoadEncoder(ini);  // nothing stored yet: silent
    EXPECT_TRUE(d.rbBackground->isChecked());
    d.dfsName->setCurrentText("My Encoder");
    d.dfsProgram->setCurrentText("/usr/bin/enc");
    d.dfsArguments->setCurrentText("-b 128 $1 $2");
    d.rbNormal->setChecked(true);
    d.pbSaveClick();
    EXPECT_TRUE(d.Saved);
    d.dfsName->setCurrentText("Other");
    d.dfsProgram->setCurrentText("/opt/other");
    d.dfsArguments->setCurrentText("$2 $1");
    d.pbSaveClick();
  }
  EXPECT_EQ(ReadFile(dir / "extencname.ini"), "My Encoder\r\nOther\r\n");
  EXPECT_EQ(ReadFile(dir / "extenc.ini"), "/usr/bin/enc\r\n/opt/other\r\n");
  EXPECT_EQ(ReadFile(dir / "extencarg.ini"), "-b 128 $1 $2\r\n$2 $1\r\n");
  TIniFile store(ini);
  EXPECT_EQ(store.ReadString("Externa MP3 Encoder", "Name", ""), "Other");
  EXPECT_EQ(store.ReadString("Externa MP3 Encoder", "dfsArguments", ""), "$2 $1");
  EXPECT_EQ(store.ReadString("Externa MP3 Encoder My Encoder", "Program", ""), "/usr/bin/enc");
  TFormExtMP3Encoder d;
  d.WorkDirectory = dir.path();
  d.LoadEncoder(ini);
  EXPECT_EQ(d.dfsName->currentText().toStdString(), "Other");
  EXPECT_EQ(d.dfsProgram->currentText().toStdString(), "/opt/other");
  EXPECT_TRUE(d.rbNormal->isChecked());
  EXPECT_EQ(d.dfsName->count(), 2);
  d.dfsName->setCurrentText("My Encoder");  // choosing a name brings its program and arguments
  EXPECT_EQ(d.dfsProgram->currentText().toStdString(), "/usr/bin/enc");
  EXPECT_EQ(d.dfsArguments->currentText().toStdString(), "-b 128 $1 $2");
  EXPECT_FALSE(d.Saved);
  d.pbNewClick();
  EXPECT_TRUE(d.dfsProgram->currentText().isEmpty());
}

TEST(ExtEncoder, JobsRunTheProgramDeleteTheWaveAndCountThemselves) {
  TempDir dir;
  std::string enc = dir / "enc.sh";
  // A stand-in encoder: copies the wave file to the MP3 name, slowly.
  WriteFile(enc, "#!/bin/sh\nsleep 0.2\ncp \"$1\" \"$2\"\n");
  chmod(enc.c_str(), 0755);
  TFormExtMP3Encoder d;
  d.WorkDirectory = dir.path();
  d.dfsProgram->setCurrentText(QString::fromStdString(enc));
  d.dfsArguments->setCurrentText("$1 $2");
  WriteFile(dir / "Track_1.wav", "RIFF1");
  WriteFile(dir / "Track_2.wav", "RIFF2");
  int running = 0, peak = 0, ended = 0;
  auto count = [&](int delta) {
    running += delta;
    peak = std::max(peak, running);
    ended += delta < 0;
  };
  for (const char* n : {"Track 1", "Track 2"})
    TBatchBaseEnc::Start(std::make_unique<TBatchExtMP3Exec>(
        d, count, dir.path(), std::string(n) + ".wav", dir.path(), std::string(n) + ".mp3"));
  ASSERT_TRUE(SpinUntil([&] { return ended == 2; }, std::chrono::seconds(10)));
  EXPECT_EQ(peak, 2);  // both ran at once
  EXPECT_EQ(running, 0);
  EXPECT_EQ(ReadFile(dir / "Track_1.mp3"), "RIFF1");
  EXPECT_EQ(ReadFile(dir / "Track_2.mp3"), "RIFF2");
  EXPECT_FALSE(ql::fs::FileExists(dir / "Track_1.wav"));
  // A program that cannot start: the wave stays and the user is told.
  g_ui->Clear();
  d.dfsProgram->setCurrentText("/no/such/encoder");
  WriteFile(dir / "Track_3.wav", "x");
  auto result = d.RunEncoder(dir.path(), "Track 3.wav", dir.path(), "Track 3.mp3");
  EXPECT_EQ(result.status, ripper::TEncodeStatus::kNotStarted);
  EXPECT_EQ(ReadFile(dir / "Track_3.wav"), "x");
  SpinUntil([] { return !g_ui->shown.empty(); }, std::chrono::seconds(2));
  ASSERT_EQ(g_ui->Texts().size(), 1u);
  EXPECT_EQ(g_ui->Texts()[0],
            "External MP3 encoder failed! \"/no/such/encoder\" could not be "
            "started; the wave file \"" +
                dir / "Track_3.wav" + "\" was kept.");
  // An encoder that fails keeps the wave as well; the job reports its result.
  g_ui->Clear();
  WriteFile(enc, "#!/bin/sh\nexit 2\n");
  d.dfsProgram->setCurrentText(QString::fromStdString(enc));
  bool done = false;
  ripper::TEncodeResult seen;
  TBatchBaseEnc::Start(std::make_unique<TBatchExtMP3Exec>(d, nullptr, dir.path(), "Track 3.wav",
                                                          dir.path(), "Track 3.mp3",
                                                          [&](const ripper::TEncodeResult& r) {
                                                            seen = r;
                                                            done = true;
                                                          }));
  ASSERT_TRUE(SpinUntil([&] { return done; }, std::chrono::seconds(10)));
  EXPECT_EQ(seen.status, ripper::TEncodeStatus::kFailed);
  EXPECT_EQ(ReadFile(dir / "Track_3.wav"), "x");
  EXPECT_FALSE(ql::fs::FileExists(dir / "Track_3.mp3"));
}

TEST(ExtEncoder, AJobOutlivingItsDialogRunsNothing) {
  TempDir dir;
  WriteFile(dir / "a.wav", "x");
  int changes = 0;
  {
    TFormExtMP3Encoder d;
    d.dfsProgram->setCurrentText("/bin/true");
    // The dialog goes before the job reads its texts: the job must not touch it.
    auto job = std::make_unique<TBatchExtMP3Exec>(
        d, [&](int) { ++changes; }, dir.path(), "a.wav", dir.path(), "a.mp3");
    TBatchBaseEnc::Start(std::move(job));
  }
  SpinUntil([] { return false; }, std::chrono::milliseconds(300));
  EXPECT_EQ(changes, 0);
}

TEST(ExtEncoder, EveryCaptionWithAShortcutNamesItsControl) {
  // A caption without a control shows its "&" literally.
  TFormExtMP3Encoder d;
  int captions = 0;
  for (QLabel* l : d.findChildren<QLabel*>()) {
    if (!l->text().contains('&')) continue;
    ++captions;
    EXPECT_NE(l->buddy(), nullptr) << l->text().toStdString();
  }
  EXPECT_EQ(captions, 3);
}
