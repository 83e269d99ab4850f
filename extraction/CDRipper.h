#pragma once
// TFormCDRipper: the CD-extraction window ("Quillon Trackwell Release 1.09"). It lists the tracks
// of the disc in the selected drive, plays them through the playback chain (reader -> ring
// buffer -> [pitch] -> [volume] -> [metronome -> slow-down] -> [equalizer] -> wave out ->
// connector), records them through the recording chain (reader -> converter -> trigger -> wave
// file or MP3 encoder), keeps each disc's names in "cdplayer.ini" and "QuillonTrackwell.ini"
// and names discs through CDDB.
#include <QMainWindow>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "AudioTap.h"
#include "Dispatch.h"
#include "MMACMCvt.h"
#include "MMACMDlg.h"
#include "MMBlade.h"
#include "MMCDDB.h"
#include "MMCDRead.h"
#include "MMConnect.h"
#include "MMEqualiz.h"
#include "MMLTimer.h"
#include "MMMetronome.h"
#include "MMPitch.h"
#include "MMRingBf.h"
#include "MMTrigg.h"
#include "MMVolume.h"
#include "MMWavOut.h"
#include "MMWaveFile.h"
#include "ProfileSection.h"
#include "ReaderTrackTable.h"
#include "RipRun.h"
#include "RipperState.h"
#include "Ui.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QComboBox;
class QMenu;
class QRadioButton;
class QTimer;
class QWidget;
class TConfigDlg;
class TFormAboutBox;
class TFormExtMP3Encoder;
class TFormMP3Settings;
class TFormSettings;
class TFormCDDBSettings;
class TCDDBDlg;
class TFormCDDBList;
class TFormCDDBID;
class TFormCDDB;
class TCDDBSelectDlg;
namespace ql::net {
class THttpGetForm;
}
class TMMBitmapButton;
class TMMGauge;
class TMMLEDColon;
class TMMLEDDigit;
class TMMLEDSpin;
class TMMLevel;
class TMMSlider;
class TStringGrid;

// Raised inside the disc save when artist or title is empty.
class EFormRipperError : public Exception {
 public:
  using Exception::Exception;
};

// The window's state flags (Playing, Recording, BatchMode, BatchIndex, CurrentTrack, Paused,
// Mp3Output, EncodeAll, ExternalAll, ExternalOutput, WaveFormatChosen, DiscLoaded) are the
// ripper core's TRipperFlags, with the transitions the commands make.
class TFormCDRipper : public QMainWindow, public ripper::TRipperFlags {
 public:
  // Grid columns.
  enum { colTrack, colSelect, colName, colSavedAs, colStart, colTime, colSize, kColumns };
  // Output kinds of the Output menu.
  enum TOutputKind { okWave, okBladeEnc, okLameEnc, okExternal };

  explicit TFormCDRipper(QWidget* parent = nullptr);
  ~TFormCDRipper() override;

  // ---- handlers (bound to controls) ----
  virtual void FormCreate();
  virtual void FormDestroy() {}
  virtual void sbEjectClick();
  virtual void sbPlayClick();
  virtual void sbStopClick();
  virtual void MenuItemExitClick();
  virtual void TriggerStart();
  virtual void TimerTimer();
  virtual void sbNextClick();
  virtual void sbPreviousClick();
  virtual void FWaveOutStop();
  virtual void MenuItemLoadClick();
  virtual void SliderVolumeChange();
  virtual void SliderPanningChange() {}
  virtual void slEq20Change(TMMSlider* slider);
  virtual void sbResetEqualizerClick();
  virtual void sbRecordClick();
  virtual void WaveFileClose();
  virtual void TriggerStop();
  virtual void MenuItemRecordallClick() {}
  virtual void spinPitchUpClick();
  virtual void spinPitchDownClick();
  virtual void RestoreEqualizer() {}
  virtual void SaveEqualizer() {}
  virtual void miWaveFormatClick();
  virtual void MenuItemSettingsClick();
  virtual void sbRecordAllClick();
  virtual void sbRecordOneClick();
  virtual void SaveCD1Click();
  virtual void MenuItemRestoreCDClick();
  virtual void SaveEqPitchSettings();
  virtual void miDSPSettingsClick();
  virtual void SetDSPValues();
  virtual void SaveDSPTOFile(const std::string& file_name);
  virtual void LoadDSPFromFile(const std::string& file_name);
  virtual void FormResize();
  virtual void sbEndClick();
  virtual void sbStartClick();
  virtual void sbPauseClick();
  virtual void sbRepeatClick();
  virtual void sbRepeatPartClick();
  virtual void GridKeyDown();
  virtual void cbDeviceChange();
  virtual void miDeleteTrackNameClick();
  virtual void miDeleteSavedTrackClick();
  virtual void GetdatafromCDDBClick() {}
  virtual void GetdatafromMMCDDBClick();
  virtual void LongTimerTimer();

