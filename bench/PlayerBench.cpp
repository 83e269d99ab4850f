// Player benchmarks: a 100,000-entry list loaded into the window and saved again, and the
// media search over a generated tree of 50,000 files in 2,000 folders. Prints medians.
#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Fs.h"
#include "MediaPlayer.h"
#include "MediaSearch.h"
#include "QLChList.h"
#include "QtDispatcher.h"
#include "ScriptedUi.h"
#include "TextFile.h"

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void MakeList(const std::string& path, int entries) {
  std::string bytes;
  for (int i = 0; i < entries; ++i) {
    bytes += i % 7 == 0 ? "1\r\n" : "0\r\n";
    bytes += "/home/user/Music/Artist " + std::to_string(i / 12) + "/Album " +
             std::to_string(i % 40) + "/" + std::to_string(i) + " - Some Track Title.mp3\r\n";
  }
  ql::WriteFileAtomic(path, bytes);
}

void MakeTree(const std::string& root, int folders, int files_per_folder) {
  namespace sfs = std::filesystem;
  sfs::create_directories(root);
  for (int f = 0; f < folders; ++f) {
    // Two levels: 50 artists of 40 albums.
    std::string dir = root + "/artist" + std::to_string(f / 40) + "/album" + std::to_string(f % 40);
    sfs::create_directories(dir);
    for (int i = 0; i < files_per_folder; ++i) {
      const char* ext = i % 5 == 4 ? ".jpg" : ".mp3";
      std::FILE* fp = std::fopen((dir + "/track" + std::to_string(i) + ext).c_str(), "w");
      std::fclose(fp);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  ql::QtDispatcher dispatcher;
  ql::SetDispatcher(&dispatcher);
  ql::ScriptedUi ui;
  ql::SetUi(&ui);
  std::string mode = argc > 1 ? argv[1] : "list";
  std::string work = argc > 2 ? argv[2] : "/tmp/ql-bench";
  std::filesystem::create_directories(work);
  ql::fs::SetCurrentDir(work);

  if (mode == "list") {
    const int n = 100000;
    MakeList(work + "/big.qlm", n);
    TFormMediaPlayer w;
    w.show();
    std::vector<double> load, paint, save, settings, scroll;
    for (int round = 0; round < 5; ++round) {
      QElapsedTimer t;
      w.SetListFileName(work + "/big.qlm");
      t.start();
      w.LoadListFile();
      load.push_back(t.nsecsElapsed() / 1e6);
      t.start();
      QApplication::processEvents();
      w.repaint();
      paint.push_back(t.nsecsElapsed() / 1e6);
      t.start();
      w.Files()->SetItemIndex(n - 1);  // jump to the end and draw there
      w.Files()->repaint();
      QApplication::processEvents();
      scroll.push_back(t.nsecsElapsed() / 1e6);
      w.SetListFileName(work + "/saved.qlm");
      t.start();
      w.WriteListFile();
      save.push_back(t.nsecsElapsed() / 1e6);
      t.start();
      w.SaveSettings("QuillonMediaPlayer");
      settings.push_back(t.nsecsElapsed() / 1e6);
    }
    if (w.Files()->Count() != n) return 1;
    std::printf("list of %d entries (median of 5, ms)\n", n);
    std::printf("  load into the window     %8.1f\n", Median(load));
    std::printf("  first paint after load   %8.1f\n", Median(paint));
    std::printf("  select last + repaint    %8.1f\n", Median(scroll));
    std::printf("  save list file           %8.1f\n", Median(save));
    std::printf("  save settings + list     %8.1f\n", Median(settings));
  } else if (mode == "maketree") {
    MakeTree(work + "/tree", 2000, 25);
  } else if (mode == "search") {
    // In-process walk plus adding the found files to the window's list.
    TFormMediaPlayer w;
    std::vector<double> walk, total;
    size_t found_count = 0;
    for (int round = 0; round < 5; ++round) {
      w.Files()->Clear();
      QElapsedTimer t;
      t.start();
      std::vector<std::string> found;
      player::Walk(work + "/tree", "*.mp3", found);
      walk.push_back(t.nsecsElapsed() / 1e6);
      std::vector<TQLCheckListModel::Row> rows;
      for (auto& f : found) rows.push_back({f, false});
      w.Files()->AddRows(std::move(rows));
      total.push_back(t.nsecsElapsed() / 1e6);
      found_count = found.size();
    }
    std::printf("search of %zu .mp3 files (median of 5, ms): walk %.1f, walk + list %.1f\n",
                found_count, Median(walk), Median(total));
  }
  ql::SetUi(nullptr);
  ql::SetDispatcher(nullptr);
  return 0;
}
