#pragma once
// TFormExtMP3Encoder: the external MP3 encoder dialog ("External MP3 Encoder"). It edits the
// definition of a command-line encoder (name, program, argument template with "$1" for the
// wave file and "$2" for the MP3 file, window mode), keeps definitions in the settings file and
// three list files, and runs the encoder for a finished wave file.
#include <QDialog>
#include <QString>
#include <map>
#include <string>
#include <vector>

#include "Dispatch.h"
#include "EncoderJob.h"
#include "Process.h"

class QComboBox;
class QPushButton;
class QRadioButton;

class TFormExtMP3Encoder : public QDialog {
 public:
  explicit TFormExtMP3Encoder(QWidget* parent = nullptr);

  void LoadEncoder(const std::string& path);
  void SaveEncoder(const std::string& path);
  // Shows the dialog modally; true when it was left by OK (Saved tells whether Save or OK was
  // ever pressed since its creation).
  bool ShowEncoderDialog();
  // Builds the argument vector from the dialog's current texts, runs the program and waits;
  // the wave file is deleted only when the encoder succeeded (exit 0, an MP3 that is not
  // empty). A failure keeps the wave and is shown as a message. Any thread: the dialog's
  // texts are read on the user-interface thread.
  ripper::TEncodeResult RunEncoder(const std::string& wave_dir, const std::string& wave_name,
                                   const std::string& mp3_dir, const std::string& mp3_name);
  // RunEncoder for a dialog that may be destroyed meanwhile: nothing runs once it is gone
  // (the result then says kNotStarted with no message).
  static ripper::TEncodeResult RunEncoder(const std::shared_ptr<ql::Alive::State>& alive,
                                          TFormExtMP3Encoder* dialog, const std::string& wave_dir,
                                          const std::string& wave_name, const std::string& mp3_dir,
                                          const std::string& mp3_name);
  // The argument vector RunEncoder starts for the given program and template.
  static std::vector<std::string> Arguments(
      const std::string& program, const std::string& arguments, const std::string& wave_dir,
      const std::string& wave_name, const std::string& mp3_dir, const std::string& mp3_name);
  // x with every space replaced by "_".
  static std::string Underscored(const std::string& x);

  void pbSaveClick();
  void pbOKClick();
  void pbBrowseClick();
  void pbNewClick();
  void dfsNameExit();

  bool Saved = false;
  // The folder of the list files "extenc.ini", "extencname.ini" and "extencarg.ini".
  std::string WorkDirectory;
  std::string HelpFile;
  const ql::Alive& alive() const { return alive_; }
  // The stores hold bytes: older ones Latin-1 text, newer ones UTF-8. FromBytes gives the text
  // and remembers its bytes; BytesOf gives back the bytes a text was read from (UTF-8 for a
  // text typed by the user), so a save writes exactly what was read.
  QString FromBytes(const std::string& bytes);
  std::string BytesOf(const QString& text) const;
  std::string BytesOf(const QComboBox* box) const;

  QComboBox *dfsName, *dfsProgram, *dfsArguments;
  QPushButton *pbSave, *pbBrowse, *pbNew, *pbRemove, *pbOK, *pbCancel, *pbHelp;
  QRadioButton *rbBackground, *rbMinimized, *rbNormal;

 private:
  ql::process::ShowMode Mode() const;
  void SetItems(QComboBox* box, const std::vector<std::string>& items);
  std::string path_;
  std::map<QString, std::string> read_;
  ql::Alive alive_;
};
