#include "ExtMP3Encoder.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>

#include "EncoderJob.h"
#include "Exception.h"
#include "Fs.h"
#include "Profile.h"
#include "ProfileSection.h"
#include "TextFile.h"
#include "Ui.h"

namespace {

const char* const kSection = "Externa MP3 Encoder";

std::vector<std::string> ReadList(const std::string& path) {
  return ql::SplitLines(ql::ReadFileBytes(path));
}

void WriteList(const std::string& path, const std::vector<std::string>& items) {
  std::string bytes;
  for (const auto& i : items) bytes += i + "\r\n";
  ql::WriteFileAtomic(path, bytes);
}

// The bytes an entry was read from (or will be written as).
constexpr int kBytesRole = Qt::UserRole;

std::vector<std::string> Items(const QComboBox* box) {
  std::vector<std::string> items;
  for (int i = 0; i < box->count(); ++i) {
    QByteArray bytes = box->itemData(i, kBytesRole).toByteArray();
    items.push_back(bytes.isNull() ? box->itemText(i).toStdString() : bytes.toStdString());
  }
  return items;
}

}  // namespace

QString TFormExtMP3Encoder::FromBytes(const std::string& bytes) {
  // Stores written by older versions hold Latin-1 text, newer ones UTF-8: a line that is not
  // valid UTF-8 is Latin-1.
  QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (utf8.hasError())
    text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  read_.emplace(text, bytes);
  return text;
}

std::string TFormExtMP3Encoder::BytesOf(const QString& text) const {
  // What was read is written back as the bytes it was read from; what was typed is UTF-8.
  auto it = read_.find(text);
  return it != read_.end() ? it->second : text.toStdString();
}

std::string TFormExtMP3Encoder::BytesOf(const QComboBox* box) const {
  return BytesOf(box->currentText());
}

void TFormExtMP3Encoder::SetItems(QComboBox* box, const std::vector<std::string>& items) {
  QString text = box->currentText();
  box->blockSignals(true);
  box->clear();
  for (const auto& i : items) {
    box->addItem(FromBytes(i));
    box->setItemData(box->count() - 1, QByteArray::fromStdString(i), kBytesRole);
  }
  box->setCurrentText(text);
  box->blockSignals(false);
}

