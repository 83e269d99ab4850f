#pragma once
// TFormCDDBList: the list of inexact matches ("Inexact Match from CDDB") from which the user
// picks the disc to download.
#include <QDialog>
#include <string>
#include <vector>

class QListWidget;
class QPushButton;
class QTableWidget;

class TFormCDDBList : public QDialog {
 public:
  explicit TFormCDDBList(QWidget* parent = nullptr);

  // Keeps the lines that agree with text over the length of the shorter of the two (letters
  // compared without case, å ä ö as Å Ä Ö); an empty line or text agrees with nothing.
  void Fill(const std::vector<std::string>& lines, const std::string& text);
  void FillFromGrid(const QTableWidget& grid, const std::string& text);
  // Shows the dialog; true only when it was left by OK.
  bool Run();
  // The disc ID of the selected line "category discid title": its second word.
  std::string ChosenDisc() const;
  // Every line, unfiltered; the first is selected.
  void SetLines(const std::vector<std::string>& lines);
  // The selected row, -1 for none.
  int ChosenRow() const;
  static bool Agrees(const std::string& line, const std::string& text);

  QListWidget* FListBox;
  QPushButton *btnOK, *btnCancel, *btnHelp;
  bool OK = false;
};
