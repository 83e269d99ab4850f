#pragma once
// The user-interface service of the programs, on Qt Widgets.
#include "Ui.h"

namespace ql {

class QtUi : public Ui {
 public:
  // The caption of plain message boxes and of the default error display. Not the toolkit's
  // application display name: that one is appended to every window title.
  static void SetApplicationTitle(const std::string& title);
  // For runs nobody watches (start-up measurements, install checks): message texts go to
  // standard error instead of boxes, questions are answered No, file dialogs cancelled.
  static void SetUnattended(bool unattended);
  void ErrorBox(const std::string& text, const std::string& caption) override;
  void InfoBox(const std::string& text, const std::string& caption) override;
  void ShowMessage(const std::string& text) override;
  bool Confirm(const std::string& text, const std::string& caption) override;
  void ShowException(const std::exception& e) override;
  bool Execute(FileDialog& dialog) override;
  // Help files are shown from the program's resources: ":/help/<file name in lower case, with
  // .html for its extension>", at the anchor "ctx<context>".
  void ShowHelp(const std::string& help_file, int context) override;
};

// Qt name filters for a dialog's filter pairs, patterns offered in both letter cases.
std::vector<std::string> QtNameFilters(const FileDialog& dialog);

}  // namespace ql
