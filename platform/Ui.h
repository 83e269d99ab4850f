#pragma once
// Message boxes, file dialogs, help and the application's default error display, behind one
// service so that windows can be driven by tests. QtUi shows the real dialogs; ScriptedUi
// records what was shown and answers as it is told.
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace ql {

// A common file dialog: the fields a window prepares before showing it and reads after.
// Filter is "Description|pattern|Description|pattern"; FilterIndex counts from 1.
struct FileDialog {
  enum Kind { kOpen, kSave };
  Kind kind = kOpen;
  std::string Title;
  std::string Filter;
  int FilterIndex = 1;
  std::string DefaultExt;
  std::string InitialDir;
  std::string FileName;            // in: proposed name; out: the chosen file
  std::vector<std::string> Files;  // out: every chosen file (multiple selection)
  bool AllowMultiSelect = false;
  bool NoValidate = false;  // accept names that do not exist
  int HelpContext = 0;
  std::string HelpFile;  // with HelpContext: the dialog shows a Help button
  // Called with the new FilterIndex whenever the user changes the filter.
  std::function<void(int)> OnTypeChange;

  // The filter's pairs as (description, pattern).
  std::vector<std::pair<std::string, std::string>> FilterPairs() const;
};

enum class MsgKind { kError, kInformation, kPlain, kConfirm, kException };

class Ui {
 public:
  virtual ~Ui() = default;
  virtual void ErrorBox(const std::string& text, const std::string& caption = "Error") = 0;
  virtual void InfoBox(const std::string& text, const std::string& caption = "Information") = 0;
  // A plain message box with the application's title and an OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // Yes/No question; true for Yes.
  virtual bool Confirm(const std::string& text, const std::string& caption = "Confirm") = 0;
  // The application's default error display: a box with the error's own text.
  virtual void ShowException(const std::exception& e) = 0;
  // Shows the dialog; on confirmation fills FileName, Files and FilterIndex, makes the chosen
  // folder the current directory (as the platform's dialogs do), and returns true.
  virtual bool Execute(FileDialog& dialog) = 0;
  // Opens help file at the topic of context.
  virtual void ShowHelp(const std::string& help_file, int context) = 0;
};

// The process's service; windows call it for every message and dialog.
Ui& UI();
void SetUi(Ui* ui);

// Sets the current directory to the folder of a dialog's chosen file.
void EnterFolderOf(const std::string& file);

}  // namespace ql
