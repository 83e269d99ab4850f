// The disc information and the window's settings: "cdplayer.ini" (artist, title and track names
// of every disc, in the system CD player's format) and "QuillonTrackwell.ini" in the work
// directory (saved file names per disc, and the window's options).
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include "CDRipper.h"
#include "MMControls.h"
#include "Profile.h"
#include "Settings.h"
#include "StringGrid.h"

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

void TFormCDRipper::SaveCD1Click() {
  SaveDisc();
  SaveDSPTOFile(kSettingsName);
}

void TFormCDRipper::MenuItemLoadClick() {
  if (Recording || Playing)
    ql::UI().ShowMessage(
        "Quillon Trackwell can not load saved data while it is recording or playing");
  else
    LoadDisc();
  SetDSPValues();
}

void TFormCDRipper::MenuItemRestoreCDClick() { LoadDisc(); }

void TFormCDRipper::WriteDiscValue(const std::string& file_name, const std::string& section,
                                   const std::string& key, const std::string& value) {
  TIniFile ini(WorkFile(file_name));
  ini.WriteString(section, key, value);
}

void TFormCDRipper::SaveDisc() {
  // Both files are written whole at the end (one atomic replace each): a disc of 99 tracks is
  // two file writes, not two hundred.
  TIniBatch settings(SettingsFile());
  TIniBatch discs(kDiscFile);
  DiscLoaded = false;
  try {
    if (dfsArtist->text().isEmpty() || dfsTitle->text().isEmpty())
      throw EFormRipperError(
          "Error: You must enter Artist and Title to be able to store information correctly in "
          "the file QuillonTrackwell.ini.");
    settings.WriteInteger(kOptions, "DeviceID", FCDReader.GetDeviceID());
    int tracks = TrackRows();
    discs.WriteString(DiscSection, "artist", dfsArtist->text().toStdString());
    discs.WriteString(DiscSection, "title", dfsTitle->text().toStdString());
    discs.WriteInteger(DiscSection, "numtracks", tracks);
    discs.WriteInteger(DiscSection, "numplay", tracks);
    discs.WriteInteger(DiscSection, "EntryType", 1);
    std::string order;
    if (Grid->ColCount() == kColumns)
      for (int r = 1; r < Grid->RowCount(); ++r) {
        discs.WriteString(DiscSection, std::to_string(r - 1), Grid->CellText(colName, r));
        settings.WriteString(DiscSection, "f" + std::to_string(r - 1),
                             Grid->CellText(colSavedAs, r));
        order += std::to_string(r - 1) + " ";
      }
    discs.WriteString(DiscSection, "order", order);
    QRect g = geometry();
    settings.WriteInteger(kOptions, "Left", g.left());
    settings.WriteInteger(kOptions, "Top", g.top());
    settings.WriteInteger(kOptions, "Height", g.height());
    settings.WriteInteger(kOptions, "Width", g.width());
    for (int i = 0; i < 12; ++i) settings.WriteInteger(kOptions, "EQ" + std::to_string(i), sl[i]->value());
    settings.WriteInteger(kOptions, "SliderOverlap", SliderOverlap->value());
    settings.WriteInteger(kOptions, "spinPitch", spinPitch->Value());
    settings.WriteBool(kOptions, "rbHalfSpeed", cbHalfSpeedOn->isChecked());
    settings.WriteBool(kOptions, "rbSOLA", rbSOLA->isChecked());
    settings.WriteBool(kOptions, "rbLine", rbLine->isChecked());
    settings.WriteBool(kOptions, "miHintsOn", miHintsOn->isChecked());
    settings.WriteBool(kOptions, "miOutputBladeEnc", miOutputBladeEnc->isChecked());
    settings.WriteBool(kOptions, "miOutputExternal", miOutputExternal->isChecked());
    settings.WriteBool(kOptions, "miOutputWave", miOutputWave->isChecked());
    discs.Commit();
    settings.Commit();
  } catch (const EFormRipperError&) {
    ql::UI().ErrorBox("Can not save ini files. A CD can not have the fields Artist and Title empty.");
  } catch (...) {
    ql::UI().ErrorBox("Can not save ini.");
  }
}

