#include "CDRipper.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
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
#include <cstdio>
#include <cstdlib>

#include "ACMChooser.h"
#include "About.h"
#include "CDConfig.h"
#include "CDDB.h"
#include "CDDBID.h"
#include "CDDBList.h"
#include "CDDBSel.h"
#include "ExtMP3Encoder.h"
#include "ExtMP3Exec.h"
#include "Fs.h"
#include "HttpGet1.h"
#include "MMControls.h"
#include "MP3Settings.h"
#include "Profile.h"
#include "RipperText.h"
#include "Settings.h"
#include "Shell.h"
#include "StringGrid.h"
#include "TextFile.h"
#include "WaveOut.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  return l;
}

// Controls of the black display panel.
QLabel* DisplayLabel(QWidget* parent, const char* name, const QString& text) {
  QLabel* l = MakeLabel(parent, name, text);
  l->setStyleSheet("color: #00ff00; background: black;");
  return l;
}

TMMBitmapButton* MakeButton(QWidget* parent, const char* name, TMMButtonGlyph glyph) {
  auto* b = new TMMBitmapButton(glyph, parent);
  b->setObjectName(name);
  b->setFixedSize(50, 50);
  return b;
}

TMMLEDDigit* Digit(QWidget* parent, const char* name) {
  auto* d = new TMMLEDDigit(parent);
  d->setObjectName(name);
  d->setFixedSize(18, 30);
  return d;
}

// The tooltips of a dialog's controls follow the window's hints option; the dialog keeps its own.
void ApplyHintsToChildren(QWidget* dialog, bool on) {
  if (!dialog) return;
  for (QWidget* w : dialog->findChildren<QWidget*>()) {
    QVariant saved = w->property("qlHint");
    if (!saved.isValid()) {
      if (w->toolTip().isEmpty()) continue;
      w->setProperty("qlHint", w->toolTip());
      saved = w->toolTip();
    }
    w->setToolTip(on ? saved.toString() : QString());
  }
}

std::vector<std::uint8_t> BytesOf(const TWaveFormatEx* format) {
  if (!format) return {};
  const auto* p = reinterpret_cast<const std::uint8_t*>(format);
  return std::vector<std::uint8_t>(p, p + wfxSize(format));
}

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

