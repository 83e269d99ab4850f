#include "ScriptedUi.h"

#include "Fs.h"

namespace ql {

void ScriptedUi::ErrorBox(const std::string& text, const std::string&) {
  shown.push_back({MsgKind::kError, text});
}

void ScriptedUi::InfoBox(const std::string& text, const std::string&) {
  shown.push_back({MsgKind::kInformation, text});
}

void ScriptedUi::ShowMessage(const std::string& text) {
  shown.push_back({MsgKind::kPlain, text});
}

bool ScriptedUi::Confirm(const std::string& text, const std::string&) {
  shown.push_back({MsgKind::kConfirm, text});
  if (confirm_answers.empty()) return false;
  bool answer = confirm_answers.front();
  confirm_answers.pop_front();
  return answer;
}

void ScriptedUi::ShowException(const std::exception& e) {
  shown.push_back({MsgKind::kException, e.what()});
}

bool ScriptedUi::Execute(FileDialog& dialog) {
  dialogs.push_back(dialog);
  if (dialog_answers.empty()) return false;
  DialogAnswer answer = dialog_answers.front();
  dialog_answers.pop_front();
  for (int index : answer.type_changes) {
    dialog.FilterIndex = index;
    if (dialog.OnTypeChange) dialog.OnTypeChange(index);
  }
  if (!answer.accept || answer.files.empty()) return false;
  if (answer.filter_index) dialog.FilterIndex = answer.filter_index;
  dialog.Files = answer.files;
  dialog.FileName = answer.files.front();
  if (!answer.folder.empty())
    fs::SetCurrentDir(answer.folder);
  else
    EnterFolderOf(dialog.FileName);
  return true;
}

void ScriptedUi::ShowHelp(const std::string& help_file, int context) {
  help.emplace_back(help_file, context);
}

std::vector<std::string> ScriptedUi::Texts() const {
  std::vector<std::string> texts;
  for (const auto& s : shown) texts.push_back(s.text);
  return texts;
}

}  // namespace ql
