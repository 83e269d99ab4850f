#pragma once
// Helpers shared by the source files of the CD-extraction window.
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "MMUtils.h"

class QWidget;

namespace ripper_window {

inline QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
// The bytes of a wave format record (with its extra bytes); empty for none.
std::vector<std::uint8_t> BytesOf(const TWaveFormatEx* format);
// The tooltips of a dialog's controls follow the window's hints option; the dialog keeps its own.
void ApplyHintsToChildren(QWidget* dialog, bool on);

}  // namespace ripper_window
