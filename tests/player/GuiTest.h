#pragma once
#include <QApplication>
#include <chrono>
#include <functional>

#include "ScriptedUi.h"

extern ql::ScriptedUi* g_ui;

// Runs the Qt event loop until pred holds or the timeout passes.
inline bool SpinUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}
