#include "QtUi.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <cstdio>

#include "Fs.h"

namespace ql {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

QWidget* Parent() {
  return QApplication::activeWindow();
}

QString& AppTitle() {
  static QString title;
  return title;
}

QString Title() {
  return AppTitle().isEmpty() ? QApplication::applicationName() : AppTitle();
}

// "*.QLM;*.mp3" as "*.QLM *.qlm *.mp3 *.MP3": Linux names are case sensitive, the lists
// were written for a file system that is not.
QString Patterns(const std::string& patterns) {
  QStringList out;
  for (const QString& p : Q(patterns).split(';', Qt::SkipEmptyParts)) {
    QString t = p.trimmed();
    if (!out.contains(t)) out << t;
    if (t != "*" && t != "*.*") {
      if (!out.contains(t.toLower())) out << t.toLower();
      if (!out.contains(t.toUpper())) out << t.toUpper();
    }
  }
  if (out.contains("*.*")) return "*";
  return out.join(' ');
}

}  // namespace

void QtUi::SetApplicationTitle(const std::string& title) {
  AppTitle() = Q(title);
}

namespace {
bool g_unattended = false;

// Unattended: what a box would show goes to standard error, and the box is not shown.
bool Unattended(const QString& caption, const std::string& text) {
  if (!g_unattended) return false;
  std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(), text.c_str());
  return true;
}
}  // namespace

void QtUi::SetUnattended(bool unattended) {
  g_unattended = unattended;
}

std::vector<std::string> QtNameFilters(const FileDialog& dialog) {
  std::vector<std::string> filters;
  for (const auto& [desc, pattern] : dialog.FilterPairs())
    filters.push_back(desc + " (" + Patterns(pattern).toStdString() + ")");
  return filters;
}

void QtUi::ErrorBox(const std::string& text, const std::string& caption) {
  if (Unattended(Q(caption), text)) return;
  QMessageBox::critical(Parent(), Q(caption), Q(text));
}

void QtUi::InfoBox(const std::string& text, const std::string& caption) {
  if (Unattended(Q(caption), text)) return;
  QMessageBox::information(Parent(), Q(caption), Q(text));
}

void QtUi::ShowMessage(const std::string& text) {
  if (Unattended(Title(), text)) return;
  QMessageBox::information(Parent(), Title(), Q(text));
}

bool QtUi::Confirm(const std::string& text, const std::string& caption) {
  if (Unattended(Q(caption), text)) return false;
  return QMessageBox::question(Parent(), Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void QtUi::ShowException(const std::exception& e) {
  if (Unattended(Title(), e.what())) return;
  QMessageBox::critical(Parent(), Title(), QString::fromUtf8(e.what()));
}

bool QtUi::Execute(FileDialog& d) {
  if (Unattended(Q(d.Title), "a file dialog, cancelled")) return false;
  QFileDialog dlg(Parent(), Q(d.Title));
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  dlg.setAcceptMode(d.kind == FileDialog::kSave ? QFileDialog::AcceptSave
                                                : QFileDialog::AcceptOpen);
  if (d.kind == FileDialog::kOpen)
    dlg.setFileMode(d.AllowMultiSelect ? QFileDialog::ExistingFiles
                    : d.NoValidate     ? QFileDialog::AnyFile
                                       : QFileDialog::ExistingFile);
  QStringList filters;
  for (const auto& f : QtNameFilters(d)) filters << Q(f);
  int own = static_cast<int>(filters.size());
  // A wildcard file name ("*.mp3;*.wav") in an open dialog acts as a filter of its own, unless
  // it only repeats the chosen filter or asks for everything.
  bool wildcard = d.FileName.find_first_of("*?") != std::string::npos;
  auto pairs = d.FilterPairs();
  bool extra =
      wildcard && d.kind == FileDialog::kOpen && d.FileName != "*" &&
      !(d.FilterIndex >= 1 && d.FilterIndex <= own &&
        Q(pairs[d.FilterIndex - 1].second).compare(Q(d.FileName), Qt::CaseInsensitive) == 0);
  if (extra) filters << QObject::tr("Files (%1)").arg(Patterns(d.FileName));
  dlg.setNameFilters(filters);
  if (extra)
    dlg.selectNameFilter(filters.back());
  else if (d.FilterIndex >= 1 && d.FilterIndex <= own)
    dlg.selectNameFilter(filters[d.FilterIndex - 1]);
  if (!d.DefaultExt.empty()) dlg.setDefaultSuffix(Q(d.DefaultExt));
  QString dir = Q(d.InitialDir.empty() ? fs::GetCurrentDir() : d.InitialDir);
  dlg.setDirectory(dir);
  if (!wildcard && !d.FileName.empty()) dlg.selectFile(Q(d.FileName));
  // A dialog without validation confirms the folder it shows with the wildcard name as it is.
  if (wildcard && d.NoValidate)
    if (auto* name = dlg.findChild<QLineEdit*>("fileNameEdit")) name->setText(Q(d.FileName));
  if (d.HelpContext && !d.HelpFile.empty()) {
    if (auto* box = dlg.findChild<QDialogButtonBox*>()) {
      QPushButton* help = box->addButton(QDialogButtonBox::Help);
      help->setObjectName("HelpButton");
      QObject::connect(help, &QPushButton::clicked,
                       [this, &d] { ShowHelp(d.HelpFile, d.HelpContext); });
    }
  }
  QObject::connect(&dlg, &QFileDialog::filterSelected, [&](const QString& f) {
    int index = static_cast<int>(filters.indexOf(f)) + 1;
    if (index < 1 || index > own) return;
    d.FilterIndex = index;
    if (d.OnTypeChange) d.OnTypeChange(index);
  });
  if (dlg.exec() != QDialog::Accepted) return false;
  QStringList files = dlg.selectedFiles();
  if (files.isEmpty()) return false;
  int index = static_cast<int>(filters.indexOf(dlg.selectedNameFilter())) + 1;
  if (index >= 1 && index <= own) d.FilterIndex = index;
  d.Files.clear();
  for (const QString& f : files) d.Files.push_back(f.toStdString());
  d.FileName = d.Files.front();
  fs::SetCurrentDir(dlg.directory().absolutePath().toStdString());
  return true;
}

void QtUi::ShowHelp(const std::string& help_file, int context) {
  QString name = Q(fs::ExtractFileName(help_file)).toLower();
  int dot = static_cast<int>(name.lastIndexOf('.'));
  if (dot >= 0) name.truncate(dot);
  QString resource = ":/help/" + name + ".html";
  QFile file(resource);
  if (!file.open(QIODevice::ReadOnly)) {
    ErrorBox("Unable to open help file " + help_file + ".", "Help");
    return;
  }
  QDialog dlg(Parent());
  dlg.setObjectName("HelpWindow");
  dlg.setWindowTitle(Title() + " Help");
  dlg.resize(560, 460);
  auto* layout = new QVBoxLayout(&dlg);
  auto* browser = new QTextBrowser(&dlg);
  browser->setObjectName("HelpBrowser");
  browser->setHtml(QString::fromUtf8(file.readAll()));
  browser->scrollToAnchor(QString("ctx%1").arg(context));
  layout->addWidget(browser);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dlg);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  layout->addWidget(buttons);
  dlg.exec();
}

}  // namespace ql
