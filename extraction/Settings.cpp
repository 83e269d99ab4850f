#include "Settings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "DirectoryList.h"
#include "Exception.h"
#include "Profile.h"
#include "ProfileSection.h"
#include "RipVerify.h"
#include "Ui.h"

namespace {
const char* const kSection = "OPTIONS: SETTINGS";

QCheckBox* Check(const char* name, const char* caption, bool on, QWidget* parent) {
  auto* c = new QCheckBox(caption, parent);
  c->setObjectName(name);
  c->setChecked(on);
  return c;
}

QRadioButton* Radio(const char* name, const char* caption, QWidget* parent) {
  auto* r = new QRadioButton(caption, parent);
  r->setObjectName(name);
  return r;
}
}  // namespace

const std::vector<std::string>& CDDeviceTypeNames() {
  static const std::vector<std::string> names = {
      "AutoDetect", "ATAPI",   "CYBER",    "DEC",     "GRUNDIG", "HITACHI", "HP",   "IBM",
      "IMS",        "KODAK",   "MATSHITA", "MITSUMI", "MP",      "MS",      "NEC",  "PHILIPS",
      "PIONEER",    "PLASMON", "PLEXTOR",  "RICOH",   "SONY",    "TOSHIBA", "TEAC", "YAMAHA"};
  return names;
}

