#pragma once
// The user-interface service of tests: records every message and dialog, and answers
// confirmations and dialogs from queues the test fills.
#include <deque>
#include <optional>

#include "Ui.h"

namespace ql {

class ScriptedUi : public Ui {
 public:
  struct Shown {
    MsgKind kind;
    std::string text;
  };
  // How the next file dialog is answered. Cancelled when files is empty and accept is false.
  struct DialogAnswer {
    bool accept = true;
    std::vector<std::string> files;
    int filter_index = 0;           // 0 keeps the dialog's index
    std::vector<int> type_changes;  // filter indexes the user picks before leaving
    std::string folder;             // becomes current on accept (default: folder of files[0])
  };

  void ErrorBox(const std::string& text, const std::string& caption) override;
  void InfoBox(const std::string& text, const std::string& caption) override;
  void ShowMessage(const std::string& text) override;
  bool Confirm(const std::string& text, const std::string& caption) override;
  void ShowException(const std::exception& e) override;
  bool Execute(FileDialog& dialog) override;
  void ShowHelp(const std::string& help_file, int context) override;

  std::vector<Shown> shown;
  std::vector<FileDialog> dialogs;  // copies as they were shown
  std::vector<std::pair<std::string, int>> help;
  std::deque<bool> confirm_answers;         // empty: answer No
  std::deque<DialogAnswer> dialog_answers;  // empty: cancel

  // The texts shown, in order, and a reset.
  std::vector<std::string> Texts() const;
  void Clear() {
    shown.clear();
    dialogs.clear();
    help.clear();
  }
};

}  // namespace ql
