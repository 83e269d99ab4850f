// The CD-extraction window: creation, devices, the track grid and playback.
#include "CDRipper.h"
#include "CDRipperUtil.h"
#include "Chains.h"
#include "PartialFile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QRadioButton>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "ACMChooser.h"
#include "About.h"
#include "CDConfig.h"
#include "CDDB.h"
#include "CDDBID.h"
#include "CDDBList.h"
#include "CDDBSel.h"
#include "CddbCache.h"
#include "DiscStore.h"
#include "ExtMP3Encoder.h"
#include "ExtMP3Exec.h"
#include "Fs.h"
#include "HttpGet1.h"
#include "MMControls.h"
#include "MP3Settings.h"
#include "Profile.h"
#include "RipperText.h"
#include "SafeName.h"
#include "Settings.h"
#include "Shell.h"
#include "StringGrid.h"
#include "TextFile.h"
#include "WaveOut.h"

using ripper_window::ApplyHintsToChildren;
using ripper_window::BytesOf;
using ripper_window::Q;

namespace {

// The wave output device: $QL_WAVEOUT picks it ("memory" plays at the audio's pace into memory,
// any other text names an ALSA PCM); without it the system's default device.
int ChooseWaveOutDevice() {
  const char* env = std::getenv("QL_WAVEOUT");
  if (!env || !*env) return -1;
  std::string name = env;
  if (name == "memory" || name == "memory-fast") {
    ql::MemoryDeviceOptions mo;
    mo.realTime = name == "memory";
    mo.bufferMs = 200;
    return static_cast<int>(ql::AddMemoryDevice(mo));
  }
  return static_cast<int>(ql::AddAlsaDevice(name));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Creation

// The help pages are resources of this static library: register them with the window.
static void InitExtractionResources() {
  Q_INIT_RESOURCE(extraction);
}

TFormCDRipper::TFormCDRipper(QWidget* parent) : QMainWindow(parent) {
  InitExtractionResources();
  // A recording cut off by SIGINT or SIGTERM leaves no temporary file behind.
  ql::InstallSignalCleanup();
  setObjectName("FormCDRipper");
  setWindowTitle("Quillon Trackwell Release 1.09");
  int device = ChooseWaveOutDevice();
  FWaveOut = std::make_unique<TMMWaveOut>();
  if (device >= 0) FWaveOut->SetDeviceID(device);
  InstallACMChooser();
  ACM = std::make_unique<TMMACM>();
  FCDReader.Name = "FCDReader";
  RingBuffer.Name = "RingBuffer";
  Pitch.Name = "Pitch";
  Equalizer.Name = "Equalizer";
  Volume.Name = "Volume";
  Metronome.Name = "Metronome";
  SlowDown.Name = "SlowDown";
  FWaveOut->Name = "FWaveOut";
  Connector.Name = "Connector";
  ACMConverter.Name = "ACMConverter";
  Trigger.Name = "Trigger";
  WaveFile.Name = "WaveFile";
  MP3Encoder.Name = "MP3Encoder";

  // Initial settings of the components, as every chain of the ripper has them.
  FCDReader.SetOutput(&RingBuffer);
  ripper::InitPlayback(RingBuffer, *FWaveOut, Connector);
  ripper::InitStages({&Pitch, &Volume, &Metronome, &SlowDown, &Equalizer});
  // A stop reported for a run that has been replaced by a new one (Next, Previous, repeat)
  // belongs to the old run and is dropped.
  FWaveOut->OnStop = [this](TMMDSPComponent*) {
    unsigned run = playRun_;
    ql::Dispatch().Post(alive_, [this, run] {
      if (run == playRun_) FWaveOutStop();
    });
  };
  ACM->Title = "Wave Format";
  // Until a format is chosen the chooser starts at CD audio, what the reader delivers.
  TWaveFormatEx cd{};
  pcmBuildFormat(&cd, 16, 2, 44100);
  if (ACM->ACMPresent()) ACM->SetFormat(&cd);
  ripper::InitTrigger(Trigger);
  Trigger.OnStart = [this](TMMDSPComponent*) { TriggerStart(); };
  // A sector the reader could not read ends the track early (or fails its start): nothing of
  // it takes the file's name, and RecordingFailure() gives the reader's message.
  Trigger.OnError = [this](TMMDSPComponent*) { DiscardUnreadTrack(); };
  Trigger.OnStop = [this](TMMDSPComponent*) {
    DiscardUnreadTrack();
    ql::Dispatch().Post(alive_, [this] { TriggerStop(); });
  };
  // The trigger's "buffer loaded" is the moment its pull has filled the header.
  Trigger.OnBufferFilled = [this](TMMDSPComponent*, PWaveHdr) { PostCounter(true); };
  Trigger.OnBufferReady = [this](TMMDSPComponent*, PWaveHdr) { PostCounter(false); };
  WaveFile.Wave()->FileMustExist = false;
  WaveFile.OnClose = [this](TMMDSPComponent*) { WaveFileClose(); };
  // A wave carries the names of its track as LIST INFO texts (written when it is created).
  WaveFile.OnOpen = [this](TMMDSPComponent*) { SetWaveInfoTags(*WaveFile.Wave(), recordTags_); };
  FCDDB.SetCDReader(&FCDReaderTable);
  FCDDB.SetPort(8880);
  SaveDialog.kind = ql::FileDialog::kSave;
  SaveDialog.DefaultExt = "wav";
  SaveDialog.Title = "Save melody as";

  Timer = new QTimer(this);
  Timer->setInterval(500);
  connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(); });
  // The level meters follow the connector faster than the display timer.
  MeterTimer = new QTimer(this);
  MeterTimer->setInterval(50);
  connect(MeterTimer, &QTimer::timeout, this, [this] { UpdateMeters(); });
  LongTimer.SetInterval(1);
  LongTimer.SetOnTimer([this](TMMLongTimer*) { LongTimerTimer(); });
  LongTimer.SetEnabled(false);

