// Window tests: one QApplication (offscreen), the scripted user-interface service and the Qt
// dispatcher for every test program.
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>
#include <cstdlib>

#include "GuiTest.h"
#include "QtDispatcher.h"

ql::ScriptedUi* g_ui = nullptr;

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QL_MPV_AO", "null", 0);
  setenv("QL_MPV_VO", "null", 0);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  ql::QtDispatcher dispatcher;
  ql::SetDispatcher(&dispatcher);
  ql::ScriptedUi ui;
  g_ui = &ui;
  ql::SetUi(&ui);
  testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  ql::SetUi(nullptr);
  ql::SetDispatcher(nullptr);
  return rc;
}
