#pragma once
// Helpers shared by the source files of the CD-extraction window.
#include <QApplication>
#include <QFontMetrics>
#include <QString>
#include <QWidget>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "MMUtils.h"

namespace ripper_window {

inline QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
// The bytes of a wave format record (with its extra bytes); empty for none.
std::vector<std::uint8_t> BytesOf(const TWaveFormatEx* format);
// The tooltips of a dialog's controls follow the window's hints option; the dialog keeps its own.
void ApplyHintsToChildren(QWidget* dialog, bool on);
// A dialog at least as wide as its title needs in the title bar (with room for the window
// manager's buttons), so the title is never cut.
inline void FitTitle(QWidget* dialog) {
  QFont bold = QApplication::font("QMdiSubWindowTitleBar");
  bold.setBold(true);
  const int need = QFontMetrics(bold).horizontalAdvance(dialog->windowTitle()) + 120;
  dialog->setMinimumWidth(std::max(dialog->minimumSizeHint().width(), need));
}

}  // namespace ripper_window