void TFormCDRipper::SaveDSPTOFile(const std::string& file_name) {
  try {
    std::string path = WorkFile(file_name);
    if (FormSettings) FormSettings->SaveSettings(path);
    TIniBatch ini(path);
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
    TIniFile ini(SettingsFile());
    int left = ini.ReadInteger(kOptions, "Left", 10);
    int top = ini.ReadInteger(kOptions, "Top", 10);
    int height = ini.ReadInteger(kOptions, "Height", 487);
    int width = ini.ReadInteger(kOptions, "Width", 639);
    setGeometry(left, top, width, height);
  } catch (...) {
  }
}

void TFormCDRipper::LoadDisc() {
  TIniFile settings(SettingsFile());
  TIniFile discs(kDiscFile);
  try {
    // 1.
    FillTrackGrid();
    // 2.
    dfsArtist->setText(Q(discs.ReadString(DiscSection, "artist", "")));
    dfsTitle->setText(Q(discs.ReadString(DiscSection, "title", "")));
    // 3. A drive type stored as text (by the options dialog) reads as the default.
    DeviceTypeIndex = settings.ReadInteger(kOptions, "DeviceType", DeviceTypeIndex);
    if (FormSettings) {
      FormSettings->SetAddArtist(settings.ReadBool(kOptions, "AddArtist", true));
      FormSettings->SetAddTitle(settings.ReadBool(kOptions, "AddTitle", true));
      FormSettings->SetAddNumber(settings.ReadBool(kOptions, "AddNumber", true));
    }
    // The reader's drive; the grid and the names stay those of the drive chosen in the combo
    // box, which the next reopen selects again.
    int id = settings.ReadInteger(kOptions, "DeviceID", FCDReader.GetDeviceID());
    if (id != FCDReader.GetDeviceID() && id >= 0 && id < FCDReader.NumDevices() && !Playing &&
        !Recording)
      FCDReader.SetDeviceID(id);
    // 4.
    if (Grid->ColCount() == kColumns) {
      int n = TrackRows();
      for (int i = 0; i < n; ++i) {
        std::string name = discs.ReadString(DiscSection, std::to_string(i), "");
        if (!name.empty()) Grid->SetCell(colName, i + 1, Q(name));
      }
      for (int i = 0; i < n; ++i) {
        std::string saved = settings.ReadString(DiscSection, "f" + std::to_string(i), "");
        if (!saved.empty()) Grid->SetCell(colSavedAs, i + 1, Q(saved));
      }
    }
    // 5.
    for (int i = 0; i < 12; ++i)
      sl[i]->setValue(settings.ReadInteger(kOptions, "EQ" + std::to_string(i), EqualizerReset));
    SliderOverlap->setValue(settings.ReadInteger(kOptions, "SliderOverlap", SliderOverlap->value()));
    spinPitch->SetValue(settings.ReadInteger(kOptions, "spinPitch", spinPitch->Value()));
    Pitch.SetPitch(static_cast<float>(spinPitch->Value()));
    cbHalfSpeedOn->setChecked(settings.ReadBool(kOptions, "rbHalfSpeed", cbHalfSpeedOn->isChecked()));
    rbSOLA->setChecked(settings.ReadBool(kOptions, "rbSOLA", rbSOLA->isChecked()));
    rbLine->setChecked(settings.ReadBool(kOptions, "rbLine", rbLine->isChecked()));
    // 6.
    SetHints(settings.ReadBool(kOptions, "miHintsOn", miHintsOn->isChecked()));
    // Each mark is read after the one before was applied: the last one stored as checked wins.
    auto output = [&](QAction* item, const char* key, void (TFormCDRipper::*click)()) {
      bool on = settings.ReadBool(kOptions, key, item->isChecked());
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