  // ---- operations ----
  virtual void FillTrackGrid();
  virtual void ReopenDrive();
  virtual void SetIdle(bool idle);
  virtual void SetRecordingView(bool on);
  virtual void StartTrack(int index);
  virtual void ResizeColumns();
  // Name and Saved As share the width the other columns leave.
  void FitNameColumns();
  virtual void SetHints(bool on);
  virtual void ResetCounters();
  virtual void FillDeviceList();
  virtual void SaveDisc();
  virtual void LoadDisc();
  virtual void LoadPlacement();
  virtual void WriteDiscValue(const std::string& file_name, const std::string& section,
                              const std::string& key, const std::string& value);
  virtual std::string MakeFileName(int row_offset, const std::string& ext);
  virtual bool CheckDirectory();
  virtual void EnsureWaveFormat();
  virtual void LoadWaveFormat();
  virtual void StoreWaveFormat();
  virtual bool BeginTrackFile();
  virtual void StartRecording(int index);
  virtual void TrimTrackRange(std::uint32_t& start_msf, std::uint32_t& length_msf);
  virtual bool QueueExternalEncoding(int row_offset, int row, bool cont);
  void SpeedButton1Click();
  // Shows the window modally; afterwards, for every track row, the Track, Name, Saved As and
  // Time cells are appended to the lists, and artist and title handed back.
  void RunModalAndCollect(std::vector<std::string>& tracks, std::vector<std::string>& names,
                          std::vector<std::string>& saved, std::vector<std::string>& times,
                          std::string& artist, std::string& title);

  // Output menu and the encode commands.
  void miOutputWaveClick();
  void miOutputBladeEncClick();
  void miOutputLameEncClick();
  void miOutputExternalClick();
  void miEncodeClick();
  void miEncodeAllClick();
  void miExtMP3EncoderClick();
  void miExtMP3EncoderAllClick();
  void miBladeOptionsClick();
  void miEncodeSettingsClick();
  void miExternalEncoderClick();
  void miCDDBSettingsClick();
  void miHintsOnClick();
  void MenuItemAboutClick();
  void gmiInvertSelectionClick();
  void gmiSelectTrackClick();
  void miSelectAllClick();
  void N256ColoursClick();
  void TrueColourClick();
  void GridMouseDown(QMouseEvent* event);

  // ---- state ----
  std::string DiscSection;
  int DriveStatus = 0;
  int DeviceTypeIndex = 0;
  bool DevicesPresent = false;
  std::atomic<int> EncodersRunning{0};
  int FramesRead = 0, FramesProcessed = 0;
  int EqualizerReset = 0;
  std::string WorkDirectory;
  // Positions remembered by sbStartClick / sbEndClick (frames).
  std::int64_t MarkStart = 0, MarkEnd = 0;

  // The path of a file of the work directory.
  std::string WorkFile(const std::string& name) const;
  std::string SettingsFile() const { return WorkFile("QuillonTrackwell.ini"); }
  static constexpr const char* kDiscFile = "cdplayer.ini";
  static constexpr const char* kSettingsName = "QuillonTrackwell.ini";
  static constexpr const char* kOptions = "OPTIONS: SETTINGS";
  static constexpr const char* kNoDisc = "No CD is in the device or a corrupt CD in the device.";