TFormCDRipper::TFormCDRipper(QWidget* parent) : QMainWindow(parent) {
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

  // Initial settings of the components.
  FCDReader.SetOutput(&RingBuffer);
  RingBuffer.SetNumBuffers(50);
  RingBuffer.SetBufferSize(32768);
  RingBuffer.SetQueueMode(qmRead);
  Equalizer.SetSampleRate(44100);
  Equalizer.SetFFTLength(512);
  SetupTwelveBands(Equalizer);
  Metronome.SetStretch(2);
  Metronome.SetOverlapType(otSOLA);
  Metronome.SetDivSize(516);
  SlowDown.SetPitch(-50);
  FWaveOut->SetNumBuffers(20);
  FWaveOut->SetBufferSize(8192);
  FWaveOut->TimeFormat = tfMillisecond;
  FWaveOut->SetOutput(&Connector);
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
  Trigger.SetBufferSize(35280);
  Trigger.SetInterval(0);
  Trigger.OnStart = [this](TMMDSPComponent*) { TriggerStart(); };
  Trigger.OnStop = [this](TMMDSPComponent*) {
    ql::Dispatch().Post(alive_, [this] { TriggerStop(); });
  };
  // The trigger's "buffer loaded" is the moment its pull has filled the header.
  Trigger.OnBufferFilled = [this](TMMDSPComponent*, PWaveHdr) { PostCounter(true); };
  Trigger.OnBufferReady = [this](TMMDSPComponent*, PWaveHdr) { PostCounter(false); };
  WaveFile.Wave()->FileMustExist = false;
  WaveFile.OnClose = [this](TMMDSPComponent*) { WaveFileClose(); };
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
  Trigger.OnStart = nullptr;
  Trigger.OnBufferFilled = nullptr;
  Trigger.OnBufferReady = nullptr;
  WaveFile.OnClose = nullptr;
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

void TFormCDRipper::AddHint(QWidget* w, const QString& hint) {
  w->setToolTip(hint);
  hints_.emplace_back(w, hint);
}

void TFormCDRipper::BuildControls() {
  auto* central = new QWidget(this);
  central->setObjectName("ClientArea");
  setCentralWidget(central);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  // The track grid fills the client area.
  Grid = new TStringGrid(central);
  Grid->setObjectName("Grid");
  Grid->SetEditableColumn(colName);
  Grid->setContextMenuPolicy(Qt::CustomContextMenu);
  Grid->OnMouseDown = [this](QMouseEvent* e) { GridMouseDown(e); };
  Grid->OnKeyDown = [this](QKeyEvent*) { GridKeyDown(); };
  connect(Grid, &QTableWidget::currentCellChanged, this, [this] { GridKeyDown(); });
  layout->addWidget(Grid, 1);

  // Disc panel.
  PanelArtist = new QWidget(central);
  PanelArtist->setObjectName("PanelArtist");
  PanelArtist->setFixedHeight(41);
  auto* al = new QHBoxLayout(PanelArtist);
  al->setContentsMargins(4, 2, 4, 2);
  lblDevice = MakeLabel(PanelArtist, "lblDevice", "Device");
  cbDevice = new QComboBox(PanelArtist);
  cbDevice->setObjectName("cbDevice");
  cbDevice->setMinimumWidth(120);
  lblArtist = MakeLabel(PanelArtist, "lblArtist", "Artist");
  dfsArtist = new QLineEdit(PanelArtist);
  dfsArtist->setObjectName("dfsArtist");
  lblTitle = MakeLabel(PanelArtist, "lblTitle", "Title");
  dfsTitle = new QLineEdit(PanelArtist);
  dfsTitle->setObjectName("dfsTitle");
  for (QWidget* w : std::initializer_list<QWidget*>{lblDevice, cbDevice, lblArtist, dfsArtist,
                                                    lblTitle, dfsTitle})
    al->addWidget(w, (w == dfsArtist || w == dfsTitle) ? 1 : 0);
  connect(cbDevice, &QComboBox::activated, this, [this] { RunProtected(&TFormCDRipper::cbDeviceChange, false); });
  layout->addWidget(PanelArtist);

  // DSP panel.
  PanelDSP = new QWidget(central);
  PanelDSP->setObjectName("PanelDSP");
  PanelDSP->setFixedHeight(108);
  PanelDSP->setAutoFillBackground(true);
  PanelDSP->setStyleSheet("#PanelDSP { background: #101010; } QLabel, QCheckBox, QRadioButton "
                          "{ color: #00ff00; }");
  auto* dl = new QHBoxLayout(PanelDSP);
  dl->setContentsMargins(4, 2, 4, 2);
  PanelEqualizer = new QWidget(PanelDSP);
  PanelEqualizer->setObjectName("PanelEqualizer");
  auto* el = new QHBoxLayout(PanelEqualizer);
  el->setContentsMargins(0, 0, 0, 0);
  static const char* const kBands[12] = {"30", "60", "120", "180", "300", "600",
                                         "1k2", "1k8", "3k", "6k", "12k", "20k"};
  for (int i = 0; i < 12; ++i) {
    sl[i] = new TMMSlider(Qt::Vertical, PanelEqualizer);
    sl[i]->setObjectName(QString("sl%1").arg(i));
    sl[i]->setRange(-10, 10);
    sl[i]->setValue(0);
    sl[i]->Tag = i;
    sl[i]->setFixedWidth(18);
    auto* band = new QVBoxLayout;
    band->setSpacing(0);
    band->addWidget(sl[i], 1, Qt::AlignHCenter);
    auto* l = new QLabel(kBands[i], PanelEqualizer);
    l->setStyleSheet("font-size: 8px;");
    band->addWidget(l, 0, Qt::AlignHCenter);
    el->addLayout(band);
    TMMSlider* s = sl[i];
    connect(s, &QSlider::valueChanged, this, [this, s] { slEq20Change(s); });
    AddHint(s, QString("Equalizer band %1 Hz: -10 to +10 dB.").arg(kBands[i]));
  }
  dl->addWidget(PanelEqualizer);
  PanelVolume = new QWidget(PanelDSP);
  PanelVolume->setObjectName("PanelVolume");
  auto* vl = new QVBoxLayout(PanelVolume);
  vl->setContentsMargins(0, 0, 0, 0);
  SliderVolume = new TMMSlider(Qt::Vertical, PanelVolume);
  SliderVolume->setObjectName("SliderVolume");
  SliderVolume->setRange(0, 32000);
  SliderVolume->setValue(16000);
  vl->addWidget(SliderVolume, 1, Qt::AlignHCenter);
  vl->addWidget(new QLabel("Volume", PanelVolume));
  connect(SliderVolume, &QSlider::valueChanged, this, [this] { SliderVolumeChange(); });
  SliderVolumeChange();
  dl->addWidget(PanelVolume);
  PanelPitch = new QWidget(PanelDSP);
  PanelPitch->setObjectName("PanelPitch");
  auto* pl = new QVBoxLayout(PanelPitch);
  pl->setContentsMargins(0, 0, 0, 0);
  spinPitch = new TMMLEDSpin(PanelPitch);
  spinPitch->setObjectName("spinPitch");
  spinPitch->SetRange(-50, 50);
  spinPitch->SetValue(0);
  spinPitch->OnUpClick = [this](TMMLEDSpin*) { spinPitchUpClick(); };
  spinPitch->OnDownClick = [this](TMMLEDSpin*) { spinPitchDownClick(); };
  pl->addStretch();
  pl->addWidget(spinPitch);
  pl->addWidget(new QLabel("Pitch", PanelPitch));
  pl->addStretch();
  dl->addWidget(PanelPitch);
  PanelHalfSpeed = new QWidget(PanelDSP);
  PanelHalfSpeed->setObjectName("PanelHalfSpeed");
  auto* hl = new QVBoxLayout(PanelHalfSpeed);
  hl->setContentsMargins(0, 0, 0, 0);
  cbHalfSpeedOn = new QCheckBox("Half speed", PanelHalfSpeed);
  cbHalfSpeedOn->setObjectName("cbHalfSpeedOn");
  SliderOverlap = new TMMSlider(Qt::Horizontal, PanelHalfSpeed);
  SliderOverlap->setObjectName("SliderOverlap");
  SliderOverlap->setRange(16, 256);
  SliderOverlap->setValue(128);
  PanelRbFill = new QWidget(PanelHalfSpeed);
  PanelRbFill->setObjectName("PanelRbFill");
  auto* rl = new QHBoxLayout(PanelRbFill);
  rl->setContentsMargins(0, 0, 0, 0);
  rbSOLA = new QRadioButton("S.O.L.A.", PanelRbFill);
  rbSOLA->setObjectName("rbSOLA");
  rbLine = new QRadioButton("O.D.A.S.", PanelRbFill);
  rbLine->setObjectName("rbLine");
  rbLine->setChecked(true);
  rl->addWidget(rbSOLA);
  rl->addWidget(rbLine);
  hl->addWidget(cbHalfSpeedOn);
  hl->addWidget(new QLabel("Overlap", PanelHalfSpeed));
  hl->addWidget(SliderOverlap);
  hl->addWidget(PanelRbFill);
  dl->addWidget(PanelHalfSpeed);
  dl->addStretch();
  connect(SliderOverlap, &QSlider::valueChanged, this,
          [this] { Metronome.SetDivSize(SliderOverlap->value()); });
  auto overlapType = [this] { Metronome.SetOverlapType(rbSOLA->isChecked() ? otSOLA : otLINE); };
  connect(rbSOLA, &QRadioButton::toggled, this, overlapType);
  connect(rbLine, &QRadioButton::toggled, this, overlapType);
  connect(cbHalfSpeedOn, &QCheckBox::toggled, this, [this] {
    Metronome.SetStretch(cbHalfSpeedOn->isChecked() && PanelHalfSpeed->isVisible() ? 2 : 1);
  });
  layout->addWidget(PanelDSP);

  // Bottom panel: the display and the transport buttons.
  PanelBottom = new QWidget(central);
  PanelBottom->setObjectName("PanelBottom");
  PanelBottom->setFixedHeight(145);
  PanelBottom->setAutoFillBackground(true);
  PanelBottom->setStyleSheet("#PanelBottom { background: #202020; }");
  auto* bl = new QHBoxLayout(PanelBottom);
  bl->setContentsMargins(4, 4, 4, 4);
  PanelDisplay = new QWidget(PanelBottom);
  PanelDisplay->setObjectName("PanelDisplay");
  PanelDisplay->setAutoFillBackground(true);
  PanelDisplay->setStyleSheet("#PanelDisplay { background: black; }");
  PanelDisplay->setFixedWidth(330);
  auto* pd = new QGridLayout(PanelDisplay);
  pd->setContentsMargins(6, 4, 6, 4);
  pd->setVerticalSpacing(2);
  tt2 = Digit(PanelDisplay, "tt2");
  tt = Digit(PanelDisplay, "tt");
  mm2 = Digit(PanelDisplay, "mm2");
  mm = Digit(PanelDisplay, "mm");
  ss2 = Digit(PanelDisplay, "ss2");
  ss = Digit(PanelDisplay, "ss");
  tt->SetCascade(tt2);
  mm->SetCascade(mm2);
  ss->SetCascade(ss2);
  Colon1 = new TMMLEDColon(PanelDisplay);
  Colon1->setObjectName("Colon1");
  Colon1->setFixedSize(8, 30);
  auto* leds = new QHBoxLayout;
  leds->setSpacing(1);
  leds->addWidget(tt2);
  leds->addWidget(tt);
  leds->addSpacing(18);
  leds->addWidget(mm2);
  leds->addWidget(mm);
  leds->addWidget(Colon1);
  leds->addWidget(ss2);
  leds->addWidget(ss);
  leds->addStretch();
  lblTime = DisplayLabel(PanelDisplay, "lblTime", "Track    Time");
  pd->addWidget(lblTime, 0, 0, 1, 2);
  pd->addLayout(leds, 1, 0, 1, 2);
  level1 = new TMMLevel(PanelDisplay);
  level1->setObjectName("level1");
  Level2 = new TMMLevel(PanelDisplay);
  Level2->setObjectName("Level2");
  pd->addWidget(level1, 2, 0, 1, 2);
  pd->addWidget(Level2, 3, 0, 1, 2);
  lblBuffer = DisplayLabel(PanelDisplay, "lblBuffer", "Buffer");
  GaugeBuffer = new TMMGauge(PanelDisplay);
  GaugeBuffer->setObjectName("GaugeBuffer");
  lblRecording = DisplayLabel(PanelDisplay, "lblRecording", "Recording");
  GaugeRecord = new TMMGauge(PanelDisplay);
  GaugeRecord->setObjectName("GaugeRecord");
  lblRecording->hide();
  GaugeRecord->hide();
  pd->addWidget(lblBuffer, 4, 0);
  pd->addWidget(GaugeBuffer, 4, 1);
  pd->addWidget(lblRecording, 5, 0);
  pd->addWidget(GaugeRecord, 5, 1);
  lblRepaet = DisplayLabel(PanelDisplay, "lblRepaet", "Repeating");
  lblRepaet->hide();
  Label11 = DisplayLabel(PanelDisplay, "Label11", "Encoder's running");
  lblEncodersRunning = DisplayLabel(PanelDisplay, "lblEncodersRunning", "0");
  lblBuffersRead = DisplayLabel(PanelDisplay, "lblBuffersRead", "Frames Read");
  lblBuffersReadValue = DisplayLabel(PanelDisplay, "lblBuffersReadValue", "0");
  lblBuffersPlayed = DisplayLabel(PanelDisplay, "lblBuffersPlayed", "Frames Processed");
  lblBuffersPlayedValue = DisplayLabel(PanelDisplay, "lblBuffersPlayedValue", "0");
  auto* counters = new QGridLayout;
  counters->addWidget(lblRepaet, 0, 0);
  counters->addWidget(Label11, 1, 0);
  counters->addWidget(lblEncodersRunning, 1, 1);
  counters->addWidget(lblBuffersRead, 0, 2);
  counters->addWidget(lblBuffersReadValue, 0, 3);
  counters->addWidget(lblBuffersPlayed, 1, 2);
  counters->addWidget(lblBuffersPlayedValue, 1, 3);
  pd->addLayout(counters, 6, 0, 1, 2);
  bl->addWidget(PanelDisplay);

  PanelButtons = new QWidget(PanelBottom);
  PanelButtons->setObjectName("PanelButtons");
  auto* btn = new QGridLayout(PanelButtons);
  btn->setContentsMargins(0, 0, 0, 0);
  sbRecord = MakeButton(PanelButtons, "sbRecord", TMMButtonGlyph::kRecord);
  sbPlay = MakeButton(PanelButtons, "sbPlay", TMMButtonGlyph::kPlay);
  sbStop = MakeButton(PanelButtons, "sbStop", TMMButtonGlyph::kStop);
  sbEject = MakeButton(PanelButtons, "sbEject", TMMButtonGlyph::kEject);
  sbPrevious = MakeButton(PanelButtons, "sbPrevious", TMMButtonGlyph::kPrevious);
  sbNext = MakeButton(PanelButtons, "sbNext", TMMButtonGlyph::kNext);
  sbRepeat = MakeButton(PanelButtons, "sbRepeat", TMMButtonGlyph::kRepeat);
  sbStop->hide();
  // Play and Stop share a place: only one of them is shown.
  btn->addWidget(sbRecord, 0, 0);
  btn->addWidget(sbPlay, 0, 1);
  btn->addWidget(sbStop, 0, 1);
  btn->addWidget(sbPrevious, 0, 2);
  btn->addWidget(sbNext, 0, 3);
  btn->addWidget(sbRepeat, 0, 4);
  btn->addWidget(sbEject, 0, 5);
  lblOutput = MakeLabel(PanelButtons, "lblOutput", "Wave");
  lblOutput->setStyleSheet("color: aqua; background: black; padding: 2px;");
  lblOutput->setFixedWidth(241);
  btn->addWidget(lblOutput, 1, 0, 1, 6, Qt::AlignLeft);
  btn->setRowStretch(2, 1);
  bl->addWidget(PanelButtons);
  bl->addStretch();
  connect(sbRecord, &QAbstractButton::clicked, this, [this] { RunProtected(recordHandler_, false); });
  connect(sbPlay, &QAbstractButton::clicked, this, [this] { RunProtected(&TFormCDRipper::sbPlayClick, false); });
  connect(sbStop, &QAbstractButton::clicked, this, [this] { RunProtected(&TFormCDRipper::sbStopClick, false); });
  connect(sbNext, &QAbstractButton::clicked, this, [this] { RunProtected(&TFormCDRipper::sbNextClick, false); });
  connect(sbPrevious, &QAbstractButton::clicked, this, [this] { RunProtected(&TFormCDRipper::sbPreviousClick, false); });
  connect(sbRepeat, &QAbstractButton::clicked, this, [this] { sbRepeatClick(); });
  // The eject button ejects as the menu item does (a button that did nothing is no use).
  connect(sbEject, &QAbstractButton::clicked, this, [this] { sbEjectClick(); });
  layout->addWidget(PanelBottom);

  AddHint(sbRecord, "Record the selected track to a file in the output directory.");
  AddHint(sbEject, "Open or close the tray of the drive.");
  AddHint(sbNext, "Next track.");
  AddHint(sbPrevious, "Previous track.");
  AddHint(sbPlay, "Play the selected track.");
  AddHint(sbStop, "Stop playing or recording.");
  AddHint(sbRepeat, "Repeat: play the whole disc over and over.");
  AddHint(Grid, "The tracks of the disc. Edit a name in the Name column; Shift+click selects a "
                "track for recording, Ctrl+click selects all.");
  AddHint(GaugeBuffer, "How full the read buffer is.");
  AddHint(tt, "Track playing.");
  AddHint(mm, "Minutes played.");
  AddHint(ss, "Seconds played.");
  AddHint(level1, "Level of the left channel.");
  AddHint(Level2, "Level of the right channel.");
  AddHint(GaugeRecord, "Progress of the track being recorded.");
  AddHint(cbDevice, "The CD drive.");
  AddHint(dfsArtist, "The artist of the disc.");
  AddHint(dfsTitle, "The title of the disc.");
  AddHint(lblOutput, "The output of recordings (menu Output).");
  AddHint(SliderVolume, "Volume.");
  AddHint(spinPitch,
          "The pich value, changes the frequenzy. 0 = original pitch, -50 = half pitch, 50 = "
          "double pitch.");
  AddHint(SliderOverlap, "Overlap between two frames.");
  AddHint(cbHalfSpeedOn, "Play at half speed without changing the pitch.");
  AddHint(rbSOLA, "Overlap the frames by synchronised overlap-add.");
  AddHint(rbLine, "Overlap the frames by a linear cross-fade.");
}

void TFormCDRipper::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  auto item = [this](QMenu* menu, const char* name, const QString& caption, auto handler,
                     QKeySequence key = {}) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, handler);
    return a;
  };
  auto protect = [this](void (TFormCDRipper::*fn)()) {
    return [this, fn] { RunProtected(fn, false); };
  };
  MenuCD = bar->addMenu("&CD");
  MenuCD->setObjectName("MenuCD");
  miSaveCD = item(MenuCD, "miSaveCD", "&Save CD", protect(&TFormCDRipper::SaveCD1Click),
                  QKeySequence("Ctrl+S"));
  miLoadCD = item(MenuCD, "miLoadCD", "&Load CD", protect(&TFormCDRipper::MenuItemLoadClick),
                  QKeySequence("F5"));
  MenuCD->addSeparator();
  MenuItemExit = item(MenuCD, "MenuItemExit", "E&xit", protect(&TFormCDRipper::MenuItemExitClick));

  MenuEdit = bar->addMenu("&Edit");
  MenuEdit->setObjectName("MenuEdit");
  miDeleteTrackName = item(MenuEdit, "miDeleteTrackName", "Delete track &name",
                           protect(&TFormCDRipper::miDeleteTrackNameClick));
  miDeletSavedTrack = item(MenuEdit, "miDeletSavedTrack", "Delete &stored track",
                           protect(&TFormCDRipper::miDeleteSavedTrackClick));
  GetdatafromCDDB = item(MenuEdit, "GetdatafromCDDB", "&Get data from CDDB",
                         protect(&TFormCDRipper::GetdatafromMMCDDBClick));
  MenuEdit->addSeparator();
  miInvertSelection = item(MenuEdit, "miInvertSelection", "&Invert Selection",
                           protect(&TFormCDRipper::gmiInvertSelectionClick));
  miSelectTrack = item(MenuEdit, "miSelectTrack", "Select &Track",
                       protect(&TFormCDRipper::gmiSelectTrackClick));
  miSelectAll =
      item(MenuEdit, "miSelectAll", "Select &All", protect(&TFormCDRipper::miSelectAllClick));

  MenuWave = bar->addMenu("&Input");
  MenuWave->setObjectName("MenuWave");
  MenuItemPlay = item(MenuWave, "MenuItemPlay", "&Play", protect(&TFormCDRipper::sbPlayClick),
                      QKeySequence("Ctrl+P"));
  MenuItemStop = item(MenuWave, "MenuItemStop", "S&top", protect(&TFormCDRipper::sbStopClick),
                      QKeySequence("Ctrl+T"));
  MenuItemStop->setEnabled(false);
  MenuItemNextTrack = item(MenuWave, "MenuItemNextTrack", "&Next track",
                           protect(&TFormCDRipper::sbNextClick), QKeySequence("Ctrl+N"));
  MenuItemPrevioustrack = item(MenuWave, "MenuItemPrevioustrack", "Previous track",
                               protect(&TFormCDRipper::sbPreviousClick));
  MenuItemPause = MenuWave->addAction("Pa&use");
  MenuItemPause->setObjectName("MenuItemPause");
  MenuItemPause->setVisible(false);
  MenuItemPause->setEnabled(false);
  MenuItemEject = item(MenuWave, "MenuItemEject", "&Eject", protect(&TFormCDRipper::sbEjectClick),
                       QKeySequence("Ctrl+E"));
  MenuWave->addSeparator();
  MenuItemRecord = item(MenuWave, "MenuItemRecord", "&Record",
                        protect(&TFormCDRipper::sbRecordOneClick), QKeySequence("Ctrl+R"));
  MenuItemRecordall = MenuWave->addAction("Record selected");
  MenuItemRecordall->setObjectName("MenuItemRecordall");
  MenuItemRecordall->setShortcut(QKeySequence("Ctrl+A"));
  connect(MenuItemRecordall, &QAction::triggered, this,
          [this] { RunProtected(recordAllHandler_, false); });
  MenuWave->addSeparator();
  MenuItemReseteqalizer = item(MenuWave, "MenuItemReseteqalizer", "Reset e&qalizer",
                               protect(&TFormCDRipper::sbResetEqualizerClick),
                               QKeySequence("Ctrl+Q"));

  miOutput = bar->addMenu("&Output");
  miOutput->setObjectName("miOutput");
  miOutputBladeEnc = item(miOutput, "miOutputBladeEnc", "&BladeEnc",
                          protect(&TFormCDRipper::miOutputBladeEncClick));
  miOutputLameEnc = item(miOutput, "miOutputLameEnc", "&LameEnc",
                         protect(&TFormCDRipper::miOutputLameEncClick));
  miOutputLameEnc->setVisible(false);
  miOutputExternal = item(miOutput, "miOutputExternal", "&Extrnal Encoder",
                          protect(&TFormCDRipper::miOutputExternalClick));
  miOutputWave =
      item(miOutput, "miOutputWave", "&Wave", protect(&TFormCDRipper::miOutputWaveClick));
  for (QAction* a : {miOutputBladeEnc, miOutputLameEnc, miOutputExternal, miOutputWave})
    a->setCheckable(true);
  miOutputWave->setChecked(true);

  MenuMP3 = bar->addMenu("&MP3");
  MenuMP3->setObjectName("MenuMP3");
  BladeEnc1 = MenuMP3->addMenu("BladeEnc");
  BladeEnc1->setObjectName("BladeEnc1");
  Encode2 = item(BladeEnc1, "Encode2", "&Encode", protect(&TFormCDRipper::miEncodeClick));
  EncodeAll2 =
      item(BladeEnc1, "EncodeAll2", "Encode &All", protect(&TFormCDRipper::miEncodeAllClick));
  ExternalEncoder1 = MenuMP3->addMenu("External Encoder");
  ExternalEncoder1->setObjectName("ExternalEncoder1");
  miExtMP3Encoder = item(ExternalEncoder1, "miExtMP3Encoder", "&Encoder",
                         protect(&TFormCDRipper::miExtMP3EncoderClick));
  miExtMP3EncoderAll = item(ExternalEncoder1, "miExtMP3EncoderAll", "Encode &All",
                            protect(&TFormCDRipper::miExtMP3EncoderAllClick));
  MenuMP3->menuAction()->setVisible(false);
  MenuMP3->setEnabled(false);

  MenuOptions = bar->addMenu("O&ptions");
  MenuOptions->setObjectName("MenuOptions");
  miCDDBSettings = item(MenuOptions, "miCDDBSettings", "&CDDB Options",
                        protect(&TFormCDRipper::miCDDBSettingsClick));
  miBladeOptions = item(MenuOptions, "miBladeOptions", "&BladeEnc Options",
                        protect(&TFormCDRipper::miBladeOptionsClick));
  miExternalEncoder = item(MenuOptions, "miExternalEncoder", "&External Encoder",
                           protect(&TFormCDRipper::miExternalEncoderClick));
  miDSPSettings = item(MenuOptions, "miDSPSettings", "General &Options",
                       protect(&TFormCDRipper::miDSPSettingsClick), QKeySequence("Ctrl+D"));
  miWaveFormat = item(MenuOptions, "miWaveFormat", "Wave &Format",
                      protect(&TFormCDRipper::miWaveFormatClick), QKeySequence("Ctrl+W"));
  Colours1 = MenuOptions->addMenu("Colours");
  Colours1->setObjectName("Colours1");
  N256Colours = item(Colours1, "N256Colours", "256 colours", protect(&TFormCDRipper::N256ColoursClick));
  TrueColour = item(Colours1, "TrueColour", "True colours", protect(&TFormCDRipper::TrueColourClick));
  N256Colours->setCheckable(true);
  TrueColour->setCheckable(true);
  TrueColour->setChecked(true);
  Colours1->menuAction()->setVisible(false);
  miHintsOn = item(MenuOptions, "miHintsOn", "Hin&ts on", [this] { miHintsOnClick(); });
  miHintsOn->setCheckable(true);
  miHintsOn->setChecked(true);

  MenuHelp = bar->addMenu("&Help");
  MenuHelp->setObjectName("MenuHelp");
  MenuItemAbout = item(MenuHelp, "MenuItemAbout", "&About", [this] { MenuItemAboutClick(); });
  miCommands = item(MenuHelp, "miCommands", "&Commands",
                    [this] { ql::UI().ShowHelp(HelpFile, 2000); });
  miFAQ = item(MenuHelp, "miFAQ", "&FAQ", [this] { ql::UI().ShowHelp(HelpFile, 3000); });
  miIndex = item(MenuHelp, "miIndex", "&Index", [this] { ql::UI().ShowHelp(HelpFile, 0); },
                 QKeySequence("F1"));
  GridMenu = new QMenu(this);
  GridMenu->setObjectName("GridMenu");
  gmiDeleteTrackName = item(GridMenu, "gmiDeleteTrackName", "Delete track name",
                            protect(&TFormCDRipper::miDeleteTrackNameClick));
  gmiDeleteStoredFile = item(GridMenu, "gmiDeleteStoredFile", "Delete stored file",
                             protect(&TFormCDRipper::miDeleteSavedTrackClick));
  gmiRecord = item(GridMenu, "gmiRecord", "Record", protect(&TFormCDRipper::sbRecordClick));
  gmiPlay = item(GridMenu, "gmiPlay", "Play", protect(&TFormCDRipper::sbPlayClick));
  GridMenu->addSeparator();
  gmiInvertSelection = item(GridMenu, "gmiInvertSelection", "&Invert Selection",
                            protect(&TFormCDRipper::gmiInvertSelectionClick));
  gmiSelectTrack = item(GridMenu, "gmiSelectTrack", "Select &Track",
                        protect(&TFormCDRipper::gmiSelectTrackClick));
  gmiSelectAll =
      item(GridMenu, "gmiSelectAll", "Select &All", protect(&TFormCDRipper::miSelectAllClick));
  connect(Grid, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { GridMenu->popup(Grid->viewport()->mapToGlobal(p)); });
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
  try {
    DriveStatus = FCDReader.NumDevices() > 0 ? FCDReader.DeviceStatus() : 0;
  } catch (...) {
    DriveStatus = 0;
  }
  // 8.
  FillDeviceList();
  SetDSPValues();
  ResetCounters();
  SetIdle(true);
  // 9. (set above, before the dialogs were given it)
  // 10.
  RunProtected(&TFormCDRipper::MenuItemLoadClick, false);
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
// that the options the user saved are the ones a lookup uses.
void TFormCDRipper::ApplyCDDBOptions() {
  if (!FormCDDBSettings) return;
  std::string user = FormCDDBSettings->FUsername->text().toStdString();
  std::string host = FormCDDBSettings->FUserHost->text().toStdString();
  std::string server = FormCDDBSettings->FCDDBHost->currentText().toStdString();
  try {
    if (!user.empty() && !host.empty()) FCDDB.SetEmail(user + "@" + host);
  } catch (...) {
  }
  if (!server.empty()) {
    // "host:port" names a server on another port.
    std::size_t colon = server.rfind(':');
    if (colon != std::string::npos && colon + 1 < server.size() &&
        server.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
      FCDDB.SetServer(server.substr(0, colon));
      FCDDB.SetPort(std::atoi(server.c_str() + colon + 1));
    } else {
      FCDDB.SetServer(server);
      FCDDB.SetPort(8880);
    }
  }
  try {
    FCDDB.SetAppName("QuillonTrackwell");
    FCDDB.SetRevision("1.09");
  } catch (...) {
  }
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

int TFormCDRipper::TrackRows() const { return std::max(Grid->RowCount() - 1, 0); }

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
    static const char* const kHeaders[kColumns] = {"Track", "Select", "Name", "Saved As",
                                                   "Start", "Time", "Size (kB)"};
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
  Grid->SetColWidth(colTrack, 35);
  Grid->SetColWidth(colStart, 45);
  Grid->SetColWidth(colTime, 45);
  Grid->SetColWidth(colSize, 50);
  int name = (Grid->width() - Grid->ColWidth(colSize) - Grid->ColWidth(colTime) -
              Grid->ColWidth(colStart) - Grid->ColWidth(colTrack)) / 2 - 20;
  Grid->SetColWidth(colName, name);
  Grid->SetColWidth(colSavedAs, name);
}

