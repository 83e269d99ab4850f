#pragma once
// The CDDB dialogs bound to the client: the progress window of a request (TCDDBProgress), the
// CDDB options (TFormCDDBSettings) and the server-site dialog (TCDDBDlg).
#include <QDialog>
#include <string>

#include "MMCDDB.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

// Shown while a request waits. Closing it (by "&Abort" or its close box) sets the client's
// Aborted flag, which ends the request's wait.
class TCDDBProgress : public QDialog {
 public:
  TCDDBProgress(QWidget* owner, ql::TMMCDDB& cddb);
  ~TCDDBProgress() override;

  void TimerTimer();

  QLabel* Label1;
  QProgressBar* Gauge;
  QPushButton* btnCancel;
  QTimer* Timer;

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void reject() override;

 private:
  ql::TMMCDDB& cddb_;
};

// The progress window of the request running now, or null.
extern TCDDBProgress* CDDBProgress;

// Runs request while a progress window is shown and every other window of the program is
// disabled; the windows are enabled again and the active one reactivated on every path.
void WithProgress(QWidget* owner, ql::TMMCDDB& cddb, const std::function<void()>& request);

class TFormCDDBList;
// Lets the user choose among the matches of a lookup in list ("category discid title" lines);
// the index chosen, or -1 when the list was left without OK.
int ChooseCddbMatch(TFormCDDBList& list, const ql::TMMCDDBMatches& matches);

class TFormCDDBSettings : public QDialog {
 public:
  // cddb: the window's client; ini_path: the file Save writes first; work_ini: the window's
  // "QuillonTrackwell.ini", written second.
  TFormCDDBSettings(QWidget* parent, ql::TMMCDDB* cddb, std::string ini_path, std::string work_ini);

  void LoadSettings(const std::string& ini_path);
  // Gives the client the address, server, port, transport and path the fields hold. An
  // incomplete or invalid address leaves the client without one (it then asks for it).
  void ApplyTo(ql::TMMCDDB& cddb) const;
  // user "@" host is an address the hello can carry: both parts present, no blank, no second "@".
  static bool ValidAddress(const std::string& user, const std::string& host);
  void pbSaveClick();
  void pbGetCDDBHostClick();
  void pbCategoryClick();
  void ShowHints(bool on);
  void SetHelpContexts();
  int HelpContext = 0;
  std::string HelpFile;

  QComboBox *FCategory, *FCDDBHost;
  QLineEdit *FUsername, *FUserHost, *FProgApp, *FVersion, *FProtLevel;
  // How the server is asked: "HTTP" (the default) or "CDDBP" (the line protocol); its port
  // and, for HTTP, the CGI path.
  QComboBox* FProtocol;
  QLineEdit *FPort, *FPath;
  QPushButton *pbCategory, *pbGetCDDBHost, *pbSave, *pbCancel, *pbHelp;
  ql::TMMCDDB* CDDB;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void Write(const std::string& path);
  bool Check();
  std::string ini_path_, work_ini_;
};

class TCDDBDlg : public QDialog {
 public:
  TCDDBDlg(QWidget* parent, ql::TMMCDDB& cddb);

  void btnGetSitesClick();
  void lblAddressClick();

  QLineEdit *editServer, *editLocation, *editEmail;
  QPushButton *btnGetSites, *Button1, *Button2;
  QLabel *Label1, *Label2, *Label3, *Label4, *lblAddress;

  static const char* const kHomepage;

 protected:
  void showEvent(QShowEvent* e) override;
  void done(int result) override;

 private:
  ql::TMMCDDB& cddb_;
  std::string remembered_email_;
};
