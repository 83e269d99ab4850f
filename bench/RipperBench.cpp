// The CD-extraction window on a 99-track disc image: creation with the disc load, Save CD
// (both ini files, every track), Load CD, and a grid refill. With DISCS, the disc store
// (cdplayer.ini and QuillonTrackwell.ini) holds that many other discs of 12 tracks first.
// Offscreen; prints milliseconds.
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QLineEdit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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
// Writes `discs` disc sections of 12 named tracks into both store files, as the window
// writes them (CR LF lines).
void FillStore(const std::string& disc_file, const std::string& settings_file, int discs) {
  std::ofstream d(disc_file, std::ios::binary), t(settings_file, std::ios::binary);
  for (int i = 0; i < discs; ++i) {
    char section[16];
    std::snprintf(section, sizeof section, "%x", 0x10000000 + i * 7919);
    d << "[" << section << "]\r\nartist=Artist " << i << "\r\ntitle=Title " << i
      << "\r\nnumtracks=12\r\nnumplay=12\r\nEntryType=1\r\n";
    t << "[" << section << "]\r\n";
    for (int k = 0; k < 12; ++k) {
      d << k << "=Track " << k << " of disc " << i << "\r\n";
      t << "f" << k << "=Artist " << i << "-Title " << i << "-Track " << k << ".wav\r\n";
    }
    d << "order=0 1 2 3 4 5 6 7 8 9 10 11\r\n";
  }
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ripper_bench WORK_DIR [DISCS]\n");
    return 2;
  }
  std::string work = argv[1];
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
  const int discs = argc > 2 ? std::atoi(argv[2]) : 0;
  FillStore(win + "/cdplayer.ini", cwd + "/QuillonTrackwell.ini", discs);
  if (chdir(cwd.c_str()) != 0) return 1;
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
        "99-track disc, %d other discs in the store: window created and disc loaded %.1f ms, Save "
        "CD %.1f ms, "
        "Load CD %.1f ms, grid refill %.1f ms (%d rows, %zu messages)\n",
        discs, create, save, load, fill, w.Grid->RowCount(), ui.shown.size());
  }
  ql::SetUi(nullptr);
  ql::SetDispatcher(nullptr);
  return 0;
}
