#include "QLChList.h"

#include <QFont>
#include <QStyledItemDelegate>
#include <istream>
#include <ostream>

#include "Exception.h"
#include "TextFile.h"

int TQLCheckListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant TQLCheckListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const Row& row = rows_[static_cast<size_t>(index.row())];
  if (role == Qt::DisplayRole) return QString::fromStdString(row.text);
  if (role == Qt::CheckStateRole) return row.checked ? Qt::Checked : Qt::Unchecked;
  if (index.row() == playing_) {
    if (role == Qt::FontRole) {
      QFont f;
      f.setBold(true);
      return f;
    }
    if (role == Qt::AccessibleDescriptionRole) return QStringLiteral("playing");
  }
  return {};
}

bool TQLCheckListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid()) return false;
  rows_[static_cast<size_t>(index.row())].checked = value.toInt() == Qt::Checked;
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

Qt::ItemFlags TQLCheckListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

void TQLCheckListModel::SetPlayingRow(int index) {
  if (index < 0 || index >= static_cast<int>(rows_.size())) index = -1;
  if (index == playing_) return;
  int old = playing_;
  playing_ = index;
  if (old >= 0 && old < static_cast<int>(rows_.size())) RowChanged(old);
  if (index >= 0) RowChanged(index);
}

void TQLCheckListModel::Reset(std::vector<Row> rows) {
  playing_ = -1;
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void TQLCheckListModel::Append(std::vector<Row> rows) {
  if (rows.empty()) return;
  int first = static_cast<int>(rows_.size());
  beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
  rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
               std::make_move_iterator(rows.end()));
  endInsertRows();
}

void TQLCheckListModel::Remove(int index) {
  if (index == playing_)
    playing_ = -1;
  else if (index < playing_)
    --playing_;
  beginRemoveRows({}, index, index);
  rows_.erase(rows_.begin() + index);
  endRemoveRows();
}

void TQLCheckListModel::RowChanged(int index) {
  QModelIndex i = this->index(index);
  emit dataChanged(i, i);
}

namespace {

// Rows are at least 13 pixels high, more where the font needs it.
class RowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    return {s.width(), std::max(13, s.height())};
  }
};

}  // namespace

TQLCheckListBox::TQLCheckListBox(QWidget* parent) : QListView(parent) {
  setModel(&model_);
  setItemDelegate(new RowDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
}

const std::string& TQLCheckListBox::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError(index);
  return model_.rows()[static_cast<size_t>(index)].text;
}

bool TQLCheckListBox::Checked(int index) const {
  if (index < 0 || index >= Count()) throw EListError(index);
  return model_.rows()[static_cast<size_t>(index)].checked;
}

void TQLCheckListBox::SetChecked(int index, bool checked) {
  if (index < 0 || index >= Count()) throw EListError(index);
  auto& row = model_.rows()[static_cast<size_t>(index)];
  if (row.checked == checked) return;
  row.checked = checked;
  model_.RowChanged(index);
}

int TQLCheckListBox::ItemIndex() const {
  QModelIndexList selected = selectionModel()->selectedIndexes();
  return selected.isEmpty() ? -1 : selected.first().row();
}

void TQLCheckListBox::SetItemIndex(int index) {
  if (index < 0 || index >= Count()) {
    selectionModel()->clearSelection();
    return;
  }
  QModelIndex i = model_.index(index);
  selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
  scrollTo(i);
}

int TQLCheckListBox::Add(const std::string& text) {
  model_.Append({{text, false}});
  return Count() - 1;
}

void TQLCheckListBox::AddRows(std::vector<TQLCheckListModel::Row> rows) {
  model_.Append(std::move(rows));
}

void TQLCheckListBox::Delete(int index) {
  if (index < 0 || index >= Count()) throw EListError(index);
  model_.Remove(index);
}

void TQLCheckListBox::Clear() {
  model_.Reset({});
}

int TQLCheckListBox::IndexOf(const std::string& text) const {
  const auto& rows = model_.rows();
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].text == text) return static_cast<int>(i);
  return -1;
}

std::vector<std::string> TQLCheckListBox::Strings() const {
  std::vector<std::string> out;
  out.reserve(model_.rows().size());
  for (const auto& r : model_.rows()) out.push_back(r.text);
  return out;
}

void TQLCheckListBox::SaveToFile(const std::string& file_name) {
  ql::WriteFileAtomic(file_name, FormatCheckList(model_.rows()));
}

void TQLCheckListBox::LoadFromFile(const std::string& file_name) {
  Clear();
  std::vector<std::string> lines = ql::SplitLines(ql::ReadFileBytes(file_name));
  model_.Reset(ParseCheckList(lines, 0, (lines.size() + 1) / 2));
}

void TQLCheckListBox::SaveToText(std::ostream& out) {
  out << Count() << "\r\n" << FormatCheckList(model_.rows());
  if (!out) throw EInOutError(101, "Disk full");
}

void TQLCheckListBox::LoadFromText(std::istream& in) {
  Clear();
  auto read_line = [&in](std::string& line) {
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  };
  std::string line;
  if (!read_line(line)) throw EInOutError(100, "Read beyond end of file");
  long n = std::strtol(line.c_str(), nullptr, 10);
  std::vector<TQLCheckListModel::Row> rows;
  for (long i = 0; i < n; ++i) {
    std::string check, text;
    if (!read_line(check) || !read_line(text)) {
      model_.Reset(std::move(rows));  // the rows read before the error stay
      throw EInOutError(100, "Read beyond end of file");
    }
    rows.push_back({std::move(text), check == "1"});
  }
  model_.Reset(std::move(rows));
}

int TQLCheckListBox::AddString(const std::string& text) {
  int index = IndexOf(text);
  return index >= 0 ? index : Add(text);
}

int TQLCheckListBox::AddStrings(const std::vector<std::string>& strings) {
  if (strings.empty()) return -1;
  for (const auto& s : strings) AddString(s);
  return static_cast<int>(strings.size());
}

void TQLCheckListBox::AssignFrom(const TQLCheckListBox& other) {
  model_.Reset(other.model_.rows());
}
