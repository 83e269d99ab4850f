#pragma once
// TDictionary: key and value pairs in a two-column string grid, one pair per row, as the
// download window keeps the fields of a CDDB reply.
#include <QTableWidget>
#include <string>

#include "Exception.h"

class EDictionaryError : public Exception {
 public:
  using Exception::Exception;
};

class TDictionary : public QTableWidget {
 public:
  explicit TDictionary(QWidget* parent = nullptr);

  int Count() const { return rowCount(); }
  // The value of the first row whose key equals key; row gets that row, -1 when none.
  std::string Value(const std::string& key, int* row = nullptr) const;
  // The key of the first row whose value equals value.
  std::string Key(const std::string& value, int* row = nullptr) const;
  // Row of the exact pair, -1 when absent.
  int Find(const std::string& key, const std::string& value) const;
  // Adds the pair unless that exact pair is there; returns its row. Beyond 32766 rows:
  // EDictionaryError "Index range error".
  int Add(const std::string& key, const std::string& value);
  // Deletes the exact pair; the rows below move up. False when absent.
  bool Delete(const std::string& key, const std::string& value);
  bool DeleteKey(const std::string& key);
  std::string KeyAt(int row) const;
  std::string ValueAt(int row) const;

  static constexpr int kMaxRows = 32766;
};
