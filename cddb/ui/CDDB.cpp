#include "CDDB.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "CDDBList.h"
#include "CDDBSel.h"
#include "Exception.h"
#include "Profile.h"
#include "ProfileSection.h"
#include "Shell.h"
#include "Ui.h"

TCDDBProgress* CDDBProgress = nullptr;

TCDDBProgress::TCDDBProgress(QWidget* owner, ql::TMMCDDB& cddb) : QDialog(owner), cddb_(cddb) {
  setObjectName("CDDBProgress");
  setWindowTitle(QString::fromStdString("Connecting to " + cddb.GetServer()));
  auto* layout = new QVBoxLayout(this);
  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  Gauge = new QProgressBar(this);
  Gauge->setObjectName("Gauge");
  Gauge->setTextVisible(false);
  Gauge->setRange(0, 100);
  Gauge->setValue(0);
  btnCancel = new QPushButton("&Abort", this);
  btnCancel->setObjectName("btnCancel");
  layout->addWidget(Label1);
  layout->addWidget(Gauge);
  layout->addWidget(btnCancel, 0, Qt::AlignCenter);
  Timer = new QTimer(this);
  Timer->setInterval(50);
  connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(); });
  connect(btnCancel, &QPushButton::clicked, this, [this] { close(); });
  resize(300, 110);
  CDDBProgress = this;
}

TCDDBProgress::~TCDDBProgress() {
  if (CDDBProgress == this) CDDBProgress = nullptr;
}

void TCDDBProgress::TimerTimer() {
  // At 100 it starts again from 0, then advances.
  int next = Gauge->value() + 5;
  Gauge->setValue(next > 100 ? 5 : next);
}

void TCDDBProgress::showEvent(QShowEvent* e) {
  Timer->start();
  QDialog::showEvent(e);
}

void TCDDBProgress::hideEvent(QHideEvent* e) {
  Timer->stop();
  QDialog::hideEvent(e);
}

void TCDDBProgress::closeEvent(QCloseEvent* e) {
  cddb_.SetAborted(true);
  QDialog::closeEvent(e);
}

void TCDDBProgress::reject() {
  cddb_.SetAborted(true);
  QDialog::reject();
}

void WithProgress(QWidget* owner, ql::TMMCDDB& cddb, const std::function<void()>& request) {
  QPointer<QWidget> active = QApplication::activeWindow();
  std::vector<QPointer<QWidget>> disabled;
  auto* progress = new TCDDBProgress(owner, cddb);
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != progress && w->isVisible() && w->isEnabled()) {
      w->setEnabled(false);
      disabled.emplace_back(w);
    }
  // The progress window is the one window left to use: its Abort must work while the others
  // (its owner included, whose disabling reaches it) are disabled.
  progress->setEnabled(true);
  progress->show();
  progress->repaint();
  auto restore = [&] {
    for (auto& w : disabled)
      if (w) w->setEnabled(true);
    if (active) active->activateWindow();
    delete progress;
  };
  try {
    request();
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

int ChooseCddbMatch(TFormCDDBList& list, const ql::TMMCDDBMatches& matches) {
  std::vector<std::string> lines;
  for (const auto& m : matches) lines.push_back(m.Category + " " + m.DiscID + " " + m.DiscTitle);
  list.SetLines(lines);
  if (!list.Run()) return -1;
  int row = list.ChosenRow();
  return row >= 0 && row < static_cast<int>(matches.size()) ? row : -1;
}

namespace {
const char* const kSection = "OPTIONS: CDDB Settings";
const char* const kHttp = "HTTP";
const char* const kLine = "CDDBP";

bool ValidPort(const QString& text) {
  bool ok = false;
  int port = text.toInt(&ok);
  return text.isEmpty() || (ok && port > 0 && port < 65536);
}

// "host", "host:port" or "[v6 address]:port" -> host and port (0 when none is given).
void SplitHostPort(const std::string& text, std::string& host, int& port) {
  host = text;
  port = 0;
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return;
  bool bracketed = text.front() == '[';
  if (!bracketed && text.find(':') != colon) return;  // a bare IPv6 address
  std::string digits = text.substr(colon + 1);
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 5) return;
  host = text.substr(0, colon);
  port = std::stoi(digits);
  if (bracketed && host.size() >= 2 && host.back() == ']') host = host.substr(1, host.size() - 2);
}

QLineEdit* Edit(QWidget* parent, const char* name, const char* text, bool enabled = true) {
  auto* e = new QLineEdit(text, parent);
  e->setObjectName(name);
  e->setEnabled(enabled);
  return e;
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  return b;
}
}  // namespace