  BuildControls();
  BuildMenus();
  FormCreate();
  LongTimer.SetEnabled(true);
  created_ = true;
}

TFormCDRipper::~TFormCDRipper() {
  alive_.Kill();
  LongTimer.SetEnabled(false);
  FWaveOut->OnStop = nullptr;
  Trigger.OnStop = nullptr;
  Trigger.OnError = nullptr;
  Trigger.OnStart = nullptr;
  Trigger.OnBufferFilled = nullptr;
  Trigger.OnBufferReady = nullptr;
  WaveFile.OnClose = nullptr;
  WaveFile.OnOpen = nullptr;
  try {
    Trigger.Close();
  } catch (...) {
  }
  try {
    FWaveOut->Close();
  } catch (...) {
  }
  FWaveOut.reset();
  FormDestroy();
}

// Errors of a handler: the default error display (or a message box for the encode commands).
void TFormCDRipper::RunProtected(void (TFormCDRipper::*fn)(), bool message_box) {
  try {
    (this->*fn)();
  } catch (const std::exception& e) {
    if (message_box)
      ql::UI().ShowMessage(e.what());
    else
      ql::UI().ShowException(e);
  }
}

std::string TFormCDRipper::WorkFile(const std::string& name) const {
  std::string dir = WorkDirectory;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + name;
}

