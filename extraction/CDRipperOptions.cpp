// The CD-extraction window's option dialogs, hints, CDDB command and closing.
#include "CDRipper.h"
#include "CDRipperUtil.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QRadioButton>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "ACMChooser.h"
#include "About.h"
#include "CDConfig.h"
#include "CDDB.h"
#include "CDDBID.h"
#include "CDDBList.h"
#include "CDDBSel.h"
#include "DiscStore.h"
#include "ExtMP3Encoder.h"
#include "ExtMP3Exec.h"
#include "Fs.h"
#include "HttpGet1.h"
#include "MMControls.h"
#include "MP3Settings.h"
#include "Profile.h"
#include "RipperText.h"
#include "SafeName.h"
#include "Settings.h"
#include "Shell.h"
#include "StringGrid.h"
#include "TextFile.h"
#include "WaveOut.h"

using ripper_window::ApplyHintsToChildren;
using ripper_window::BytesOf;
using ripper_window::Q;

// ---------------------------------------------------------------------------------------------
// Dialogs and options

void TFormCDRipper::miDSPSettingsClick() {
  try {
    TFormSettings& d = *FormSettings;
    bool eq = d.Equalizer(), pitch = d.Pitch(), volume = d.Volume(), stretch = d.TimeStretch();
    bool always = d.SaveOnExit();
    std::string dir = d.OutputDirectory();
    d.ShowDeviceType(DeviceTypeIndex);
    if (!d.Execute()) {
      // Cancelled: the stages, the save choice and the directory go back; the rest stays.
      d.SetEqualizer(eq);
      d.SetPitch(pitch);
      d.SetVolume(volume);
      d.SetTimeStretch(stretch);
      d.SetSaveOnExit(always);
      d.SetOutputDirectory(dir);
    } else {
      // The drive type chosen in the dialog is the one stored and used.
      DeviceTypeIndex = d.cbDeviceType->currentIndex();
      try {
        if (FCDReader.GetDeviceID() >= 0) FCDReader.SetDeviceType(TCDDeviceType(DeviceTypeIndex));
      } catch (...) {
      }
      SaveDSPTOFile(kSettingsName);
    }
    SetDSPValues();
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(e.what());
  }
}

void TFormCDRipper::MenuItemSettingsClick() {
  if (ql::UI().Execute(SaveDialog) && FormSettings)
    FormSettings->SetOutputDirectory(ql::fs::ExtractFilePath(SaveDialog.FileName));
}

void TFormCDRipper::ShowMp3Settings() {
  FormMP3Settings->SettingsFile = SettingsFile();
  FormMP3Settings->LoadMp3Settings(SettingsFile());
  FormMP3Settings->exec();
}

void TFormCDRipper::miBladeOptionsClick() {
  try {
    ShowMp3Settings();
  } catch (const EInOutError&) {
    ql::UI().ShowMessage("Unable to save MP3Blade setiings.");
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(e.what());
  }
}

void TFormCDRipper::miEncodeSettingsClick() {
  try {
    ShowMp3Settings();
  } catch (...) {
  }
}

void TFormCDRipper::miExternalEncoderClick() {
  FormExtMP3Encoder->LoadEncoder(SettingsFile());
  FormExtMP3Encoder->ShowEncoderDialog();
}

void TFormCDRipper::miCDDBSettingsClick() {
  FormCDDBSettings->LoadSettings(SettingsFile());
  FormCDDBSettings->exec();
  // What was saved applies; what was typed and cancelled does not.
  FormCDDBSettings->LoadSettings(SettingsFile());
  ApplyCDDBOptions();
}

void TFormCDRipper::miHintsOnClick() {
  // The checkable action has toggled itself when it was triggered.
  SetHints(miHintsOn->isChecked());
}

void TFormCDRipper::SetHints(bool on) {
  miHintsOn->setChecked(on);
  for (auto& [w, hint] : hints_) w->setToolTip(on ? hint : QString());
  for (QWidget* d : std::initializer_list<QWidget*>{FormSettings, FormExtMP3Encoder, AboutBox,
                                                    FormCDDBSettings, FormMP3Settings})
    ApplyHintsToChildren(d, on);
}

