#pragma once
// TFormMP3Settings: the options of the encoder library ("Quillon Trackwell: BladeEnc's MP3
// Options"): bit rate, channel mode, file type and the four header flags, kept in section
// "OPTIONS: MP3 Settings" of the settings file.
#include <QDialog>
#include <string>

class QCheckBox;
class QComboBox;
class QPushButton;

class TFormMP3Settings : public QDialog {
 public:
  explicit TFormMP3Settings(QWidget* parent = nullptr);

  void LoadMp3Settings(const std::string& path);
  void SaveMp3Settings(const std::string& path);
  void pbSaveClick();
  void pbCancelClick();

  // 0..13 for "32".."320" (the combo text compared exactly); 8 for any other text.
  int BitRateIndex() const;
  // An index outside 0..13 shows "128".
  void SetBitRateIndex(int index);
  // The bit rate in kbit/s of the index.
  static int BitRateOf(int index);
  // "Stereo" 0, "Dual Channel" 1, "Mono" 2; any other text resets the combo to "Stereo".
  int ChannelModeIndex();
  void SetChannelModeIndex(int index);
  // "WAVE" 0, anything else 1.
  int FileTypeIndex() const;
  void SetFileTypeIndex(int index);
  bool CRC() const;
  bool Copyright() const;
  bool Original() const;
  bool Privat() const;
  // The MP3 carries the track's names (stored as "WriteTags", on by default).
  bool WriteTags() const;

  bool Saved = false;
  std::string SettingsFile;
  std::string HelpFile;

  QComboBox *cbBitRate, *cbChannelMode, *cbFileType;
  QCheckBox *cbCRC, *cbCopyright, *cbOriginal, *cbPrivat, *cbWriteTags;
  QPushButton *pbSave, *pbCancel, *pbHelp;
};