TFormSettings::TFormSettings(QWidget* parent) : QDialog(parent) {
  setObjectName("FormSettings");
  setWindowTitle("Quillon Trackwell: General Options");
  auto* layout = new QVBoxLayout(this);

  auto* top = new QHBoxLayout;
  auto* stages = new QGroupBox("Playback", this);
  auto* sl = new QVBoxLayout(stages);
  cbEqualizer = Check("cbEqualizer", "&Equalizer", true, stages);
  cbPitch = Check("cbPitch", "&Pitch", false, stages);
  cbVolume = Check("cbVolume", "&Volume", true, stages);
  cbHalfSpeed = Check("cbHalfSpeed", "&Time stretch", true, stages);
  cbCCDDAPlay = Check("cbCCDDAPlay", "CDDA Play", false, stages);
  cbCCDDAPlay->setVisible(false);
  cbCCDDAPlay->setEnabled(false);
  for (QWidget* w : {cbEqualizer, cbPitch, cbVolume, cbHalfSpeed}) sl->addWidget(w);
  top->addWidget(stages);

  auto* exit = new QGroupBox("On exit", this);
  auto* el = new QVBoxLayout(exit);
  rbAutoSave = Radio("rbAutoSave", "&Always save on exit", exit);
  rbQuestionSave = Radio("rbQuestionSave", "As&k if save on exit", exit);
  rbAutoSave->setChecked(true);
  el->addWidget(rbAutoSave);
  el->addWidget(rbQuestionSave);
  auto* dt = new QHBoxLayout;
  auto* lblDeviceType = new QLabel("Device Type............", exit);
  cbDeviceType = new QComboBox(exit);
  cbDeviceType->setObjectName("cbDeviceType");
  for (const auto& n : CDDeviceTypeNames()) cbDeviceType->addItem(QString::fromStdString(n));
  lblDeviceType->setBuddy(cbDeviceType);
  dt->addWidget(lblDeviceType);
  dt->addWidget(cbDeviceType);
  el->addLayout(dt);
  top->addWidget(exit);
  layout->addLayout(top);

  auto* naming = new QGroupBox("File names", this);
  auto* nl = new QHBoxLayout(naming);
  cbAddArtist = Check("cbAddArtist", "Add a&rtist to filename", false, naming);
  cbAddTitle = Check("cbAddTitle", "Add &title to filename", false, naming);
  cbAddNumber = Check("cbAddNumber", "Add &number to filename", false, naming);
  for (QWidget* w : {cbAddArtist, cbAddTitle, cbAddNumber}) nl->addWidget(w);
  layout->addWidget(naming);

  auto* dirs = new QGroupBox("D&irectory to save wave files in", this);
  auto* dl = new QVBoxLayout(dirs);
  lblPath = new QLabel(dirs);
  lblPath->setObjectName("lblPath");
  lbDirectory = new TDirectoryListBox(dirs);
  lbDirectory->setObjectName("lbDirectory");
  cbDrive = new TDriveComboBox(dirs);
  cbDrive->setObjectName("cbDrive");
  dl->addWidget(lblPath);
  dl->addWidget(lbDirectory);
  dl->addWidget(cbDrive);
  layout->addWidget(dirs);
  lbDirectory->OnChange = [this](const std::string& dir) {
    lblPath->setText(QString::fromStdString(dir));
  };
  lblPath->setText(QString::fromStdString(lbDirectory->Directory()));
  cbDrive->ShowDriveOf(lbDirectory->Directory());

  auto* copy = new QGroupBox("Copy mode", this);
  auto* cl = new QHBoxLayout(copy);
  rbNormalCopy = Radio("rbNormalCopy", "Normal Copy", copy);
  rbBurstCopy = Radio("rbBurstCopy", "Burst Copy", copy);
  rbJitterCorrection = Radio("rbJitterCorrection", "Jitter Correction", copy);
  // None is checked at first; the buttons still exclude one another.
  copy_group_ = new QButtonGroup(this);
  for (QRadioButton* r : {rbNormalCopy, rbBurstCopy, rbJitterCorrection}) {
    copy_group_->addButton(r);
    cl->addWidget(r);
  }
  cbRemoveFirstSec = Check("cbRemoveFirstSec", "Remove first sec.", false, copy);
  cbRemoveLastSec = Check("cbRemoveLastSec", "Remove last sec.", false, copy);
  cbUseCODEC = Check("cbUseCODEC", "Use &CODEC", false, copy);
  cbUseCODEC->setVisible(false);
  cl->addWidget(cbRemoveFirstSec);
  cl->addWidget(cbRemoveLastSec);
  layout->addWidget(copy);

  // The drive's read offset in samples (a drive that reads N samples early is corrected by +N).
  auto* ol = new QHBoxLayout;
  auto* lblReadOffset = new QLabel("Read &offset (samples)", this);
  seReadOffset = new QSpinBox(this);
  seReadOffset->setObjectName("seReadOffset");
  seReadOffset->setRange(-kMaxReadOffset, kMaxReadOffset);
  seReadOffset->setValue(0);
  lblReadOffset->setBuddy(seReadOffset);
  ol->addWidget(lblReadOffset);
  ol->addWidget(seReadOffset);
  ol->addStretch();
  layout->addLayout(ol);

  // What a recording leaves beside its files, and its check against the AccurateRip database.
  auto* rip = new QGroupBox("After recording", this);
  auto* rl = new QGridLayout(rip);
  cbSideFiles =
      Check("cbSideFiles", "&Write a log, a cue sheet and a playlist beside the files", true, rip);
  cbAccurateRip = Check("cbAccurateRip", "Verif&y with AccurateRip", false, rip);
  auto* lblServer = new QLabel("&Server", rip);
  edAccurateRipServer = new QLineEdit(QString::fromUtf8(ripper::kAccurateRipServer), rip);
  edAccurateRipServer->setObjectName("edAccurateRipServer");
  lblServer->setBuddy(edAccurateRipServer);
  rl->addWidget(cbSideFiles, 0, 0, 1, 3);
  rl->addWidget(cbAccurateRip, 1, 0);
  rl->addWidget(lblServer, 1, 1);
  rl->addWidget(edAccurateRipServer, 1, 2);
  rl->setColumnStretch(2, 1);
  layout->addWidget(rip);
  auto serverFollows = [this, lblServer] {
    edAccurateRipServer->setEnabled(cbAccurateRip->isChecked());
    lblServer->setEnabled(cbAccurateRip->isChecked());
  };
  connect(cbAccurateRip, &QCheckBox::toggled, this, serverFollows);
  serverFollows();

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  pbOK = new QPushButton("Save", this);
  pbOK->setObjectName("pbOK");
  pbOK->setDefault(true);
  pbCancel = new QPushButton("Cancel", this);
  pbCancel->setObjectName("pbCancel");
  pbHelp = new QPushButton("&Help", this);
  pbHelp->setObjectName("pbHelp");
  for (QWidget* w : {pbOK, pbCancel, pbHelp}) buttons->addWidget(w);
  layout->addLayout(buttons);

  connect(cbHalfSpeed, &QCheckBox::toggled, this, [this] { cbHalfSpeedClick(); });
  connect(cbPitch, &QCheckBox::toggled, this, [this] { cbPitchClick(); });
  connect(cbDrive, &QComboBox::activated, this, [this] { cbDriveChange(); });
  connect(pbOK, &QPushButton::clicked, this, [this] { pbOKClick(); });
  connect(pbCancel, &QPushButton::clicked, this, [this] { pbCancelClick(); });
  connect(pbHelp, &QPushButton::clicked, this, [this] { ql::UI().ShowHelp(HelpFile, 0); });
}

bool TFormSettings::Execute() {
  exec();
  return Saved;
}

void TFormSettings::pbOKClick() {
  Saved = true;
  SaveSettings(SettingsFile);
  done(QDialog::Accepted);
}