TFormCDDBSettings::TFormCDDBSettings(QWidget* parent, ql::TMMCDDB* cddb, std::string ini_path,
                                     std::string work_ini)
    : QDialog(parent), CDDB(cddb), ini_path_(std::move(ini_path)), work_ini_(std::move(work_ini)) {
  setObjectName("FormCDDBSettings");
  setWindowTitle("Quillon Trackwell: CDDB Options");
  auto* layout = new QVBoxLayout(this);
  auto* panel = new QGroupBox(this);
  panel->setObjectName("panelCDDB");
  auto* grid = new QGridLayout(panel);
  FCategory = new QComboBox(panel);
  FCategory->setObjectName("FCategory");
  FCategory->setEditable(true);
  FCategory->setCurrentText("rock");
  FCDDBHost = new QComboBox(panel);
  FCDDBHost->setObjectName("FCDDBHost");
  FCDDBHost->setEditable(true);
  FCDDBHost->setCurrentText(ql::TMMCDDB::kDefaultServer);
  // No address is made up: the fields only hint at what belongs in them.
  FUsername = Edit(panel, "FUsername", "");
  FUsername->setPlaceholderText("noname");
  FUserHost = Edit(panel, "FUserHost", "");
  FUserHost->setPlaceholderText("example.org");
  FProgApp = Edit(panel, "FProgApp", "QuillonTrackwell", false);
  FVersion = Edit(panel, "FVersion", "1.08", false);
  FProtLevel = Edit(panel, "FProtLevel", "4", false);
  FProtocol = new QComboBox(panel);
  FProtocol->setObjectName("FProtocol");
  FProtocol->addItems({kHttp, kLine});
  FPort = Edit(panel, "FPort", "80");
  FPath = Edit(panel, "FPath", ql::TMMCDDB::kDefaultHttpPath);
  connect(FProtocol, &QComboBox::currentTextChanged, this, [this](const QString& p) {
    // A port left at the other transport's default follows the transport.
    bool http = p == kHttp;
    if (FPort->text() == (http ? "8880" : "80")) FPort->setText(http ? "80" : "8880");
    FPath->setEnabled(http);
  });
  pbCategory = Button(panel, "pbCategory", "&Get Category");
  pbGetCDDBHost = Button(panel, "pbGetCDDBHost", "Get CDDB H&osts");
  struct Row {
    const char* label;
    QWidget* field;
    QWidget* button;
  };
  const Row rows[] = {{"Cate&gory....................", FCategory, pbCategory},
                      {"&CDDB Host.................", FCDDBHost, pbGetCDDBHost},
                      {"&Username....................", FUsername, nullptr},
                      {"User &Host....................", FUserHost, nullptr},
                      {"Application ..................", FProgApp, nullptr},
                      {"Version......", FVersion, nullptr},
                      {"Protocol &Level................", FProtLevel, nullptr},
                      {"&Ask by......................", FProtocol, nullptr},
                      {"&Port.........................", FPort, nullptr},
                      {"CGI &path....................", FPath, nullptr}};
  int r = 0;
  for (const Row& row : rows) {
    auto* label = new QLabel(row.label, panel);
    label->setBuddy(row.field);
    grid->addWidget(label, r, 0);
    grid->addWidget(row.field, r, 1);
    if (row.button) grid->addWidget(row.button, r, 2);
    ++r;
  }
  layout->addWidget(panel);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  pbSave = Button(this, "pbSave", "Save");
  pbSave->setDefault(true);
  pbCancel = Button(this, "pbCancel", "Cancel");
  pbHelp = Button(this, "pbHelp", "&Help");
  for (QWidget* w : {pbSave, pbCancel, pbHelp}) buttons->addWidget(w);
  layout->addLayout(buttons);

  FUsername->setToolTip(
      "Your name part of the e-mail address (the name(s) and dottes before th @ sign.");
  FUserHost->setToolTip("Your host, every thing after the @ sign in your email address.");
  FProtLevel->setToolTip("Protocol level used when the program asks for information.");
  FCDDBHost->setToolTip("Host used when the program asks for information.");
  FCategory->setToolTip("Category used when searching for information.");
  pbGetCDDBHost->setToolTip("Ask CDDB of availible hosts.");
  pbCategory->setToolTip(
      "Ask CDDB for categories. This information can change depending on the host.");
  pbSave->setToolTip("Save this options and exit this dialog.");
  pbCancel->setToolTip("Save without saving these options.");
  pbHelp->setToolTip("Start the help files for these options.");

  connect(pbSave, &QPushButton::clicked, this, [this] { pbSaveClick(); });
  connect(pbCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(pbHelp, &QPushButton::clicked, this,
          [this] { ql::UI().ShowHelp(HelpFile, HelpContext); });
  connect(pbGetCDDBHost, &QPushButton::clicked, this, [this] { pbGetCDDBHostClick(); });
  connect(pbCategory, &QPushButton::clicked, this, [this] { pbCategoryClick(); });
}

void TFormCDDBSettings::LoadSettings(const std::string& ini_path) {
  try {
    TIniFile ini(ini_path);
    auto read = [&](const char* key, const QString& current) {
      return QString::fromStdString(ini.ReadString(kSection, key, current.toStdString()));
    };
    FCategory->setCurrentText(read("Copyright", FCategory->currentText()));
    FCDDBHost->setCurrentText(read("CDDBHost", FCDDBHost->currentText()));
    FCategory->setCurrentText(read("Copyright", FCategory->currentText()));
    FUsername->setText(read("UserName", FUsername->text()));
    FUserHost->setText(read("UserHost", FUserHost->text()));
    // Settings without these keys are new ones, or older ones that knew only the line
    // protocol's host: both ask over HTTP now.
    QString protocol = read("Protocol", FProtocol->currentText()).toUpper();
    FProtocol->setCurrentText(protocol == kLine ? kLine : kHttp);
    FPort->setText(read("Port", FPort->text()));
    FPath->setText(read("Path", FPath->text()));
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(std::string("Unable to read the CDDB settings: ") + e.what());
  }
}

void TFormCDDBSettings::Write(const std::string& path) {
  // One replace of the file: a failed save leaves the old settings whole.
  ql::profile::TIniWriteBatch ini(path);
  ini.WriteString(kSection, "Copyright", FCategory->currentText().toStdString());
  ini.WriteString(kSection, "CDDBHost", FCDDBHost->currentText().toStdString());
  ini.WriteString(kSection, "UserName", FUsername->text().toStdString());
  ini.WriteString(kSection, "UserHost", FUserHost->text().toStdString());
  ini.WriteString(kSection, "Protocol", FProtocol->currentText().toStdString());
  ini.WriteString(kSection, "Port", FPort->text().toStdString());
  ini.WriteString(kSection, "Path", FPath->text().toStdString());
  if (!ini.Commit()) throw Exception("a field holds a line break");
}

bool TFormCDDBSettings::ValidAddress(const std::string& user, const std::string& host) {
  auto clean = [](const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
      if (static_cast<unsigned char>(c) <= ' ' || c == '@' || c == 127) return false;
    return true;
  };
  return clean(user) && clean(host);
}

// An address is checked when it is entered: a wrong one is never stored or used.
bool TFormCDDBSettings::Check() {
  std::string user = FUsername->text().trimmed().toStdString();
  std::string host = FUserHost->text().trimmed().toStdString();
  if ((!user.empty() || !host.empty()) && !ValidAddress(user, host)) {
    ql::UI().ErrorBox("Invalid e-mail address", "Error");
    (user.empty() || !ValidAddress(user, "x") ? FUsername : FUserHost)->setFocus();
    return false;
  }
  if (!ValidPort(FPort->text().trimmed())) {
    ql::UI().ErrorBox("Invalid port: " + FPort->text().toStdString(), "Error");
    FPort->setFocus();
    return false;
  }
  FUsername->setText(QString::fromStdString(user));
  FUserHost->setText(QString::fromStdString(host));
  return true;
}

void TFormCDDBSettings::ApplyTo(ql::TMMCDDB& cddb) const {
  std::string user = FUsername->text().trimmed().toStdString();
  std::string host = FUserHost->text().trimmed().toStdString();
  if (ValidAddress(user, host))
    cddb.SetEmail(user + "@" + host);
  else
    cddb.ResetEmail();
  bool http = FProtocol->currentText() == kHttp;
  cddb.SetTransport(http ? ql::ctHttp : ql::ctLine);
  cddb.SetHttpPath(FPath->text().trimmed().toStdString());
  int port = FPort->text().trimmed().toInt();
  std::string server;
  int host_port = 0;
  SplitHostPort(FCDDBHost->currentText().trimmed().toStdString(), server, host_port);
  if (!server.empty()) cddb.SetServer(server);
  if (host_port) port = host_port;  // "host:port" names a server on another port
  if (port <= 0 || port > 65535)
    port = http ? ql::TMMCDDB::kDefaultHttpPort : ql::TMMCDDB::kDefaultPort;
  cddb.SetPort(port);
}

void TFormCDDBSettings::showEvent(QShowEvent* e) {
  // What the client really sends and the level it speaks (the one it asks for until a server
  // has answered).
  if (CDDB) {
    if (!CDDB->GetAppName().empty()) FProgApp->setText(QString::fromStdString(CDDB->GetAppName()));
    FVersion->setText(QString::fromStdString(CDDB->GetRevision()));
    int level = CDDB->GetProtoLevel() > 0 ? CDDB->GetProtoLevel() : CDDB->GetMaxProtoLevel();
    FProtLevel->setText(QString::number(level));
  }
  FPath->setEnabled(FProtocol->currentText() == kHttp);
  QDialog::showEvent(e);
}

void TFormCDDBSettings::pbSaveClick() {
  if (!Check()) return;
  try {
    Write(ini_path_);
    if (work_ini_ != ini_path_) Write(work_ini_);
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(std::string("Unable to save the CDDB settings: ") + e.what());
  }
  accept();
}

// Both requests ask the server the fields name, with the address they hold; the field keeps
// what it showed (the list only offers choices).
void TFormCDDBSettings::pbGetCDDBHostClick() {
  if (!CDDB || !Check()) return;
  QString text = FCDDBHost->currentText();
  FCDDBHost->clear();
  FCDDBHost->setCurrentText(text);
  try {
    ApplyTo(*CDDB);
    WithProgress(this, *CDDB, [this] { CDDB->GetSites(); });
  } catch (const std::exception& e) {
    ql::UI().ShowException(e);
  }
  bool http = FProtocol->currentText() == kHttp;
  for (const auto& site : CDDB->Sites()) {
    if ((site.Protocol == "http") != http) continue;
    int standard = http ? ql::TMMCDDB::kDefaultHttpPort : ql::TMMCDDB::kDefaultPort;
    std::string item = site.Host;
    if (site.Port > 0 && site.Port != standard) item += ":" + std::to_string(site.Port);
    FCDDBHost->addItem(QString::fromStdString(item));
  }
  FCDDBHost->setCurrentText(text);
}

void TFormCDDBSettings::pbCategoryClick() {
  if (!CDDB || !Check()) return;
  QString text = FCategory->currentText();
  FCategory->clear();
  FCategory->setCurrentText(text);
  try {
    ApplyTo(*CDDB);
    WithProgress(this, *CDDB, [this] { CDDB->GetCategories(); });
  } catch (const std::exception& e) {
    ql::UI().ShowException(e);
  }
  for (const auto& c : CDDB->Categories()) FCategory->addItem(QString::fromStdString(c));
  FCategory->setCurrentText(text);
}

void TFormCDDBSettings::ShowHints(bool on) {
  setToolTipDuration(on ? -1 : 0);
  for (QWidget* w : findChildren<QWidget*>()) w->setToolTipDuration(on ? -1 : 0);
}

void TFormCDDBSettings::SetHelpContexts() {
  HelpContext = 7100;
}

const char* const TCDDBDlg::kHomepage = "http://gnudb.gnudb.org/";

TCDDBDlg::TCDDBDlg(QWidget* parent, ql::TMMCDDB& cddb) : QDialog(parent), cddb_(cddb) {
  setObjectName("CDDBDlg");
  setWindowTitle("Velmora: CDDB Sites");
  auto* layout = new QVBoxLayout(this);
  auto* server = new QGroupBox(" CDDB server ", this);
  auto* sl = new QGridLayout(server);
  editServer = Edit(server, "editServer", ql::TMMCDDB::kDefaultServer, false);
  editLocation = Edit(server, "editLocation", "Europe", false);
  editServer->setReadOnly(true);
  editLocation->setReadOnly(true);
  btnGetSites = Button(server, "btnGetSites", "&Get List");
  sl->addWidget(editServer, 0, 0);
  sl->addWidget(editLocation, 0, 1);
  sl->addWidget(btnGetSites, 0, 2);
  layout->addWidget(server);
  auto* mail = new QGroupBox(" E-mail settings ", this);
  auto* ml = new QHBoxLayout(mail);
  Label1 = new QLabel("&Your E-mail settings:", mail);
  editEmail = Edit(mail, "editEmail", "");
  Label1->setBuddy(editEmail);
  ml->addWidget(Label1);
  ml->addWidget(editEmail);
  layout->addWidget(mail);
  auto* credits = new QGroupBox(" Credits ", this);
  auto* cl = new QVBoxLayout(credits);
  Label2 = new QLabel("Disc information from the freely available CDDB servers", credits);
  Label3 = new QLabel("and the people who enter their discs there.", credits);
  Label4 = new QLabel("CDDB homepage:", credits);
  lblAddress =
      new QLabel(QString("<a href=\"%1\" style=\"color:blue\">%1</a>").arg(kHomepage), credits);
  lblAddress->setObjectName("lblAddress");
  lblAddress->setCursor(Qt::PointingHandCursor);
  lblAddress->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  connect(lblAddress, &QLabel::linkActivated, this, [this] { lblAddressClick(); });
  for (QWidget* w : {Label2, Label3, Label4, lblAddress}) cl->addWidget(w);
  layout->addWidget(credits);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  Button1 = Button(this, "Button1", "OK");
  Button1->setDefault(true);
  Button2 = Button(this, "Button2", "Cancel");
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  layout->addLayout(buttons);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  connect(btnGetSites, &QPushButton::clicked, this, [this] { btnGetSitesClick(); });
}

void TCDDBDlg::showEvent(QShowEvent* e) {
  remembered_email_ = cddb_.GetEmail();
  QDialog::showEvent(e);
}

void TCDDBDlg::done(int result) {
  if (result == QDialog::Accepted && editEmail->text().isEmpty()) {
    ql::UI().InfoBox("Invalid e-mail address", "Information");
    return;
  }
  if (result != QDialog::Accepted && cddb_.GetEmail() != remembered_email_) {
    try {
      cddb_.SetEmail(remembered_email_);
    } catch (...) {
      // An empty remembered address does not pass the setter's checks: leave it.
    }
  }
  QDialog::done(result);
}

void TCDDBDlg::btnGetSitesClick() {
  if (editEmail->text().isEmpty()) {
    ql::UI().InfoBox("Invalid e-mail address", "Information");
    return;
  }
  try {
    cddb_.SetEmail(editEmail->text().toStdString());
    if (cddb_.Sites().empty()) WithProgress(this, cddb_, [this] { cddb_.GetSites(); });
  } catch (const std::exception& e) {
    ql::UI().ShowException(e);
    return;
  }
  if (cddb_.Sites().empty()) return;
  TCDDBSelectDlg chooser(this);
  chooser.SetSections("Internet Address", "Located at");
  chooser.Header->resizeSection(0, chooser.width() / 2);
  chooser.Header->resizeSection(1, chooser.width() / 2);
  std::vector<std::string> items;
  for (const auto& s : cddb_.Sites()) items.push_back(s.Host + "\t" + s.Location);
  chooser.SetItems(items);
  if (chooser.exec() == QDialog::Accepted && chooser.SelectedIndex >= 0) {
    const auto& site = cddb_.Sites()[static_cast<size_t>(chooser.SelectedIndex)];
    // A site on another port is named with it, so that it is contacted there.
    std::string server = site.Host;
    int standard =
        site.Protocol == "http" ? ql::TMMCDDB::kDefaultHttpPort : ql::TMMCDDB::kDefaultPort;
    if (site.Port > 0 && site.Port != standard) server += ":" + std::to_string(site.Port);
    editServer->setText(QString::fromStdString(server));
    editLocation->setText(QString::fromStdString(site.Location));
  }
}

void TCDDBDlg::lblAddressClick() {
  try {
    ql::shell::Open(kHomepage);
  } catch (const std::exception& e) {
    ql::UI().ErrorBox(e.what(), "Error");
  }
}