TFormExtMP3Encoder::TFormExtMP3Encoder(QWidget* parent) : QDialog(parent) {
  setObjectName("FormExtMP3Encoder");
  setWindowTitle("External MP3 Encoder");
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  auto combo = [this](const char* name) {
    auto* c = new QComboBox(this);
    c->setObjectName(name);
    c->setEditable(true);
    c->setMinimumWidth(320);
    return c;
  };
  dfsName = combo("dfsName");
  dfsProgram = combo("dfsProgram");
  dfsArguments = combo("dfsArguments");
  form->addRow("&Name", dfsName);
  auto* program_row = new QHBoxLayout;
  program_row->addWidget(dfsProgram, 1);
  pbBrowse = new QPushButton("&Browse", this);
  pbBrowse->setObjectName("pbBrowse");
  program_row->addWidget(pbBrowse);
  // A label beside a layout has no buddy of its own: it is given the program box, so the
  // caption shows "Program" with its shortcut rather than a literal "&Program".
  auto* program_label = new QLabel("&Program", this);
  program_label->setBuddy(dfsProgram);
  form->addRow(program_label, program_row);
  form->addRow("&Arguments", dfsArguments);
  layout->addLayout(form);

  auto* window = new QGroupBox("Encoder Window", this);
  window->setObjectName("PanelWindow");
  auto* wl = new QHBoxLayout(window);
  auto radio = [window](const char* name, const char* caption) {
    auto* r = new QRadioButton(caption, window);
    r->setObjectName(name);
    return r;
  };
  rbBackground = radio("rbBackground", "Background");
  rbMinimized = radio("rbMinimized", "Minimized");
  rbNormal = radio("rbNormal", "Normal");
  rbBackground->setChecked(true);
  for (QWidget* w : {rbBackground, rbMinimized, rbNormal}) wl->addWidget(w);
  layout->addWidget(window);

  auto* buttons = new QHBoxLayout;
  auto button = [this, buttons](const char* name, const char* caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    buttons->addWidget(b);
    return b;
  };
  pbSave = button("pbSave", "&Save");
  pbNew = button("pbNew", "&New");
  pbRemove = button("pbRemove", "&Remove");
  pbRemove->setVisible(false);
  buttons->addStretch();
  pbOK = button("pbOK", "OK");
  pbOK->setDefault(true);
  pbCancel = button("pbCancel", "Cancel");
  pbHelp = button("pbHelp", "Help");
  layout->addLayout(buttons);

  connect(pbSave, &QPushButton::clicked, this, [this] { pbSaveClick(); });
  connect(pbOK, &QPushButton::clicked, this, [this] { pbOKClick(); });
  connect(pbCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(pbBrowse, &QPushButton::clicked, this, [this] { pbBrowseClick(); });
  connect(pbNew, &QPushButton::clicked, this, [this] { pbNewClick(); });
  connect(pbHelp, &QPushButton::clicked, this, [this] { ql::UI().ShowHelp(HelpFile, 0); });
  connect(dfsName, &QComboBox::currentTextChanged, this, [this] { dfsNameExit(); });
}

std::string TFormExtMP3Encoder::Underscored(const std::string& x) {
  std::string out = x;
  std::replace(out.begin(), out.end(), ' ', '_');
  return out;
}

std::vector<std::string> TFormExtMP3Encoder::Arguments(
    const std::string& program, const std::string& arguments, const std::string& wave_dir,
    const std::string& wave_name, const std::string& mp3_dir, const std::string& mp3_name) {
  return ripper::EncoderArgv(program, arguments, wave_dir + "/" + Underscored(wave_name),
                             mp3_dir + "/" + Underscored(mp3_name));
}

ql::process::ShowMode TFormExtMP3Encoder::Mode() const {
  if (rbMinimized->isChecked()) return ql::process::kMinimize;
  if (rbNormal->isChecked()) return ql::process::kShowNormal;
  return ql::process::kHide;
}

ripper::TEncodeResult TFormExtMP3Encoder::RunEncoder(const std::string& wave_dir,
                                                     const std::string& wave_name,
                                                     const std::string& mp3_dir,
                                                     const std::string& mp3_name) {
  return RunEncoder(alive_.state(), this, wave_dir, wave_name, mp3_dir, mp3_name);
}

ripper::TEncodeResult TFormExtMP3Encoder::RunEncoder(const std::shared_ptr<ql::Alive::State>& alive,
                                                     TFormExtMP3Encoder* dialog,
                                                     const std::string& wave_dir,
                                                     const std::string& wave_name,
                                                     const std::string& mp3_dir,
                                                     const std::string& mp3_name) {
  ripper::TEncoderJob job;
  bool live = false;
  // The dialog's texts as they are now, read where the dialog lives.
  ql::Dispatch().Invoke([&] {
    std::lock_guard lock(alive->mutex);
    if (!alive->alive) return;
    live = true;
    job.program = dialog->BytesOf(dialog->dfsProgram);
    job.arguments = dialog->BytesOf(dialog->dfsArguments);
  });
  ripper::TEncodeResult result;
  if (!live) {
    result.message.clear();  // nothing ran; the wave stays
    return result;
  }
  job.wavePath = wave_dir + "/" + Underscored(wave_name);
  job.mp3Path = mp3_dir + "/" + Underscored(mp3_name);
  try {
    // The wave goes only when the encoder exited 0 and left an MP3 that is not empty;
    // otherwise it stays and the user is told why.
    result = ripper::RunEncoderJob(job);
  } catch (...) {
    result.message = "External MP3 encoder failed!";
  }
  if (!result.message.empty())
    ql::Dispatch().Post([text = result.message] { ql::UI().ShowMessage(text); });
  return result;
}

void TFormExtMP3Encoder::LoadEncoder(const std::string& path) {
  path_ = path;
  try {
    ql::profile::TIniSection ini(path, kSection);
    dfsName->setCurrentText(FromBytes(ini.ReadString("Name", BytesOf(dfsName))));
    dfsNameExit();
    for (auto [key, b] : {std::pair{"rbBackground", rbBackground},
                          std::pair{"rbMinimized", rbMinimized}, std::pair{"rbNormal", rbNormal}}) {
      bool on = ini.ReadBool(key, b->isChecked());
      if (on) b->setChecked(true);
    }
    SetItems(dfsProgram, ReadList(WorkDirectory + "/extenc.ini"));
    SetItems(dfsName, ReadList(WorkDirectory + "/extencname.ini"));
    SetItems(dfsArguments, ReadList(WorkDirectory + "/extencarg.ini"));
  } catch (...) {
    // Loading ends silently at the first error.
  }
}

void TFormExtMP3Encoder::dfsNameExit() {
  try {
    std::string section = std::string(kSection) + " " + BytesOf(dfsName);
    ql::profile::TIniSection ini(path_, section);
    dfsProgram->setCurrentText(FromBytes(ini.ReadString("Program", BytesOf(dfsProgram))));
    dfsArguments->setCurrentText(FromBytes(ini.ReadString("Arguments", BytesOf(dfsArguments))));
  } catch (const EInOutError& e) {
    ql::UI().ShowMessage(e.what());
  }
}

void TFormExtMP3Encoder::SaveEncoder(const std::string& path) {
  try {
    // The keys are one replace of the settings file, each list one replace of its own: a
    // failure leaves each file whole, old or new.
    ql::profile::TIniWriteBatch ini(path);
    std::string name = BytesOf(dfsName);
    std::string program = BytesOf(dfsProgram);
    std::string arguments = BytesOf(dfsArguments);
    ini.WriteString(kSection, "Name", name);
    ini.WriteString(kSection, "Program", program);
    ini.WriteString(kSection, "dfsArguments", arguments);
    ini.WriteBool(kSection, "rbBackground", rbBackground->isChecked());
    ini.WriteBool(kSection, "rbMinimized", rbMinimized->isChecked());
    ini.WriteBool(kSection, "rbNormal", rbNormal->isChecked());
    for (auto [box, text, file] : {std::tuple{dfsName, name, "/extencname.ini"},
                                   std::tuple{dfsProgram, program, "/extenc.ini"},
                                   std::tuple{dfsArguments, arguments, "/extencarg.ini"}}) {
      std::vector<std::string> items = Items(box);
      if (std::find(items.begin(), items.end(), text) == items.end()) {
        items.push_back(text);
        SetItems(box, items);
      }
    }
    std::string section = std::string(kSection) + " " + name;
    ini.WriteString(section, "Program", program);
    ini.WriteString(section, "Arguments", arguments);
    if (!ini.Commit())
      throw Exception(
          "Unable to save the encoder: its name, program or arguments hold a line "
          "break or a name that cannot be a section");
    WriteList(WorkDirectory + "/extenc.ini", Items(dfsProgram));
    WriteList(WorkDirectory + "/extencname.ini", Items(dfsName));
    WriteList(WorkDirectory + "/extencarg.ini", Items(dfsArguments));
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(e.what());
  }
}

bool TFormExtMP3Encoder::ShowEncoderDialog() {
  // Only OK goes on to record: Cancel ends the command even when the dialog was saved before.
  return exec() == QDialog::Accepted;
}

void TFormExtMP3Encoder::pbSaveClick() {
  Saved = true;
  SaveEncoder(path_);
}

void TFormExtMP3Encoder::pbOKClick() {
  pbSaveClick();
  accept();
}

void TFormExtMP3Encoder::pbBrowseClick() {
  ql::FileDialog d;
  d.Title = "Browse";
  d.Filter = "Executable file|*";
  d.FileName = dfsProgram->currentText().toStdString();
  if (ql::UI().Execute(d)) dfsProgram->setCurrentText(QString::fromStdString(d.FileName));
}

void TFormExtMP3Encoder::pbNewClick() {
  dfsName->setCurrentText("");
  dfsProgram->setCurrentText("");
  dfsArguments->setCurrentText("");
}
