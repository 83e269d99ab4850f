#pragma once
// TStringGrid: the track grid of the CD-extraction window. Row 0 is the fixed header row (a real
// row of the table, so that row numbers are those of the tracks); cells hold plain strings.
#include <QTableWidget>
#include <functional>

class TStringGrid : public QTableWidget {
 public:
  explicit TStringGrid(QWidget* parent = nullptr);

  int RowCount() const { return rowCount(); }
  void SetRowCount(int rows);
  int ColCount() const { return columnCount(); }
  void SetColCount(int cols);
  // Fixed rows at the top (0 or 1): drawn as a header, never focused, never edited.
  int FixedRows() const { return fixedRows_; }
  void SetFixedRows(int rows);

  QString Cell(int col, int row) const;
  void SetCell(int col, int row, const QString& text);
  std::string CellText(int col, int row) const { return Cell(col, row).toStdString(); }

  // The focused row and column (0 when the grid has no focusable cell).
  int Row() const;
  int Col() const;
  void SetRow(int row);

  int ColWidth(int col) const { return columnWidth(col); }
  void SetColWidth(int col, int width) { setColumnWidth(col, width); }

  // The column whose cells may be edited (-1: none); set by the window's key handler.
  void SetEditableColumn(int col);
  int EditableColumn() const { return editableColumn_; }
  // Editing as the window's key handler allows it ("fixed lines + editing" or "fixed lines").
  void SetEditing(bool on);
  bool Editing() const { return editing_; }
  // Commits the text of a cell editor that is open (the cell gets it) and closes the editor.
  void CommitEdit();

  std::function<void(QMouseEvent*)> OnMouseDown;
  std::function<void(QKeyEvent*)> OnKeyDown;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QTableWidgetItem* ItemAt(int col, int row);
  void StyleRow(int row);
  int fixedRows_ = 1;
  int editableColumn_ = -1;
  bool editing_ = false;
};