void TFormCDRipper::FormCreate() {
  // 1.
  WaveFormatChosen = false;
  try {
    WorkDirectory = ql::fs::GetCurrentDir();
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(e.what());
  }
  // 2.
  EncodersRunning = 0;
  // 3. The dialogs, owned by the window.
  try {
    HelpFile = WorkFile("QLCDEXT.HLP");
    if (!FormCDDB) FormCDDB = new TFormCDDB(this);
    if (!FormCDDBID) FormCDDBID = new TFormCDDBID(this);
    if (!FormCDDBList) FormCDDBList = new TFormCDDBList(this);
    if (!CDDBDlg) CDDBDlg = new TCDDBDlg(this, FCDDB);
    if (!CDDBSelectDlg) CDDBSelectDlg = new TCDDBSelectDlg(this);
    if (!HttpGetForm) HttpGetForm = new ql::net::THttpGetForm(this);
    if (!ConfigDlg) ConfigDlg = new TConfigDlg(this, FCDReader);
    if (!AboutBox) AboutBox = new TFormAboutBox(this);
    if (!FormMP3Settings) FormMP3Settings = new TFormMP3Settings(this);
    if (!FormSettings) FormSettings = new TFormSettings(this);
    FormSettings->cbUseCODEC->setChecked(true);
    if (!FormCDDBSettings)
      FormCDDBSettings = new TFormCDDBSettings(this, &FCDDB, SettingsFile(), SettingsFile());
    if (!FormExtMP3Encoder) FormExtMP3Encoder = new TFormExtMP3Encoder(this);
    FormSettings->SettingsFile = SettingsFile();
    FormMP3Settings->SettingsFile = SettingsFile();
    // Its three list files lie in the work directory.
    FormExtMP3Encoder->WorkDirectory = WorkDirectory;
    // The stored MP3 options are the encoder's from the start, not only once the dialog opened.
    FormMP3Settings->LoadMp3Settings(SettingsFile());
    FormExtMP3Encoder->LoadEncoder(SettingsFile());
    FormCDDBSettings->LoadSettings(SettingsFile());
    ApplyCDDBOptions();
    ApplyHelpContexts();
  } catch (...) {
  }
  // 4.
  try {
    FormSettings->LoadSettings(SettingsFile());
  } catch (...) {
  }
  // Temporaries left by a window that was killed while it recorded or saved (those of running
  // windows stay).
  ql::RemoveLeftovers(WorkDirectory);
  ql::RemoveLeftovers(ql::profile::WindowsDirectory());
  if (FormSettings) ql::RemoveLeftovers(FormSettings->OutputDirectory());
  // 5.
  Playing = Recording = Paused = BatchMode = false;
  EqualizerReset = 0;
  BatchIndex = -1;
  CurrentTrack = 1;
  // 6.
  SetRecordHandlers(&TFormCDRipper::sbRecordOneClick, &TFormCDRipper::sbRecordAllClick);
  lblOutput->setFixedWidth(241);
  // 7.
  LoadPlacement();
  // 8.
  FillDeviceList();
  SetDSPValues();
  ResetCounters();
  SetIdle(true);
  // 9. (set above, before the dialogs were given it)
  // 10.
  RunProtected(&TFormCDRipper::MenuItemLoadClick, false);
  // The drive watch starts from the status of the drive as it was just loaded (read before the
  // drive was selected, it read "not ready", and the first tick reloaded the disc, wiping names
  // a lookup had made meanwhile).
  try {
    DriveStatus = FCDReader.NumDevices() > 0 ? FCDReader.DeviceStatus() : 0;
  } catch (...) {
    DriveStatus = 0;
  }
}

void TFormCDRipper::ApplyHelpContexts() {
  if (FormSettings) FormSettings->HelpFile = HelpFile;
  if (FormMP3Settings) FormMP3Settings->HelpFile = HelpFile;
  if (FormExtMP3Encoder) FormExtMP3Encoder->HelpFile = HelpFile;
  if (FormCDDBSettings) {
    FormCDDBSettings->HelpFile = HelpFile;
    FormCDDBSettings->SetHelpContexts();
  }
}

// The lookup uses the client's own properties; they are taken from the stored CDDB options, so
// that the options the user saved are the ones a lookup uses. Without a stored address the
// client has none, and the lookup asks for it instead of sending a made-up one.
void TFormCDRipper::ApplyCDDBOptions() {
  if (!FormCDDBSettings) return;
  FormCDDBSettings->ApplyTo(FCDDB);
  FCDDB.SetAppName("Velmora");
  FCDDB.SetRevision("1.0");
  FCDDB.SetCacheDir(ql::CddbDefaultCacheDir());
}

// ---------------------------------------------------------------------------------------------
// Devices, grid and disc

void TFormCDRipper::FillDeviceList() {
  if (FCDReader.NumDevices() == 0) {
    DevicesPresent = false;
    return;
  }
  cbDevice->clear();
  for (const auto& d : FCDReader.Devices()) cbDevice->addItem(Q(d.Name));
  cbDevice->setCurrentIndex(0);
  try {
    FCDReader.SetDeviceID(0);
    FCDReader.SetDeviceType(TCDDeviceType(FCDReader.Devices()[0].DeviceType));
  } catch (...) {
  }
  Timer->start(500);
  DevicesPresent = true;
}

