// The disc information and the window's settings: "cdplayer.ini" (artist, title and track names
// of every disc, in the system CD player's format) and "QuillonTrackwell.ini" in the work
// directory (saved file names per disc, and the window's options).
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include "CDRipper.h"
#include "DiscStore.h"
#include "DiscText.h"
#include "MMControls.h"
#include "Profile.h"
#include "ProfileSection.h"
#include "SafeName.h"
#include "Settings.h"
#include "StringGrid.h"

namespace {
QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
}  // namespace

void TFormCDRipper::SaveCD1Click() {
  // A name still being edited in the grid is saved with the others.
  Grid->CommitEdit();
  // The disc's and the DSP's keys of the settings file go in one replace of the file.
  ql::profile::TIniWriteBatch settings(SettingsFile());
  settingsBatch_ = &settings;
  SaveDisc();
  SaveDSPTOFile(kSettingsName);
  settingsBatch_ = nullptr;
  try {
    if (!settings.Commit()) throw Exception("refused");
  } catch (...) {
    ql::UI().ErrorBox("Can not save ini.");
  }
}

void TFormCDRipper::MenuItemLoadClick() {
  if (Recording || Playing)
    ql::UI().ShowMessage(
        "Quillon Trackwell can not load saved data while it is recording or playing");
  else
    LoadDisc();
  SetDSPValues();
}

void TFormCDRipper::MenuItemRestoreCDClick() {
  LoadDisc();
}

void TFormCDRipper::WriteDiscValue(const std::string& file_name, const std::string& section,
                                   const std::string& key, const std::string& value) {
  TIniFile ini(WorkFile(file_name));
  ini.WriteString(section, key, ripper::SafeValue(value));
}

void TFormCDRipper::SaveDisc() {
  // Both files are written whole at the end (one atomic replace each): a disc of 99 tracks is
  // two file writes, not two hundred.
  ql::profile::TIniWriteBatch settings(SettingsFile());
  ql::profile::TIniWriteBatch discs(kDiscFile);
  DiscLoaded = false;
  try {
    if (dfsArtist->text().isEmpty() || dfsTitle->text().isEmpty())
      throw EFormRipperError(
          "Error: You must enter Artist and Title to be able to store information correctly in "
          "the file QuillonTrackwell.ini.");
    settings.WriteInteger(kOptions, "DeviceID", FCDReader.GetDeviceID());
    // Names go through the core's store: every value made safe, so no name plants a key.
    ripper::TDiscNames names;
    names.artist = dfsArtist->text().toStdString();
    names.title = dfsTitle->text().toStdString();
    if (Grid->ColCount() == kColumns)
      for (int r = 1; r < Grid->RowCount(); ++r) {
        names.names.push_back(Grid->CellText(colName, r));
        names.savedAs.push_back(Grid->CellText(colSavedAs, r));
      }
    ripper::AddDiscWrites(discs, settings, DiscSection, names);
    QRect g = geometry();
    settings.WriteInteger(kOptions, "Left", g.left());
    settings.WriteInteger(kOptions, "Top", g.top());
    settings.WriteInteger(kOptions, "Height", g.height());
    settings.WriteInteger(kOptions, "Width", g.width());
    for (int i = 0; i < 12; ++i)
      settings.WriteInteger(kOptions, "EQ" + std::to_string(i), sl[i]->value());
    settings.WriteInteger(kOptions, "SliderOverlap", SliderOverlap->value());
    settings.WriteInteger(kOptions, "spinPitch", spinPitch->Value());
    settings.WriteBool(kOptions, "rbHalfSpeed", cbHalfSpeedOn->isChecked());
    settings.WriteBool(kOptions, "rbSOLA", rbSOLA->isChecked());
    settings.WriteBool(kOptions, "rbLine", rbLine->isChecked());
    settings.WriteBool(kOptions, "miHintsOn", miHintsOn->isChecked());
    settings.WriteBool(kOptions, "miOutputBladeEnc", miOutputBladeEnc->isChecked());
    settings.WriteBool(kOptions, "miOutputExternal", miOutputExternal->isChecked());
    settings.WriteBool(kOptions, "miOutputWave", miOutputWave->isChecked());
    if (!discs.Commit()) throw Exception("refused");
    if (settingsBatch_)
      settingsBatch_->Append(settings);
    else if (!settings.Commit())
      throw Exception("refused");
  } catch (const EFormRipperError&) {
    ql::UI().ErrorBox(
        "Can not save ini files. A CD can not have the fields Artist and Title empty.");
  } catch (...) {
    ql::UI().ErrorBox("Can not save ini.");
  }
}

