#include "HttpGet1.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <cctype>
#include <filesystem>

#include "PartialFile.h"
#include "Profile.h"
#include "Ui.h"

namespace ql::net {

std::string ProgramIniName() {
  std::error_code ec;
  std::string exe = std::filesystem::read_symlink("/proc/self/exe", ec).filename().string();
  if (exe.empty()) exe = "program";
  for (char& c : exe) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // On a name like "prog.exe" the last three characters are the extension; Linux programs
  // have none, and replacing three letters of the name itself would give a wrong name.
  size_t dot = exe.rfind('.');
  if (dot != std::string::npos && dot > 0) return exe.substr(0, dot) + ".ini";
  return exe + ".ini";
}

namespace {
QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
QLabel* HiddenLabel(const char* text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->hide();
  return l;
}
}  // namespace

THttpGetForm::THttpGetForm(QWidget* parent) : QDialog(parent) {
  setObjectName("HttpGetForm");
  setWindowTitle(Q(std::string("Http Get ") + kDefaultURL));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout();
  auto* url_label = new QLabel("URL", this);
  URLEdit = new QLineEdit(this);
  URLEdit->setObjectName("URLEdit");
  grid->addWidget(url_label, 0, 0);
  grid->addWidget(URLEdit, 0, 1);
  ProxyHostEdit = new QLineEdit("0", this);
  ProxyHostEdit->setObjectName("ProxyHostEdit");
  ProxyPortEdit = new QLineEdit("110", this);
  ProxyPortEdit->setObjectName("ProxyPortEdit");
  FileNameEdit = new QLineEdit("CDDB.TXT", this);
  FileNameEdit->setObjectName("FileNameEdit");
  for (QWidget* w : {static_cast<QWidget*>(ProxyHostEdit), static_cast<QWidget*>(ProxyPortEdit),
                     static_cast<QWidget*>(FileNameEdit)})
    w->hide();
  HiddenLabel("Proxy", this);
  HiddenLabel("Proxy", this);
  HiddenLabel("Port", this);
  HiddenLabel("FileName", this);
  layout->addLayout(grid);
  InfoLabel = new QLabel(this);
  InfoLabel->setObjectName("InfoLabel");
  layout->addWidget(InfoLabel);
  auto* buttons = new QHBoxLayout();
  GetButton = new QPushButton("&Get", this);
  GetButton->setObjectName("GetButton");
  GetButton->setDefault(true);
  AbortButton = new QPushButton("&Abort", this);
  AbortButton->setObjectName("AbortButton");
  AbortButton->setEnabled(false);
  buttons->addStretch();
  buttons->addWidget(GetButton);
  buttons->addWidget(AbortButton);
  layout->addLayout(buttons);
  connect(GetButton, &QPushButton::clicked, this, [this] { GetButtonClick(); });
  connect(AbortButton, &QPushButton::clicked, this, [this] { AbortButtonClick(); });
  resize(420, 120);

  FHttpCli.OnDocData = [this](THttpCli*, const char* b, int n) { HttpCli1DocData(b, n); };
  FHttpCli.OnHeaderData = [this](THttpCli*) { HttpCli1HeaderData(); };
  // A server that stops sending ends the download after a minute without progress.
  FHttpCli.SetTimeout(60000);
  FIniFileName = ProgramIniName();
  InfoLabel->clear();
}

THttpGetForm::~THttpGetForm() {
  FHttpCli.OnDocData = nullptr;
  FHttpCli.OnHeaderData = nullptr;
}

void THttpGetForm::SetURL(const std::string& url) {
  FURL = url;
  URLEdit->setText(Q(url));
}

std::string THttpGetForm::GetStatusText() const {
  return InfoLabel->text().toStdString();
}

void THttpGetForm::SetStatus(const std::string& text) {
  InfoLabel->setText(Q(text));
}

void THttpGetForm::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (FInitialized) return;
  FInitialized = true;
  LoadSettings();
}