void TFormCDRipper::ReopenDrive() {
  if (FCDReader.GetDeviceID() >= 0) FCDReader.CloseDevice();
  FCDReader.SetDeviceID(std::max(cbDevice->currentIndex(), 0));
  FCDReader.OpenDevice();
  DiscSection = ripper::DiscSectionName(FCDReader.DiscKey());
}

int TFormCDRipper::TrackRows() const {
  return std::max(Grid->RowCount() - 1, 0);
}

void TFormCDRipper::FillTrackGrid() {
  try {
    if (!DevicesPresent) {
      // No drive at all: the grid says that there is no disc rather than staying blank.
      ShowNoDisc();
      return;
    }
    try {
      ReopenDrive();
    } catch (...) {
      return;
    }
    bool valid = false;
    try {
      valid = FCDReader.ReadTOC();
    } catch (...) {
      valid = false;
    }
    int tracks = valid ? FCDReader.GetTrackCount() : 0;
    DiscSection = ripper::DiscSectionName(FCDReader.DiscKey());
    int rows = tracks + 1;
    if (rows < 2) {
      ShowNoDisc();
      return;
    }
    bool busy = Playing || Recording;
    int focused = Grid->Row();
    // Marks made for another disc are not kept.
    bool otherDisc = DiscSection != shownSection_;
    shownSection_ = DiscSection;
    Grid->setEnabled(true);
    Grid->SetColCount(kColumns);
    Grid->SetRowCount(rows);
    Grid->SetFixedRows(1);
    static const char* const kHeaders[kColumns] = {"Track", "Select", "Name",     "Saved As",
                                                   "Start", "Time",   "Size (kB)"};
    for (int c = 0; c < kColumns; ++c) Grid->SetCell(c, 0, kHeaders[c]);
    const TMMCDTrackList& toc = FCDReader.TrackList();
    for (int i = 0; i < tracks; ++i) {
      int r = i + 1;
      if (!busy) {
        Grid->SetCell(colTrack, r, QString::number(toc.Tracks[i].dwTrack));
        char number[16];
        std::snprintf(number, sizeof number, "%.2d", r);
        Grid->SetCell(colName, r, number);
        Grid->SetCell(colSavedAs, r, "");
        if (otherDisc) Grid->SetCell(colSelect, r, "");
      }
      Grid->SetCell(colStart, r, Q(ripper::FormatMinSec(toc.Tracks[i].dwStartMSF)));
      Grid->SetCell(colTime, r, Q(ripper::FormatMinSec(toc.Tracks[i].dwLengthMSF)));
      Grid->SetCell(colSize, r, Q(ripper::SizeKB(MSFToFrames(toc.Tracks[i].dwLengthMSF))));
    }
    Grid->SetRow(focused >= 1 && focused < rows ? focused : 1);
    ResizeColumns();
  } catch (...) {
  }
}

void TFormCDRipper::ShowNoDisc() {
  Grid->SetFixedRows(0);
  Grid->SetRowCount(1);
  Grid->SetColCount(1);
  Grid->SetCell(0, 0, kNoDisc);
  Grid->setEnabled(false);
  ResizeColumns();
}

void TFormCDRipper::ResizeColumns() {
  if (Grid->RowCount() < 2) {
    Grid->SetColWidth(0, 639);
    return;
  }
  // The widths of the form, or what the header and the widest value need in the font this
  // desktop uses, whichever is more; the two name columns share what is left.
  const QFontMetrics fm(Grid->font());
  auto fit = [&](int form, const char* header, const char* widest) {
    return std::max({form, fm.horizontalAdvance(QString::fromLatin1(header)) + 10,
                     fm.horizontalAdvance(QString::fromLatin1(widest)) + 10});
  };
  Grid->SetColWidth(colTrack, fit(35, "Track", "99"));
  Grid->SetColWidth(colSelect, fit(40, "Select", "Yes"));
  Grid->SetColWidth(colStart, fit(45, "Start", "00:00"));
  Grid->SetColWidth(colTime, fit(45, "Time", "00:00"));
  Grid->SetColWidth(colSize, fit(50, "Size (kB)", "999999"));
  FitNameColumns();
}