void TFormCDRipper::FormResize() {
  int minHeight = PanelBottom->height() + PanelArtist->height() + 200 +
                  (PanelDSP->isVisible() ? PanelDSP->height() : 0);
  if (width() < 639 || height() < minHeight)
    resize(std::max(width(), 639), std::max(height(), minHeight));
  if (Grid->ColCount() < kColumns) return;
  Grid->SetColWidth(colSelect, 40);
  double w = (width() - 6 - Grid->ColWidth(colTrack) - Grid->ColWidth(colStart) -
              Grid->ColWidth(colTime) - Grid->ColWidth(colSize) - Grid->ColWidth(colSelect)) /
                 2.0 - 20;
  int rounded = static_cast<int>(std::lround(w));
  if (rounded > 10) {
    Grid->SetColWidth(colName, rounded);
    Grid->SetColWidth(colSavedAs, rounded);
  }
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

void TFormCDRipper::cbDeviceChange() { LoadDisc(); }

// ---------------------------------------------------------------------------------------------
// Idle / busy views

void TFormCDRipper::SetIdle(bool idle) {
  sbPlay->setVisible(idle);
  sbEject->setVisible(idle);
  sbRecord->setVisible(idle);
  sbStop->setVisible(!idle);
  sbRepeat->setVisible(!idle);
  sbNext->setVisible(!Recording);
  sbPrevious->setVisible(!Recording);
  for (QAction* a : {MenuItemPlay, MenuItemEject, MenuItemRecord, MenuItemRecordall, miLoadCD,
                     miSaveCD, miWaveFormat, gmiDeleteTrackName, gmiDeleteStoredFile, gmiRecord,
                     gmiPlay})
    a->setEnabled(idle);
  for (QMenu* m : {MenuOptions, MenuMP3, miOutput, MenuEdit}) m->setEnabled(idle);
  // The MP3 menu stays hidden and disabled whatever the state.
  MenuMP3->setEnabled(false);
  cbDevice->setEnabled(idle);
  dfsTitle->setEnabled(idle);
  dfsArtist->setEnabled(idle);
  MenuItemStop->setEnabled(!idle);
}

void TFormCDRipper::SetRecordingView(bool on) {
  SetIdle(!on);
  MenuItemPlay->setEnabled(!on);
  MenuItemRecord->setEnabled(!on);
  MenuItemNextTrack->setEnabled(!on);
  MenuItemPrevioustrack->setEnabled(!on);
  Grid->setEnabled(!on && Grid->RowCount() > 1);
  sbRepeat->setVisible(!on);
  lblBuffer->setVisible(!on);
  GaugeBuffer->setVisible(!on);
  lblRecording->setVisible(on);
  GaugeRecord->setVisible(on);
  ResetCounters();
}

void TFormCDRipper::ResetCounters() {
  FramesRead = FramesProcessed = 0;
  pendingRead_ = pendingProcessed_ = 0;
  lblBuffersReadValue->setText("0");
  lblBuffersPlayedValue->setText("0");
}

void TFormCDRipper::PostCounter(bool read) {
  // Runs on the trigger's thread: the labels are updated on the window's thread.
  (read ? pendingRead_ : pendingProcessed_).fetch_add(1);
  ql::Dispatch().Post(alive_, [this, read] {
    std::atomic<int>& pending = read ? pendingRead_ : pendingProcessed_;
    int n = pending.exchange(0);
    if (n <= 0) return;
    if (read) {
      FramesRead += n;
      lblBuffersReadValue->setText(QString::number(FramesRead));
    } else {
      FramesProcessed += n;
      lblBuffersPlayedValue->setText(QString::number(FramesProcessed));
    }
  });
}

// ---------------------------------------------------------------------------------------------
// Output kinds

void TFormCDRipper::SetRecordHandlers(void (TFormCDRipper::*record)(),
                                      void (TFormCDRipper::*all)()) {
  recordHandler_ = record;
  recordAllHandler_ = all;
}

void TFormCDRipper::BindOutput(TOutputKind kind) {
  Mp3Output = EncodeAll = ExternalAll = false;
  outputKind_ = kind;
  static const char* const kLabels[] = {"Wave", "BladeEnc MP3 Encoder", "Lame MP3 Encoder",
                                        "External MP3 Encoder"};
  switch (kind) {
    case okWave:
      SetRecordHandlers(&TFormCDRipper::sbRecordOneClick, &TFormCDRipper::sbRecordAllClick);
      break;
    case okBladeEnc:
    case okLameEnc:
      SetRecordHandlers(&TFormCDRipper::miEncodeClick, &TFormCDRipper::miEncodeAllClick);
      break;
    case okExternal:
      SetRecordHandlers(&TFormCDRipper::miExtMP3EncoderClick,
                        &TFormCDRipper::miExtMP3EncoderAllClick);
      break;
  }
  lblOutput->setText(kLabels[kind]);
  lblOutput->setFixedWidth(241);
  miOutputWave->setChecked(kind == okWave);
  miOutputBladeEnc->setChecked(kind == okBladeEnc);
  miOutputLameEnc->setChecked(kind == okLameEnc);
  miOutputExternal->setChecked(kind == okExternal);
}

void TFormCDRipper::miOutputWaveClick() { BindOutput(okWave); }
void TFormCDRipper::miOutputBladeEncClick() { BindOutput(okBladeEnc); }
void TFormCDRipper::miOutputLameEncClick() { BindOutput(okLameEnc); }
void TFormCDRipper::miOutputExternalClick() { BindOutput(okExternal); }

// ---------------------------------------------------------------------------------------------
// Playback

bool TFormCDRipper::RepeatOn() const { return !lblRepaet->isHidden(); }

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
  FWaveOut->SetInput(&RingBuffer);
  TMMDSPComponent* last = &RingBuffer;
  auto append = [&](TMMDSPComponent& stage) {
    stage.SetInput(last);
    last = &stage;
  };
  if (pitch) append(Pitch);
  if (volume) append(Volume);
  if (stretch) {
    Metronome.SetDivSize(SliderOverlap->value());
    append(Metronome);
    append(SlowDown);
  }
  if (eq) append(Equalizer);
  FWaveOut->SetInput(last);
  Metronome.SetStretch(cbHalfSpeedOn->isChecked() && stretch ? 2 : 1);
}

