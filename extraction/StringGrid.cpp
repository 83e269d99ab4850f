#include "StringGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

TStringGrid::TStringGrid(QWidget* parent) : QTableWidget(parent) {
  horizontalHeader()->setVisible(false);
  verticalHeader()->setVisible(false);
  verticalHeader()->setDefaultSectionSize(17);
  verticalHeader()->setMinimumSectionSize(12);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setCornerButtonEnabled(false);
}

void TStringGrid::SetRowCount(int rows) {
  int old = rowCount();
  setRowCount(std::max(rows, 0));
  for (int r = old; r < rows; ++r) StyleRow(r);
  if (rows > 0 && old > 0) StyleRow(0);
}

void TStringGrid::SetColCount(int cols) {
  setColumnCount(std::max(cols, 0));
  for (int r = 0; r < rowCount(); ++r) StyleRow(r);
}

void TStringGrid::SetFixedRows(int rows) {
  fixedRows_ = rows;
  for (int r = 0; r < rowCount(); ++r) StyleRow(r);
}

QTableWidgetItem* TStringGrid::ItemAt(int col, int row) {
  QTableWidgetItem* it = item(row, col);
  if (!it) {
    it = new QTableWidgetItem;
    setItem(row, col, it);
    StyleRow(row);
  }
  return it;
}

void TStringGrid::StyleRow(int row) {
  bool fixed = row < fixedRows_;
  for (int c = 0; c < columnCount(); ++c) {
    QTableWidgetItem* it = item(row, c);
    if (!it) {
      it = new QTableWidgetItem;
      setItem(row, c, it);
    }
    Qt::ItemFlags f = Qt::NoItemFlags;
    if (!fixed) {
      f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
      if (c == editableColumn_ && editing_) f |= Qt::ItemIsEditable;
    }
    it->setFlags(f);
    if (fixed) {
      it->setBackground(palette().button());
      it->setForeground(palette().buttonText());
    } else {
      it->setData(Qt::BackgroundRole, QVariant());
      it->setData(Qt::ForegroundRole, QVariant());
    }
  }
}

QString TStringGrid::Cell(int col, int row) const {
  const QTableWidgetItem* it = item(row, col);
  return it ? it->text() : QString();
}

void TStringGrid::SetCell(int col, int row, const QString& text) {
  if (col < 0 || row < 0 || col >= columnCount() || row >= rowCount()) return;
  ItemAt(col, row)->setText(text);
}

int TStringGrid::Row() const {
  int r = currentRow();
  if (r < 0) return rowCount() > fixedRows_ ? fixedRows_ : 0;
  return r;
}

int TStringGrid::Col() const {
  return std::max(currentColumn(), 0);
}

void TStringGrid::SetRow(int row) {
  if (row < 0 || row >= rowCount()) return;
  setCurrentCell(row, std::max(currentColumn(), 0), QItemSelectionModel::ClearAndSelect);
}

void TStringGrid::SetEditableColumn(int col) {
  editableColumn_ = col;
  for (int r = 0; r < rowCount(); ++r) StyleRow(r);
}

void TStringGrid::SetEditing(bool on) {
  if (on == editing_) return;
  editing_ = on;
  setEditTriggers(on ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed
                     : QAbstractItemView::NoEditTriggers);
  for (int r = 0; r < rowCount(); ++r) StyleRow(r);
}

void TStringGrid::mousePressEvent(QMouseEvent* event) {
  // The cell under the pointer is focused first, as a grid does, then the window sees the click.
  QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid() && index.row() >= fixedRows_)
    setCurrentCell(index.row(), index.column(), QItemSelectionModel::ClearAndSelect);
  if (OnMouseDown) OnMouseDown(event);
  if (!(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)))
    QTableWidget::mousePressEvent(event);
}

void TStringGrid::keyPressEvent(QKeyEvent* event) {
  if (OnKeyDown) OnKeyDown(event);
  QTableWidget::keyPressEvent(event);
}

void TStringGrid::CommitEdit() {
  if (state() != QAbstractItemView::EditingState) return;
  // The open editor is the viewport's child that has the focus, or the one at the current cell.
  QWidget* editor = QApplication::focusWidget();
  while (editor && editor->parentWidget() != viewport()) editor = editor->parentWidget();
  if (!editor)
    for (QWidget* w : viewport()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (w->isVisible() && w->geometry().intersects(visualRect(currentIndex()))) editor = w;
  if (!editor) return;
  commitData(editor);
  closeEditor(editor, QAbstractItemDelegate::NoHint);
}
