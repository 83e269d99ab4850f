#include "MediaPlayer.h"

#include <sys/stat.h>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <chrono>

#include "About.h"
#include "Exception.h"
#include "Fs.h"
#include "MediaSearch.h"
#include "PartialFile.h"
#include "Profile.h"
#include "ProfileSection.h"
#include "QLChList.h"
#include "TextFile.h"
#include "TransportIcons.h"

namespace {

const char* const kSettingsName = "QuillonMediaPlayer";
const char* const kOptions = "Options";
const char* const kTitle = "Quillon Media Player";
const char* const kListFilter =
    "Quillon Media List (*.QLM)|*.QLM|MP3 Unit (*.MPU)|*.MPU|Text File (*.TXT)|*.TXT|"
    "All files (*.*), treated as text files|*.*";
const char* const kSearchFilter =
    "Wave Files (*.wav)|*.wav|MP3 files (*.mp3)|*.mp3|Audio Video Files (*.avi)|*.avi|"
    "Movie Files (*.mov)|*.mov";

const char* ModeText(int mode) {
  static const char* const texts[] = {"Not ready", "Stopped", "Playing", "Recording",
                                      "Seeking",   "Paused",  "Open"};
  return mode >= 0 && mode <= 6 ? texts[mode] : "";
}

QColor Silver() {
  return QColor(192, 192, 192);
}

}  // namespace

// The help pages are resources of this static library: register them with the window.
static void InitPlayerResources() {
  Q_INIT_RESOURCE(player);
}

TFormMediaPlayer::TFormMediaPlayer(MciSettings mci, QWidget* parent)
    : QMainWindow(parent), FMediaPlayer(std::make_unique<TMediaPlayer>(std::move(mci))) {
  InitPlayerResources();
  setObjectName("FormMediaPlayer");
  setWindowTitle(kTitle);
  setMinimumSize(490, 295);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Silver());
  pal.setColor(QPalette::WindowText, QColor(0, 128, 0));
  setPalette(pal);
  setFont(QFont(QStringList{"MS Sans Serif", "DejaVu Sans", "Sans Serif"}, 8));

  FOpenDialog.kind = ql::FileDialog::kOpen;
  FOpenDialog.Title = "Save Media List";
  FOpenDialog.Filter = kListFilter;
  FOpenDialog.AllowMultiSelect = true;
  FOpenDialog.HelpContext = 2100;
  FOpenDialog.OnTypeChange = [this](int index) { FOpenDialogTypeChange(index); };
  FSaveDialog.kind = ql::FileDialog::kSave;
  FSaveDialog.Title = "Save Media List";
  FSaveDialog.HelpContext = 2300;
  FSaveDialog.OnTypeChange = [this](int index) { FSaveDialogTypeChange(index); };
  FSearchDialog.kind = ql::FileDialog::kOpen;
  FSearchDialog.Title = "Search Media Files";
  FSearchDialog.Filter = kSearchFilter;
  FSearchDialog.NoValidate = true;
  FSearchDialog.HelpContext = 2200;

  BuildControls();
  BuildMenu();
  InstallDesktopHandlers();
  // Design bounds, centred on the screen; stored bounds replace them when there are any.
  resize(573, 540);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - QPoint(573 / 2, 540 / 2));
  } else {
    move(348, 147);
  }
  FormCreate();
}

TFormMediaPlayer::~TFormMediaPlayer() = default;

