// The general options and MP3 options dialogs with their settings file on disk.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "DirectoryList.h"
#include "Fs.h"
#include "GuiTest.h"
#include "MP3Settings.h"
#include "Profile.h"
#include "Settings.h"
#include "TestFiles.h"

using qltest::TempDir;

#ifndef QL_SCREENSHOT_DIR
#define QL_SCREENSHOT_DIR "screenshots"
#endif

namespace {
class Dialogs : public testing::Test {
 protected:
  void SetUp() override {
    before_ = ql::fs::GetCurrentDir();
    ql::fs::SetCurrentDir(dir_.path());
    g_ui->Clear();
  }
  void TearDown() override { ql::fs::SetCurrentDir(before_); }
  std::string Ini() const { return dir_ / "QuillonTrackwell.ini"; }
  TempDir dir_;
  std::string before_;
};
}  // namespace

TEST_F(Dialogs, GeneralOptionsStartAsDesignedAndRoundTrip) {
  TFormSettings s;
  EXPECT_EQ(s.windowTitle().toStdString(), "Quillon Trackwell: General Options");
  EXPECT_TRUE(s.Equalizer());
  EXPECT_FALSE(s.Pitch());
  EXPECT_TRUE(s.Volume());
  EXPECT_TRUE(s.TimeStretch());
  EXPECT_TRUE(s.SaveOnExit());
  EXPECT_EQ(s.DeviceTypeText(), "AutoDetect");
  EXPECT_EQ(s.cbDeviceType->count(), 24);
  EXPECT_EQ(s.CopyMode(), 0);  // no copy mode checked counts as normal copy
  EXPECT_FALSE(s.rbNormalCopy->isChecked() || s.rbBurstCopy->isChecked() ||
               s.rbJitterCorrection->isChecked());
  EXPECT_EQ(s.OutputDirectory(), dir_.path());
  EXPECT_FALSE(s.cbCCDDAPlay->isVisibleTo(&s));
  EXPECT_EQ(s.pbOK->text().toStdString(), "Save");

  std::string out = dir_ / "out";
  mkdir(out.c_str(), 0755);
  s.SetAddArtist(true);
  s.SetSaveOnExit(false);
  s.rbBurstCopy->setChecked(true);
  s.ShowDeviceType(18);
  s.SetOutputDirectory(out);
  EXPECT_EQ(ql::fs::GetCurrentDir(), out);  // choosing a folder makes it current
  s.SaveSettings(Ini());
  TIniFile ini(Ini());
  EXPECT_EQ(ini.ReadSection("OPTIONS: SETTINGS"),
            (std::vector<std::string>{
                "AutoSave",   "QuestionSave", "Equalizer",        "Pitch",          "Volume",
                "CCDDAPlay",  "AddArtist",    "AddTitle",         "AddNumber",      "HalfSpeed",
                "NormalCopy", "BurstCopy",    "JitterCorrection", "RemoveFirstSec", "RemoveLastSec",
                "UseCODEC",   "DeviceType",   "Directory",        "Drive",          "ReadOffset",
                "SideFiles",  "AccurateRip",  "AccurateRipServer"}));
  EXPECT_EQ(ini.ReadString("OPTIONS: SETTINGS", "DeviceType", ""), "PLEXTOR");
  EXPECT_EQ(ini.ReadString("OPTIONS: SETTINGS", "BurstCopy", ""), "1");

  ql::fs::SetCurrentDir(dir_.path());
  TFormSettings back;
  back.LoadSettings(Ini());
  EXPECT_TRUE(back.AddArtist());
  EXPECT_FALSE(back.SaveOnExit());
  EXPECT_EQ(back.CopyMode(), 1);
  EXPECT_EQ(back.DeviceTypeText(), "PLEXTOR");
  EXPECT_EQ(back.OutputDirectory(), out);
  EXPECT_EQ(ql::fs::GetCurrentDir(), out);
  QDir().mkpath(QL_SCREENSHOT_DIR);
  back.show();
  EXPECT_TRUE(back.grab().save(QString(QL_SCREENSHOT_DIR) + "/general-options.png"));
}

TEST_F(Dialogs, PitchAndTimeStretchExcludeEachOtherAlsoWhenLoaded) {
  TFormSettings s;
  s.SetPitch(true);
  EXPECT_FALSE(s.TimeStretch());
  s.SetTimeStretch(true);
  EXPECT_FALSE(s.Pitch());
  s.SetTimeStretch(false);
  EXPECT_FALSE(s.Pitch() || s.TimeStretch());  // both may be off
  qltest::WriteFile(Ini(),
                    "[OPTIONS: SETTINGS]\r\nPitch=1\r\nHalfSpeed=1\r\nJitterCorrection=1\r\n"
                    "Directory=/no/such/folder\r\n");
  s.LoadSettings(Ini());
  EXPECT_TRUE(s.TimeStretch());  // read later, it wins
  EXPECT_FALSE(s.Pitch());
  EXPECT_EQ(s.CopyMode(), 2);
  EXPECT_EQ(s.OutputDirectory(), dir_.path());  // a missing folder leaves the list where it is
  qltest::WriteFile(Ini(), "[OPTIONS: SETTINGS]\r\nJitterCorrection=0\r\n");
  s.LoadSettings(Ini());
  EXPECT_FALSE(s.rbJitterCorrection->isChecked());
  EXPECT_EQ(s.CopyMode(), 0);
}

