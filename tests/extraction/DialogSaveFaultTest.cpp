// The CD-extraction window's option dialogs saving on a failing disk: the general options (with
// the playback settings), the MP3 options, the CDDB options, the external encoder and its
// lists, and the wave format. Each dialog is left by its Save button as the user does; a fault
// at each call of the save in turn leaves every file it writes whole (earlier or new) and
// the user told when the save did not happen.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "CDDB.h"
#include "ExtMP3Encoder.h"
#include "FaultWalk.h"
#include "MMControls.h"
#include "MP3Settings.h"
#include "Profile.h"
#include "RipperWindowFixture.h"
#include "Settings.h"
#include "StringGrid.h"

using qltest::WriteFile;

namespace {

class DialogSaveFaults : public RipperWindow {
 protected:
  std::string Ini() const { return work + "/QuillonTrackwell.ini"; }
  // Settings written by hand (and by an earlier version) that every save must keep.
  void WriteEarlierIni() {
    WriteFile(Ini(),
              "; my settings\r\n[OPTIONS: SETTINGS]\r\nEqualizer=1\r\nVolumeValue=7\r\n"
              "[OPTIONS: MP3 Settings]\r\nBitRate=3\r\n[CDDB]\r\nUserName=old\r\n"
              "[Externa MP3 Encoder]\r\nName=old\r\n[Mine]\r\nKey=1\r\n");
  }
  qltest::SaveWalk Walk(std::vector<std::string> files) {
    qltest::SaveWalk walk;
    walk.scope = work;
    walk.files = std::move(files);
    return walk;
  }
};

TEST_F(DialogSaveFaults, GeneralOptionsSavedByTheirButtonOrTheUserIsTold) {
  QL_RUN_WITH_FAULT_INJECTOR();
  auto w = Make();
  SetOutput(*w);
  TFormSettings& d = *w->FormSettings;
  auto walk = Walk({Ini()});
  walk.restore = [&] {
    WriteEarlierIni();
    AnswerNextModal("pbOK", [](QWidget* dialog) {
      static_cast<TFormSettings*>(dialog)->SetEqualizer(false);
      static_cast<TFormSettings*>(dialog)->SetAddNumber(true);
    });
  };
  walk.save = [&] { EXPECT_TRUE(d.Execute()); };
  walk.check_message = [&](const std::vector<std::string>& texts) {
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("Unable to save the general options to " + Ini() + ": ", 0), 0u)
        << texts[0];
  };
  qltest::WalkSaveFaults(walk, *g_ui);
  TIniFile ini(Ini());
  EXPECT_FALSE(ini.ReadBool("OPTIONS: SETTINGS", "Equalizer", true));
  EXPECT_EQ(ini.ReadString("OPTIONS: SETTINGS", "Directory", ""), out);
  EXPECT_EQ(ini.ReadString("Mine", "Key", ""), "1");
}

TEST_F(DialogSaveFaults, ClosingStoresTheOptionsAndPlaybackSettingsAsOne) {
  QL_RUN_WITH_FAULT_INJECTOR();
  auto w = Make();
  SetOutput(*w);
  w->FormSettings->SetSaveOnExit(true);
  w->FormSettings->SetEqualizer(false);
  w->SliderVolume->setValue(20000);
  auto walk = Walk({Ini()});
  walk.restore = [&] {
    WriteEarlierIni();
    w->show();
  };
  // A disc never named: closing stores the general options and the playback settings.
  walk.save = [&] { w->MenuItemExitClick(); };
  walk.check_message = [&](const std::vector<std::string>& texts) { EXPECT_EQ(texts.size(), 1u); };
  qltest::WalkSaveFaults(walk, *g_ui);
  TIniFile ini(Ini());
  EXPECT_EQ(ini.ReadInteger("OPTIONS: SETTINGS", "VolumeValue", 0), 20000);
  EXPECT_FALSE(ini.ReadBool("OPTIONS: SETTINGS", "Equalizer", true));
}

TEST_F(DialogSaveFaults, SaveCdKeepsTheDiscStoreAndTheSettingsWholeOrSaysSo) {
  QL_RUN_WITH_FAULT_INJECTOR();
  auto w = Make();
  SetOutput(*w);
  w->dfsArtist->setText("Artist");
  w->dfsTitle->setText("Title");
  w->Grid->SetCell(TFormCDRipper::colName, 1, "First");
  w->SliderVolume->setValue(20000);
  const std::string discs = win + "/cdplayer.ini";
  auto walk = Walk({discs, Ini()});
  walk.scope = dir.path();  // the disc store lies in another folder than the settings
  walk.restore = [&] {
    WriteEarlierIni();
    WriteFile(discs, "; discs\r\n[" + w->DiscSection + "]\r\nartist=Old\r\n[other]\r\n0=x\r\n");
  };
  walk.save = [&] { w->miSaveCD->trigger(); };
  // A disc store that cannot be written leaves the playback settings to be saved alone.
  walk.part = [&] { w->SaveDSPTOFile("QuillonTrackwell.ini"); };
  walk.check_message = [](const std::vector<std::string>& texts) {
    EXPECT_EQ(texts, std::vector<std::string>{"Can not save ini."});
  };
  qltest::WalkSaveFaults(walk, *g_ui);
  EXPECT_EQ(ql::profile::GetString(discs, w->DiscSection, "0", ""), "First");
  EXPECT_EQ(ql::profile::GetString(discs, "other", "0", ""), "x");
  EXPECT_EQ(TIniFile(Ini()).ReadInteger("OPTIONS: SETTINGS", "VolumeValue", 0), 20000);
}