void TFormCDRipper::MenuItemAboutClick() {
  if (AboutBox) AboutBox->exec();
}

void TFormCDRipper::N256ColoursClick() {
  N256Colours->setChecked(true);
  TrueColour->setChecked(false);
}

void TFormCDRipper::TrueColourClick() {
  TrueColour->setChecked(true);
  N256Colours->setChecked(false);
}

void TFormCDRipper::SpeedButton1Click() {
  try {
    std::vector<std::pair<std::string, std::string>> hints;
    auto add = [&](QWidget* w, const char* name) {
      hints.emplace_back(name, w ? w->toolTip().toStdString() : std::string());
    };
    add(sbRecord, "sbRecord");
    add(sbEject, "sbEject");
    add(sbNext, "sbNext");
    add(sbPrevious, "sbPrevious");
    add(sbPlay, "sbPlay");
    add(sbStop, "sbStop");
    add(sbRepeat, "sbRepeat");
    add(Grid, "Grid");
    add(GaugeBuffer, "GaugeBuffer");
    add(tt2, "tt2");
    add(tt, "tt");
    add(mm2, "mm2");
    add(ss2, "ss2");
    add(lblTime, "lblTime");
    add(ss, "ss");
    add(level1, "level1");
    add(Level2, "Level2");
    add(GaugeRecord, "GaugeRecord");
    add(lblRecording, "lblRecording");
    add(Label11, "Label11");
    add(Colon1, "Colon1");
    add(mm, "mm");
    add(PanelArtist, "PanelArtist");
    add(cbDevice, "cbDevice");
    add(dfsTitle, "dfsTitle");
    add(dfsArtist, "dfsArtist");
    add(nullptr, "MMBitmapLabel2");
    add(PanelDSP, "PanelDSP");
    add(lblOutput, "lblOutput");
    add(PanelEqualizer, "PanelEqualizer");
    add(PanelVolume, "PanelVolume");
    add(SliderVolume, "SliderVolume");
    add(PanelPitch, "PanelPitch");
    add(spinPitch, "spinPitch");
    add(PanelHalfSpeed, "PanelHalfSpeed");
    add(SliderOverlap, "SliderOverlap");
    add(cbHalfSpeedOn, "cbHalfSpeedOn");
    add(nullptr, "cbHalfSpeed");
    add(rbSOLA, "rbSOLA");
    add(rbLine, "rbLine");
    for (int i = 11; i >= 0; --i) add(sl[i], ("sl" + std::to_string(i)).c_str());
    std::string text;
    for (const std::string& line : ripper::HintsPage(hints)) text += line + "\r\n";
    // The root of the current drive on the system this was made for; the work directory here.
    std::string path = WorkFile("Hints.html");
    ql::WriteFileAtomic(path, text);
    ql::shell::Open(path);
  } catch (...) {
  }
}

