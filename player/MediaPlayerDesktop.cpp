// The player window's desktop side: command-line files, drops, activation of an entry and the
// mark on the playing entry.
#include <sys/stat.h>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "Fs.h"
#include "MediaPlayer.h"
#include "MediaSearch.h"
#include "Playlists.h"
#include "QLChList.h"

void TFormMediaPlayer::InstallDesktopHandlers() {
  // Double-click or Enter.
  connect(lbFiles, &QAbstractItemView::activated, this,
          [this](const QModelIndex& index) { PlayEntry(index.row()); });
  lbFiles->setAcceptDrops(true);
  lbFiles->viewport()->setAcceptDrops(true);
  lbFiles->viewport()->installEventFilter(this);
}

void TFormMediaPlayer::PlayEntry(int index) {
  if (index < 0 || index >= lbFiles->Count()) return;
  lbFiles->SetItemIndex(index);
  // Play resumes a paused device instead of opening the entry: close it first.
  int mode = FMediaPlayer->Mode();
  if (mode == mpPlaying || mode == mpPaused) Close();
  sbPlayClick();
}

void TFormMediaPlayer::UpdatePlayingMark() {
  int row = -1;
  if (FMediaPlayer) {
    int mode = FMediaPlayer->Mode();
    if (mode == mpPlaying || mode == mpPaused) {
      // The selected entry when it is the one playing (the list may hold it twice).
      int selected = lbFiles->ItemIndex();
      if (selected >= 0 && lbFiles->Items(selected) == FMediaPlayer->FileName)
        row = selected;
      else
        row = lbFiles->IndexOf(FMediaPlayer->FileName);
    }
  }
  lbFiles->model().SetPlayingRow(row);
}

std::vector<std::string> TFormMediaPlayer::ExpandPlaylists(const std::vector<std::string>& files) {
  std::vector<std::string> out;
  for (const std::string& file : files) {
    if (!player::IsPlaylistName(file)) {
      out.push_back(file);
      continue;
    }
    std::vector<std::string> entries = player::ReadPlaylist(file);
    out.insert(out.end(), entries.begin(), entries.end());
  }
  return out;
}

void TFormMediaPlayer::AppendEntries(const std::vector<std::string>& paths) {
  std::vector<TQLCheckListModel::Row> rows;
  rows.reserve(paths.size());
  for (const std::string& path : paths) {
    rows.push_back({path, false});
    pending_.push_back(path);
  }
  lbFiles->AddRows(std::move(rows));
}

void TFormMediaPlayer::AddPaths(const std::vector<std::string>& paths) {
  std::string cwd = ql::fs::GetCurrentDir();
  std::vector<std::string> found;
  for (std::string path : paths) {
    if (path.empty()) continue;
    if (path[0] != '/' && path.find("://") == std::string::npos) path = cwd + "/" + path;
    struct stat st;
    bool is_dir = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    try {
      if (is_dir) {
        // As Search walks, for any kind of media file; the walk moves the current directory.
        player::Walk(player::CollapseSeparators(path), player::kMediaPatterns, found);
        ql::fs::SetCurrentDir(cwd);
      } else {
        std::vector<std::string> entries = ExpandPlaylists({path});
        found.insert(found.end(), entries.begin(), entries.end());
      }
    } catch (const std::exception& e) {
      ql::fs::SetCurrentDir(cwd);
      ShowError(e);  // the play list named in the text; the other files are still added
    }
  }
  AppendEntries(found);
}

bool TFormMediaPlayer::eventFilter(QObject* watched, QEvent* event) {
  if (watched != lbFiles->viewport()) return QMainWindow::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (!drag->mimeData()->hasUrls()) return false;
      drag->setDropAction(Qt::CopyAction);
      drag->accept();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (!drop->mimeData()->hasUrls()) return false;
      std::vector<std::string> paths;
      for (const QUrl& url : drop->mimeData()->urls())
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      AddPaths(paths);
      return true;
    }
    default:
      return false;
  }
}
