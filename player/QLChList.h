#pragma once
// TQLCheckListBox: a list box whose rows each carry a check box, able to store its rows with
// their check marks in a text file and read them back. Rows live in a model of plain strings,
// so lists of a hundred thousand rows load, scroll and save at once.
#include <QAbstractListModel>
#include <QListView>
#include <iosfwd>
#include <string>
#include <vector>

#include "CheckListFormat.h"

class TQLCheckListModel : public QAbstractListModel {
 public:
  using Row = TCheckRow;
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  std::vector<Row>& rows() { return rows_; }
  const std::vector<Row>& rows() const { return rows_; }
  void Reset(std::vector<Row> rows);
  void Append(std::vector<Row> rows);
  void Remove(int index);
  void RowChanged(int index);
  // The row the player is playing, drawn in bold with a mark (-1: none).
  void SetPlayingRow(int index);
  int PlayingRow() const { return playing_; }

 private:
  std::vector<Row> rows_;
  int playing_ = -1;
};

class TQLCheckListBox : public QListView {
 public:
  explicit TQLCheckListBox(QWidget* parent = nullptr);

  int Count() const { return static_cast<int>(model_.rows().size()); }
  // The row's string; EListError "List index out of bounds (%d)" outside the rows.
  const std::string& Items(int index) const;
  bool Checked(int index) const;
  void SetChecked(int index, bool checked);
  // Selected row, -1 for none. Setting an index outside the rows selects nothing.
  int ItemIndex() const;
  void SetItemIndex(int index);
  int Add(const std::string& text);
  void AddRows(std::vector<TQLCheckListModel::Row> rows);
  void Delete(int index);
  void Clear();
  int IndexOf(const std::string& text) const;
  std::vector<std::string> Strings() const;

  // Check-mark file: for each row a line "1" or "0", then the row's string; CR LF line ends.
  // The file is replaced atomically. File errors are EInOutError.
  virtual void SaveToFile(const std::string& file_name);
  // Removes all rows, then reads the file: check line, string line, until its end.
  virtual void LoadFromFile(const std::string& file_name);
  // Counted form on a stream the caller opened: the row count, then the line pairs.
  virtual void SaveToText(std::ostream& out);
  virtual void LoadFromText(std::istream& in);
  // Index of text among the rows, appended when absent; returns the index.
  virtual int AddString(const std::string& text);
  // AddString for each; the number of strings, or -1 for an empty list.
  virtual int AddStrings(const std::vector<std::string>& strings);
  virtual void AssignFrom(const TQLCheckListBox& other);

  TQLCheckListModel& model() { return model_; }

 private:
  TQLCheckListModel model_;
};
