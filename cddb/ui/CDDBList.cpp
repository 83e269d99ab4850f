#include "CDDBList.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// Folds a-z to A-Z and å ä ö to Å Ä Ö (texts are UTF-8).
std::u32string Fold(const std::string& s) {
  std::u32string out;
  for (char32_t c : QString::fromUtf8(s).toStdU32String()) {
    if (c >= U'a' && c <= U'z') c -= 32;
    if (c == U'å' || c == U'ä' || c == U'ö') c -= 32;
    out += c;
  }
  return out;
}

}  // namespace

TFormCDDBList::TFormCDDBList(QWidget* parent) : QDialog(parent) {
  setObjectName("FormCDDBList");
  setWindowTitle("Inexact Match from CDDB");
  auto* layout = new QVBoxLayout(this);
  auto* top =
      new QLabel("Select one CD from the list and click OK to download the information", this);
  QFont bold = top->font();
  bold.setBold(true);
  top->setFont(bold);
  top->setAlignment(Qt::AlignCenter);
  top->setWordWrap(true);
  layout->addWidget(top);
  FListBox = new QListWidget(this);
  FListBox->setObjectName("FListBox");
  layout->addWidget(FListBox);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  btnOK = new QPushButton("OK", this);
  btnOK->setObjectName("btnOK");
  btnCancel = new QPushButton("Cancel", this);
  btnCancel->setObjectName("btnCancel");
  btnHelp = new QPushButton("Help", this);
  btnHelp->setObjectName("btnHelp");
  for (QWidget* b : {btnOK, btnCancel, btnHelp}) buttons->addWidget(b);
  layout->addLayout(buttons);
  connect(btnOK, &QPushButton::clicked, this, [this] {
    OK = true;
    accept();
  });
  connect(btnCancel, &QPushButton::clicked, this, [this] {
    OK = false;
    reject();
  });
  resize(420, 300);
  setFixedSize(size());
}

bool TFormCDDBList::Agrees(const std::string& line, const std::string& text) {
  if (line.empty() || text.empty()) return false;
  std::u32string a = Fold(line), b = Fold(text);
  size_t n = std::min(a.size(), b.size());
  return a.compare(0, n, b, 0, n) == 0;
}

void TFormCDDBList::Fill(const std::vector<std::string>& lines, const std::string& text) {
  FListBox->clear();
  for (const auto& l : lines)
    if (Agrees(l, text)) FListBox->addItem(QString::fromStdString(l));
}

void TFormCDDBList::FillFromGrid(const QTableWidget& grid, const std::string& text) {
  std::vector<std::string> lines;
  for (int r = 0; r < grid.rowCount(); ++r)
    if (const QTableWidgetItem* i = grid.item(r, 0)) lines.push_back(i->text().toStdString());
  Fill(lines, text);
}

bool TFormCDDBList::Run() {
  OK = false;
  // Asked during a lookup, while the progress window has every other window disabled.
  setEnabled(true);
  exec();
  return OK;
}

std::string TFormCDDBList::ChosenDisc() const {
  QListWidgetItem* item = FListBox->currentItem();
  if (!item) return {};
  // The second word: categories have any length ("reggae", "soundtrack").
  std::string line = item->text().toStdString();
  size_t start = line.find(' ');
  if (start == std::string::npos) return {};
  ++start;
  size_t blank = line.find(' ', start);
  return line.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
}

void TFormCDDBList::SetLines(const std::vector<std::string>& lines) {
  FListBox->clear();
  for (const auto& l : lines) FListBox->addItem(QString::fromStdString(l));
  if (!lines.empty()) FListBox->setCurrentRow(0);
}

int TFormCDDBList::ChosenRow() const {
  return FListBox->currentRow();
}
