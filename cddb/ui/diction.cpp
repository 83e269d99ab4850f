#include "diction.h"

#include <QHeaderView>

TDictionary::TDictionary(QWidget* parent) : QTableWidget(0, 2, parent) {
  setHorizontalHeaderLabels({"Key", "Value"});
  verticalHeader()->setVisible(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
}

std::string TDictionary::KeyAt(int r) const {
  const QTableWidgetItem* i = item(r, 0);
  return i ? i->text().toStdString() : std::string();
}

std::string TDictionary::ValueAt(int r) const {
  const QTableWidgetItem* i = item(r, 1);
  return i ? i->text().toStdString() : std::string();
}

std::string TDictionary::Value(const std::string& key, int* row) const {
  for (int r = 0; r < rowCount(); ++r)
    if (KeyAt(r) == key) {
      if (row) *row = r;
      return ValueAt(r);
    }
  if (row) *row = -1;
  return {};
}

std::string TDictionary::Key(const std::string& value, int* row) const {
  for (int r = 0; r < rowCount(); ++r)
    if (ValueAt(r) == value) {
      if (row) *row = r;
      return KeyAt(r);
    }
  if (row) *row = -1;
  return {};
}

int TDictionary::Find(const std::string& key, const std::string& value) const {
  for (int r = 0; r < rowCount(); ++r)
    if (KeyAt(r) == key && ValueAt(r) == value) return r;
  return -1;
}

int TDictionary::Add(const std::string& key, const std::string& value) {
  int existing = Find(key, value);
  if (existing >= 0) return existing;
  if (rowCount() >= kMaxRows) throw EDictionaryError("Index range error");
  int r = rowCount();
  insertRow(r);
  setItem(r, 0, new QTableWidgetItem(QString::fromStdString(key)));
  setItem(r, 1, new QTableWidgetItem(QString::fromStdString(value)));
  return r;
}

bool TDictionary::Delete(const std::string& key, const std::string& value) {
  int r = Find(key, value);
  if (r < 0) return false;
  removeRow(r);
  return true;
}

bool TDictionary::DeleteKey(const std::string& key) {
  int r;
  Value(key, &r);
  if (r < 0) return false;
  removeRow(r);
  return true;
}