void THttpGetForm::LoadSettings() {
  TIniFile ini(FIniFileName);
  std::string url = ini.ReadString("Data", "URL", kDefaultURL);
  URLEdit->setText(Q(url));
  if (FURL.empty()) FURL = url;
  ProxyHostEdit->setText(Q(ini.ReadString("Data", "ProxyHost", "")));
  ProxyPortEdit->setText(Q(ini.ReadString("Data", "ProxyPort", "80")));
  FileNameEdit->setText(Q(ini.ReadString("Data", "FileName", "test.tmp")));
  QRect g = geometry();
  int top = ini.ReadInteger("Window", "Top", g.top());
  int left = ini.ReadInteger("Window", "Left", g.left());
  int width = ini.ReadInteger("Window", "Width", g.width());
  int height = ini.ReadInteger("Window", "Height", g.height());
  setGeometry(left, top, width, height);
}

void THttpGetForm::SaveSettings() {
  if (!FInitialized) return;
  try {
    TIniFile ini(FIniFileName);
    ini.WriteString("Data", "URL", URLEdit->text().toStdString());
    ini.WriteString("Data", "ProxyHost", ProxyHostEdit->text().toStdString());
    ini.WriteString("Data", "ProxyPort", ProxyPortEdit->text().toStdString());
    ini.WriteString("Data", "FileName", FileNameEdit->text().toStdString());
    QRect g = geometry();
    ini.WriteInteger("Window", "Top", g.top());
    ini.WriteInteger("Window", "Left", g.left());
    ini.WriteInteger("Window", "Width", g.width());
    ini.WriteInteger("Window", "Height", g.height());
  } catch (const std::exception&) {
    // Settings that cannot be stored are not worth more than the closing of the dialog.
  }
}

void THttpGetForm::done(int r) {
  if (FRunning) FHttpCli.Abort();
  SaveSettings();
  QDialog::done(r);
}

void THttpGetForm::Get() {
  if (FRunning) return;
  if (FURL.empty()) FURL = URLEdit->text().toStdString();
  URLEdit->setText(Q(FURL));
  FHttpCli.SetURL(FURL);
  FHttpCli.SetProxy("");
  FHttpCli.SetProxyPort("");
  std::string target = FFileName.empty() ? FileNameEdit->text().toStdString() : FFileName;
  // The body goes to a temporary beside the file and takes the file's name only after a
  // complete, successful transfer: a failed or aborted one leaves an earlier file as it was.
  ql::PartialFileStream stream;
  try {
    const std::string resolved = ql::ResolveOutputTarget(target);
    const std::size_t slash = resolved.rfind('/');
    ql::RemoveLeftovers(slash == std::string::npos ? std::string() : resolved.substr(0, slash + 1));
    stream.Create(target);
  } catch (const std::exception& e) {
    throw EFCreateError("Cannot create file " + target + ": " + e.what());
  }
  FHttpCli.SetRcvdStream(&stream);
  GetButton->setEnabled(false);
  AbortButton->setEnabled(true);
  SetStatus("Loading");
  FRunning = true;
  std::exception_ptr error;
  try {
    FHttpCli.Get();
  } catch (...) {
    error = std::current_exception();
  }
  FRunning = false;
  GetButton->setEnabled(true);
  AbortButton->setEnabled(false);
  FHttpCli.SetRcvdStream(nullptr);
  if (!error) {
    try {
      stream.Commit();
    } catch (const std::exception& e) {
      error =
          std::make_exception_ptr(EInOutError(5, "Cannot write file " + target + ": " + e.what()));
    }
  }
  stream.Abandon();
  if (!error) {
    std::error_code ec;
    auto size = std::filesystem::file_size(target, ec);
    SetStatus("Received " + std::to_string(ec ? 0 : size) + " bytes");
  }
  close();
  if (error) std::rethrow_exception(error);
}

void THttpGetForm::GetButtonClick() {
  FURL = URLEdit->text().toStdString();
  try {
    Get();
  } catch (const std::exception& e) {
    ql::UI().ShowException(e);
  }
}

void THttpGetForm::AbortButtonClick() {
  FHttpCli.Abort();
}

void THttpGetForm::HttpCli1DocData(const char*, int) {
  SetStatus(std::to_string(FHttpCli.GetRcvdCount()));
}

void THttpGetForm::HttpCli1HeaderData() {
  SetStatus(GetStatusText() + ".");
}

}  // namespace ql::net
