#include "MP3Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "CDRipperUtil.h"
#include "Profile.h"
#include "ProfileSection.h"
#include "Ui.h"

namespace {
const char* const kSection = "OPTIONS: MP3 Settings";
const char* const kRates[] = {"32",  "40",  "48",  "56",  "64",  "80",  "96",
                              "112", "128", "160", "192", "224", "256", "320"};
const char* const kModes[] = {"Stereo", "Dual Channel", "Mono"};
}  // namespace

TFormMP3Settings::TFormMP3Settings(QWidget* parent) : QDialog(parent) {
  setObjectName("FormMP3Settings");
  setWindowTitle("Quillon Trackwell: BladeEnc's MP3 Options");
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  auto combo = [this](const char* name) {
    auto* c = new QComboBox(this);
    c->setObjectName(name);
    return c;
  };
  cbBitRate = combo("cbBitRate");
  cbBitRate->setEditable(true);  // the text is what counts, as typed or chosen
  for (const char* r : kRates) cbBitRate->addItem(r);
  cbBitRate->setCurrentText("128");
  cbChannelMode = combo("cbChannelMode");
  for (const char* m : kModes) cbChannelMode->addItem(m);
  cbFileType = combo("cbFileType");
  cbFileType->addItems({"WAVE", "MP3"});
  cbFileType->setCurrentText("MP3");
  auto label = [this](const char* caption, QWidget* buddy) {
    auto* l = new QLabel(caption, this);
    l->setBuddy(buddy);
    return l;
  };
  form->addRow(label("Bit &Rate...............", cbBitRate), cbBitRate);
  form->addRow(label("Channel &Mode...", cbChannelMode), cbChannelMode);
  form->addRow(label("File &Type............", cbFileType), cbFileType);
  layout->addLayout(form);
  auto check = [this](const char* name, const char* caption, bool on) {
    auto* c = new QCheckBox(caption, this);
    c->setObjectName(name);
    c->setChecked(on);
    return c;
  };
  auto* flags = new QHBoxLayout;
  cbCRC = check("cbCRC", "C&RC", true);
  cbCopyright = check("cbCopyright", "&Copyright", false);
  cbOriginal = check("cbOriginal", "&Original", false);
  cbPrivat = check("cbPrivat", "&Private", false);
  for (QWidget* w : {cbCRC, cbCopyright, cbOriginal, cbPrivat}) flags->addWidget(w);
  layout->addLayout(flags);
  cbWriteTags = check("cbWriteTags", "Write ta&gs", true);
  layout->addWidget(cbWriteTags);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  pbSave = new QPushButton("Save", this);
  pbSave->setObjectName("pbSave");
  pbSave->setDefault(true);
  pbCancel = new QPushButton("Cancel", this);
  pbCancel->setObjectName("pbCancel");
  pbHelp = new QPushButton("&Help", this);
  pbHelp->setObjectName("pbHelp");
  for (QWidget* w : {pbSave, pbCancel, pbHelp}) buttons->addWidget(w);
  layout->addLayout(buttons);
  connect(pbSave, &QPushButton::clicked, this, [this] { pbSaveClick(); });
  connect(pbCancel, &QPushButton::clicked, this, [this] { pbCancelClick(); });
  connect(pbHelp, &QPushButton::clicked, this, [this] { ql::UI().ShowHelp(HelpFile, 0); });
  ripper_window::FitTitle(this);
}

int TFormMP3Settings::BitRateIndex() const {
  const QString text = cbBitRate->currentText();
  for (int i = 0; i < 14; ++i)
    if (text == kRates[i]) return i;
  return 8;
}

void TFormMP3Settings::SetBitRateIndex(int index) {
  cbBitRate->setCurrentText(index >= 0 && index < 14 ? kRates[index] : "128");
}

int TFormMP3Settings::BitRateOf(int index) {
  return index >= 0 && index < 14 ? std::atoi(kRates[index]) : 128;
}

int TFormMP3Settings::ChannelModeIndex() {
  const QString text = cbChannelMode->currentText();
  for (int i = 0; i < 3; ++i)
    if (text == kModes[i]) return i;
  cbChannelMode->setCurrentText("Stereo");
  return 0;
}

void TFormMP3Settings::SetChannelModeIndex(int index) {
  cbChannelMode->setCurrentIndex(index >= 0 && index < 3 ? index : 0);
}

int TFormMP3Settings::FileTypeIndex() const {
  return cbFileType->currentText() == "WAVE" ? 0 : 1;
}

void TFormMP3Settings::SetFileTypeIndex(int index) {
  cbFileType->setCurrentText(index == 0 ? "WAVE" : "MP3");
}

bool TFormMP3Settings::CRC() const {
  return cbCRC->isChecked();
}
bool TFormMP3Settings::Copyright() const {
  return cbCopyright->isChecked();
}
bool TFormMP3Settings::Original() const {
  return cbOriginal->isChecked();
}
bool TFormMP3Settings::Privat() const {
  return cbPrivat->isChecked();
}
bool TFormMP3Settings::WriteTags() const {
  return cbWriteTags->isChecked();
}

void TFormMP3Settings::SaveMp3Settings(const std::string& path) {
  try {
    // One replace of the file: a failed save leaves every old option, never half of them.
    ql::profile::TIniWriteBatch ini(path);
    ini.WriteBool(kSection, "Copyright", Copyright());
    ini.WriteBool(kSection, "CRC", CRC());
    ini.WriteBool(kSection, "Original", Original());
    ini.WriteBool(kSection, "Privat", Privat());
    ini.WriteBool(kSection, "WriteTags", WriteTags());
    ini.WriteInteger(kSection, "BitRate", BitRateIndex());
    ini.WriteInteger(kSection, "ChannelMode", ChannelModeIndex());
    ini.WriteInteger(kSection, "FileType", FileTypeIndex());
    ini.Commit();
  } catch (...) {
    ql::UI().ShowMessage("Unable to save MP3 settings.");
  }
}

void TFormMP3Settings::LoadMp3Settings(const std::string& path) {
  try {
    ql::profile::TIniSection ini(path, kSection);
    for (auto [key, box] : {std::pair{"Copyright", cbCopyright}, std::pair{"CRC", cbCRC},
                            std::pair{"Original", cbOriginal}, std::pair{"Privat", cbPrivat},
                            std::pair{"WriteTags", cbWriteTags}})
      box->setChecked(ini.ReadBool(key, box->isChecked()));
    int rate = ini.ReadInteger("BitRate", 9);
    SetBitRateIndex(rate >= 0 && rate < 14 ? rate : 8);
    int mode = ini.ReadInteger("ChannelMode", 0);
    SetChannelModeIndex(mode >= 0 && mode <= 2 ? mode : 0);
    SetFileTypeIndex(ini.ReadInteger("FileType", 1) == 0 ? 0 : 1);
  } catch (...) {
    ql::UI().ShowMessage("Unable to load MP3 settings.");
  }
}

void TFormMP3Settings::pbSaveClick() {
  SaveMp3Settings(SettingsFile);
  Saved = true;
  done(QDialog::Accepted);
}

void TFormMP3Settings::pbCancelClick() {
  Saved = false;
  done(QDialog::Rejected);
}
