#include "DirectoryList.h"

#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <algorithm>

#include "Fs.h"

namespace {

std::vector<std::string> MountPoints() {
  std::vector<std::string> points{"/"};
  QFile mounts("/proc/mounts");
  if (mounts.open(QIODevice::ReadOnly)) {
    for (const QByteArray& line : mounts.readAll().split('\n')) {
      QList<QByteArray> f = line.split(' ');
      if (f.size() < 3) continue;
      std::string point = QString::fromUtf8(f[1]).replace("\\040", " ").toStdString();
      const QByteArray& type = f[2];
      // Only file systems that hold the user's files.
      if (type == "proc" || type == "sysfs" || type == "cgroup" || type == "cgroup2" ||
          type == "devpts" || type == "mqueue" || type == "debugfs" || type == "tracefs" ||
          type == "securityfs" || type == "pstore" || type == "bpf" || type == "autofs" ||
          type == "hugetlbfs" || type == "fusectl" || type == "configfs" || type == "binfmt_misc" ||
          type == "devtmpfs" || type == "nsfs" || type == "overlay" || type == "squashfs")
        continue;
      if (point.rfind("/proc", 0) == 0 || point.rfind("/sys", 0) == 0 ||
          point.rfind("/dev", 0) == 0 || point.rfind("/run", 0) == 0)
        continue;
      if (std::find(points.begin(), points.end(), point) == points.end()) points.push_back(point);
    }
  }
  std::sort(points.begin(), points.end());
  return points;
}

}  // namespace

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QListWidget(parent) {
  connect(this, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    SetDirectory(item->data(Qt::UserRole).toString().toStdString());
  });
  SetDirectory(ql::fs::GetCurrentDir());
}

bool TDirectoryListBox::SetDirectory(const std::string& dir) {
  QString clean = QDir::cleanPath(QString::fromStdString(dir));
  if (clean.isEmpty() || !ql::fs::DirectoryExists(clean.toStdString()) ||
      !ql::fs::SetCurrentDir(clean.toStdString()))
    return false;
  directory_ = clean.toStdString();
  Fill();
  if (OnChange) OnChange(directory_);
  return true;
}

void TDirectoryListBox::Fill() {
  clear();
  QString path = QString::fromStdString(directory_);
  // The folders above, from the root down, then the current one, then its subfolders.
  QStringList parts = path.split('/', Qt::SkipEmptyParts);
  QString walk = "/";
  auto add = [this](const QString& text, const QString& target, int depth, bool current) {
    auto* item = new QListWidgetItem(QString(depth * 2, ' ') + text, this);
    item->setData(Qt::UserRole, target);
    item->setIcon(style()->standardIcon(current ? QStyle::SP_DirOpenIcon : QStyle::SP_DirIcon));
    if (current) setCurrentItem(item);
  };
  add("/", "/", 0, parts.isEmpty());
  for (int i = 0; i < parts.size(); ++i) {
    walk += (i ? "/" : "") + parts[i];
    add(parts[i], walk, i + 1, i == parts.size() - 1);
  }
  QDir d(path);
  for (const QString& sub : d.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
    add(sub, d.filePath(sub), static_cast<int>(parts.size()) + 1, false);
}

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
  for (const std::string& p : MountPoints()) addItem(QString::fromStdString(p));
}

std::string TDriveComboBox::DriveOf(const std::string& dir) {
  std::string best = "/";
  for (const std::string& p : MountPoints()) {
    bool inside = dir == p || (dir.rfind(p, 0) == 0 && (p == "/" || dir[p.size()] == '/'));
    if (inside && p.size() > best.size()) best = p;
  }
  return best;
}

void TDriveComboBox::ShowDriveOf(const std::string& dir) {
  int i = findText(QString::fromStdString(DriveOf(dir)));
  if (i >= 0) setCurrentIndex(i);
}