void TFormMediaPlayer::BuildControls() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  PanelTop = new QFrame(central);
  PanelTop->setObjectName("PanelTop");
  PanelTop->setFixedHeight(49);
  PanelTop->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  PanelTop->setAutoFillBackground(true);
  struct Button {
    QToolButton** field;
    const char* name;
    TransportPicture picture;
    const char* tip;
  };
  const Button buttons[] = {
      {&sbPlay, "sbPlay", TransportPicture::kPlay, "Play"},
      {&sbPause, "sbPause", TransportPicture::kPause, "Pause"},
      {&sbStop, "sbStop", TransportPicture::kStop, "Stop"},
      {&sbPrevious, "sbPrevious", TransportPicture::kPrevious, "Previous"},
      {&sbNext, "sbNext", TransportPicture::kNext, "Next"},
      {&sbClose, "sbClose", TransportPicture::kClose, "Close"},
  };
  int left = 8;
  for (const Button& b : buttons) {
    auto* button = new QToolButton(PanelTop);
    button->setObjectName(b.name);
    button->setGeometry(left, 8, 38, 30);
    button->setIcon(TransportIcon(b.picture));
    button->setIconSize(QSize(24, 18));
    button->setToolTip(b.tip);
    button->setAccessibleName(b.tip);
    *b.field = button;
    left += 48;
  }
  layout->addWidget(PanelTop);

  lbFiles = new TQLCheckListBox(central);
  lbFiles->setObjectName("lbFiles");
  ApplyListColours(true);
  layout->addWidget(lbFiles, 1);
  setCentralWidget(central);

  FStatusBar = new QStatusBar(this);
  FStatusBar->setObjectName("FStatusBar");
  FStatusBar->setSizeGripEnabled(true);
  status_label_ = new QLabel(FStatusBar);
  status_label_->setObjectName("FStatusText");
  FStatusBar->addWidget(status_label_, 1);
  setStatusBar(FStatusBar);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { TimerTimer(); });
  Timer1->start();

  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, this, [this] { miIndexClick(); });
}

QAction* TFormMediaPlayer::AddItem(QMenu* menu, const char* name, const char* caption,
                                   const QKeySequence& key, void (TFormMediaPlayer::*handler)()) {
  QAction* action = menu->addAction(QString::fromUtf8(caption));
  action->setObjectName(name);
  if (!key.isEmpty()) action->setShortcut(key);
  if (handler) connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
  return action;
}

void TFormMediaPlayer::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  mFile = bar->addMenu("&Media");
  mFile->setObjectName("mFile");
  NewMedia1 = AddItem(mFile, "NewMedia1", "&New", QKeySequence("Ctrl+N"),
                      &TFormMediaPlayer::NewMedia1Click);
  miLoadMedia = AddItem(mFile, "miLoadMedia", "&Load", QKeySequence("Ctrl+L"),
                        &TFormMediaPlayer::miLoadMediaClick);
  miSearch = AddItem(mFile, "miSearch", "S&earch", QKeySequence("Ctrl+E"),
                     &TFormMediaPlayer::miSearchClick);
  miSave =
      AddItem(mFile, "miSave", "&Save", QKeySequence("Ctrl+S"), &TFormMediaPlayer::miSaveClick);
  miSaveMediaAs = AddItem(mFile, "miSaveMediaAs", "Save &As", QKeySequence("Ctrl+A"),
                          &TFormMediaPlayer::miSaveMediaAsClick);
  miDelete = AddItem(mFile, "miDelete", "&Delete", {}, &TFormMediaPlayer::miDeleteClick);
  mFile->addSeparator();
  miExit = AddItem(mFile, "miExit", "E&xit", {}, &TFormMediaPlayer::miExitClick);

  mEdit = bar->addMenu("&Edit");
  mEdit->setObjectName("mEdit");
  miAdd =
      AddItem(mEdit, "miAdd", "&Add", QKeySequence(Qt::Key_Insert), &TFormMediaPlayer::miAddClick);
  miRemove = AddItem(mEdit, "miRemove", "&Remove", QKeySequence(Qt::Key_Delete),
                     &TFormMediaPlayer::miRemoveClick);
  miRemoveAll =
      AddItem(mEdit, "miRemoveAll", "Remove &All", {}, &TFormMediaPlayer::miRemoveAllClick);

  mOptions = bar->addMenu("&Options");
  mOptions->setObjectName("mOptions");
  miPlayOrder = mOptions->addMenu("Play &Order");
  miPlayOrder->setObjectName("miPlayOrder");
  order_group_ = new QActionGroup(this);
  // Radio items: choosing one unchecks the others; stored settings may leave none checked.
  order_group_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  for (auto [field, name, caption] : {std::tuple{&miInOrder, "miInOrder", "&In order"},
                                      std::tuple{&miPostOrder, "miPostOrder", "&Post order"},
                                      std::tuple{&miRandom, "miRandom", "&Random"}}) {
    QAction* a = AddItem(miPlayOrder, name, caption, {}, nullptr);
    a->setCheckable(true);
    order_group_->addAction(a);
    connect(a, &QAction::triggered, this, [this, a] { SetOrderType(a); });
    *field = a;
  }
  miInOrder->setChecked(true);
  // Check items: Qt flips the mark when the item is chosen, the handler then applies it.
  miAutoSave =
      AddItem(mOptions, "miAutoSave", "&Auto Save", {}, &TFormMediaPlayer::miAutoSaveClick);
  miBlackMediaList = AddItem(mOptions, "miBlackMediaList", "&Black Media List", {},
                             &TFormMediaPlayer::miBlackMediaListClick);
  miShowControls = AddItem(mOptions, "miShowControls", "Show &Controls", {},
                           &TFormMediaPlayer::miShowControlsClick);
  for (QAction* a : {miAutoSave, miBlackMediaList, miShowControls}) {
    a->setCheckable(true);
    a->setChecked(true);
  }

  mHelp = bar->addMenu("&Help");
  mHelp->setObjectName("mHelp");
  miAbout = AddItem(mHelp, "miAbout", "&About", {}, &TFormMediaPlayer::miAboutClick);
  miIndex = AddItem(mHelp, "miIndex", "&Index", {}, &TFormMediaPlayer::miIndexClick);
}