TEST_F(Dialogs, SaveButtonWritesAndReportsSavedCancelDoesNot) {
  TFormSettings s;
  s.SettingsFile = Ini();
  QTimer::singleShot(0, [&] { s.pbOK->click(); });
  EXPECT_TRUE(s.Execute());
  EXPECT_TRUE(ql::fs::FileExists(Ini()));
  unlink(Ini().c_str());
  QTimer::singleShot(0, [&] { s.pbCancel->click(); });
  EXPECT_FALSE(s.Execute());
  EXPECT_FALSE(ql::fs::FileExists(Ini()));
  // A settings file that cannot be written: the user is told.
  s.SaveSettings(dir_ / "no/such/dir/x.ini");
  ASSERT_EQ(g_ui->Texts().size(), 1u);
  EXPECT_EQ(g_ui->Texts()[0].rfind(
                "Unable to save the general options to " + dir_ / "no/such/dir/x.ini" + ": ", 0),
            0u);
}

TEST_F(Dialogs, Mp3OptionsIndexesAndTheirStore) {
  TFormMP3Settings m;
  EXPECT_EQ(m.windowTitle().toStdString(), "Quillon Trackwell: BladeEnc's MP3 Options");
  EXPECT_EQ(m.cbBitRate->currentText().toStdString(), "128");
  EXPECT_EQ(m.BitRateIndex(), 8);
  EXPECT_TRUE(m.CRC());
  EXPECT_EQ(m.FileTypeIndex(), 1);
  // A first load with no settings file gives 160, not the 128 of the design.
  m.LoadMp3Settings(Ini());
  EXPECT_EQ(m.cbBitRate->currentText().toStdString(), "160");
  m.cbBitRate->setCurrentText("96");
  EXPECT_EQ(m.BitRateIndex(), 6);
  EXPECT_EQ(TFormMP3Settings::BitRateOf(6), 96);
  m.cbBitRate->setCurrentText("97");
  EXPECT_EQ(m.BitRateIndex(), 8);
  m.SetBitRateIndex(20);
  EXPECT_EQ(m.cbBitRate->currentText().toStdString(), "128");
  m.SetBitRateIndex(6);
  m.SetChannelModeIndex(2);
  m.SetFileTypeIndex(0);
  m.cbPrivat->setChecked(true);
  EXPECT_TRUE(m.WriteTags()) << "tags are written unless switched off";
  m.cbWriteTags->setChecked(false);
  m.SaveMp3Settings(Ini());
  TIniFile ini(Ini());
  EXPECT_EQ(ini.ReadSection("OPTIONS: MP3 Settings"),
            (std::vector<std::string>{"Copyright", "CRC", "Original", "Privat", "WriteTags",
                                      "BitRate", "ChannelMode", "FileType"}));
  EXPECT_EQ(ini.ReadInteger("OPTIONS: MP3 Settings", "BitRate", -1), 6);
  TFormMP3Settings back;
  back.LoadMp3Settings(Ini());
  EXPECT_EQ(back.cbBitRate->currentText().toStdString(), "96");
  EXPECT_EQ(back.ChannelModeIndex(), 2);
  EXPECT_EQ(back.FileTypeIndex(), 0);
  EXPECT_TRUE(back.Privat());
  EXPECT_FALSE(back.WriteTags());
  // Out-of-range stored values fall back.
  qltest::WriteFile(Ini(),
                    "[OPTIONS: MP3 Settings]\r\nBitRate=99\r\nChannelMode=7\r\nFileType=5\r\n");
  back.LoadMp3Settings(Ini());
  EXPECT_EQ(back.BitRateIndex(), 8);
  EXPECT_EQ(back.ChannelModeIndex(), 0);
  EXPECT_EQ(back.FileTypeIndex(), 1);
  // A store that cannot be written says so.
  back.SaveMp3Settings(dir_ / "no/such/dir/x.ini");
  EXPECT_EQ(g_ui->Texts(), std::vector<std::string>{"Unable to save MP3 settings."});
}

TEST_F(Dialogs, DirectoryListShowsAncestorsAndSubfoldersAndFollowsTheDrive) {
  mkdir((dir_ / "a").c_str(), 0755);
  mkdir((dir_ / "b").c_str(), 0755);
  TDirectoryListBox list;
  ASSERT_TRUE(list.SetDirectory(dir_.path()));
  std::vector<std::string> targets;
  for (int i = 0; i < list.count(); ++i)
    targets.push_back(list.item(i)->data(Qt::UserRole).toString().toStdString());
  EXPECT_EQ(targets.front(), "/");
  EXPECT_EQ(targets[targets.size() - 2], dir_ / "a");
  EXPECT_EQ(targets.back(), dir_ / "b");
  EXPECT_EQ(list.currentItem()->data(Qt::UserRole).toString().toStdString(), dir_.path());
  emit list.itemActivated(list.item(list.count() - 1));  // the user enters "b"
  EXPECT_EQ(list.Directory(), dir_ / "b");
  EXPECT_EQ(ql::fs::GetCurrentDir(), dir_ / "b");
  EXPECT_FALSE(list.SetDirectory(dir_ / "missing"));
  EXPECT_EQ(list.Directory(), dir_ / "b");
  EXPECT_EQ(TDriveComboBox::DriveOf("/"), "/");
}
