// The runs of recordings: what each recorded track was (range, CRC-32 of the audio read,
// skipped sectors, file), the log, cue sheet and playlist written beside the files, and the
// check of the tracks against the AccurateRip database.
#include <sys/stat.h>

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "CDRipper.h"
#include "DiscText.h"
#include "Fs.h"
#include "HttpProt.h"
#include "RipVerify.h"
#include "SafeName.h"
#include "Settings.h"
#include "StringGrid.h"

namespace ripper_window {

std::size_t TRipRun::Entry(int number) {
  auto at = std::find_if(results.begin(), results.end(),
                         [number](const ripper::TrackResult& r) { return r.number >= number; });
  const std::size_t k = static_cast<std::size_t>(at - results.begin());
  if (at == results.end() || at->number != number) {
    results.insert(at, ripper::TrackResult{});
    info.tracks.insert(info.tracks.begin() + static_cast<std::ptrdiff_t>(k), ripper::RipLogTrack{});
  }
  results[k] = ripper::TrackResult{};
  results[k].number = number;
  info.tracks[k] = ripper::RipLogTrack{};
  info.tracks[k].number = number;
  return k;
}

std::int64_t FileBytes(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

int TRipRun::Find(int number) const {
  for (std::size_t k = 0; k < results.size(); ++k)
    if (results[k].number == number) return static_cast<int>(k);
  return -1;
}

std::string AccurateRipReport(const std::vector<ripper::TrackResult>& results,
                              const std::string& failure) {
  std::string text;
  for (const auto& r : results) {
    text += "Track " + std::to_string(r.number) + ": ";
    if (r.arComputed)
      text += r.accurateRip +
              (r.arConfidence > 0 ? " (confidence " + std::to_string(r.arConfidence) + ")" : "");
    else if (r.status != "ok")
      text += "not checked, the recording failed";
    else
      text += "not checked, the track was not read whole";
    text += "\n";
  }
  if (!failure.empty())
    text += failure + "\nThe database could not be asked; the recorded files are kept.\n";
  return text;
}

}  // namespace ripper_window

namespace {

bool IsAudio(const CDDA_TRACK& t) {
  return t.fAudio && !(t.bAttrib & CDDA_ATTR_DATA);
}

}  // namespace

std::string TFormCDRipper::DiscYear() const {
  return cddbSection_ == DiscSection ? cddbYear_ : std::string();
}

std::string TFormCDRipper::DiscGenre() {
  if (cddbSection_ == DiscSection && !cddbGenre_.empty()) return cddbGenre_;
  try {
    return ripper::ParseDiscText(FCDReader.CDText()).genre;
  } catch (...) {
    return {};
  }
}

void TFormCDRipper::BeginRun() {
  const std::string dir = FormSettings ? FormSettings->OutputDirectory() : std::string();
  // Tracks recorded one after another of the same disc into the same folder share one log.
  if (!run_ || run_->section != DiscSection || run_->dir != dir) {
    run_ = std::make_shared<ripper_window::TRipRun>();
    run_->section = DiscSection;
    run_->dir = dir;
  }
  ripper_window::TRipRun& run = *run_;
  run.finished = false;
  runTracks_ = 0;
  run.sideFiles = !FormSettings || FormSettings->SideFiles();
  run.verify = FormSettings && FormSettings->VerifyAccurateRip();
  run.server = FormSettings ? FormSettings->AccurateRipServer() : ripper::kAccurateRipServer;
  ripper::RipLogInfo& info = run.info;
  info.program = std::string("Quillon Trackwell Release ") + QL_VERSION;
  info.source = FCDReader.GetDeviceName();
  const int mode = FormSettings ? FormSettings->CopyMode() : 0;
  info.mode = mode == 1 ? "burst copy" : mode == 2 ? "jitter correction" : "normal copy";
  info.offset = FormSettings ? FormSettings->ReadOffset() : 0;
  // As the disc store keeps them: no line break of a name can start a line of the cue sheet.
  info.artist = ripper::SafeValue(dfsArtist->text().toStdString());
  info.title = ripper::SafeValue(dfsTitle->text().toStdString());
  try {
    info.catalog = ripper::ParseDiscText(FCDReader.CDText()).catalog;
  } catch (...) {
  }
  info.year = DiscYear();
  info.genre = DiscGenre();
  try {
    run.disc = ripper::AccurateRipDiscOf(FCDReader);
  } catch (...) {
    run.disc = {};
  }
  info.cddbId = run.disc.cddbId;
  info.accurateRip = run.verify ? run.disc.Path() : std::string();
}

void TFormCDRipper::BeginRunTrack(int index) {
  AudioTap.Reset();
  runTrack_ = -1;
  stopAsked_ = false;
  const TMMCDTrackList& toc = FCDReader.TrackList();
  if (!run_ || index < 0 || index >= static_cast<int>(toc.dwNumTracks)) return;
  const CDDA_TRACK& t = toc.Tracks[index];
  std::uint32_t start = t.dwStartMSF, length = t.dwLengthMSF;
  TrimTrackRange(start, length);
  const int number = static_cast<int>(t.dwTrack);
  ripper_window::TRipRun& run = *run_;
  const std::size_t k = run.Entry(number);
  ++runTracks_;
  const int row = Grid->Row();
  if (row > 0 && row < Grid->RowCount())
    run.results[k].name = ripper::SafeValue(Grid->CellText(colName, row));
  if (run.results[k].name.empty()) run.results[k].name = std::to_string(number);
  ripper::RipLogTrack& lt = run.info.tracks[k];
  // The track's range on the disc; what was left out of it is told with its status.
  lt.start = MSFToFrames(t.dwStartMSF);
  lt.length = MSFToFrames(t.dwLengthMSF);
  lt.pregap = FCDReader.TrackPregap(index);
  // A file without the whole range no longer lies as the disc does: the cue sheet says so.
  const bool trimmed = start != t.dwStartMSF || length != t.dwLengthMSF;
  lt.fileStart = trimmed ? MSFToFrames(start) : 0;
  lt.fileLength = trimmed ? MSFToFrames(length) : 0;
  runTrimmed_.clear();
  if (start != t.dwStartMSF) runTrimmed_ = "the first second left out";
  if (MSFToFrames(start) + MSFToFrames(length) != lt.start + lt.length)
    runTrimmed_ += std::string(runTrimmed_.empty() ? "the" : ", the") + " last second left out";
  try {
    const ripper::TDiscText text = ripper::ParseDiscText(FCDReader.CDText());
    if (const ripper::TTrackText* tt = text.Track(number)) lt.isrc = tt->isrc;
  } catch (...) {
  }
  runExpected_ = static_cast<std::int64_t>(MSFToFrames(length)) * 2352;
  // AccurateRip sums whole tracks only; its first and last tracks are the disc's audio ones.
  if (run.verify && start == t.dwStartMSF && length == t.dwLengthMSF) {
    int first = -1, last = -1;
    for (int i = 0; i < static_cast<int>(toc.dwNumTracks); ++i)
      if (IsAudio(toc.Tracks[i])) {
        if (first < 0) first = i;
        last = i;
      }
    AudioTap.SumAccurateRip(static_cast<std::uint32_t>(runExpected_ / 4), index == first,
                            index == last);
  }
  runTrack_ = number;
}

void TFormCDRipper::EndRunTrack(const std::string& failure, const std::string& file) {
  if (!run_ || runTrack_ < 0) return;
  const int k = run_->Find(runTrack_);
  lastEndedTrack_ = runTrack_;
  runTrack_ = -1;
  if (k < 0) return;
  ripper::TrackResult& r = run_->results[static_cast<std::size_t>(k)];
  r.audioBytes = AudioTap.Bytes();
  r.crc = AudioTap.Crc();
  r.skippedSectors = static_cast<long>(FCDReader.SkippedSectors());
  std::string why = failure;
  if (why.empty() && r.audioBytes != runExpected_)
    why = std::string(stopAsked_ ? "stopped by the user" : "the track ends early") + ": " +
          std::to_string(r.audioBytes) + " of " + std::to_string(runExpected_) + " bytes read";
  // A file that was not finished is gone (or was never made); one cut short by Stop stays.
  r.file = failure.empty() ? file : std::string();
  r.bytes =
      r.file.empty()
          ? 0
          : ripper_window::FileBytes(ql::fs::IncludeTrailingPathDelimiter(run_->dir) + r.file);
  r.status = why.empty() ? "ok" : "failed";
  r.reason = why.empty() ? runTrimmed_ : why;
  r.arComputed = why.empty() && AudioTap.SumsAccurateRip() &&
                 AudioTap.AccurateRip().Frames() * 4 == static_cast<std::uint64_t>(runExpected_);
  if (r.arComputed) {
    r.arV1 = AudioTap.AccurateRip().V1();
    r.arV2 = AudioTap.AccurateRip().V2();
    r.accurateRip = "unverified";
  }
}

void TFormCDRipper::FinishRun() {
  std::shared_ptr<ripper_window::TRipRun> run = run_;
  if (!run || run->finished) return;
  // Once: the AccurateRip request below waits in a loop that runs posted calls, the end of a
  // track among them.
  run->finished = true;
  try {
    // A track whose end never came (the chain did not start) is no good track.
    if (runTrack_ >= 0) EndRunTrack("the recording did not start", {});
    // A command that recorded nothing leaves the files of earlier recordings as they are.
    if (runTracks_ == 0) return;
    std::string report;
    if (run->verify) report = ripper_window::AccurateRipReport(run->results, VerifyRun(*run));
    if (run->sideFiles) WriteRunFiles(*run);
    if (!report.empty()) ql::UI().InfoBox(report, "AccurateRip");
  } catch (const std::exception& e) {
    ql::UI().ErrorBox(e.what());
  } catch (...) {
    // Also called while an error unwinds a record command: nothing may leave here.
  }
}

std::string TFormCDRipper::VerifyRun(ripper_window::TRipRun& run) {
  if (std::none_of(run.results.begin(), run.results.end(),
                   [](const ripper::TrackResult& r) { return r.arComputed; }))
    return {};
  // Each answer is this request's: none of an earlier check stays.
  for (auto& r : run.results) r.arConfidence = 0;
  ql::net::THttpCli cli;
  // The request waits in a loop that keeps the windows painted; only its progress window, with
  // Abort, can be used meanwhile (as during a CDDB lookup).
  auto* progress = new QDialog(this);
  progress->setObjectName("AccurateRipProgress");
  progress->setWindowTitle("AccurateRip");
  auto* layout = new QVBoxLayout(progress);
  layout->addWidget(new QLabel("Looking the tracks up in the AccurateRip database...", progress));
  auto* abort = new QPushButton("&Abort", progress);
  abort->setObjectName("pbAbort");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(abort);
  layout->addLayout(buttons);
  QObject::connect(abort, &QPushButton::clicked, progress, [&cli] { cli.Abort(); });
  const bool wasEnabled = isEnabled();
  setEnabled(false);
  progress->setEnabled(true);
  progress->show();
  std::string why;
  try {
    why = ripper::VerifyAccurateRip(run.disc, run.server, run.results, cli);
  } catch (const std::exception& e) {
    why = std::string("AccurateRip: ") + e.what();
  }
  delete progress;
  setEnabled(wasEnabled);
  return why;
}

void TFormCDRipper::WriteRunFiles(ripper_window::TRipRun& run) {
  try {
    ripper::WriteRipSideFiles(run.dir, run.info, run.results);
  } catch (const std::exception& e) {
    const std::string base =
        ql::fs::IncludeTrailingPathDelimiter(run.dir) + ripper::RipSideFileBase(run.info);
    ql::UI().ErrorBox("The log, cue sheet and playlist of the recording (" + base + ".log, " +
                      base + ".cue, " + base + ".m3u) could not be written: " + e.what());
  }
}