void TFormMediaPlayer::FormCreate() {
  list_extension_ = "qlm";
  media_directory_ = ql::fs::GetCurrentDir();
  SetListFileName(media_directory_ + "/default-List." + list_extension_);
  FSaveDialog.Filter = FOpenDialog.Filter;
  pending_.clear();
  random_.seed(static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count()));
  try {
    LoadSettings(kSettingsName);
  } catch (const std::exception& e) {
    // Shown by the default error display; unlike before, creation goes on, so the window
    // still works with an empty list.
    ql::UI().ShowException(e);
  }
  ql::RemoveLeftovers(media_directory_);  // temporaries of a killed save go
  ql::RemoveLeftovers(ql::fs::ExtractFilePath(list_file_name_));
  FOpenDialog.DefaultExt = "mp3";
  FOpenDialog.FileName = "*.mp3;*.wav";
  play_order_ = 0;
  playing_ = false;
  SetStatus("Closed");
  help_file_ = media_directory_ + "/QLMMPLAY.HLP";
  for (ql::FileDialog* d : {&FOpenDialog, &FSaveDialog, &FSearchDialog}) d->HelpFile = help_file_;
  if (!controls_bound_) {
    connect(sbPlay, &QToolButton::clicked, this, [this] { sbPlayClick(); });
    connect(sbStop, &QToolButton::clicked, this, [this] { sbStopClick(); });
    connect(sbClose, &QToolButton::clicked, this, [this] { sbCloseClick(); });
    connect(sbNext, &QToolButton::clicked, this, [this] { sbNextClick(); });
    connect(sbPause, &QToolButton::clicked, this, [this] { sbPauseClick(); });
    connect(sbPrevious, &QToolButton::clicked, this, [this] { sbPreviousClick(); });
    controls_bound_ = true;
  }
}

void TFormMediaPlayer::SetListFileName(const std::string& name) {
  list_file_name_ = name;
  setWindowTitle(QString::fromStdString(name + " - " + kTitle));
}

std::string TFormMediaPlayer::SettingsFile(const std::string& settings_name) const {
  return media_directory_ + "/" + settings_name + ".ini";
}

void TFormMediaPlayer::SetStatus(const std::string& text) {
  status_label_->setText(QString::fromStdString(text));
  UpdatePlayingMark();
}

std::string TFormMediaPlayer::StatusText() const {
  return status_label_->text().toStdString();
}

void TFormMediaPlayer::ShowError(const std::exception& e) {
  ql::UI().ShowException(e);
}

// ---- settings -------------------------------------------------------------------------------

void TFormMediaPlayer::LoadSettings(const std::string& settings_name) {
  TIniFile ini(SettingsFile(settings_name));
  lbFiles->Clear();
  try {
    int left = ini.ReadInteger(kOptions, "Left", x());
    int top = ini.ReadInteger(kOptions, "Top", y());
    int width = ini.ReadInteger(kOptions, "Width", this->width());
    int height = ini.ReadInteger(kOptions, "Height", this->height());
    move(left, top);
    resize(width, height);
    list_kind_ = ini.ReadInteger(kOptions, "FileExtension", FSaveDialog.FilterIndex);
    for (auto [item, key] : {std::pair{miInOrder, "InOrder"}, std::pair{miPostOrder, "PostOrder"},
                             std::pair{miRandom, "Random"}, std::pair{miAutoSave, "AutoSave"},
                             std::pair{miBlackMediaList, "BlackMediaList"}})
      item->setChecked(ini.ReadBool(kOptions, key, item->isChecked()));
    SetListFileName(ini.ReadString(kOptions, "DefaultFile", list_file_name_));
    play_order_ = static_cast<unsigned>(
                      ini.ReadInteger(kOptions, "PlayOrder", static_cast<int>(play_order_))) &
                  127;
    LoadListFile();
    int index = ini.ReadInteger(kOptions, "ItemIndex", lbFiles->ItemIndex());
    lbFiles->SetItemIndex(index < 0 || index >= lbFiles->Count() ? -1 : index);
  } catch (const EInOutError& e) {
    ql::UI().ShowMessage(e.what());
  }
}