void TFormCDRipper::SaveDSPTOFile(const std::string& file_name) {
  try {
    std::string path = WorkFile(file_name);
    ql::profile::TIniWriteBatch ini(path);
    // The general options and these keys are one replace of the file (a failure leaves both
    // as they were); within Save CD they join the settings file's one replace.
    bool joined = settingsBatch_ && settingsBatch_->FileName == path;
    if (FormSettings) FormSettings->AddSettingsWrites(ini);
    ini.WriteInteger(kOptions, "VolumeValue", SliderVolume->value());
    ini.WriteBool(kOptions, "rbHalfSpeed", cbHalfSpeedOn->isChecked());
    ini.WriteInteger(kOptions, "PitchValue", spinPitch->Value());
    ini.WriteInteger(kOptions, "DeviceType", DeviceTypeIndex);
    ini.WriteBool(kOptions, "AddArtist", FormSettings && FormSettings->AddArtist());
    ini.WriteBool(kOptions, "AddTitle", FormSettings && FormSettings->AddTitle());
    ini.WriteBool(kOptions, "AddNumber", FormSettings && FormSettings->AddNumber());
    ini.WriteBool(kOptions, "rbSOLA", rbSOLA->isChecked());
    ini.WriteBool(kOptions, "rbLINE", rbLine->isChecked());
    ini.WriteInteger(kOptions, "DivSize", SliderOverlap->value());
    if (joined)
      settingsBatch_->Append(ini);
    else
      ini.Commit();
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(e.what());
  }
}

void TFormCDRipper::LoadDSPFromFile(const std::string& file_name) {
  try {
    std::string path = WorkFile(file_name);
    if (FormSettings) FormSettings->LoadSettings(path);
    TIniFile ini(path);
    SliderVolume->setValue(ini.ReadInteger(kOptions, "VolumeValue", SliderVolume->value()));
    cbHalfSpeedOn->setChecked(ini.ReadBool(kOptions, "rbHalfSpeed", false));
    rbSOLA->setChecked(ini.ReadBool(kOptions, "rbSOLA", false));
    rbLine->setChecked(ini.ReadBool(kOptions, "rbLINE", true));
    SliderOverlap->setValue(ini.ReadInteger(kOptions, "DivSize", SliderOverlap->value()));
    spinPitch->SetValue(ini.ReadInteger(kOptions, "PitchValue", spinPitch->Value()));
    if (FormSettings) {
      FormSettings->SetAddArtist(ini.ReadBool(kOptions, "AddArtist", true));
      FormSettings->SetAddTitle(ini.ReadBool(kOptions, "AddTitle", true));
      FormSettings->SetAddNumber(ini.ReadBool(kOptions, "AddNumber", false));
    }
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(e.what());
  }
}

void TFormCDRipper::SaveEqPitchSettings() {
  try {
    TIniFile ini(SettingsFile());
    ini.WriteBool(kOptions, "pitch", !spinPitch->isHidden() && !PanelPitch->isHidden());
    ini.WriteBool(kOptions, "equalizer", !PanelEqualizer->isHidden());
    ini.WriteInteger(kOptions, "volume", SliderVolume->value());
  } catch (const std::exception& e) {
    ql::UI().ErrorBox(e.what());
  }
}

void TFormCDRipper::LoadPlacement() {
  try {
    ql::profile::TIniSection ini(SettingsFile(), kOptions);
    int left = ini.ReadInteger("Left", 10);
    int top = ini.ReadInteger("Top", 10);
    int height = ini.ReadInteger("Height", 487);
    int width = ini.ReadInteger("Width", 639);
    setGeometry(left, top, width, height);
  } catch (...) {
  }
}