void TFormCDRipper::FitNameColumns() {
  if (Grid->ColCount() < kColumns) return;
  double w = (width() - 6 - Grid->ColWidth(colTrack) - Grid->ColWidth(colStart) -
              Grid->ColWidth(colTime) - Grid->ColWidth(colSize) - Grid->ColWidth(colSelect)) /
                 2.0 -
             20;
  int rounded = static_cast<int>(std::lround(w));
  if (rounded > 10) {
    Grid->SetColWidth(colName, rounded);
    Grid->SetColWidth(colSavedAs, rounded);
  }
}

void TFormCDRipper::FormResize() {
  int minHeight = PanelBottom->height() + PanelArtist->height() + 200 +
                  (PanelDSP->isVisible() ? PanelDSP->height() : 0);
  if (width() < 639 || height() < minHeight)
    resize(std::max(width(), 639), std::max(height(), minHeight));
  FitNameColumns();
}

void TFormCDRipper::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (created_) FormResize();
}

void TFormCDRipper::GridKeyDown() {
  Grid->SetEditing(Grid->Col() == colName && Grid->RowCount() > 1);
}

void TFormCDRipper::GridMouseDown(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  Qt::KeyboardModifiers m = event->modifiers();
  if (m & Qt::ControlModifier)
    miSelectAllClick();
  else if (m & Qt::ShiftModifier) {
    int r = Grid->Row();
    if (r >= 1 && r < Grid->RowCount() && Grid->ColCount() == kColumns)
      Grid->SetCell(colSelect, r, Grid->Cell(colSelect, r) == "Yes" ? "" : "Yes");
  }
}

void TFormCDRipper::miSelectAllClick() {
  if (Grid->ColCount() < kColumns) return;
  for (int r = 1; r < Grid->RowCount(); ++r) Grid->SetCell(colSelect, r, "Yes");
}

void TFormCDRipper::gmiInvertSelectionClick() {
  if (Grid->ColCount() < kColumns) return;
  for (int r = 1; r < Grid->RowCount(); ++r)
    Grid->SetCell(colSelect, r, Grid->Cell(colSelect, r) == "Yes" ? "" : "Yes");
}

void TFormCDRipper::gmiSelectTrackClick() {
  if (Grid->ColCount() < kColumns) return;
  int r = Grid->Row();
  if (r >= 1 && r < Grid->RowCount()) Grid->SetCell(colSelect, r, "Yes");
}

void TFormCDRipper::cbDeviceChange() {
  LoadDisc();
}

// ---------------------------------------------------------------------------------------------
// Playback

bool TFormCDRipper::RepeatOn() const {
  return !lblRepaet->isHidden();
}

void TFormCDRipper::SetDSPValues() {
  bool pitch = FormSettings && FormSettings->Pitch();
  bool volume = FormSettings && FormSettings->Volume();
  bool stretch = FormSettings && FormSettings->TimeStretch();
  bool eq = FormSettings && FormSettings->Equalizer();
  PanelPitch->setVisible(pitch);
  PanelVolume->setVisible(volume);
  PanelHalfSpeed->setVisible(stretch);
  PanelEqualizer->setVisible(eq);
  PanelDSP->setVisible(pitch || volume || stretch || eq);
  miWaveFormat->setEnabled(true);
  // The chain is relinked only while it does not run: components refuse new partners then.
  if (FWaveOut->State() & (TMMWaveOut::stPlaying | TMMWaveOut::stPaused)) return;
  if (stretch) Metronome.SetDivSize(SliderOverlap->value());
  ripper::TStages stages;
  if (pitch) stages.pitch = &Pitch;
  if (volume) stages.volume = &Volume;
  if (stretch) {
    stages.metronome = &Metronome;
    stages.slowDown = &SlowDown;
  }
  if (eq) stages.equalizer = &Equalizer;
  FWaveOut->SetInput(&RingBuffer);
  FWaveOut->SetInput(ripper::LinkStages(&RingBuffer, stages));
  Metronome.SetStretch(cbHalfSpeedOn->isChecked() && stretch ? 2 : 1);
}

