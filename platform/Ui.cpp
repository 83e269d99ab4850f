#include "Ui.h"

#include <cstdio>
#include <cstdlib>

#include "Fs.h"

namespace ql {

std::vector<std::pair<std::string, std::string>> FileDialog::FilterPairs() const {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::vector<std::string> parts;
  size_t pos = 0;
  for (;;) {
    size_t bar = Filter.find('|', pos);
    parts.push_back(Filter.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos));
    if (bar == std::string::npos) break;
    pos = bar + 1;
  }
  for (size_t i = 0; i + 1 < parts.size(); i += 2) pairs.emplace_back(parts[i], parts[i + 1]);
  return pairs;
}

namespace {
Ui* current = nullptr;
}

Ui& UI() {
  if (!current) {
    std::fputs("no user-interface service installed\n", stderr);
    std::abort();
  }
  return *current;
}

void SetUi(Ui* ui) {
  current = ui;
}

void EnterFolderOf(const std::string& file) {
  std::string dir = fs::ExtractFilePath(file);
  if (!dir.empty()) fs::SetCurrentDir(dir);
}

}  // namespace ql
