#pragma once
// TFormMediaPlayer: the "Quillon Media Player" window. It holds the media list (a check list
// of file paths), plays its entries one after another through the media device, in order, in
// post order or at random, and keeps its placement, options and list name in
// "QuillonMediaPlayer.ini" in the directory that was current when it was created.
#include <QMainWindow>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Mci.h"
#include "Ui.h"

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QMenu;
class QStatusBar;
class QTimer;
class QToolButton;
class TQLCheckListBox;
class TFormAboutMediaPlayer;

class TFormMediaPlayer : public QMainWindow {
 public:
  explicit TFormMediaPlayer(MciSettings mci = MciSettings::FromEnvironment(),
                            QWidget* parent = nullptr);
  ~TFormMediaPlayer() override;

  // Settings store (every caller passes "QuillonMediaPlayer").
  void LoadSettings(const std::string& settings_name);
  void SaveSettings(const std::string& settings_name);

  // Media list (list file in the format of the list kind).
  void LoadListFile();
  void WriteListFile();

  // Menu commands.
  void NewMedia1Click();
  void miLoadMediaClick();
  void miSearchClick();
  void miSaveClick();
  void miSaveMediaAsClick();
  void miDeleteClick();
  void miExitClick();
  void miAddClick();
  void miRemoveClick();
  void miRemoveAllClick();
  void miAutoSaveClick();
  void miBlackMediaListClick();
  void miShowControlsClick();
  void SetOrderType(QObject* sender);
  void miAboutClick();
  void miIndexClick();
  void FOpenDialogTypeChange(int filter_index);
  void FSaveDialogTypeChange(int filter_index);

  // Transport commands and the one-second timer step.
  void sbPlayClick();
  void sbPauseClick();
  void sbStopClick();
  void sbPreviousClick();
  void sbNextClick();
  void sbCloseClick();
  void TimerTimer();

  // What a desktop user expects beyond the menu (MediaPlayerDesktop.cpp): files, folders and
  // play lists named on the command line or dropped on the list are added (folders searched
  // for media files as Search does, play lists replaced by their entries); double-click or
  // Enter on an entry plays it; the playing entry is marked.
  void AddPaths(const std::vector<std::string>& paths);
  void PlayEntry(int index);
  void UpdatePlayingMark();

  // State, for the About window, the tests and the status bar.
  const std::string& ListFileName() const { return list_file_name_; }
  void SetListFileName(const std::string& name);
  const std::string& MediaDirectory() const { return media_directory_; }
  int ListKind() const { return list_kind_; }
  int SearchKind() const { return search_kind_; }
  bool Playing() const { return playing_; }
  const std::vector<std::string>& PendingPool() const { return pending_; }
  std::string StatusText() const;
  std::string SettingsFile(const std::string& settings_name) const;
  const std::string& HelpFile() const { return help_file_; }
  TQLCheckListBox* Files() const { return lbFiles; }
  TMediaPlayer& MediaDevice() { return *FMediaPlayer; }
  ql::FileDialog& OpenDialog() { return FOpenDialog; }
  ql::FileDialog& SaveDialog() { return FSaveDialog; }
  void SetAboutWindow(TFormAboutMediaPlayer* about) { about_ = about; }
  void SeedRandom(unsigned seed) { random_.seed(seed); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void InstallDesktopHandlers();
  // The entries of the chosen or dropped files: play lists give their entries.
  std::vector<std::string> ExpandPlaylists(const std::vector<std::string>& files);
  void AppendEntries(const std::vector<std::string>& paths);
  void BuildMenu();
  QAction* AddItem(QMenu* menu, const char* name, const char* caption, const QKeySequence& key,
                   void (TFormMediaPlayer::*handler)());
  void SetStatus(const std::string& text);
  void ApplyListColours(bool black);
  void FormCreate();
  void MyDoClose();

  // Playback steps.
  bool OpenDevice();
  void Play();
  void Pause();
  void Stop();
  void Close();
  void Next();
  void Previous();
  std::string NextEntry();
  std::string PreviousEntry();
  std::string RandomEntry();
  // After a Next or Previous button: the entry the device now plays counts as played.
  void ContinuePlaying();
  void RemoveFromPool(const std::string& text);
  void RebuildPool();
  // Refuses a list file that is a FIFO, socket or device (reading it could block for ever).
  void RequirePlainFile(const std::string& path) const;
  void ShowError(const std::exception& e);

 public:
  // Controls, named as the window's design names them.
  QFrame* PanelTop = nullptr;
  QToolButton *sbPlay = nullptr, *sbPause = nullptr, *sbStop = nullptr, *sbPrevious = nullptr,
              *sbNext = nullptr, *sbClose = nullptr;
  TQLCheckListBox* lbFiles = nullptr;
  QStatusBar* FStatusBar = nullptr;
  QTimer* Timer1 = nullptr;
  QMenu *mFile = nullptr, *mEdit = nullptr, *mOptions = nullptr, *miPlayOrder = nullptr,
        *mHelp = nullptr;
  QAction *NewMedia1 = nullptr, *miLoadMedia = nullptr, *miSearch = nullptr, *miSave = nullptr,
          *miSaveMediaAs = nullptr, *miDelete = nullptr, *miExit = nullptr, *miAdd = nullptr,
          *miRemove = nullptr, *miRemoveAll = nullptr, *miInOrder = nullptr, *miPostOrder = nullptr,
          *miRandom = nullptr, *miAutoSave = nullptr, *miBlackMediaList = nullptr,
          *miShowControls = nullptr, *miAbout = nullptr, *miIndex = nullptr;

 private:
  std::unique_ptr<TMediaPlayer> FMediaPlayer;
  ql::FileDialog FOpenDialog, FSaveDialog, FSearchDialog;
  QActionGroup* order_group_ = nullptr;
  QLabel* status_label_ = nullptr;
  TFormAboutMediaPlayer* about_ = nullptr;

  unsigned play_order_ = 0;
  bool playing_ = false;
  std::string media_directory_;
  std::string list_extension_;
  std::string list_file_name_;
  std::vector<std::string> pending_;
  int list_kind_ = 1;
  int search_kind_ = 2;
  std::string help_file_;
  std::mt19937 random_;
  bool controls_bound_ = false;
};
