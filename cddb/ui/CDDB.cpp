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

#include "CDDBSel.h"
#include "Profile.h"
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

namespace {
const char* const kSection = "OPTIONS: CDDB Settings";

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
  FUsername = Edit(panel, "FUsername", "noname");
  FUserHost = Edit(panel, "FUserHost", "localhost");
  FProgApp = Edit(panel, "FProgApp", "QuillonTrackwell", false);
  FVersion = Edit(panel, "FVersion", "1.08", false);
  FProtLevel = Edit(panel, "FProtLevel", "4", false);
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
                      {"Protocol &Level................", FProtLevel, nullptr}};
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
  connect(pbHelp, &QPushButton::clicked, this, [this] { ql::UI().ShowHelp(HelpFile, HelpContext); });
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
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(std::string("Unable to read the CDDB settings: ") + e.what());
  }
}

void TFormCDDBSettings::Write(const std::string& path) {
  TIniFile ini(path);
  ini.WriteString(kSection, "Copyright", FCategory->currentText().toStdString());
  ini.WriteString(kSection, "CDDBHost", FCDDBHost->currentText().toStdString());
  ini.WriteString(kSection, "UserName", FUsername->text().toStdString());
  ini.WriteString(kSection, "UserHost", FUserHost->text().toStdString());
}

void TFormCDDBSettings::pbSaveClick() {
  try {
    Write(ini_path_);
    Write(work_ini_);
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(std::string("Unable to save the CDDB settings: ") + e.what());
  }
  accept();
}

void TFormCDDBSettings::pbGetCDDBHostClick() {
  FCDDBHost->clear();
  if (!CDDB) return;
  QString text = FCDDBHost->currentText();
  try {
    WithProgress(this, *CDDB, [this] { CDDB->GetSites(); });
  } catch (const std::exception& e) {
    ql::UI().ShowException(e);
  }
  for (const auto& site : CDDB->Sites()) FCDDBHost->addItem(QString::fromStdString(site.Host));
  FCDDBHost->setCurrentText(text);
}

void TFormCDDBSettings::pbCategoryClick() {
  FCategory->clear();
  if (!CDDB) return;
  QString text = FCategory->currentText();
  try {
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

void TFormCDDBSettings::SetHelpContexts() { HelpContext = 7100; }

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
  lblAddress = new QLabel(QString("<a href=\"%1\" style=\"color:blue\">%1</a>").arg(kHomepage), credits);
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
    editServer->setText(QString::fromStdString(site.Host));
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