void TFormCDRipper::slEq20Change(TMMSlider* slider) {
  if (slider->Tag < 0 || slider->Tag >= Equalizer.Filters()->Count()) return;
  Equalizer.Filters()->Items(slider->Tag)->SetGain(static_cast<float>(slider->value()));
}

void TFormCDRipper::sbResetEqualizerClick() {
  for (TMMSlider* s : sl) s->setValue(EqualizerReset);
}

void TFormCDRipper::SliderVolumeChange() {
  Volume.SetVolume(SliderVolume->value());
}

void TFormCDRipper::spinPitchUpClick() {
  Pitch.SetPitch(static_cast<float>(spinPitch->Value()));
}

void TFormCDRipper::spinPitchDownClick() {
  Pitch.SetPitch(static_cast<float>(spinPitch->Value()));
}

void TFormCDRipper::TrimTrackRange(std::uint32_t& start_msf, std::uint32_t& length_msf) {
  bool first = FormSettings && FormSettings->RemoveFirstSec();
  bool last = FormSettings && FormSettings->RemoveLastSec();
  ::TrimTrackRange(start_msf, length_msf, first, last);
}

void TFormCDRipper::sbPlayClick() {
  if (Grid->RowCount() < 2) return;
  Playing = true;
  RingBuffer.SetInput(&FCDReader);
  Metronome.SetStretch(cbHalfSpeedOn->isChecked() ? 2 : 1);
  if (FormSettings) {
    FCDReader.SetCopyMode(TMMCDCopyMode(FormSettings->CopyMode()));
    FCDReader.SetReadOffset(FormSettings->ReadOffset());
  }
  CurrentTrack = Grid->Row() - 1;
  StartTrack(CurrentTrack);
}

void TFormCDRipper::StartTrack(int index) {
  FillTrackGrid();
  if (index < 0 || index >= FCDReader.GetTrackCount()) {
    if (Playing && !(FWaveOut->State() & TMMWaveOut::stPlaying)) Playing = false;
    return;
  }
  std::uint32_t start = FCDReader.TrackList().Tracks[index].dwStartMSF;
  std::uint32_t length = FCDReader.TrackList().Tracks[index].dwLengthMSF;
  TrimTrackRange(start, length);
  if (Playing) {
    ResetCounters();
    SetIdle(false);
    try {
      FCDReader.SetRange(start, length);
      ++playRun_;
      FWaveOut->Start();
    } catch (...) {
      // A device that cannot start leaves the window idle again.
      Playing = false;
      SetIdle(true);
      throw;
    }
    GaugeBuffer->SetMax(RingBuffer.GetNumBuffers());
    Timer->start();
    MeterTimer->start();
  } else if (Recording) {
    try {
      ResetCounters();
      FCDReader.SetRange(start, length);
      GaugeBuffer->SetMax(RingBuffer.GetNumBuffers());
      Timer->start();
    } catch (...) {
    }
  }
}

void TFormCDRipper::FWaveOutStop() {
  try {
    FWaveOut->Close();
  } catch (...) {
  }
  Timer->stop();
  MeterTimer->stop();
  level1->Reset();
  Level2->Reset();
  bool wasPlaying = Playing;
  Playing = false;
  SetIdle(true);
  // A sector that could not be read ended the track: the user is told, and Repeat ends.
  if (std::string failure = FCDReader.FailureText(); wasPlaying && !failure.empty()) {
    lblRepaet->hide();
    ql::UI().ShowMessage(failure);
    return;
  }
  if (wasPlaying && RepeatOn() && Grid->RowCount() > 1) {
    if (CurrentTrack < Grid->RowCount() - 2)
      ++CurrentTrack;
    else
      CurrentTrack = 0;
    Grid->SetRow(CurrentTrack + 1);
    RunProtected(&TFormCDRipper::sbPlayClick, false);
  }
}