void TFormMediaPlayer::SaveSettings(const std::string& settings_name) {
  // The thirteen keys are stored in one replace of the file: killed half-way, the program
  // leaves the old settings whole rather than a list name with the wrong list kind.
  ql::profile::TIniWriteBatch ini(SettingsFile(settings_name));
  ini.WriteInteger(kOptions, "Left", x());
  ini.WriteInteger(kOptions, "Top", y());
  ini.WriteInteger(kOptions, "Width", width());
  ini.WriteInteger(kOptions, "Height", height());
  // The list kind, so that the next start reads the list in the format it was written in.
  ini.WriteInteger(kOptions, "FileExtension", list_kind_);
  ini.WriteBool(kOptions, "InOrder", miInOrder->isChecked());
  ini.WriteBool(kOptions, "PostOrder", miPostOrder->isChecked());
  ini.WriteBool(kOptions, "Random", miRandom->isChecked());
  ini.WriteBool(kOptions, "AutoSave", miAutoSave->isChecked());
  ini.WriteBool(kOptions, "BlackMediaList", miBlackMediaList->isChecked());
  ini.WriteString(kOptions, "DefaultFile", list_file_name_);
  ini.WriteInteger(kOptions, "PlayOrder", static_cast<int>(play_order_));
  ini.WriteInteger(kOptions, "ItemIndex", lbFiles->ItemIndex());
  // A list name that would plant a line in the ini file is refused whole.
  if (!ini.Commit())
    throw EInOutError(
        0, "Unable to write " + SettingsFile(settings_name) + ": invalid list file name");
  WriteListFile();
}

// ---- media list ---------------------------------------------------------------------------

void TFormMediaPlayer::RebuildPool() {
  pending_.clear();
  for (const auto& row : lbFiles->model().rows())
    if (!row.checked) pending_.push_back(row.text);
}

void TFormMediaPlayer::RemoveFromPool(const std::string& text) {
  auto it = std::find(pending_.begin(), pending_.end(), text);
  if (it == pending_.end()) throw Exception("Not in the pending pool");
  pending_.erase(it);
}

void TFormMediaPlayer::LoadListFile() {
  lbFiles->Clear();
  pending_.clear();
  // A FIFO or a device would block the reading (and the window) until something writes to it.
  RequirePlainFile(list_file_name_);
  if (list_kind_ == 1) {
    lbFiles->LoadFromFile(list_file_name_);
  } else if (list_kind_ >= 2 && list_kind_ <= 4) {
    std::string bytes;
    try {
      bytes = ql::ReadFileBytes(list_file_name_);
    } catch (const EInOutError&) {
      throw EFOpenError("Cannot open file " + list_file_name_);
    }
    std::vector<TQLCheckListModel::Row> rows;
    for (std::string& line : ql::SplitLines(bytes)) rows.push_back({std::move(line), false});
    lbFiles->model().Reset(std::move(rows));
  } else {
    throw Exception("Unknown file extension");
  }
  RebuildPool();
}

void TFormMediaPlayer::RequirePlainFile(const std::string& path) const {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return;
  if (list_kind_ == 1) throw EInOutError(0, path + " is not a regular file");
  throw EFOpenError("Cannot open file " + path);
}

void TFormMediaPlayer::WriteListFile() {
  if (list_kind_ == 1) {
    lbFiles->SaveToFile(list_file_name_);
  } else if (list_kind_ >= 2 && list_kind_ <= 4) {
    std::string bytes;
    for (const auto& row : lbFiles->model().rows()) {
      bytes += row.text;
      bytes += "\r\n";
    }
    try {
      ql::WriteFileAtomic(list_file_name_, bytes);
    } catch (const EInOutError&) {
      throw EFCreateError("Cannot create file " + list_file_name_);
    }
  } else {
    throw Exception("Unknown file extension");
  }
}

