#pragma once
// TFormSettings: the general options of the CD-extraction window ("Quillon Trackwell: General
// Options"): playback stages, save on exit, drive type, file naming, output directory, copy
// mode and the removal of the first and last second. Kept in section "OPTIONS: SETTINGS" of
// the settings file.
#include <QDialog>
#include <QSpinBox>
#include <string>
#include <vector>

#include "ProfileSection.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TDirectoryListBox;
class TDriveComboBox;

// The drive type names, index = the CD reader's drive type.
const std::vector<std::string>& CDDeviceTypeNames();

class TFormSettings : public QDialog {
 public:
  explicit TFormSettings(QWidget* parent = nullptr);

  // Shows the dialog modally; true when it was left through Save.
  bool Execute();
  void pbOKClick();
  void pbCancelClick();
  void SaveSettings(const std::string& path);
  // The writes of SaveSettings added to a batch of the same file (committed by the caller).
  void AddSettingsWrites(ql::profile::TIniWriteBatch& ini) const;
  void LoadSettings(const std::string& path);

  bool Equalizer() const;
  void SetEqualizer(bool on);
  bool Pitch() const;
  void SetPitch(bool on);
  bool Volume() const;
  void SetVolume(bool on);
  bool TimeStretch() const;
  void SetTimeStretch(bool on);
  // True: "Always save on exit"; false: "Ask if save on exit".
  bool SaveOnExit() const;
  void SetSaveOnExit(bool always);
  bool AddArtist() const;
  void SetAddArtist(bool on);
  bool AddTitle() const;
  void SetAddTitle(bool on);
  bool AddNumber() const;
  void SetAddNumber(bool on);
  // The drive's read offset correction in samples (stored as "ReadOffset").
  int ReadOffset() const;
  void SetReadOffset(int samples);
  static constexpr int kMaxReadOffset = 100000;
  // A log, a cue sheet and a playlist beside the recorded files (stored as "SideFiles").
  bool SideFiles() const;
  void SetSideFiles(bool on);
  // The recorded tracks are looked up in the AccurateRip database (stored as "AccurateRip",
  // the server as "AccurateRipServer").
  bool VerifyAccurateRip() const;
  void SetVerifyAccurateRip(bool on);
  std::string AccurateRipServer() const;
  void SetAccurateRipServer(const std::string& address);
  // 0 normal, 1 burst, 2 jitter correction; 0 when no copy mode is checked.
  int CopyMode() const;
  bool RemoveFirstSec() const;
  bool RemoveLastSec() const;
  bool UseCODEC() const;
  void ShowDeviceType(int index);
  std::string DeviceTypeText() const;
  std::string OutputDirectory() const;
  // Errors are swallowed: a folder that does not exist leaves the list where it is.
  void SetOutputDirectory(const std::string& dir);
  std::string Drive() const;

  bool Saved = false;
  // The settings file Save writes ("QuillonTrackwell.ini" in the window's work directory).
  std::string SettingsFile;
  std::string HelpFile;

  QCheckBox *cbEqualizer, *cbPitch, *cbVolume, *cbHalfSpeed, *cbCCDDAPlay, *cbAddArtist,
      *cbAddTitle, *cbAddNumber, *cbRemoveFirstSec, *cbRemoveLastSec, *cbUseCODEC, *cbSideFiles,
      *cbAccurateRip;
  QRadioButton *rbAutoSave, *rbQuestionSave, *rbNormalCopy, *rbBurstCopy, *rbJitterCorrection;
  QComboBox* cbDeviceType;
  QSpinBox* seReadOffset;
  QLineEdit* edAccurateRipServer;
  TDirectoryListBox* lbDirectory;
  QLabel* lblPath;
  TDriveComboBox* cbDrive;
  QPushButton *pbOK, *pbCancel, *pbHelp;

 private:
  QButtonGroup* copy_group_;
  void cbHalfSpeedClick();
  void cbPitchClick();
  void cbDriveChange();
};
