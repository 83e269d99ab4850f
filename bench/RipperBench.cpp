// The CD-extraction window on a 99-track disc image: creation with the disc load, Save CD
// (both ini files, every track), Load CD, and a grid refill. Offscreen; prints milliseconds.
// With DISCS, the disc store first holds that many other discs of 15 tracks each (both ini
// files), as a store that has seen years of use.
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QLineEdit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CDRipper.h"
#include "CdImage.h"
#include "QtDispatcher.h"
#include "ScriptedUi.h"
#include "StringGrid.h"

namespace {
double Ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ripper_bench WORK_DIR [DISCS]\n");
    return 2;
  }
  std::string work = argv[1];
  int discs = argc > 2 ? std::atoi(argv[2]) : 0;
  mkdir(work.c_str(), 0755);
  std::string win = work + "/win", cwd = work + "/cwd";
  mkdir(win.c_str(), 0755);
  mkdir(cwd.c_str(), 0755);
  std::vector<qltest::CdImageTrack> tracks(99, qltest::CdImageTrack(75));
  qltest::CdImage img = qltest::WriteCdImage(work, "disc99", tracks);
  setenv("QL_CD_IMAGES", img.cue.c_str(), 1);
  setenv("QL_WINDOWS_DIR", win.c_str(), 1);
  setenv("QL_WAVEOUT", "memory-fast", 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (chdir(cwd.c_str()) != 0) return 1;
  if (discs > 0) {
    std::string players, settings = "[OPTIONS: SETTINGS]\r\nLeft=10\r\nTop=10\r\n";
    for (int d = 0; d < discs; ++d) {
      char section[32];
      std::snprintf(section, sizeof section, "[%x]\r\n", 0x100000 + d);
      players += section;
      players += "artist=Artist " + std::to_string(d) + "\r\ntitle=Title\r\nnumtracks=15\r\n";
      settings += section;
      for (int t = 0; t < 15; ++t) {
        players += std::to_string(t) + "=Track name " + std::to_string(t) + "\r\n";
        settings += "f" + std::to_string(t) + "=Artist-Title-" + std::to_string(t) + ".wav\r\n";
      }
    }
    FILE* f = std::fopen((win + "/cdplayer.ini").c_str(), "wb");
    if (!f) return 1;
    std::fwrite(players.data(), 1, players.size(), f);
    std::fclose(f);
    f = std::fopen((cwd + "/QuillonTrackwell.ini").c_str(), "wb");
    if (!f) return 1;
    std::fwrite(settings.data(), 1, settings.size(), f);
    std::fclose(f);
  }
  QApplication app(argc, argv);
  ql::QtDispatcher dispatcher;
  ql::SetDispatcher(&dispatcher);
  ql::ScriptedUi ui;
  ql::SetUi(&ui);
  {
    auto t0 = std::chrono::steady_clock::now();
    TFormCDRipper w;
    w.show();
    QApplication::processEvents();
    double create = Ms(t0);
    w.dfsArtist->setText("Band");
    w.dfsTitle->setText("Live");
    for (int r = 1; r < w.Grid->RowCount(); ++r)
      w.Grid->SetCell(TFormCDRipper::colName, r, QString("Track name %1").arg(r));
    t0 = std::chrono::steady_clock::now();
    w.SaveCD1Click();
    double save = Ms(t0);
    t0 = std::chrono::steady_clock::now();
    w.MenuItemLoadClick();
    double load = Ms(t0);
    t0 = std::chrono::steady_clock::now();
    w.FillTrackGrid();
    double fill = Ms(t0);
    std::printf(
        "%d discs stored; 99-track disc: window created and disc loaded %.1f ms, Save CD %.1f ms, "
        "Load CD %.1f ms, grid refill %.1f ms (%d rows, %zu messages)\n",
        discs, create, save, load, fill, w.Grid->RowCount(), ui.shown.size());
  }
  ql::SetUi(nullptr);
  ql::SetDispatcher(nullptr);
  return 0;
}