  // ---- sound components ----
  TMMCDReader FCDReader;
  ql::TMMCDReaderTrackTable FCDReaderTable{FCDReader};
  // Between the reader and the converter while recording: the sums of the audio as read.
  ripper::TAudioTap AudioTap;
  TMMRingBuffer RingBuffer;
  TMMPitch Pitch;
  TMMEqualizer Equalizer;
  TMMVolume Volume;
  TMMMetronome Metronome;
  TMMPitch SlowDown;
  std::unique_ptr<TMMWaveOut> FWaveOut;
  TMMConnector Connector;
  std::unique_ptr<TMMACM> ACM;
  TMMACMConverter ACMConverter;
  TMMTrigger Trigger;
  TMMWaveFile WaveFile;
  TMMMP3Encoder MP3Encoder;
  ql::TMMCDDB FCDDB;
  QTimer* Timer;
  QTimer* MeterTimer;
  TMMLongTimer LongTimer;
  ql::FileDialog SaveDialog;

  // ---- controls ----
  QWidget *PanelBottom, *PanelDisplay, *PanelArtist, *PanelDSP, *PanelEqualizer, *PanelVolume,
      *PanelPitch, *PanelHalfSpeed, *PanelRbFill, *PanelButtons;
  TMMBitmapButton *sbRecord, *sbPlay, *sbStop, *sbEject, *sbPrevious, *sbNext, *sbRepeat;
  QLabel *lblOutput, *lblBuffer, *lblRecording, *lblRepaet, *lblEncodersRunning, *Label11,
      *lblBuffersReadValue, *lblBuffersPlayedValue, *lblBuffersRead, *lblBuffersPlayed, *lblArtist,
      *lblTitle, *lblDevice, *lblTime;
  TMMLEDDigit *tt2, *tt, *mm2, *mm, *ss2, *ss;
  TMMLEDColon* Colon1;
  TMMLevel *level1, *Level2;
  TMMGauge *GaugeBuffer, *GaugeRecord;
  TStringGrid* Grid;
  QMenu* GridMenu;
  QComboBox* cbDevice;
  QLineEdit *dfsArtist, *dfsTitle;
  TMMSlider* sl[12];
  TMMSlider *SliderVolume, *SliderOverlap;
  TMMLEDSpin* spinPitch;
  QCheckBox* cbHalfSpeedOn;
  QRadioButton *rbSOLA, *rbLine;

  // Menus.
  QMenu *MenuCD, *MenuEdit, *MenuWave, *miOutput, *MenuMP3, *MenuOptions, *MenuHelp, *Colours1,
      *BladeEnc1, *ExternalEncoder1;
  QAction *miSaveCD, *miLoadCD, *MenuItemExit, *miDeleteTrackName, *miDeletSavedTrack,
      *GetdatafromCDDB, *miInvertSelection, *miSelectTrack, *miSelectAll, *MenuItemPlay,
      *MenuItemStop, *MenuItemNextTrack, *MenuItemPrevioustrack, *MenuItemPause, *MenuItemEject,
      *MenuItemRecord, *MenuItemRecordall, *MenuItemReseteqalizer, *miOutputBladeEnc,
      *miOutputLameEnc, *miOutputExternal, *miOutputWave, *Encode2, *EncodeAll2, *miExtMP3Encoder,
      *miExtMP3EncoderAll, *miCDDBSettings, *miBladeOptions, *miExternalEncoder, *miDSPSettings,
      *miWaveFormat, *N256Colours, *TrueColour, *miHintsOn, *MenuItemAbout, *miCommands, *miFAQ,
      *miIndex;
  QAction *gmiDeleteTrackName, *gmiDeleteStoredFile, *gmiRecord, *gmiPlay, *gmiInvertSelection,
      *gmiSelectTrack, *gmiSelectAll;

  // ---- dialogs (owned by the window) ----
  TFormSettings* FormSettings = nullptr;
  TFormMP3Settings* FormMP3Settings = nullptr;
  TConfigDlg* ConfigDlg = nullptr;
  TFormAboutBox* AboutBox = nullptr;
  TFormExtMP3Encoder* FormExtMP3Encoder = nullptr;
  TFormCDDBSettings* FormCDDBSettings = nullptr;
  TCDDBDlg* CDDBDlg = nullptr;
  TFormCDDBList* FormCDDBList = nullptr;
  TFormCDDBID* FormCDDBID = nullptr;
  TFormCDDB* FormCDDB = nullptr;
  TCDDBSelectDlg* CDDBSelectDlg = nullptr;
  ql::net::THttpGetForm* HttpGetForm = nullptr;

