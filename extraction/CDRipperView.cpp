// The CD-extraction window's controls, menus, hints and the idle, recording and output-kind
// views.
#include "CDRipper.h"
#include "CDRipperUtil.h"

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
#include <initializer_list>
#include <utility>

#include "ACMChooser.h"
#include "About.h"
#include "CDConfig.h"
#include "CDDB.h"
#include "CDDBID.h"
#include "CDDBList.h"
#include "CDDBSel.h"
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
}  // namespace

namespace ripper_window {

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

}  // namespace ripper_window

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
  connect(cbDevice, &QComboBox::activated, this,
          [this] { RunProtected(&TFormCDRipper::cbDeviceChange, false); });
  layout->addWidget(PanelArtist);

  // DSP panel.
  PanelDSP = new QWidget(central);
  PanelDSP->setObjectName("PanelDSP");
  PanelDSP->setFixedHeight(108);
  PanelDSP->setAutoFillBackground(true);
  PanelDSP->setStyleSheet(
      "#PanelDSP { background: #101010; } QLabel, QCheckBox, QRadioButton "
      "{ color: #00ff00; }");
  auto* dl = new QHBoxLayout(PanelDSP);
  dl->setContentsMargins(4, 2, 4, 2);
  PanelEqualizer = new QWidget(PanelDSP);
  PanelEqualizer->setObjectName("PanelEqualizer");
  auto* el = new QHBoxLayout(PanelEqualizer);
  el->setContentsMargins(0, 0, 0, 0);
  static const char* const kBands[12] = {"30",  "60",  "120", "180", "300", "600",
                                         "1k2", "1k8", "3k",  "6k",  "12k", "20k"};
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
  connect(sbRecord, &QAbstractButton::clicked, this,
          [this] { RunProtected(recordHandler_, false); });
  connect(sbPlay, &QAbstractButton::clicked, this,
          [this] { RunProtected(&TFormCDRipper::sbPlayClick, false); });
  connect(sbStop, &QAbstractButton::clicked, this,
          [this] { RunProtected(&TFormCDRipper::sbStopClick, false); });
  connect(sbNext, &QAbstractButton::clicked, this,
          [this] { RunProtected(&TFormCDRipper::sbNextClick, false); });
  connect(sbPrevious, &QAbstractButton::clicked, this,
          [this] { RunProtected(&TFormCDRipper::sbPreviousClick, false); });
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
  AddHint(Grid,
          "The tracks of the disc. Edit a name in the Name column; Shift+click selects a "
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
                     const QKeySequence& key = {}) {
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
  MenuItemReseteqalizer =
      item(MenuWave, "MenuItemReseteqalizer", "Reset e&qalizer",
           protect(&TFormCDRipper::sbResetEqualizerClick), QKeySequence("Ctrl+Q"));

  miOutput = bar->addMenu("&Output");
  miOutput->setObjectName("miOutput");
  miOutputBladeEnc = item(miOutput, "miOutputBladeEnc", "&BladeEnc",
                          protect(&TFormCDRipper::miOutputBladeEncClick));
  miOutputLameEnc =
      item(miOutput, "miOutputLameEnc", "&LameEnc", protect(&TFormCDRipper::miOutputLameEncClick));
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
  N256Colours =
      item(Colours1, "N256Colours", "256 colours", protect(&TFormCDRipper::N256ColoursClick));
  TrueColour =
      item(Colours1, "TrueColour", "True colours", protect(&TFormCDRipper::TrueColourClick));
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
  miCommands =
      item(MenuHelp, "miCommands", "&Commands", [this] { ql::UI().ShowHelp(HelpFile, 2000); });
  miFAQ = item(MenuHelp, "miFAQ", "&FAQ", [this] { ql::UI().ShowHelp(HelpFile, 3000); });
  miIndex = item(
      MenuHelp, "miIndex", "&Index", [this] { ql::UI().ShowHelp(HelpFile, 0); },
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

// ---------------------------------------------------------------------------------------------
// Idle / busy views

namespace {
// Hides before it shows: showing a control lays its panel out at once, and with both sets of
// buttons shown for a moment the window would grow wider for good.
void SetVisibleSet(std::initializer_list<std::pair<QWidget*, bool>> controls) {
  for (auto [w, on] : controls)
    if (!on) w->setVisible(false);
  for (auto [w, on] : controls)
    if (on) w->setVisible(true);
}
}  // namespace

void TFormCDRipper::SetIdle(bool idle) {
  SetVisibleSet({{sbPlay, idle},
                 {sbEject, idle},
                 {sbRecord, idle},
                 {sbStop, !idle},
                 {sbRepeat, !idle},
                 {sbNext, !Recording},
                 {sbPrevious, !Recording}});
  for (QAction* a :
       {MenuItemPlay, MenuItemEject, MenuItemRecord, MenuItemRecordall, miLoadCD, miSaveCD,
        miWaveFormat, gmiDeleteTrackName, gmiDeleteStoredFile, gmiRecord, gmiPlay})
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
  // Repeat belongs to playing: hidden while recording, and (as SetIdle has it) when idle.
  if (on) sbRepeat->setVisible(false);
  SetVisibleSet({{lblBuffer, !on}, {GaugeBuffer, !on}, {lblRecording, on}, {GaugeRecord, on}});
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
  ripper::TOutputBinding binding = ripper::OutputBinding(static_cast<ripper::TRipperOutput>(kind));
  auto handler = [](ripper::TRecordCommand c) -> void (TFormCDRipper::*)() {
    switch (c) {
      case ripper::TRecordCommand::kRecordOne:
        return &TFormCDRipper::sbRecordOneClick;
      case ripper::TRecordCommand::kRecordAll:
        return &TFormCDRipper::sbRecordAllClick;
      case ripper::TRecordCommand::kEncodeOne:
        return &TFormCDRipper::miEncodeClick;
      case ripper::TRecordCommand::kEncodeAll:
        return &TFormCDRipper::miEncodeAllClick;
      case ripper::TRecordCommand::kExternalOne:
        return &TFormCDRipper::miExtMP3EncoderClick;
      case ripper::TRecordCommand::kExternalAll:
        return &TFormCDRipper::miExtMP3EncoderAllClick;
    }
    return &TFormCDRipper::sbRecordOneClick;
  };
  SetRecordHandlers(handler(binding.record), handler(binding.recordAll));
  lblOutput->setText(binding.label);
  lblOutput->setFixedWidth(241);
  miOutputWave->setChecked(kind == okWave);
  miOutputBladeEnc->setChecked(kind == okBladeEnc);
  miOutputLameEnc->setChecked(kind == okLameEnc);
  miOutputExternal->setChecked(kind == okExternal);
}

void TFormCDRipper::miOutputWaveClick() {
  BindOutput(okWave);
}
void TFormCDRipper::miOutputBladeEncClick() {
  BindOutput(okBladeEnc);
}
void TFormCDRipper::miOutputLameEncClick() {
  BindOutput(okLameEnc);
}
void TFormCDRipper::miOutputExternalClick() {
  BindOutput(okExternal);
}
