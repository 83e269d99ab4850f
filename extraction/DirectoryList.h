#pragma once
// A directory chooser in the manner of the classic directory list: the folders above the current
// one, the current one, and its subfolders; choosing one (double click or Enter) makes it the
// directory shown and the current directory of the process. A drive combo lists the mounted
// file systems and moves the list to the one chosen.
#include <QComboBox>
#include <QListWidget>
#include <functional>
#include <string>

class TDirectoryListBox : public QListWidget {
 public:
  explicit TDirectoryListBox(QWidget* parent = nullptr);
  const std::string& Directory() const { return directory_; }
  // Shows dir and makes it current; false (and nothing changed) when it cannot be entered.
  bool SetDirectory(const std::string& dir);
  std::function<void(const std::string&)> OnChange;

 private:
  void Fill();
  std::string directory_;
};

class TDriveComboBox : public QComboBox {
 public:
  explicit TDriveComboBox(QWidget* parent = nullptr);
  // The mount point holding dir (the longest one that is a prefix of it).
  static std::string DriveOf(const std::string& dir);
  void ShowDriveOf(const std::string& dir);
};