  std::string HelpFile;
  // The wave format chosen for recordings (the converter's destination).
  std::vector<std::uint8_t> ChosenFormat;
  // Repeat is on (the "Repeating" label is shown).
  bool RepeatOn() const;
  TOutputKind OutputKind() const { return outputKind_; }
  // The disc's year and genre (from a CDDB lookup, else the genre of the disc's text) for the
  // MP3 tags and the log; empty when unknown.
  std::string DiscYear() const;
  std::string DiscGenre();
  // The recordings of the disc since it was shown (null before the first).
  const ripper_window::TRipRun* Run() const { return run_.get(); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The end of a recorded track: Saved As (grid and store) names the file when it was written
  // whole; a write failure is shown instead. False when the recording failed.
  bool FinishTrackFile();
  // Why the recording that just ended did not write its whole file; empty when it did.
  std::string RecordingFailure() const;
  // Drops the file of a track the reader could not read whole (chain thread or UI thread).
  void DiscardUnreadTrack();
  void SetSavedAs(const std::string& section, int row, const std::string& name);
  // The run of recordings (log, cue sheet, playlist, AccurateRip): a record command begins or
  // continues one; each track is entered when it starts and ended when its file is finished
  // (failure: why it is not whole); the run is finished when nothing more is recorded.
  void BeginRun();
  void BeginRunTrack(int index);
  void EndRunTrack(const std::string& failure, const std::string& file);
  void FinishRun();
  // Looks the run's tracks up in the AccurateRip database while the window waits (Abort in
  // the progress window); why the database could not be asked, empty when it was.
  std::string VerifyRun(ripper_window::TRipRun& run);
  // Writes the run's log, cue sheet and playlist; a failure is shown with the files' names.
  void WriteRunFiles(ripper_window::TRipRun& run);
  void ApplyMp3Settings();
  void ShowMp3Settings();
  void ApplyChosenFormat();
  // The start shared by the batch commands.
  void RunBatch();
  void ShowNoDisc();
  void BuildControls();
  void BuildMenus();
  void BindOutput(TOutputKind kind);
  void ApplyCDDBOptions();
  void ApplyHelpContexts();
  void SetRecordHandlers(void (TFormCDRipper::*record)(), void (TFormCDRipper::*all)());
  void RunProtected(void (TFormCDRipper::*fn)(), bool message_box);
  void UpdateMeters();
  void PostCounter(bool read);
  void OnClose();
  int TrackRows() const;
  std::vector<std::pair<QWidget*, QString>> hints_;
  void AddHint(QWidget* w, const QString& hint);
  void (TFormCDRipper::*recordHandler_)() = &TFormCDRipper::sbRecordOneClick;
  void (TFormCDRipper::*recordAllHandler_)() = &TFormCDRipper::sbRecordAllClick;
  TOutputKind outputKind_ = okWave;
  ql::Alive alive_;
  std::atomic<int> pendingRead_{0}, pendingProcessed_{0};
  std::string shownSection_;  // the disc the grid was last filled for
  // The track being recorded: its row, file name and disc.
  int recordedRow_ = 0;
  std::string recordedName_, recordedSection_;
  bool recordedMp3_ = false;
  // While Save CD runs: the one batch of the settings file that the disc and DSP saves join.
  ql::profile::TIniWriteBatch* settingsBatch_ = nullptr;
  // The rows of the batch being recorded (or last recorded): their file names are distinct.
  std::vector<int> runRows_;
  unsigned playRun_ = 0;
  bool created_ = false;
  std::shared_ptr<ripper_window::TRipRun> run_;
  int runTrack_ = -1;             // the track being recorded (its number), -1 for none
  int lastEndedTrack_ = -1;       // the track whose recording ended last
  int runTracks_ = 0;             // tracks started since the run began
  std::int64_t runExpected_ = 0;  // audio bytes of its range
  std::string runTrimmed_;        // what the range leaves out of the track
  bool stopAsked_ = false;        // Stop was clicked during the recording
  TMMMP3Tags recordTags_;         // the names of the track being recorded
  // A CDDB lookup's year and genre, for the disc they were looked up for.
  std::string cddbYear_, cddbGenre_, cddbSection_;
};