void TFormCDRipper::slEq20Change(TMMSlider* slider) {
  if (slider->Tag < 0 || slider->Tag >= Equalizer.Filters()->Count()) return;
  Equalizer.Filters()->Items(slider->Tag)->SetGain(static_cast<float>(slider->value()));
}

void TFormCDRipper::sbResetEqualizerClick() {
  for (TMMSlider* s : sl) s->setValue(EqualizerReset);
}

void TFormCDRipper::SliderVolumeChange() { Volume.SetVolume(SliderVolume->value()); }

void TFormCDRipper::spinPitchUpClick() { Pitch.SetPitch(static_cast<float>(spinPitch->Value())); }

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
  if (FormSettings) FCDReader.SetCopyMode(TMMCDCopyMode(FormSettings->CopyMode()));
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
  } else if (RepeatOn()) {
    lblRepaet->hide();
    BatchMode = EncodeAll = ExternalAll = false;
  } else {
    EncodeAll = ExternalAll = false;
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

void TFormCDRipper::sbRepeatClick() { lblRepaet->setVisible(lblRepaet->isHidden()); }

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
  if (r - 1 < FCDReader.GetTrackCount()) MarkStart = FCDReader.GetTrack(r - 1).Start + pos * 75 / 1000;
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
      std::int64_t pos =
          FWaveOut->State() & TMMWaveOut::stPlaying ? FWaveOut->Position() : 0;
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
    if (status == DriveStatus) return;
    // A loaded disc is not reloaded while it stays in the drive (its unsaved edits stay); a
    // disc that goes or comes (the drive was or becomes not ready or open) always is.
    auto absent = [](int s) { return s == cdsNotReady || s == cdsDoorOpen; };
    if (DiscLoaded && !absent(status) && !absent(DriveStatus)) {
      DriveStatus = status;
      return;
    }
    LoadDisc();
    DriveStatus = status;
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------------------------
// Recording

std::string TFormCDRipper::MakeFileName(int row_offset, const std::string& ext) {
  int row = Grid->Row() + row_offset;
  ripper::TNamingOptions o;
  o.addArtist = FormSettings && FormSettings->AddArtist();
  o.addTitle = FormSettings && FormSettings->AddTitle();
  o.addNumber = FormSettings && FormSettings->AddNumber();
  o.external = ExternalOutput;
  return ripper::MakeTrackFileName(dfsArtist->text().toStdString(), dfsTitle->text().toStdString(),
                                   Grid->CellText(colTrack, row), Grid->CellText(colName, row),
                                   ext, o);
}

bool TFormCDRipper::CheckDirectory() {
  std::string dir = FormSettings ? FormSettings->OutputDirectory() : std::string();
  if (dir.empty() || !ql::fs::DirectoryExists(dir)) {
    ql::UI().ShowMessage(
        "Error! Invalid directory. Please select directory from the dialog General Settings.");
    return false;
  }
  return true;
}

void TFormCDRipper::sbRecordOneClick() {
  Mp3Output = EncodeAll = ExternalAll = ExternalOutput = false;
  LongTimer.SetEnabled(false);
  BatchMode = false;
  try {
    sbRecordClick();
  } catch (const std::exception& e) {
    ql::UI().ErrorBox(e.what());
  }
  // Nothing started (no directory, no track): the drive watch goes on.
  if (!Recording) LongTimer.SetEnabled(true);
}

void TFormCDRipper::sbRecordAllClick() {
  try {
    if (CheckDirectory()) {
      EnsureWaveFormat();
      if (Grid->RowCount() > 1 && FormSettings->Execute()) {
        Mp3Output = EncodeAll = ExternalAll = ExternalOutput = false;
        StartBatch();
      }
    }
  } catch (const std::exception& e) {
    ql::UI().ErrorBox(e.what());
  }
  if (!Recording) LongTimer.SetEnabled(true);
}

// The converter records into the chosen wave format (CD audio as it is while none was chosen).
void TFormCDRipper::ApplyChosenFormat() {
  if (!ChosenFormat.empty())
    ACMConverter.SetWaveFormat(reinterpret_cast<const TWaveFormatEx*>(ChosenFormat.data()));
}

// The start shared by the batch commands: from row 1, the record action finds the first
// selected track.
void TFormCDRipper::StartBatch() {
  LongTimer.SetEnabled(false);
  ApplyChosenFormat();
  BatchMode = true;
  BatchIndex = 0;
  Grid->SetRow(1);
  try {
    sbRecordClick();
  } catch (...) {
    EndBatch();
    throw;
  }
  if (!Recording) EndBatch();
}

// A batch that records nothing more leaves no batch flags behind.
void TFormCDRipper::EndBatch() {
  BatchMode = EncodeAll = ExternalAll = false;
  Mp3Output = false;
}

void TFormCDRipper::sbRecordClick() {
  if (!CheckDirectory()) return;
  int row = Grid->Row();
  if (row < 1 || row >= Grid->RowCount() || Grid->ColCount() < kColumns) return;
  std::string dir = FormSettings->OutputDirectory();
  std::string ext = Mp3Output ? "mp3" : "wav";
  SaveDialog.InitialDir = dir;
  SaveDialog.DefaultExt = "*." + ext;
  SaveDialog.FileName = MakeFileName(0, ext);
  if (!BatchMode) LoadWaveFormat();
  if (BeginTrackFile()) {
    int r = Grid->Row();
    std::string name = MakeFileName(0, ext);
    Grid->SetCell(colSavedAs, r, Q(name));
    WriteDiscValue(kSettingsName, DiscSection, "f" + std::to_string(r - 1), name);
  }
}

bool TFormCDRipper::BeginTrackFile() {
  ApplyChosenFormat();
  std::string dir = FormSettings->OutputDirectory();
  std::string ext = Mp3Output ? "mp3" : "wav";
  auto setOutput = [&] {
    std::string path = ql::fs::IncludeTrailingPathDelimiter(dir) + MakeFileName(0, ext);
    if (Mp3Output)
      MP3Encoder.SetFileName(path);
    else
      WaveFile.Wave()->SetFileName(path);
  };
  if (BatchMode) {
    BatchIndex = Grid->Row() - 1;
    while (Grid->Cell(colSelect, BatchIndex + 1) != "Yes" && BatchIndex < Grid->RowCount() - 1)
      ++BatchIndex;
    if (BatchIndex >= Grid->RowCount() - 1) {
      // Nothing more is selected: the batch ends here.
      EndBatch();
      return false;
    }
    Grid->SetRow(BatchIndex + 1);
    EnsureWaveFormat();
    // A format chosen just now is the one this track is recorded in.
    ApplyChosenFormat();
    setOutput();
    StartRecording(Grid->Row() - 1);
    return true;
  }
  setOutput();
  BatchIndex = Grid->Row() - 1;
  StartRecording(Grid->Row() - 1);
  return true;
}

void TFormCDRipper::StartRecording(int index) {
  Recording = true;
  FCDReader.SetCopyVolume(16384);
  if (FormSettings) FCDReader.SetCopyMode(TMMCDCopyMode(FormSettings->CopyMode()));
  ACMConverter.SetInput(&FCDReader);
  Trigger.SetInput(&ACMConverter);
  // The file name was set by BeginTrackFile for the same row.
  if (Mp3Output) {
    MP3Encoder.SetInput(&Trigger);
  } else if (Grid->Row() > 0) {
    WaveFile.SetInput(&Trigger);
  }
  StartTrack(index);
  SetRecordingView(true);
  try {
    Trigger.Start();
  } catch (const std::exception& e) {
    // The chain did not start (a file that cannot be made, an encoder that cannot load): the
    // error is shown and the window ends the recording as a single track, back to idle.
    BatchMode = EncodeAll = ExternalAll = ExternalOutput = false;
    ql::UI().ShowMessage(e.what());
    ql::Dispatch().Post(alive_, [this] {
      if (!(Trigger.State() & TMMTrigger::stPlaying)) TriggerStop();
    });
  }
}

void TFormCDRipper::TriggerStart() { Timer->start(); }

void TFormCDRipper::TriggerStop() {
  Timer->stop();
  try {
    Trigger.Close();
  } catch (...) {
  }
  ResetCounters();
  Recording = false;
  SetRecordingView(false);
  if (!BatchMode && !EncodeAll && !ExternalAll) {
    if (ExternalOutput) QueueExternalEncoding(0, Grid->Row(), false);
    BatchMode = false;
    Mp3Output = false;
    LongTimer.SetEnabled(true);
    return;
  }
  if (BatchIndex >= Grid->RowCount() - 2) {
    QueueExternalEncoding(0, BatchIndex + 1, false);
    BatchMode = false;
    Mp3Output = false;
    LongTimer.SetEnabled(true);
    return;
  }
  ++BatchIndex;
  Grid->SetRow(BatchIndex + 1);
  if (ExternalOutput) {
    try {
      QueueExternalEncoding(-1, BatchIndex, true);
    } catch (const std::exception& e) {
      BatchMode = false;
      ql::UI().ShowMessage(e.what());
    }
    if (!Recording) LongTimer.SetEnabled(true);
  } else {
    try {
      sbRecordClick();
    } catch (const std::exception& e) {
      BatchMode = false;
      ql::UI().ErrorBox(e.what());
    }
    if (!Recording) LongTimer.SetEnabled(true);
  }
}

void TFormCDRipper::WaveFileClose() {
  Timer->stop();
  Recording = false;
}

// ---- wave format ----

void TFormCDRipper::EnsureWaveFormat() {
  if (WaveFormatChosen) return;
  try {
    miWaveFormatClick();
    WaveFormatChosen = true;
  } catch (...) {
    ql::UI().ShowMessage("Error while seting wave format. Check installed CODECs.");
  }
}

void TFormCDRipper::miWaveFormatClick() {
  std::vector<std::uint8_t> current = BytesOf(ACM->Format());
  const TWaveFormatEx* initial =
      current.empty() ? nullptr : reinterpret_cast<const TWaveFormatEx*>(current.data());
  if (ACM->ChooseFormat(initial, "Wave Format")) {
    ChosenFormat = BytesOf(ACM->Format());
    StoreWaveFormat();
  }
}

void TFormCDRipper::StoreWaveFormat() {
  if (ChosenFormat.empty()) return;
  try {
    ql::WriteFileAtomic(WorkFile("QuillonTrackwell.bin"),
                        std::string(ChosenFormat.begin(), ChosenFormat.end()));
  } catch (...) {
  }
}

void TFormCDRipper::LoadWaveFormat() {
  std::string bytes;
  try {
    bytes = ql::ReadFileBytes(WorkFile("QuillonTrackwell.bin"));
  } catch (...) {
    return;  // no file: nothing changes
  }
  if (bytes.size() > 1025) bytes.resize(1025);
  if (!bytes.empty()) {
    // A record shorter than its own size field claims, or one no stage can produce, is refused
    // here rather than handed to the converter.
    if (bytes.size() < 16) return;
    std::vector<std::uint8_t> format(bytes.begin(), bytes.end());
    if (format.size() < sizeof(TWaveFormatEx)) format.resize(sizeof(TWaveFormatEx), 0);
    const auto* wfx = reinterpret_cast<const TWaveFormatEx*>(format.data());
    if (wfx->wFormatTag != WAVE_FORMAT_PCM &&
        format.size() < sizeof(TWaveFormatEx) + wfx->cbSize)
      return;
    if (wfx->wFormatTag == WAVE_FORMAT_PCM) {
      format.resize(sizeof(TWaveFormatEx));
      reinterpret_cast<TWaveFormatEx*>(format.data())->cbSize = 0;
    }
    ChosenFormat = format;
    ACM->SetFormat(reinterpret_cast<const TWaveFormatEx*>(ChosenFormat.data()));
    ApplyChosenFormat();
  } else {
    std::vector<std::uint8_t> current = BytesOf(ACM->Format());
    if (ACM->ChooseFormat(current.empty() ? nullptr
                                          : reinterpret_cast<const TWaveFormatEx*>(current.data()),
                          "Wave Format"))
      ChosenFormat = BytesOf(ACM->Format());
    ApplyChosenFormat();
  }
}

void TFormCDRipper::miDeleteSavedTrackClick() {
  int r = Grid->Row();
  if (r < 1 || r >= Grid->RowCount() || Grid->ColCount() < kColumns) return;
  try {
    std::string name = Grid->CellText(colSavedAs, r);
    if (!name.empty()) {
      std::string dir = FormSettings ? FormSettings->OutputDirectory() : std::string();
      // The stored value is a bare name in the output directory; a path read from the ini file
      // is not followed elsewhere.
      std::string bare = ql::fs::ExtractFileName(name);
      if (!dir.empty() && !bare.empty() && bare != "." && bare != "..")
        std::remove((ql::fs::IncludeTrailingPathDelimiter(dir) + bare).c_str());
    }
    Grid->SetCell(colSavedAs, r, "");
    WriteDiscValue(kSettingsName, DiscSection, "f" + std::to_string(r - 1), "");
  } catch (...) {
    ql::UI().ShowMessage("There is no file to delete, or the file has been moved.");
  }
}

void TFormCDRipper::miDeleteTrackNameClick() {
  int r = Grid->Row();
  if (r >= 1 && r < Grid->RowCount() && Grid->ColCount() == kColumns)
    Grid->SetCell(colName, r, "");
}

// ---- encoding (the encoder library and the external encoders) ----

void TFormCDRipper::ApplyMp3Settings() {
  MP3Encoder.SetBitrate(TMMBitrates(FormMP3Settings->BitRateIndex()));
  MP3Encoder.SetChannelMode(TMMChannelMode(FormMP3Settings->ChannelModeIndex()));
  MP3Encoder.SetFileType(FormMP3Settings->FileTypeIndex() == 0 ? ftWAV : ftRAW);
  MP3Encoder.Copyright = FormMP3Settings->Copyright();
  MP3Encoder.CRC = FormMP3Settings->CRC();
  MP3Encoder.Original = FormMP3Settings->Original();
  MP3Encoder.Privat = FormMP3Settings->Privat();
}

void TFormCDRipper::miEncodeClick() {
  Mp3Output = true;
  EncodeAll = ExternalAll = ExternalOutput = false;
  BatchMode = false;
  LongTimer.SetEnabled(false);
  try {
    ApplyMp3Settings();
    sbRecordClick();
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(e.what());
  }
  Mp3Output = false;
  if (!Recording) LongTimer.SetEnabled(true);
}

void TFormCDRipper::miEncodeAllClick() {
  if (!CheckDirectory()) return;
  try {
    if (Grid->RowCount() > 1 && FormSettings->Execute()) {
      Mp3Output = EncodeAll = true;
      ExternalAll = ExternalOutput = false;
      StartBatch();
    }
  } catch (const std::exception& e) {
    ql::UI().ErrorBox(e.what());
  }
  if (!Recording) LongTimer.SetEnabled(true);
}

void TFormCDRipper::miExtMP3EncoderClick() {
  ExternalOutput = true;
  if (BatchMode) {
    sbRecordClick();
    return;
  }
  FormExtMP3Encoder->LoadEncoder(SettingsFile());
  if (FormExtMP3Encoder->ShowEncoderDialog()) {
    Mp3Output = EncodeAll = ExternalAll = false;
    ExternalOutput = true;
    sbRecordClick();
  } else {
    ExternalOutput = false;
  }
}

void TFormCDRipper::miExtMP3EncoderAllClick() {
  if (!CheckDirectory()) return;
  try {
    if (Grid->RowCount() > 1 && FormSettings->Execute()) {
      FormExtMP3Encoder->LoadEncoder(SettingsFile());
      if (FormExtMP3Encoder->ShowEncoderDialog()) {
        Mp3Output = EncodeAll = false;
        ExternalAll = ExternalOutput = true;
        StartBatch();
      }
    }
  } catch (const std::exception& e) {
    ql::UI().ErrorBox(e.what());
  }
  if (!Recording) LongTimer.SetEnabled(true);
}

bool TFormCDRipper::QueueExternalEncoding(int row_offset, int row, bool cont) {
  if (!ExternalOutput || !FormExtMP3Encoder) return false;
  std::string wave = MakeFileName(row_offset, "wav");
  std::string mp3 = MakeFileName(row_offset, "mp3");
  std::string dir = FormSettings->OutputDirectory();
  auto count = [this](int delta) {
    int n = (EncodersRunning += delta);
    lblEncodersRunning->setText(n > 0 ? QString::number(n) : QString("0"));
  };
  TBatchBaseEnc::Start(
      std::make_unique<TBatchExtMP3Exec>(*FormExtMP3Encoder, count, dir, wave, dir, mp3));
  if (row >= 1 && row < Grid->RowCount()) {
    Grid->SetCell(colSavedAs, row, Q(mp3));
    // The stored name follows: the wave is deleted once encoded.
    try {
      WriteDiscValue(kSettingsName, DiscSection, "f" + std::to_string(row - 1), mp3);
    } catch (...) {
    }
  }
  if (cont) miExtMP3EncoderClick();
  return true;
}

// ---------------------------------------------------------------------------------------------
// Dialogs and options

void TFormCDRipper::miDSPSettingsClick() {
  try {
    TFormSettings& d = *FormSettings;
    bool eq = d.Equalizer(), pitch = d.Pitch(), volume = d.Volume(), stretch = d.TimeStretch();
    bool always = d.SaveOnExit();
    std::string dir = d.OutputDirectory();
    d.ShowDeviceType(DeviceTypeIndex);
    if (!d.Execute()) {
      // Cancelled: the stages, the save choice and the directory go back; the rest stays.
      d.SetEqualizer(eq);
      d.SetPitch(pitch);
      d.SetVolume(volume);
      d.SetTimeStretch(stretch);
      d.SetSaveOnExit(always);
      d.SetOutputDirectory(dir);
    } else {
      // The drive type chosen in the dialog is the one stored and used.
      DeviceTypeIndex = d.cbDeviceType->currentIndex();
      try {
        if (FCDReader.GetDeviceID() >= 0) FCDReader.SetDeviceType(TCDDeviceType(DeviceTypeIndex));
      } catch (...) {
      }
      SaveDSPTOFile(kSettingsName);
    }
    SetDSPValues();
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(e.what());
  }
}

void TFormCDRipper::MenuItemSettingsClick() {
  if (ql::UI().Execute(SaveDialog) && FormSettings)
    FormSettings->SetOutputDirectory(ql::fs::ExtractFilePath(SaveDialog.FileName));
}

void TFormCDRipper::ShowMp3Settings() {
  FormMP3Settings->SettingsFile = SettingsFile();
  FormMP3Settings->LoadMp3Settings(SettingsFile());
  FormMP3Settings->exec();
}

void TFormCDRipper::miBladeOptionsClick() {
  try {
    ShowMp3Settings();
  } catch (const EInOutError&) {
    ql::UI().ShowMessage("Unable to save MP3Blade setiings.");
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(e.what());
  }
}

void TFormCDRipper::miEncodeSettingsClick() {
  try {
    ShowMp3Settings();
  } catch (...) {
  }
}

void TFormCDRipper::miExternalEncoderClick() {
  FormExtMP3Encoder->LoadEncoder(SettingsFile());
  FormExtMP3Encoder->ShowEncoderDialog();
}

void TFormCDRipper::miCDDBSettingsClick() {
  FormCDDBSettings->LoadSettings(SettingsFile());
  FormCDDBSettings->exec();
  ApplyCDDBOptions();
}

void TFormCDRipper::miHintsOnClick() {
  // The checkable action has toggled itself when it was triggered.
  SetHints(miHintsOn->isChecked());
}

void TFormCDRipper::SetHints(bool on) {
  miHintsOn->setChecked(on);
  for (auto& [w, hint] : hints_) w->setToolTip(on ? hint : QString());
  for (QWidget* d : std::initializer_list<QWidget*>{FormSettings, FormExtMP3Encoder, AboutBox,
                                                    FormCDDBSettings, FormMP3Settings})
    ApplyHintsToChildren(d, on);
}

void TFormCDRipper::MenuItemAboutClick() {
  if (AboutBox) AboutBox->exec();
}

void TFormCDRipper::N256ColoursClick() {
  N256Colours->setChecked(true);
  TrueColour->setChecked(false);
}

void TFormCDRipper::TrueColourClick() {
  TrueColour->setChecked(true);
  N256Colours->setChecked(false);
}

void TFormCDRipper::SpeedButton1Click() {
  try {
    std::vector<std::pair<std::string, std::string>> hints;
    auto add = [&](QWidget* w, const char* name) {
      hints.emplace_back(name, w ? w->toolTip().toStdString() : std::string());
    };
    add(sbRecord, "sbRecord");
    add(sbEject, "sbEject");
    add(sbNext, "sbNext");
    add(sbPrevious, "sbPrevious");
    add(sbPlay, "sbPlay");
    add(sbStop, "sbStop");
    add(sbRepeat, "sbRepeat");
    add(Grid, "Grid");
    add(GaugeBuffer, "GaugeBuffer");
    add(tt2, "tt2");
    add(tt, "tt");
    add(mm2, "mm2");
    add(ss2, "ss2");
    add(lblTime, "lblTime");
    add(ss, "ss");
    add(level1, "level1");
    add(Level2, "Level2");
    add(GaugeRecord, "GaugeRecord");
    add(lblRecording, "lblRecording");
    add(Label11, "Label11");
    add(Colon1, "Colon1");
    add(mm, "mm");
    add(PanelArtist, "PanelArtist");
    add(cbDevice, "cbDevice");
    add(dfsTitle, "dfsTitle");
    add(dfsArtist, "dfsArtist");
    add(nullptr, "MMBitmapLabel2");
    add(PanelDSP, "PanelDSP");
    add(lblOutput, "lblOutput");
    add(PanelEqualizer, "PanelEqualizer");
    add(PanelVolume, "PanelVolume");
    add(SliderVolume, "SliderVolume");
    add(PanelPitch, "PanelPitch");
    add(spinPitch, "spinPitch");
    add(PanelHalfSpeed, "PanelHalfSpeed");
    add(SliderOverlap, "SliderOverlap");
    add(cbHalfSpeedOn, "cbHalfSpeedOn");
    add(nullptr, "cbHalfSpeed");
    add(rbSOLA, "rbSOLA");
    add(rbLine, "rbLine");
    for (int i = 11; i >= 0; --i) add(sl[i], ("sl" + std::to_string(i)).c_str());
    std::string text;
    for (const std::string& line : ripper::HintsPage(hints)) text += line + "\r\n";
    // The root of the current drive on the system this was made for; the work directory here.
    std::string path = WorkFile("Hints.html");
    ql::WriteFileAtomic(path, text);
    ql::shell::Open(path);
  } catch (...) {
  }
}

void TFormCDRipper::RunModalAndCollect(std::vector<std::string>& tracks,
                                       std::vector<std::string>& names,
                                       std::vector<std::string>& saved,
                                       std::vector<std::string>& times, std::string& artist,
                                       std::string& title) {
  try {
    setWindowModality(Qt::ApplicationModal);
    LongTimer.SetEnabled(true);
    show();
    // Modal: the caller waits here until the window is closed.
    while (isVisible()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    setWindowModality(Qt::NonModal);
    if (Grid->ColCount() == kColumns)
      for (int r = 1; r < Grid->RowCount(); ++r) {
        tracks.push_back(Grid->CellText(colTrack, r));
        names.push_back(Grid->CellText(colName, r));
        saved.push_back(Grid->CellText(colSavedAs, r));
        times.push_back(Grid->CellText(colTime, r));
      }
    artist = dfsArtist->text().toStdString();
    title = dfsTitle->text().toStdString();
  } catch (const std::exception& e) {
    ql::UI().ErrorBox(std::string("Can't execute ") + e.what());
  }
}

// ---------------------------------------------------------------------------------------------
// CDDB

void TFormCDRipper::GetdatafromMMCDDBClick() {
  if (FCDDB.GetEmail().empty()) {
    ql::UI().InfoBox("Invalid e-mail address");
    return;
  }
  ReopenDrive();
  FCDDB.TrackTitles().clear();
  std::string result;
  auto finish = [&] {
    dfsArtist->setText(Q(FCDDB.GetArtist()));
    dfsTitle->setText(Q(ripper::TitleAfterSlash(FCDDB.GetDiscTitle())));
  };
  try {
    WithProgress(this, FCDDB, [&] {
      FCDDB.QueryDisc(result);
      const auto& titles = FCDDB.TrackTitles();
      if (!titles.empty() && static_cast<int>(titles.size()) < Grid->RowCount() &&
          Grid->ColCount() == kColumns)
        for (std::size_t i = 0; i < titles.size(); ++i)
          Grid->SetCell(colName, static_cast<int>(i) + 1, Q(titles[i]));
    });
  } catch (...) {
    finish();
    throw;
  }
  finish();
  if (FCDDB.TrackTitles().empty()) FillTrackGrid();
}

// ---------------------------------------------------------------------------------------------
// Closing

void TFormCDRipper::MenuItemExitClick() {
  if ((Playing || Recording) && Grid->RowCount() > 1) {
    try {
      FCDReader.StopAudio();
    } catch (...) {
    }
  }
  close();
}

void TFormCDRipper::closeEvent(QCloseEvent* event) {
  OnClose();
  event->accept();
  // Nothing goes on in a closed window: no repeat, no next batch track.
  lblRepaet->hide();
  BatchMode = EncodeAll = ExternalAll = false;
  ++playRun_;
  try {
    if (Recording) Trigger.Close();
    FWaveOut->Close();
  } catch (...) {
  }
  Playing = Recording = false;
  Timer->stop();
  MeterTimer->stop();
  SetRecordingView(false);
  QMainWindow::closeEvent(event);
}

void TFormCDRipper::OnClose() {
  LongTimer.SetEnabled(false);
  if (FormSettings && FormSettings->SaveOnExit()) {
    RunProtected(&TFormCDRipper::SaveCD1Click, false);
  } else if (FormSettings && FormSettings->Execute()) {
    RunProtected(&TFormCDRipper::SaveCD1Click, false);
    try {
      FormSettings->SaveSettings(SettingsFile());
    } catch (const std::exception& e) {
      ql::UI().ShowMessage(e.what());
    }
  }
}
