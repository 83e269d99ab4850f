#pragma once
// TCDDBSelectDlg: the chooser of a CDDB site ("Available CDDB sites"). Each item is a
// TAB-separated line drawn in columns under the header's sections; a press in the list ends
// the dialog with OK at once, with the index of the item hit (-1 for none).
#include <QDialog>
#include <string>
#include <vector>

class QHeaderView;
class QLabel;
class QListWidget;
class QPushButton;

class TCDDBSelectDlg : public QDialog {
 public:
  explicit TCDDBSelectDlg(QWidget* parent = nullptr);
  void SetItems(const std::vector<std::string>& items);
  void SetSections(const std::string& first, const std::string& second);
  int SelectedIndex = -1;

  QHeaderView* Header;
  QListWidget* ListBox;
  QLabel* Label1;
  QPushButton* btnCancel;

  // Called for a press at a point of the list.
  void ListBoxPress(const QPoint& pos);
};

// The file-name filter of the download window: the double quote and * / : ; < > ? [ \ ] | each
// become "-"; replaced tells whether any was.
std::string FilterFileName(const std::string& text, bool* replaced = nullptr);
