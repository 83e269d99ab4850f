// qlplayer: the player window, and the CD-extraction window on request.
#include <QApplication>
#include <clocale>
#include <cstring>
#include <memory>

#include "About.h"
#include "CDRipper.h"
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

  int rc;
  if (extraction) {
    // The CD-extraction window alone.
    QApplication::setApplicationDisplayName("Quillon Trackwell");
    auto ripper = std::make_unique<TFormCDRipper>();
    ripper->show();
    // exit(), not quit(): quitting closes the windows, and closing this one asks about saving.
    if (quit_after_show) QMetaObject::invokeMethod(&app, [] { QApplication::exit(0); }, Qt::QueuedConnection);
    rc = app.exec();
    ripper.reset();
  } else {
    TFormMediaPlayer player;
    TFormAboutBox about_box;
    TFormAboutMediaPlayer about_player;
    player.SetAboutWindow(&about_player);
    player.show();
    if (quit_after_show)
      QMetaObject::invokeMethod(&app, &QApplication::quit, Qt::QueuedConnection);
    rc = app.exec();
  }
  ql::SetUi(nullptr);
  ql::SetDispatcher(nullptr);
  return rc;
}
