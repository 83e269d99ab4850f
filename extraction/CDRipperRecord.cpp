// Recording tracks to files: naming, the record commands, batches, the end of a track, the
// wave format, and the encoder library and external encoder commands.
#include "CDRipper.h"
#include "CDRipperUtil.h"
#include "Chains.h"

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

namespace ripper_window {

std::vector<std::uint8_t> BytesOf(const TWaveFormatEx* format) {
  if (!format) return {};
  const auto* p = reinterpret_cast<const std::uint8_t*>(format);
  return std::vector<std::uint8_t>(p, p + wfxSize(format));
}

}  // namespace ripper_window

// ---------------------------------------------------------------------------------------------
// Recording

std::string TFormCDRipper::MakeFileName(int row_offset, const std::string& ext) {
  int row = Grid->Row() + row_offset;
  ripper::TNamingOptions o;
  o.addArtist = FormSettings && FormSettings->AddArtist();
  o.addTitle = FormSettings && FormSettings->AddTitle();
  o.addNumber = FormSettings && FormSettings->AddNumber();
  o.external = ExternalOutput;
  std::string artist = dfsArtist->text().toStdString(), title = dfsTitle->text().toStdString();
  auto name = [&](int r) {
    return ripper::MakeTrackFileName(artist, title, Grid->CellText(colTrack, r),
                                     Grid->CellText(colName, r), ext, o);
  };
  std::string own = name(row);
  auto it = std::find(runRows_.begin(), runRows_.end(), row);
  if (it == runRows_.end()) return own;
  // Tracks of one batch that would get the same name get distinct ones, in row order.
  std::vector<std::string> names;
  for (int r : runRows_) {
    try {
      names.push_back(r < Grid->RowCount() ? name(r) : std::string());
    } catch (...) {
      names.push_back({});
    }
  }
  ripper::MakeDistinct(names);
  return names[static_cast<std::size_t>(it - runRows_.begin())];
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
  SetRecordOne();
  LongTimer.SetEnabled(false);
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
        SetRecordAll();
        RunBatch();
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
void TFormCDRipper::RunBatch() {
  LongTimer.SetEnabled(false);
  ApplyChosenFormat();
  StartBatch();
  // The tracks of this run, whose file names are kept distinct.
  runRows_.clear();
  for (int r = 1; r < Grid->RowCount(); ++r)
    if (Grid->CellText(colSelect, r) == "Yes") runRows_.push_back(r);
  BeginRun();
  Grid->SetRow(1);
  try {
    sbRecordClick();
  } catch (...) {
    EndBatch();
    throw;
  }
  if (!Recording) EndBatch();
}

void TFormCDRipper::sbRecordClick() {
  // When this leaves nothing recording (no track left, or none could start), the run of
  // recordings is over: its log, cue sheet and playlist are written.
  struct FinishGuard {
    TFormCDRipper* w;
    ~FinishGuard() {
      if (!w->Recording) w->FinishRun();
    }
  } finish{this};
  // A name still being edited in the grid is the one the file gets.
  Grid->CommitEdit();
  if (!CheckDirectory()) return;
  int row = Grid->Row();
  if (row < 1 || row >= Grid->RowCount() || Grid->ColCount() < kColumns) return;
  std::string dir = FormSettings->OutputDirectory();
  std::string ext = Mp3Output ? "mp3" : "wav";
  SaveDialog.InitialDir = dir;
  SaveDialog.DefaultExt = "*." + ext;
  if (!BatchMode) {
    runRows_.clear();  // a single track is a run of its own
    BeginRun();
  }
  SaveDialog.FileName = MakeFileName(0, ext);
  if (!BatchMode) LoadWaveFormat();
  BeginTrackFile();
}

bool TFormCDRipper::BeginTrackFile() {
  ApplyChosenFormat();
  std::string dir = FormSettings->OutputDirectory();
  std::string ext = Mp3Output ? "mp3" : "wav";
  auto setOutput = [&] {
    std::string name = MakeFileName(0, ext);
    std::string path = ql::fs::IncludeTrailingPathDelimiter(dir) + name;
    if (Mp3Output)
      MP3Encoder.SetFileName(path);
    else
      WaveFile.Wave()->SetFileName(path);
    // Saved As names the file once it is complete (at the end of the track), never before.
    recordedRow_ = Grid->Row();
    recordedName_ = name;
    recordedSection_ = DiscSection;
    recordedMp3_ = Mp3Output;
  };
  if (BatchMode) {
    std::vector<bool> selected;
    for (int r = 1; r < Grid->RowCount(); ++r)
      selected.push_back(Grid->Cell(colSelect, r) == "Yes");
    int next = ripper::NextSelected(selected, Grid->Row() - 1);
    BatchIndex = next < 0 ? Grid->RowCount() - 1 : next;
    if (next < 0) {
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
  if (FormSettings) {
    FCDReader.SetCopyMode(TMMCDCopyMode(FormSettings->CopyMode()));
    FCDReader.SetReadOffset(FormSettings->ReadOffset());
  }
  // The file name was set by BeginTrackFile for the same row.
  // The tap sums the audio as the reader gives it, before any conversion.
  AudioTap.SetInput(&FCDReader);
  if (Mp3Output)
    ripper::LinkRecording(AudioTap, ACMConverter, Trigger, MP3Encoder);
  else if (Grid->Row() > 0)
    ripper::LinkRecording(AudioTap, ACMConverter, Trigger, WaveFile);
  StartTrack(index);
  BeginRunTrack(index);
  {
    // The file carries the names the grid shows for the track (MP3: ID3, wave: LIST INFO).
    TMMMP3Tags tags;
    const int row = Grid->Row();
    tags.Artist = dfsArtist->text().toStdString();
    tags.Album = dfsTitle->text().toStdString();
    if (row > 0 && row < Grid->RowCount()) {
      tags.Title = Grid->CellText(colName, row);
      tags.Track = std::atoi(Grid->CellText(colTrack, row).c_str());
      tags.TrackCount = std::atoi(Grid->CellText(colTrack, Grid->RowCount() - 1).c_str());
    }
    tags.Year = DiscYear();
    tags.Genre = DiscGenre();
    if (run_) {
      const int k = run_->Find(runTrack_);
      if (k >= 0) tags.Isrc = run_->info.tracks[static_cast<std::size_t>(k)].isrc;
    }
    recordTags_ = tags;
    if (Mp3Output) MP3Encoder.Tags = tags;
  }
  SetRecordingView(true);
  try {
    Trigger.Start();
  } catch (const std::exception& e) {
    // The chain did not start (a file that cannot be made, an encoder that cannot load, a
    // track the reader refuses): the error is shown, nothing names a file and the window goes
    // back to idle.
    StopRecording();
    ExternalOutput = false;
    recordedRow_ = 0;
    EndRunTrack(e.what(), {});
    ql::UI().ShowMessage(e.what());
    ql::Dispatch().Post(alive_, [this] {
      if (!(Trigger.State() & TMMTrigger::stPlaying)) TriggerStop();
    });
  }
}

void TFormCDRipper::TriggerStart() {
  Timer->start();
}

void TFormCDRipper::TriggerStop() {
  Timer->stop();
  // A compressed wave says how many frames it holds, not what its padded last block suggests.
  if (Trigger.GetOutput() == &WaveFile && ACMConverter.FramesEncoded() >= 0)
    WaveFile.Wave()->SetSampleLength(ACMConverter.FramesEncoded());
  try {
    Trigger.Close();
  } catch (...) {
  }
  ResetCounters();
  Recording = false;
  SetRecordingView(false);
  if (!FinishTrackFile()) {
    // The file could not be written whole: the batch ends here and nothing names the file.
    AbortRecording();
    FinishRun();
    LongTimer.SetEnabled(true);
    return;
  }
  switch (TrackEnded(Grid->RowCount())) {
    case ripper::TTrackEnd::kSingle:
      if (ExternalOutput) QueueExternalEncoding(0, Grid->Row(), false);
      FinishRun();
      LongTimer.SetEnabled(true);
      return;
    case ripper::TTrackEnd::kLastOfBatch:
      QueueExternalEncoding(0, BatchIndex + 1, false);
      FinishRun();
      LongTimer.SetEnabled(true);
      return;
    case ripper::TTrackEnd::kNextOfBatch:
      break;
  }
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

std::string TFormCDRipper::RecordingFailure() const {
  // A sector the reader could not read ended the range early: the file is not the track.
  std::string reader = FCDReader.FailureText();
  if (!reader.empty()) return reader;
  // The sink closed itself on a write error or a full disk and removed its unfinished file.
  return recordedMp3_ ? MP3Encoder.FailureText() : WaveFile.FailureText();
}

void TFormCDRipper::DiscardUnreadTrack() {
  if (FCDReader.FailureText().empty()) return;
  WaveFile.DiscardOnClose();
  MP3Encoder.DiscardOnClose();
}

bool TFormCDRipper::FinishTrackFile() {
  int row = recordedRow_;
  std::string name = recordedName_, section = recordedSection_;
  recordedRow_ = 0;
  recordedName_.clear();
  if (row < 1) return true;
  std::string failure = RecordingFailure();
  EndRunTrack(failure, name);
  if (!failure.empty()) {
    // A take cut short by the reader was discarded at the trigger's stop (DiscardUnreadTrack):
    // an earlier file of the name stays as it was.
    ql::UI().ShowMessage(failure);
    return false;
  }
  SetSavedAs(section, row, name);
  return true;
}

void TFormCDRipper::SetSavedAs(const std::string& section, int row, const std::string& name) {
  if (section == DiscSection && row >= 1 && row < Grid->RowCount() && Grid->ColCount() == kColumns)
    Grid->SetCell(colSavedAs, row, Q(name));
  try {
    ripper::StoreSavedAs(SettingsFile(), section, row - 1, name);
  } catch (const std::exception& e) {
    ql::UI().ShowMessage(e.what());
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
  const std::string path = WorkFile("QuillonTrackwell.bin");
  try {
    ql::WriteFileAtomic(path, std::string(ChosenFormat.begin(), ChosenFormat.end()));
  } catch (const std::exception& e) {
    // The format applies to this session still; the user learns that the next one will not
    // have it.
    ql::UI().ShowMessage("Unable to store the wave format in " + path + ": " + e.what());
  }
}

void TFormCDRipper::LoadWaveFormat() {
  std::string bytes;
  try {
    bytes = ql::ReadFileBytes(WorkFile("QuillonTrackwell.bin"));
  } catch (...) {
    return;  // no file: nothing changes
  }
  if (!ripper::IsEmptyWaveFormatFile(bytes)) {
    // A record shorter than its own size field claims, or one that is no usable format, is
    // refused here rather than handed to the converter.
    std::optional<std::vector<std::uint8_t>> format = ripper::ParseStoredWaveFormat(bytes);
    if (!format) return;
    ChosenFormat = *format;
    ACM->SetFormat(reinterpret_cast<const TWaveFormatEx*>(ChosenFormat.data()));
    ApplyChosenFormat();
  } else {
    std::vector<std::uint8_t> current = BytesOf(ACM->Format());
    if (ACM->ChooseFormat(
            current.empty() ? nullptr : reinterpret_cast<const TWaveFormatEx*>(current.data()),
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
    std::string dir = FormSettings ? FormSettings->OutputDirectory() : std::string();
    // Only a safe bare name in the output directory is deleted: a value read from the ini file
    // never reaches a file elsewhere.
    if (auto path = ripper::StoredFileInside(dir, name); path && !dir.empty())
      std::remove(path->c_str());
    Grid->SetCell(colSavedAs, r, "");
    ripper::StoreSavedAs(SettingsFile(), DiscSection, r - 1, "");
  } catch (...) {
    ql::UI().ShowMessage("There is no file to delete, or the file has been moved.");
  }
}

void TFormCDRipper::miDeleteTrackNameClick() {
  int r = Grid->Row();
  if (r >= 1 && r < Grid->RowCount() && Grid->ColCount() == kColumns) Grid->SetCell(colName, r, "");
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
  MP3Encoder.WriteTags = FormMP3Settings->WriteTags();
}

void TFormCDRipper::miEncodeClick() {
  SetEncodeOne();
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
      SetEncodeAll();
      // The batch encodes with the stored MP3 options, as a single Encode does.
      ApplyMp3Settings();
      RunBatch();
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
    SetExternalOne();
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
        SetExternalAll();
        RunBatch();
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
  // Saved As names the wave until the encoder has made the MP3; a failed encoding keeps the
  // wave (its message is shown by the job) and so the wave's name.
  std::string section = DiscSection;
  // The run's log names the MP3 once it is made (a failed encoding keeps the wave's name).
  auto done = [this, section, row, run = run_, track = lastEndedTrack_,
               mp3 = TFormExtMP3Encoder::Underscored(mp3)](const ripper::TEncodeResult& result) {
    if (!result.ok()) return;
    SetSavedAs(section, row, mp3);
    const int k = run ? run->Find(track) : -1;
    if (k < 0 || run->results[static_cast<std::size_t>(k)].status != "ok") return;
    run->results[static_cast<std::size_t>(k)].file = mp3;
    run->results[static_cast<std::size_t>(k)].bytes =
        ripper_window::FileBytes(ql::fs::IncludeTrailingPathDelimiter(run->dir) + mp3);
    if (run->finished && run->sideFiles) WriteRunFiles(*run);
  };
  TBatchBaseEnc::Start(
      std::make_unique<TBatchExtMP3Exec>(*FormExtMP3Encoder, count, dir, wave, dir, mp3, done));
  if (cont) miExtMP3EncoderClick();
  return true;
}