void TFormMediaPlayer::NewMedia1Click() {
  try {
    SetListFileName(media_directory_ + "/newfile." + list_extension_);
    pending_.clear();
    lbFiles->Clear();
  } catch (...) {
  }
}

void TFormMediaPlayer::miLoadMediaClick() {
  FOpenDialog.InitialDir = media_directory_;
  FOpenDialog.DefaultExt = list_extension_;
  FOpenDialog.FileName = "*." + list_extension_;
  try {
    if (!ql::UI().Execute(FOpenDialog)) return;
    Close();
    SetListFileName(FOpenDialog.FileName);
    list_kind_ = FOpenDialog.FilterIndex;
    LoadListFile();
    lbFiles->SetItemIndex(-1);
  } catch (const EInOutError&) {
    ql::UI().ShowMessage("Unable to save media files!");
  } catch (const std::exception& e) {
    ShowError(e);
  }
}

void TFormMediaPlayer::miSaveMediaAsClick() {
  FSaveDialog.InitialDir = media_directory_;
  FSaveDialog.DefaultExt = list_extension_;
  FSaveDialog.FileName = "*." + list_extension_;
  try {
    if (!ql::UI().Execute(FSaveDialog)) return;
    SetListFileName(FSaveDialog.FileName);
    list_kind_ = FSaveDialog.FilterIndex;
    SaveSettings(kSettingsName);
  } catch (const EInOutError&) {
    ql::UI().ShowMessage("Unable to save media files!");
  } catch (const std::exception& e) {
    ShowError(e);
  }
}

void TFormMediaPlayer::miDeleteClick() {
  if (!ql::UI().Confirm("Do you want to delete the file \"" + list_file_name_ + "\"", "Confirm"))
    return;
  try {
    ql::fs::DeleteFile(list_file_name_);
    SetListFileName("noname." + list_extension_);
    SaveSettings(kSettingsName);
  } catch (const EInOutError&) {
    ql::UI().ShowMessage("Unable to save media files!");
  } catch (const std::exception& e) {
    ShowError(e);
  }
}

void TFormMediaPlayer::miAddClick() {
  try {
    if (!ql::UI().Execute(FOpenDialog)) return;
    // A chosen .m3u, .m3u8 or .pls file adds the files it lists, not itself.
    AppendEntries(ExpandPlaylists(FOpenDialog.Files));
  } catch (...) {
    ql::UI().ShowMessage("Unable to open ini files!");
  }
}

void TFormMediaPlayer::miRemoveClick() {
  int index = lbFiles->ItemIndex();
  try {
    RemoveFromPool(lbFiles->Items(index));
  } catch (...) {
  }
  try {
    std::string text = lbFiles->Items(index);
    lbFiles->Delete(lbFiles->IndexOf(text));
    lbFiles->SetItemIndex(index < lbFiles->Count() ? index : 0);
  } catch (...) {
    ql::UI().ShowMessage("Unable to remove media file from the media List!");
  }
}

void TFormMediaPlayer::miRemoveAllClick() {
  lbFiles->Clear();
  pending_.clear();
}

void TFormMediaPlayer::FOpenDialogTypeChange(int filter_index) {
  list_kind_ = filter_index;
}
void TFormMediaPlayer::FSaveDialogTypeChange(int filter_index) {
  list_kind_ = filter_index;
}

void TFormMediaPlayer::miSearchClick() {
  FSearchDialog.DefaultExt = "mp3";
  FSearchDialog.FileName = "*";
  search_kind_ = 2;
  FSearchDialog.FilterIndex = search_kind_;
  if (!ql::UI().Execute(FSearchDialog)) return;
  search_kind_ = FSearchDialog.FilterIndex;
  std::string pattern = player::SearchPattern(search_kind_);
  std::string start = ql::fs::GetCurrentDir();
  std::vector<std::string> found;
  if (!pattern.empty()) player::Walk(start, pattern, found);  // an error ends it silently
  std::vector<TQLCheckListModel::Row> rows;
  rows.reserve(found.size());
  for (const std::string& path : found) rows.push_back({path, false});
  pending_.insert(pending_.end(), found.begin(), found.end());
  lbFiles->AddRows(std::move(rows));
  ql::fs::SetCurrentDir(start);
}