void TFormCDRipper::sbStopClick() {
  BatchMode = false;
  if (!Recording) {
    lblRepaet->hide();
    bool wasPlaying = Playing;
    try {
      FWaveOut->Close();
    } catch (...) {
    }
    if (wasPlaying) {
      Timer->stop();
      MeterTimer->stop();
      Playing = false;
    }
    SetRecordingView(false);
  } else {
    // Stop ends the recording whether Repeat is on or not (Repeat only ends with it).
    lblRepaet->hide();
    StopRecording();
    // The track is cut short: its log entry says so.
    stopAsked_ = true;
    Trigger.Stop();
  }
  Mp3Output = false;
  ResetCounters();
}

void TFormCDRipper::sbNextClick() {
  int r = Grid->Row();
  if (r == 0 || r >= Grid->RowCount() - 1) return;
  Grid->SetRow(r + 1);
  if (Playing) {
    bool repeat = RepeatOn();
    sbStopClick();
    lblRepaet->setVisible(repeat);
    sbPlayClick();
  }
}

void TFormCDRipper::sbPreviousClick() {
  int r = Grid->Row();
  if (r <= 1) return;
  Grid->SetRow(r - 1);
  if (Playing) {
    bool repeat = RepeatOn();
    sbStopClick();
    lblRepaet->setVisible(repeat);
    sbPlayClick();
  }
}

void TFormCDRipper::sbRepeatClick() {
  lblRepaet->setVisible(lblRepaet->isHidden());
}

void TFormCDRipper::sbRepeatPartClick() {
  sbStopClick();
  lblRepaet->show();
  sbPlayClick();
}

void TFormCDRipper::sbPauseClick() {
  try {
    if (Paused)
      FCDReader.PauseAudio();
    else
      FCDReader.ResumeAudio();
  } catch (...) {
    ql::UI().ShowMessage("");
  }
  Paused = !Paused;
}

void TFormCDRipper::sbStartClick() {
  int r = std::max(Grid->Row(), 1);
  std::int64_t pos = FWaveOut->State() & TMMWaveOut::stPlaying ? FWaveOut->Position() : 0;
  if (r - 1 < FCDReader.GetTrackCount())
    MarkStart = FCDReader.GetTrack(r - 1).Start + pos * 75 / 1000;
}

void TFormCDRipper::sbEndClick() {
  int n = FCDReader.GetTrackCount();
  std::int64_t pos = FWaveOut->State() & TMMWaveOut::stPlaying ? FWaveOut->Position() : 0;
  if (n > 0) MarkEnd = FCDReader.GetTrack(n - 1).Start + pos * 75 / 1000;
}

void TFormCDRipper::sbEjectClick() {
  try {
    if (FCDReader.DeviceStatus() == cdsDoorOpen)
      FCDReader.LoadMedia(true);
    else
      FCDReader.LoadMedia(false);
  } catch (...) {
  }
}

void TFormCDRipper::TimerTimer() {
  try {
    if (Playing && Grid->Row() > 0) {
      std::int64_t pos = FWaveOut->State() & TMMWaveOut::stPlaying ? FWaveOut->Position() : 0;
      mm->SetValue(static_cast<int>(pos / 60000));
      ss->SetValue(static_cast<int>(pos / 1000 % 60));
      tt->SetValue(Grid->Row());
      GaugeBuffer->SetPosition(RingBuffer.UsedSlots());
    }
    if (Recording) {
      GaugeRecord->SetMax(static_cast<int>(FCDReader.EndSector() - FCDReader.FirstSector()));
      GaugeRecord->SetPosition(
          static_cast<int>(FCDReader.CurrentSector() - FCDReader.FirstSector()));
    }
  } catch (...) {
  }
}

void TFormCDRipper::UpdateMeters() {
  int l = 0, r = 0;
  Connector.TakePeaks(l, r);
  level1->SetPeak(l);
  Level2->SetPeak(r);
}

void TFormCDRipper::LongTimerTimer() {
  try {
    if (FCDReader.NumDevices() == 0 || Recording || Playing) return;
    int status = FCDReader.DeviceStatus();
    // A loaded disc is not reloaded while it stays in the drive (its unsaved edits stay); a
    // disc that goes or comes (the drive was or becomes not ready or open) always is.
    bool reload = ripper::ShouldReloadDisc(DiscLoaded, DriveStatus, status);
    DriveStatus = status;
    if (reload) LoadDisc();
  } catch (...) {
  }
}