void TFormSettings::pbCancelClick() {
  Saved = false;
  done(QDialog::Rejected);
}

void TFormSettings::cbHalfSpeedClick() {
  if (cbHalfSpeed->isChecked()) cbPitch->setChecked(false);
}

void TFormSettings::cbPitchClick() {
  if (cbPitch->isChecked()) cbHalfSpeed->setChecked(false);
}

void TFormSettings::cbDriveChange() {
  lbDirectory->SetDirectory(cbDrive->currentText().toStdString());
}

void TFormSettings::SaveSettings(const std::string& path) {
  // The user pressed Save: a save that did not happen is said (the file keeps its old keys).
  try {
    ql::profile::TIniWriteBatch ini(path);
    AddSettingsWrites(ini);
    if (!ini.Commit()) throw Exception("a folder or drive name holds a line break");
  } catch (const std::exception& e) {
    ql::UI().ShowMessage("Unable to save the general options to " + path + ": " + e.what());
  }
}

void TFormSettings::AddSettingsWrites(ql::profile::TIniWriteBatch& ini) const {
  const std::pair<const char*, bool> flags[] = {
      {"AutoSave", rbAutoSave->isChecked()},
      {"QuestionSave", rbQuestionSave->isChecked()},
      {"Equalizer", cbEqualizer->isChecked()},
      {"Pitch", cbPitch->isChecked()},
      {"Volume", cbVolume->isChecked()},
      {"CCDDAPlay", cbCCDDAPlay->isChecked()},
      {"AddArtist", cbAddArtist->isChecked()},
      {"AddTitle", cbAddTitle->isChecked()},
      {"AddNumber", cbAddNumber->isChecked()},
      {"HalfSpeed", cbHalfSpeed->isChecked()},
      {"NormalCopy", rbNormalCopy->isChecked()},
      {"BurstCopy", rbBurstCopy->isChecked()},
      {"JitterCorrection", rbJitterCorrection->isChecked()},
      {"RemoveFirstSec", cbRemoveFirstSec->isChecked()},
      {"RemoveLastSec", cbRemoveLastSec->isChecked()},
      {"UseCODEC", cbUseCODEC->isChecked()}};
  for (const auto& [key, value] : flags) ini.WriteBool(kSection, key, value);
  ini.WriteString(kSection, "DeviceType", DeviceTypeText());
  ini.WriteString(kSection, "Directory", OutputDirectory());
  ini.WriteString(kSection, "Drive", Drive());
  // After the keys of old, which readers of the file may expect in their order.
  ini.WriteInteger(kSection, "ReadOffset", seReadOffset->value());
  ini.WriteBool(kSection, "SideFiles", cbSideFiles->isChecked());
  ini.WriteBool(kSection, "AccurateRip", cbAccurateRip->isChecked());
  ini.WriteString(kSection, "AccurateRipServer", AccurateRipServer());
}

void TFormSettings::LoadSettings(const std::string& path) {
  try {
    // One reading of the section for all of its keys.
    ql::profile::TIniSection ini(path, kSection);
    auto read = [&](const char* key, QAbstractButton* b) {
      b->setChecked(ini.ReadBool(key, b->isChecked()));
    };
    read("AutoSave", rbAutoSave);
    read("QuestionSave", rbQuestionSave);
    read("Equalizer", cbEqualizer);
    read("Pitch", cbPitch);
    read("Volume", cbVolume);
    read("HalfSpeed", cbHalfSpeed);
    read("CCDDAPlay", cbCCDDAPlay);
    read("AddArtist", cbAddArtist);
    read("AddTitle", cbAddTitle);
    read("AddNumber", cbAddNumber);
    // Stored marks may leave every copy mode off; a later mark wins over an earlier one.
    copy_group_->setExclusive(false);
    for (auto [key, b] :
         {std::pair{"NormalCopy", rbNormalCopy}, std::pair{"BurstCopy", rbBurstCopy},
          std::pair{"JitterCorrection", rbJitterCorrection}}) {
      bool on = ini.ReadBool(key, b->isChecked());
      if (on)
        for (QAbstractButton* other : copy_group_->buttons()) other->setChecked(false);
      b->setChecked(on);
    }
    copy_group_->setExclusive(true);
    read("RemoveFirstSec", cbRemoveFirstSec);
    read("RemoveLastSec", cbRemoveLastSec);
    read("UseCODEC", cbUseCODEC);
    // Out of range (a hand-edited file) reads as no correction.
    const int offset = ini.ReadInteger("ReadOffset", seReadOffset->value());
    seReadOffset->setValue(offset >= -kMaxReadOffset && offset <= kMaxReadOffset ? offset : 0);
    read("SideFiles", cbSideFiles);
    read("AccurateRip", cbAccurateRip);
    SetAccurateRipServer(ini.ReadString("AccurateRipServer", AccurateRipServer()));
    cbDeviceType->setCurrentText(
        QString::fromStdString(ini.ReadString("DeviceType", DeviceTypeText())));
    SetOutputDirectory(ini.ReadString("Directory", OutputDirectory()));
    int drive = cbDrive->findText(QString::fromStdString(ini.ReadString("Drive", Drive())));
    if (drive >= 0) cbDrive->setCurrentIndex(drive);
  } catch (...) {
  }
}

