// qlplayer: the player window, and the CD-extraction window on request.
#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "About.h"
#include "CDRipper.h"
#include "CommandLine.h"
#include "MediaPlayer.h"
#include "Mpris.h"
#include "QtDispatcher.h"
#include "QtUi.h"

#ifndef QL_VERSION
#define QL_VERSION "1.09"
#endif

namespace {

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: qlplayer [FILE|FOLDER|PLAYLIST]...\n"
               "       qlplayer --cd-extraction\n"
               "  --cd-extraction     open the CD-extraction window instead of the player\n"
               "  --quit-after-show   end once the window is shown\n"
               "  -G, /G              hand the G switch to the CD library\n"
               "  --version, --help\n");
}

// An error no command handler caught is shown by the default error display and ends that
// command only; it never unwinds through the toolkit's event loop (which would abort).
class Application : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ql::UI().ShowException(e);
    } catch (...) {
      ql::UI().ShowException(std::runtime_error("Unknown exception"));
    }
    return false;
  }
};

struct Options {
  bool extraction = false, quit_after_show = false, version = false, help = false;
  std::vector<std::string> files;
};

// False (with the message printed) for a wrong command line.
bool ParseOptions(int argc, char** argv, Options& o) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (options_done || a[0] != '-' || a[1] == '\0') {
      // "/G" is the CD library's switch, not a file.
      if (!options_done && (!std::strcmp(a, "/G") || !std::strcmp(a, "/g"))) continue;
      o.files.emplace_back(a);
    } else if (!std::strcmp(a, "--")) {
      options_done = true;
    } else if (!std::strcmp(a, "--cd-extraction")) {
      o.extraction = true;
    } else if (!std::strcmp(a, "--quit-after-show")) {
      // Ends the program once the window has been shown: how start-up time is measured.
      o.quit_after_show = true;
    } else if (!std::strcmp(a, "--version")) {
      o.version = true;
    } else if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      o.help = true;
    } else if (!std::strcmp(a, "-G") || !std::strcmp(a, "-g")) {
      // For the CD library (FindCmdLineSwitch).
    } else {
      std::fprintf(stderr, "qlplayer: unknown option '%s'\n", a);
      PrintUsage(stderr);
      return false;
    }
  }
  return true;
}

int Run(QApplication& app, const Options& o) {
  const bool extraction = o.extraction, quit_after_show = o.quit_after_show;
  const std::vector<std::string>& files = o.files;
  int rc;
  if (extraction) {
    // The CD-extraction window alone.
    ql::QtUi::SetApplicationTitle("Quillon Trackwell");
    QGuiApplication::setDesktopFileName("quillon-trackwell");
    auto ripper = std::make_unique<TFormCDRipper>();
    ripper->show();
    // exit(), not quit(): quitting closes the windows, and closing this one asks about saving.
    if (quit_after_show)
      QMetaObject::invokeMethod(
          &app, [] { QApplication::exit(0); }, Qt::QueuedConnection);
    rc = app.exec();
    ripper.reset();
  } else {
    TFormMediaPlayer player;
    TFormAboutBox about_box;
    TFormAboutMediaPlayer about_player;
    player.SetAboutWindow(&about_player);
    if (!files.empty()) player.AddPaths(files);
    TMprisService mpris(&player);
    player.show();
    if (quit_after_show) QMetaObject::invokeMethod(&app, &QApplication::quit, Qt::QueuedConnection);
    rc = app.exec();
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;
  if (options.version) {
    std::printf("qlplayer %s\n", QL_VERSION);
    return 0;
  }
  if (options.help) {
    PrintUsage(stdout);
    return 0;
  }
  // Without a display the toolkit would abort: say so and fail instead.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!(platform && *platform) && !(x11 && *x11) && !(wayland && *wayland)) {
    std::fprintf(stderr, "qlplayer: no display to show the window on (DISPLAY is not set)\n");
    return 1;
  }
  Application app(argc, argv);
  // The media device's library needs numbers written the C way.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(options.extraction ? "quillon-trackwell" : "qlplayer");
  QApplication::setApplicationVersion(QL_VERSION);
  // The window class the desktop matches with the desktop entry. No application display name:
  // the toolkit would append it to every window and message title.
  QGuiApplication::setDesktopFileName("quillon-media-player");
  ql::QtUi::SetApplicationTitle("Quillon Media Player");
  ql::SetCommandLine(argc, argv);
  ql::QtDispatcher dispatcher;
  ql::SetDispatcher(&dispatcher);
  ql::QtUi ui;
  ql::SetUi(&ui);
  // --quit-after-show: nobody is there to close a message box.
  const bool unattended = options.quit_after_show;
  ql::QtUi::SetUnattended(unattended);
  int rc;
  try {
    rc = Run(app, options);
  } catch (const std::exception& e) {
    // What escaped the windows: shown as the default error display shows errors, then the
    // program ends with a failure status instead of aborting.
    if (!unattended) std::fprintf(stderr, "qlplayer: %s\n", e.what());
    ui.ShowException(e);
    rc = 1;
  } catch (...) {
    std::fprintf(stderr, "qlplayer: unknown error\n");
    rc = 1;
  }
  ql::SetUi(nullptr);
  ql::SetDispatcher(nullptr);
  return rc;
}