TEST_F(DialogSaveFaults, Mp3OptionsAreSavedWholeOrSayUnableToSave) {
  QL_RUN_WITH_FAULT_INJECTOR();
  auto w = Make();
  auto walk = Walk({Ini()});
  walk.restore = [&] {
    WriteEarlierIni();
    AnswerNextModal("pbSave", [](QWidget* d) {
      auto* m = static_cast<TFormMP3Settings*>(d);
      m->SetBitRateIndex(11);
      m->SetChannelModeIndex(2);
      m->cbPrivat->setChecked(true);
    });
  };
  walk.save = [&] { w->miBladeOptionsClick(); };
  walk.check_message = [](const std::vector<std::string>& texts) {
    EXPECT_EQ(texts, std::vector<std::string>{"Unable to save MP3 settings."});
  };
  qltest::WalkSaveFaults(walk, *g_ui);
  EXPECT_EQ(TIniFile(Ini()).ReadInteger("OPTIONS: MP3 Settings", "BitRate", -1), 11);
}

TEST_F(DialogSaveFaults, CddbOptionsAreSavedWholeOrSayUnableToSave) {
  QL_RUN_WITH_FAULT_INJECTOR();
  auto w = Make();
  auto walk = Walk({Ini()});
  walk.restore = [&] {
    WriteEarlierIni();
    AnswerNextModal("pbSave", [](QWidget* d) {
      auto* c = static_cast<TFormCDDBSettings*>(d);
      c->FUsername->setText("me");
      c->FUserHost->setText("example.org");
      c->FPort->setText("8880");
    });
  };
  walk.save = [&] { w->miCDDBSettingsClick(); };
  walk.check_message = [](const std::vector<std::string>& texts) {
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("Unable to save the CDDB settings: ", 0), 0u) << texts[0];
  };
  qltest::WalkSaveFaults(walk, *g_ui);
}

TEST_F(DialogSaveFaults, ExternalEncoderDefinitionAndListsAreSavedWholeOrSaySo) {
  QL_RUN_WITH_FAULT_INJECTOR();
  auto w = Make();
  const std::string programs = work + "/extenc.ini", names = work + "/extencname.ini",
                    args = work + "/extencarg.ini";
  auto walk = Walk({Ini(), programs, names, args});
  walk.restore = [&] {
    WriteEarlierIni();
    WriteFile(programs, "/old/enc\r\n");
    WriteFile(names, "old\r\n");
    WriteFile(args, "$1 $2\r\n");
    AnswerNextModal("pbOK", [](QWidget* d) {
      auto* e = static_cast<TFormExtMP3Encoder*>(d);
      e->dfsName->setCurrentText("Fast");
      e->dfsProgram->setCurrentText("/usr/bin/fast");
      e->dfsArguments->setCurrentText("-q $1 $2");
    });
  };
  walk.save = [&] { w->miExternalEncoderClick(); };
  walk.check_message = [](const std::vector<std::string>& texts) { EXPECT_EQ(texts.size(), 1u); };
  qltest::WalkSaveFaults(walk, *g_ui);
  EXPECT_EQ(qltest::ReadFile(names), "old\r\nFast\r\n");
  EXPECT_EQ(TIniFile(Ini()).ReadString("Externa MP3 Encoder Fast", "Program", ""), "/usr/bin/fast");
}

TEST_F(DialogSaveFaults, AWaveFormatThatCannotBeStoredIsSaid) {
  QL_RUN_WITH_FAULT_INJECTOR();
  auto w = Make();
  const std::string bin = work + "/QuillonTrackwell.bin";
  auto walk = Walk({bin});
  walk.restore = [&] {
    WriteFile(bin, "an earlier record");
    AnswerNextModal("btnOK");
  };
  walk.save = [&] { w->miWaveFormatClick(); };
  walk.check_message = [&](const std::vector<std::string>& texts) {
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find(bin), std::string::npos) << texts[0];
  };
  qltest::WalkSaveFaults(walk, *g_ui);
}

}  // namespace
