#pragma once
// The small download dialog: fetches one URL into a file with THttpCli, remembering its
// settings, position and size in the program's ini file.
#include <QDialog>
#include <memory>
#include <string>

#include "HttpProt.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace ql::net {

class THttpGetForm : public QDialog {
 public:
  static constexpr const char* kDefaultURL = "http://gnudb.gnudb.org/";

  explicit THttpGetForm(QWidget* parent = nullptr);
  ~THttpGetForm() override;

  std::string GetURL() const { return FURL; }
  void SetURL(const std::string& url);
  const std::string& GetFileName() const { return FFileName; }
  void SetFileName(const std::string& name) { FFileName = name; }
  std::string GetStatusText() const;
  const std::string& GetIniFileName() const { return FIniFileName; }
  // The same as pressing "&Get"; an error of the transfer is passed on to the caller.
  void Get();

  THttpCli& HttpCli1() { return FHttpCli; }

  QLineEdit* URLEdit;
  QLineEdit* ProxyHostEdit;
  QLineEdit* ProxyPortEdit;
  QLineEdit* FileNameEdit;
  QLabel* InfoLabel;
  QPushButton* GetButton;
  QPushButton* AbortButton;

 protected:
  void showEvent(QShowEvent* e) override;
  void done(int r) override;

 private:
  void GetButtonClick();
  void AbortButtonClick();
  void HttpCli1DocData(const char* Buffer, int Len);
  void HttpCli1HeaderData();
  void LoadSettings();
  void SaveSettings();
  void SetStatus(const std::string& text);

  THttpCli FHttpCli;
  std::string FURL;
  std::string FFileName;
  std::string FIniFileName;
  bool FInitialized = false;
  bool FSaved = false;
  bool FRunning = false;
};

// The ini name of the running program: its executable name in lower case, the extension
// replaced by (or, without one, extended with) "ini".
std::string ProgramIniName();

}  // namespace ql::net
