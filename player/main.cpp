// qlplayer: the player window, and the CD-extraction window on request.
#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <cstring>

#include "About.h"
#include "CommandLine.h"
#include "MediaPlayer.h"
#include "QtDispatcher.h"
#include "QtUi.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The media device's library needs numbers written the C way.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName("qlplayer");
  QApplication::setApplicationDisplayName("Quillon Media Player");
  ql::SetCommandLine(argc, argv);
  ql::QtDispatcher dispatcher;
  ql::SetDispatcher(&dispatcher);
  ql::QtUi ui;
  ql::SetUi(&ui);

  bool extraction = false, quit_after_show = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--cd-extraction") == 0) extraction = true;
    // Ends the program once the window has been shown: how start-up time is measured.
    if (std::strcmp(argv[i], "--quit-after-show") == 0) quit_after_show = true;
  }

  TFormMediaPlayer player;
  TFormAboutBox about_box;
  TFormAboutMediaPlayer about_player;
  player.SetAboutWindow(&about_player);
  player.show();
  if (quit_after_show) QMetaObject::invokeMethod(&app, &QApplication::quit, Qt::QueuedConnection);
  if (extraction)
    ui.InfoBox("The CD-extraction window is not available yet in this release.",
               "Quillon Trackwell");
  int rc = app.exec();
  ql::SetUi(nullptr);
  ql::SetDispatcher(nullptr);
  return rc;
}
