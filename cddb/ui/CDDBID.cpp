#include "CDDBID.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "DiscID.h"
#include "HttpGet1.h"
#include "MMCDDB.h"
#include "TextFile.h"
#include "diction.h"

TFormCDDBID::TFormCDDBID(QWidget* parent) : QDialog(parent) {
  setObjectName("FormCDDBID");
  setWindowTitle("Disc ID Calculator");
  BigLabel = new QLabel("ID Calculator", this);
  QFont big = BigLabel->font();
  big.setPointSize(16);
  big.setBold(true);
  BigLabel->setFont(big);
  // The table of contents sits below the big label, which it would otherwise cover.
  TocLabel = new QLabel("CD TOC:", this);
  TocLabel->setGeometry(232, 48, 150, 16);
  TocList = new QListWidget(this);
  TocList->setObjectName("TocList");
  TocList->setGeometry(232, 66, 150, 114);
  auto* id = new QLabel("Disc ID:", this);
  id->setGeometry(12, 52, 60, 20);
  Edit1 = new QLineEdit("$00000000", this);
  Edit1->setObjectName("Edit1");
  Edit1->setReadOnly(true);
  Edit1->setEnabled(false);
  Edit1->setGeometry(76, 50, 100, 24);
  BitBtn1 = new QPushButton("&Calculate", this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn3 = new QPushButton("&Advanced >>", this);
  BitBtn3->setObjectName("BitBtn3");
  BitBtn2 = new QPushButton("&Exit", this);
  BitBtn2->setObjectName("BitBtn2");
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn3Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
  OnExit = [] { QApplication::quit(); };
  Place();
}

void TFormCDDBID::Place() {
  const int left = wide_ ? 104 : 12;
  setFixedSize(wide_ ? 394 : 221, 190);
  BigLabel->setGeometry(wide_ ? 124 : 24, 12, 180, 30);
  BitBtn1->setGeometry(left, 90, 90, 26);
  BitBtn3->setGeometry(left, 122, 90, 26);
  BitBtn2->setGeometry(left, 154, 90, 26);
  BitBtn3->setText(wide_ ? "<< Simple" : "Advanced >>");
  TocList->setVisible(wide_);
  TocLabel->setVisible(wide_);
}

std::string TFormCDDBID::CalculateID() {
  TocList->clear();
  std::uint32_t id = 0;
  if (Reader && Reader->ReadTOC()) {
    std::vector<ql::TMMTrackInfo> tracks = Reader->Tracks();
    for (const auto& t : tracks)
      TocList->addItem(QString("%1  %2  %3").arg(t.Number, 2).arg(t.Start).arg(t.Length));
    id = ql::ClassicDiscID(tracks);
  }
  char text[16];
  std::snprintf(text, sizeof text, "%08x", id);
  Edit1->setText(text);
  return text;
}

void TFormCDDBID::BitBtn1Click() {
  CalculateID();
}

void TFormCDDBID::BitBtn3Click() {
  wide_ = !wide_;
  Place();
}

void TFormCDDBID::BitBtn2Click() {
  if (OnExit) OnExit();
}

TFormCDDB::TFormCDDB(QWidget* parent) : QDialog(parent) {
  setObjectName("FormCDDB");
  setWindowTitle("Downloading information from CDDB");
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  auto* label = new QLabel("&URL.......", this);
  dfsURL = new QLineEdit(this);
  dfsURL->setObjectName("dfsURL");
  label->setBuddy(dfsURL);
  row->addWidget(label);
  row->addWidget(dfsURL);
  layout->addLayout(row);
  InfoLabel = new QLabel(this);
  InfoLabel->setObjectName("InfoLabel");
  layout->addWidget(InfoLabel);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  layout->addWidget(Memo1);
  FDictionary = new TDictionary(this);
  FDictionary->setObjectName("FDictionary");
  FDictionary->setVisible(false);
  layout->addWidget(FDictionary);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  bpCancel = new QPushButton("Cancel", this);
  bpCancel->setObjectName("bpCancel");
  pbClose = new QPushButton("&Close", this);
  pbClose->setObjectName("pbClose");
  pbhelp = new QPushButton("&Help", this);
  pbhelp->setObjectName("pbhelp");
  for (QWidget* b : {bpCancel, pbClose, pbhelp}) buttons->addWidget(b);
  layout->addLayout(buttons);
  Timer = new QTimer(this);
  Timer->setInterval(1000);
  connect(bpCancel, &QPushButton::clicked, this, [this] { Cancelled = true; });
  connect(pbClose, &QPushButton::clicked, this, &QDialog::accept);
}

TFormCDDB::~TFormCDDB() {
  Timer->stop();
}

namespace {
// A command may come with its blanks already written as "+".
std::string EncodeCommand(std::string command) {
  for (char& c : command)
    if (c == '+') c = ' ';
  return ql::CddbFormEncode(command);
}

std::string Hello(const std::string& user, const std::string& host, const std::string& client,
                  const std::string& revision) {
  return ql::CddbFormEncode(user) + "+" + ql::CddbFormEncode(host) + "+" +
         ql::CddbFormEncode(client) + "+" + ql::CddbFormEncode(revision);
}
}  // namespace

std::string TFormCDDB::BuildURL() {
  // The hello carries four fields and proto a protocol level, as the CGI expects.
  std::string url = "http://" + Server + "?cmd=" + EncodeCommand(Command) +
                    "&hello=" + Hello(User, UserHost, ClientName, Revision) + "&proto=" + Level;
  dfsURL->setText(QString::fromStdString(url));
  return url;
}

bool TFormCDDB::Fetch(const std::string& base, const std::string& command, const std::string& user,
                      const std::string& user_host, const std::string& client,
                      const std::string& protocol_level) {
  bool ok = false;
  auto download = std::make_unique<ql::net::THttpGetForm>(this);
  try {
    download->SetFileName("CDDBFile.txt");
    download->SetURL(base + ql::TMMCDDB::kDefaultHttpPath + "?cmd=" + EncodeCommand(command) +
                     "&hello=" + Hello(user, user_host, client, Revision) +
                     "&proto=" + protocol_level);
    download->Get();
    InfoLabel->setText(QString::fromStdString(download->GetStatusText()));
    std::string text = ql::ReadFileBytes(download->GetFileName());
    Memo1->setPlainText(QString::fromStdString(text));
    std::vector<std::string> lines = ql::SplitLines(text);
    ok = !lines.empty() && lines[0].rfind("210", 0) == 0;
  } catch (...) {
    ok = false;
  }
  return ok;
}

void TFormCDDB::LoadDictionary(const std::string& file) {
  try {
    std::vector<std::string> lines = ql::SplitLines(ql::ReadFileBytes(file));
    for (size_t i = 1; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      if (!line.empty() && line[0] == '#') continue;
      if (line.size() < 3) {
        FDictionary->Add("", "");
        continue;
      }
      // Without "=" the key is empty and the value is the whole line.
      size_t eq = line.find('=');
      if (eq == std::string::npos)
        FDictionary->Add("", line);
      else
        FDictionary->Add(line.substr(0, eq), line.substr(eq + 1));
    }
  } catch (...) {
  }
}

void TFormCDDB::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  FDictionary->horizontalHeader()->resizeSection(0, width() / 2);
  FDictionary->horizontalHeader()->resizeSection(1, width() / 2);
}

void TFormCDDB::showEvent(QShowEvent* e) {
  Timer->start();
  QDialog::showEvent(e);
}

void TFormCDDB::done(int r) {
  Timer->stop();
  QDialog::done(r);
}