bool TFormSettings::Equalizer() const {
  return cbEqualizer->isChecked();
}
void TFormSettings::SetEqualizer(bool on) {
  cbEqualizer->setChecked(on);
}
bool TFormSettings::Pitch() const {
  return cbPitch->isChecked();
}
void TFormSettings::SetPitch(bool on) {
  cbPitch->setChecked(on);
}
bool TFormSettings::Volume() const {
  return cbVolume->isChecked();
}
void TFormSettings::SetVolume(bool on) {
  cbVolume->setChecked(on);
}
bool TFormSettings::TimeStretch() const {
  return cbHalfSpeed->isChecked();
}
void TFormSettings::SetTimeStretch(bool on) {
  cbHalfSpeed->setChecked(on);
}
bool TFormSettings::SaveOnExit() const {
  return rbAutoSave->isChecked();
}
void TFormSettings::SetSaveOnExit(bool always) {
  (always ? rbAutoSave : rbQuestionSave)->setChecked(true);
}
bool TFormSettings::AddArtist() const {
  return cbAddArtist->isChecked();
}
void TFormSettings::SetAddArtist(bool on) {
  cbAddArtist->setChecked(on);
}
bool TFormSettings::AddTitle() const {
  return cbAddTitle->isChecked();
}
void TFormSettings::SetAddTitle(bool on) {
  cbAddTitle->setChecked(on);
}
bool TFormSettings::AddNumber() const {
  return cbAddNumber->isChecked();
}
void TFormSettings::SetAddNumber(bool on) {
  cbAddNumber->setChecked(on);
}

int TFormSettings::ReadOffset() const {
  return seReadOffset->value();
}
void TFormSettings::SetReadOffset(int samples) {
  seReadOffset->setValue(samples);
}

bool TFormSettings::SideFiles() const {
  return cbSideFiles->isChecked();
}
void TFormSettings::SetSideFiles(bool on) {
  cbSideFiles->setChecked(on);
}
bool TFormSettings::VerifyAccurateRip() const {
  return cbAccurateRip->isChecked();
}
void TFormSettings::SetVerifyAccurateRip(bool on) {
  cbAccurateRip->setChecked(on);
}
std::string TFormSettings::AccurateRipServer() const {
  const std::string text = edAccurateRipServer->text().trimmed().toStdString();
  return text.empty() ? std::string(ripper::kAccurateRipServer) : text;
}
void TFormSettings::SetAccurateRipServer(const std::string& address) {
  // One line of text: anything after a line end is no part of the address.
  const std::string line = address.substr(0, address.find_first_of("\r\n"));
  edAccurateRipServer->setText(QString::fromStdString(line).trimmed());
}

int TFormSettings::CopyMode() const {
  if (rbNormalCopy->isChecked()) return 0;
  if (rbBurstCopy->isChecked()) return 1;
  if (rbJitterCorrection->isChecked()) return 2;
  return 0;
}

bool TFormSettings::RemoveFirstSec() const {
  return cbRemoveFirstSec->isChecked();
}
bool TFormSettings::RemoveLastSec() const {
  return cbRemoveLastSec->isChecked();
}
bool TFormSettings::UseCODEC() const {
  return cbUseCODEC->isChecked();
}

void TFormSettings::ShowDeviceType(int index) {
  const auto& names = CDDeviceTypeNames();
  if (index >= 0 && index < static_cast<int>(names.size()))
    cbDeviceType->setCurrentText(QString::fromStdString(names[static_cast<size_t>(index)]));
}

std::string TFormSettings::DeviceTypeText() const {
  return cbDeviceType->currentText().toStdString();
}

std::string TFormSettings::OutputDirectory() const {
  return lbDirectory->Directory();
}

void TFormSettings::SetOutputDirectory(const std::string& dir) {
  try {
    if (lbDirectory->SetDirectory(dir)) cbDrive->ShowDriveOf(dir);
  } catch (...) {
  }
}

std::string TFormSettings::Drive() const {
  return cbDrive->currentText().toStdString();
}