// ---- options, help, exit --------------------------------------------------------------------

void TFormMediaPlayer::miSaveClick() {
  try {
    SaveSettings(kSettingsName);
  } catch (const EInOutError& e) {
    ql::UI().ShowMessage(e.what());
  } catch (const std::exception& e) {
    ShowError(e);
  }
}

void TFormMediaPlayer::miExitClick() {
  if (miAutoSave->isChecked()) {
    try {
      SaveSettings(kSettingsName);
    } catch (const EInOutError&) {
      ql::UI().ShowMessage("Unable to save ini file or media files!");
    } catch (...) {
      ql::UI().ShowMessage("Unknown exception, please contact your local dealer!");
    }
  }
  MyDoClose();
}

void TFormMediaPlayer::MyDoClose() {
  close();
}

void TFormMediaPlayer::closeEvent(QCloseEvent* event) {
  try {
    Close();
  } catch (...) {
  }
  event->accept();
}

void TFormMediaPlayer::miAutoSaveClick() {
  // The flipped mark is all there is to it: Exit reads it.
}

void TFormMediaPlayer::ApplyListColours(bool black) {
  QPalette pal = lbFiles->palette();
  pal.setColor(QPalette::Base, black ? QColor(0, 0, 0) : QColor(255, 255, 255));
  pal.setColor(QPalette::Text, black ? QColor(0, 255, 0) : QColor(0, 0, 0));
  lbFiles->setPalette(pal);
  QFont f = lbFiles->font();
  f.setBold(false);
  f.setItalic(false);
  f.setUnderline(false);
  f.setStrikeOut(false);
  lbFiles->setFont(f);
}

void TFormMediaPlayer::miBlackMediaListClick() {
  ApplyListColours(miBlackMediaList->isChecked());
}

void TFormMediaPlayer::miShowControlsClick() {
  PanelTop->setVisible(miShowControls->isChecked());
}

void TFormMediaPlayer::SetOrderType(QObject* sender) {
  auto* item = qobject_cast<QAction*>(sender);
  if (!item) return;
  const QString name = item->objectName();
  if (name == "miInOrder")
    miInOrder->setChecked(true);
  else if (name == "miPostOrder")
    miPostOrder->setChecked(true);
  else if (name == "miRandom")
    miRandom->setChecked(true);
}

void TFormMediaPlayer::miAboutClick() {
  if (about_) about_->exec();
}

void TFormMediaPlayer::miIndexClick() {
  ql::UI().ShowHelp(help_file_, 1000);
}

// ---- playback -----------------------------------------------------------------------------

bool TFormMediaPlayer::OpenDevice() {
  try {
    if (FMediaPlayer->Mode() != mpOpen) FMediaPlayer->Open();
    return true;
  } catch (const std::exception&) {
    ql::UI().ShowMessage("Unable to close Media Player!");
    return false;
  }
}

void TFormMediaPlayer::Play() {
  if (lbFiles->Count() == 0) return;
  if (FMediaPlayer->Mode() == mpPaused) {
    FMediaPlayer->Resume();
  } else {
    std::string name = lbFiles->Items(lbFiles->ItemIndex());
    FMediaPlayer->FileName = name;
    OpenDevice();
    FMediaPlayer->Play();
    playing_ = true;
    int index = lbFiles->IndexOf(name);
    if (index >= 0) lbFiles->SetChecked(index, true);
  }
  SetStatus("Playing");
}

void TFormMediaPlayer::Pause() {
  if (FMediaPlayer->Mode() != mpPaused) FMediaPlayer->Pause();
}

void TFormMediaPlayer::Stop() {
  int mode = FMediaPlayer->Mode();
  if (mode != mpStopped && mode != mpNotReady) FMediaPlayer->Stop();
  playing_ = false;
  SetStatus("Stopped");
}

void TFormMediaPlayer::Close() {
  try {
    int mode = FMediaPlayer->Mode();
    if (mode == mpPlaying || mode == mpPaused) {
      Stop();
      FMediaPlayer->Close();
    }
    SetStatus("Closed");
  } catch (const std::exception&) {
    ql::UI().ShowMessage("Unable to close Media Player!");
  }
}

void TFormMediaPlayer::Next() {
  try {
    Close();
    std::string name = NextEntry();
    FMediaPlayer->FileName = name;
    OpenDevice();
    FMediaPlayer->Play();
  } catch (const std::exception&) {
    ql::UI().ShowMessage("Unable to move to the next track!");
  }
}

