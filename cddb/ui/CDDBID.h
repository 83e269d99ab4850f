#pragma once
// TFormCDDBID ("Disc ID Calculator"): the classic disc ID of the disc in its CD reader, and
// TFormCDDB ("Downloading information from CDDB"): the HTTP form of the protocol.
#include <QDialog>
#include <functional>
#include <string>

#include "TrackTable.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TDictionary;

class TFormCDDBID : public QDialog {
 public:
  explicit TFormCDDBID(QWidget* parent = nullptr);

  // The table the calculator reads (the CD reader), not owned.
  ql::TMMTrackTable* Reader = nullptr;
  // "&Exit" ends the whole application; this is how (tests replace it).
  std::function<void()> OnExit;

  void BitBtn1Click();        // "&Calculate"
  std::string CalculateID();  // the same, returning the text
  void BitBtn3Click();        // "&Advanced >>" / "<< Simple"
  void BitBtn2Click();        // "&Exit"
  bool Wide() const { return wide_; }

  QLabel *BigLabel, *TocLabel;
  QLineEdit* Edit1;
  QListWidget* TocList;
  QPushButton *BitBtn1, *BitBtn2, *BitBtn3;

 private:
  void Place();
  bool wide_ = false;
};

class TFormCDDB : public QDialog {
 public:
  explicit TFormCDDB(QWidget* parent = nullptr);
  ~TFormCDDB() override;

  std::string Port = "80";
  std::string Proxy;
  std::string DownloadFile = "CDDB_Download.txt";
  std::string Server, Command, User, UserHost, ClientName;
  std::string Version = "1.04.00";
  // The client's revision in the hello and the protocol level asked for.
  std::string Revision = "1.0", Level = "6";
  bool Cancelled = false;

  // "http://" server "?cmd=" command "&hello=" user "+" user host "+" client "+" revision
  // "&proto=" level, each part form-encoded; shown in dfsURL.
  std::string BuildURL();
  // Fetches base "/~cddb/cddb.cgi?cmd=..." into "CDDBFile.txt" (in the current directory)
  // through the download dialog; true only when the reply's first line begins with "210".
  bool Fetch(const std::string& base, const std::string& command, const std::string& user,
             const std::string& user_host, const std::string& client,
             const std::string& protocol_level);
  // Every line after the first that does not begin with "#", split at its first "=", goes into
  // the dictionary. Errors end the loading silently.
  void LoadDictionary(const std::string& file);

  QLineEdit* dfsURL;
  QPushButton *bpCancel, *pbClose, *pbhelp;
  TDictionary* FDictionary;
  QPlainTextEdit* Memo1;
  QLabel* InfoLabel;
  QTimer* Timer;

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void done(int r) override;
};