void TFormCDRipper::LoadDisc() {
  try {
    // The options are read from one reading of their section (not one file read per key).
    ql::profile::TIniSection options(SettingsFile(), kOptions);
    // 1.
    FillTrackGrid();
    // 2. Each of the two files is read once for the names.
    ripper::TDiscNames names = ripper::LoadDiscNames(
        kDiscFile, SettingsFile(), DiscSection, Grid->ColCount() == kColumns ? TrackRows() : 0);
    // What the store lacks, the disc's own text gives (CD-Text, a cue sheet's TITLE and
    // PERFORMER); the store wins where it has a name.
    if (Grid->ColCount() == kColumns) {
      std::vector<int> numbers;
      for (int r = 1; r < Grid->RowCount(); ++r) numbers.push_back(Grid->Cell(colTrack, r).toInt());
      names.names.resize(numbers.size());
      names.savedAs.resize(numbers.size());
      ripper::FillFromDiscText(names, ripper::ParseDiscText(FCDReader.CDText()), numbers);
    }
    dfsArtist->setText(Q(names.artist));
    dfsTitle->setText(Q(names.title));
    // 3. A drive type stored as text (by the options dialog) reads as the default.
    DeviceTypeIndex = options.ReadInteger("DeviceType", DeviceTypeIndex);
    if (FormSettings) {
      FormSettings->SetAddArtist(options.ReadBool("AddArtist", true));
      FormSettings->SetAddTitle(options.ReadBool("AddTitle", true));
      FormSettings->SetAddNumber(options.ReadBool("AddNumber", true));
    }
    // The reader's drive; the grid and the names stay those of the drive chosen in the combo
    // box, which the next reopen selects again.
    int id = options.ReadInteger("DeviceID", FCDReader.GetDeviceID());
    if (id != FCDReader.GetDeviceID() && id >= 0 && id < FCDReader.NumDevices() && !Playing &&
        !Recording)
      FCDReader.SetDeviceID(id);
    // 4.
    for (int i = 0; i < static_cast<int>(names.names.size()) && i + 1 < Grid->RowCount(); ++i) {
      if (!names.names[i].empty()) Grid->SetCell(colName, i + 1, Q(names.names[i]));
      if (!names.savedAs[i].empty()) Grid->SetCell(colSavedAs, i + 1, Q(names.savedAs[i]));
    }
    // 5.
    for (int i = 0; i < 12; ++i)
      sl[i]->setValue(options.ReadInteger("EQ" + std::to_string(i), EqualizerReset));
    SliderOverlap->setValue(options.ReadInteger("SliderOverlap", SliderOverlap->value()));
    spinPitch->SetValue(options.ReadInteger("spinPitch", spinPitch->Value()));
    Pitch.SetPitch(static_cast<float>(spinPitch->Value()));
    cbHalfSpeedOn->setChecked(options.ReadBool("rbHalfSpeed", cbHalfSpeedOn->isChecked()));
    rbSOLA->setChecked(options.ReadBool("rbSOLA", rbSOLA->isChecked()));
    rbLine->setChecked(options.ReadBool("rbLine", rbLine->isChecked()));
    // 6.
    SetHints(options.ReadBool("miHintsOn", miHintsOn->isChecked()));
    // Each mark is read after the one before was applied: the last one stored as checked wins.
    auto output = [&](QAction* item, const char* key, void (TFormCDRipper::*click)()) {
      bool on = options.ReadBool(key, item->isChecked());
      item->setChecked(on);
      if (on) (this->*click)();
    };
    output(miOutputBladeEnc, "miOutputBladeEnc", &TFormCDRipper::miOutputBladeEncClick);
    output(miOutputExternal, "miOutputExternal", &TFormCDRipper::miOutputExternalClick);
    output(miOutputWave, "miOutputWave", &TFormCDRipper::miOutputWaveClick);
    // 7.
    SetDSPValues();
    DiscLoaded = true;
  } catch (...) {
    ql::UI().ErrorBox("Can not load ini files correct.");
  }
  FormResize();
}