void TFormMediaPlayer::Previous() {
  try {
    std::string name = PreviousEntry();
    FMediaPlayer->FileName = name;
    OpenDevice();
    FMediaPlayer->Play();
  } catch (const std::exception&) {
    ql::UI().ShowMessage("Unable to move to the next track!");
  }
}

std::string TFormMediaPlayer::NextEntry() {
  if (miInOrder->isChecked()) {
    int count = lbFiles->Count();
    if (count == 0) return "";
    int index = lbFiles->ItemIndex();
    lbFiles->SetItemIndex(index >= 0 && index < count - 1 ? index + 1 : 0);
    return lbFiles->Items(lbFiles->ItemIndex());
  }
  // Post order plays the list from its last entry to its first, wrapping.
  if (miPostOrder->isChecked()) return PreviousEntry();
  if (miRandom->isChecked()) return RandomEntry();
  return "";
}

std::string TFormMediaPlayer::RandomEntry() {
  try {
    if (pending_.empty()) {
      for (const auto& row : lbFiles->model().rows()) pending_.push_back(row.text);
      for (int i = 0; i < lbFiles->Count(); ++i) lbFiles->SetChecked(i, false);
    }
    if (pending_.empty()) return "";
    std::uniform_int_distribution<size_t> draw(0, pending_.size() - 1);
    std::string chosen = pending_[draw(random_)];
    int index = lbFiles->IndexOf(chosen);
    lbFiles->SetItemIndex(index);
    lbFiles->SetChecked(index, true);
    std::string result = lbFiles->Items(index);
    RemoveFromPool(chosen);
    return result;
  } catch (...) {
    return "";
  }
}

std::string TFormMediaPlayer::PreviousEntry() {
  int count = lbFiles->Count();
  if (count == 0) return "";
  int index = lbFiles->ItemIndex();
  lbFiles->SetItemIndex(index > 0 ? index - 1 : count - 1);
  return lbFiles->Items(lbFiles->ItemIndex());
}

void TFormMediaPlayer::ContinuePlaying() {
  if (FMediaPlayer->Mode() != mpPlaying) return;
  playing_ = true;
  int index = lbFiles->IndexOf(FMediaPlayer->FileName);
  if (index >= 0) lbFiles->SetChecked(index, true);
  SetStatus("Playing");
}

void TFormMediaPlayer::sbPlayClick() {
  try {
    Play();
  } catch (const EInOutError&) {
    int index = lbFiles->ItemIndex();
    std::string text = index >= 0 && index < lbFiles->Count() ? lbFiles->Items(index) : "";
    ql::UI().ShowMessage("Unable to play file " + text + ".");
  } catch (const std::exception& e) {
    ShowError(e);
  }
}

void TFormMediaPlayer::sbPauseClick() {
  try {
    Pause();
  } catch (...) {
    ql::UI().ShowMessage("Unable to pause Media Player!");
  }
}

void TFormMediaPlayer::sbStopClick() {
  try {
    Stop();
  } catch (...) {
  }
}

void TFormMediaPlayer::sbCloseClick() {
  Close();
}

void TFormMediaPlayer::sbNextClick() {
  Next();
  ContinuePlaying();
}

void TFormMediaPlayer::sbPreviousClick() {
  Previous();
  ContinuePlaying();
}

void TFormMediaPlayer::TimerTimer() {
  // The mode first: asking it takes in mpv's news, a shutdown among them.
  int mode = mpNotReady;
  try {
    mode = FMediaPlayer->Mode();
  } catch (...) {
  }
  // mpv shut down by itself (its video window was closed): the file counts as stopped, as
  // after Stop (not as its end: nothing advances), and the next Play starts the device afresh.
  if (FMediaPlayer->TakeLost()) {
    playing_ = false;
    SetStatus("Stopped");
    return;
  }
  if (!playing_) return;
  try {
    if (mode == mpStopped) {
      playing_ = false;
      Next();
      Play();
    }
    mode = FMediaPlayer->Mode();
    if (FMediaPlayer->TakeLost()) {  // mpv ended during this tick
      playing_ = false;
      SetStatus("Stopped");
      return;
    }
    SetStatus(ModeText(mode));
    FMediaPlayer->NotifyNext();
  } catch (...) {
  }
}