void TFormCDRipper::RunModalAndCollect(std::vector<std::string>& tracks,
                                       std::vector<std::string>& names,
                                       std::vector<std::string>& saved,
                                       std::vector<std::string>& times, std::string& artist,
                                       std::string& title) {
  try {
    setWindowModality(Qt::ApplicationModal);
    LongTimer.SetEnabled(true);
    show();
    // Modal: the caller waits here until the window is closed.
    while (isVisible()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    setWindowModality(Qt::NonModal);
    if (Grid->ColCount() == kColumns)
      for (int r = 1; r < Grid->RowCount(); ++r) {
        tracks.push_back(Grid->CellText(colTrack, r));
        names.push_back(Grid->CellText(colName, r));
        saved.push_back(Grid->CellText(colSavedAs, r));
        times.push_back(Grid->CellText(colTime, r));
      }
    artist = dfsArtist->text().toStdString();
    title = dfsTitle->text().toStdString();
  } catch (const std::exception& e) {
    ql::UI().ErrorBox(std::string("Can't execute ") + e.what());
  }
}

// ---------------------------------------------------------------------------------------------
// CDDB

void TFormCDRipper::GetdatafromMMCDDBClick() {
  if (FCDDB.GetEmail().empty()) {
    // Nobody is contacted without the user's own address: ask for it.
    ql::UI().InfoBox("Invalid e-mail address");
    miCDDBSettingsClick();
    return;
  }
  ReopenDrive();
  FCDDB.TrackTitles().clear();
  FCDDB.OnSelectMatch = [this](ql::TMMCDDB*, ql::TMMCDDBMatches& matches, int& match) {
    match = ChooseCddbMatch(*FormCDDBList, matches);
  };
  // Names from the server are made safe before the window shows or stores them; tabs and line
  // ends of the entry's escapes become blanks.
  auto safe = [](std::string s) {
    for (char& c : s)
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return Q(ripper::SafeValue(s));
  };
  std::string result;
  bool named = false;
  WithProgress(this, FCDDB, [&] {
    FCDDB.QueryDisc(result);
    named = !FCDDB.GetAborted() && (!FCDDB.TrackTitles().empty() || !FCDDB.GetDiscTitle().empty());
  });
  // A failed or aborted lookup changes nothing (a refusal has been shown as an error).
  if (!named) return;
  // The entry's year and genre go into the MP3 tags and the log of this disc's recordings.
  cddbYear_ = ripper::SafeValue(FCDDB.GetYear());
  cddbGenre_ = ripper::SafeValue(FCDDB.GetGenre());
  cddbSection_ = DiscSection;
  const auto& titles = FCDDB.TrackTitles();
  if (!titles.empty() && static_cast<int>(titles.size()) < Grid->RowCount() &&
      Grid->ColCount() == kColumns)
    for (std::size_t i = 0; i < titles.size(); ++i)
      Grid->SetCell(colName, static_cast<int>(i) + 1, safe(titles[i]));
  dfsArtist->setText(safe(FCDDB.GetArtist()));
  bool split = FCDDB.GetDiscTitle().find('/') != std::string::npos ||
               FCDDB.GetDiscTitle().find(" - ") != std::string::npos;
  dfsTitle->setText(split ? safe(FCDDB.GetTitle()) : QString());
}

// ---------------------------------------------------------------------------------------------
// Closing

void TFormCDRipper::MenuItemExitClick() {
  if ((Playing || Recording) && Grid->RowCount() > 1) {
    try {
      FCDReader.StopAudio();
    } catch (...) {
    }
  }
  close();
}

void TFormCDRipper::closeEvent(QCloseEvent* event) {
  OnClose();
  event->accept();
  // Nothing goes on in a closed window: no repeat, no next batch track.
  lblRepaet->hide();
  BatchMode = EncodeAll = ExternalAll = false;
  ++playRun_;
  // A track being recorded is cut short by the user: its log entry says so.
  if (Recording) stopAsked_ = true;
  try {
    if (Recording) Trigger.Close();
    FWaveOut->Close();
  } catch (...) {
  }
  Playing = Recording = false;
  Timer->stop();
  MeterTimer->stop();
  SetRecordingView(false);
  QMainWindow::closeEvent(event);
}

void TFormCDRipper::OnClose() {
  LongTimer.SetEnabled(false);
  // A disc that was never named has nothing to save: closing saves the DSP settings only,
  // without the error box that Save CD shows for a missing artist or title.
  auto save = [this] {
    if (dfsArtist->text().isEmpty() && dfsTitle->text().isEmpty())
      SaveDSPTOFile(kSettingsName);
    else
      RunProtected(&TFormCDRipper::SaveCD1Click, false);
  };
  if (FormSettings && FormSettings->SaveOnExit()) {
    save();
  } else if (FormSettings && FormSettings->Execute()) {
    save();
    try {
      FormSettings->SaveSettings(SettingsFile());
    } catch (const std::exception& e) {
      ql::UI().ShowMessage(e.what());
    }
  }
}
