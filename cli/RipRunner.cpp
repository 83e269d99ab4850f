#include "RipRunner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <deque>
#include <future>
#include <list>
#include <thread>

#include "AudioTap.h"
#include "Chains.h"
#include "EncoderJob.h"
#include "MMACMCvt.h"
#include "MMBlade.h"
#include "MMTrigg.h"
#include "MMWave.h"
#include "MMWaveFile.h"
#include "PartialFile.h"
#include "Process.h"

namespace trackwell {

namespace {

std::int64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One track's encoding after it was read: the MP3 encoder on a chain of its own, or an
// external program on a thread of its own.
struct EncodeJob {
  std::size_t track = 0;
  std::unique_ptr<ql::PartialFile> wave;  // MP3 jobs: the wave read from the disc, held unnamed
  std::string wavePath;                   // external jobs: the wave, complete under its own name
  std::unique_ptr<ql::PartialFile> out;
  // MP3 jobs
  std::unique_ptr<TMMWaveFile> source;
  std::unique_ptr<TMMMP3Encoder> encoder;
  std::unique_ptr<TMMTrigger> trigger;
  bool closedEarly = false;
  std::string error;
  // external jobs
  std::thread thread;
  bool started = false;
  int exitCode = -1;
  bool finished = false;
};

class Runner {
 public:
  Runner(ql::PollDispatcher& loop, TMMCDReader& reader, const RipSettings& s,
         const std::vector<RipTrackPlan>& plan, std::vector<TrackResult>& results)
      : loop_(loop), reader_(reader), s_(s), plan_(plan), results_(results) {}

  void Run() {
    tap_.SetInput(&reader_);
    converter_.Name = "ACMConverter";
    converter_.SetEnabled(s_.format != nullptr);
    converter_.SetQuality(s_.highQuality ? cqHigh : cqLow);
    if (s_.format) converter_.SetWaveFormat(s_.format);
    ripper::InitTrigger(trigger_);
    // The wave is created under a temporary name whatever the target name holds, and handed
    // over complete but unnamed: it takes its name only once the track proved whole.
    waveSink_.Wave()->FileMustExist = false;
    waveSink_.Wave()->IgnoreExisting = true;
    waveSink_.Wave()->HoldOnClose = true;
    waveSink_.OverwriteExisting = true;
    // Large writes: fewer calls into the system for the same bytes.
    waveSink_.Wave()->SetIOBufferSize(1 << 20);
    // The file is created at open, on this thread: its texts go in before any audio.
    waveSink_.OnOpen = [this](TMMDSPComponent*) {
      SetWaveInfoTags(*waveSink_.Wave(), Plan(current_).tags);
    };
    waveSink_.OnClose = [this](TMMDSPComponent*) {
      if (trigger_.State() & TMMTrigger::stPlaying) closedEarly_ = true;
    };
    trigger_.OnStop = [this](TMMDSPComponent*) {
      // The encoder closes itself when the disk is full or a write fails.
      if (mp3Sink_ && !mp3Sink_->FileOpened()) closedEarly_ = true;
      // The chain closes after this: a track that was not read whole must not be finished
      // under its name. A sector the reader could not read ended the range early.
      if (!reading_) return;
      skipped_ = reader_.SkippedSectors();
      if (error_.empty()) error_ = reader_.FailureText();
      if (error_.empty() && tap_.Bytes() != expected_)
        error_ = "the track ends early: " + std::to_string(tap_.Bytes()) + " of " +
                 std::to_string(expected_) + " bytes read";
      if (!error_.empty()) DiscardTake();
      const int gen = gen_;
      ql::Dispatch().Post(alive_, [this, gen] { EndRead(gen); });
    };
    trigger_.OnError = [this](TMMDSPComponent*) {
      // Fires before the trigger closes the chain after a failure on its thread.
      if (error_.empty()) error_ = trigger_.LastError();
      if (error_.empty()) error_ = reader_.FailureText();
      DiscardTake();
      const int gen = gen_;
      ql::Dispatch().Post(alive_, [this, gen] { EndRead(gen); });
    };
    const ql::TimerId timer = ql::Dispatch().SetTimer(250, [this] {
      if (++ticks_ % 2 == 0) ShowProgress(false);
      StartWriteback();
    });
    ql::Dispatch().Post(alive_, [this] { StartNextRead(); });
    loop_.Run();
    ql::Dispatch().KillTimer(timer);
    trigger_.SetOutput(nullptr);
    // A track counts as written only once its file is on the disk under its name.
    for (auto& [k, commit] : commits_) {
      const std::string why = commit.get();
      if (why.empty()) continue;
      TrackResult& r = results_[k];
      r.file.clear();
      r.bytes = 0;
      Fail(r, why);
    }
  }

 private:
  const RipTrackPlan& Plan(std::size_t k) const { return plan_[k]; }
  std::string Path(const std::string& name) const { return s_.dir + "/" + name; }
  bool Mp3InChain() const { return s_.mp3.on && s_.jobs == 0; }
  bool Mp3Jobs() const { return s_.mp3.on && s_.jobs > 0; }

  // The file components write under a temporary name and rename it when they close; this
  // makes the next close drop the file instead.
  void DiscardTake() {
    if (testing_) return;  // nothing is written by a test read
    if (mp3Sink_)
      mp3Sink_->DiscardOnClose();
    else
      waveSink_.DiscardOnClose();
  }

  static void Fail(TrackResult& r, const std::string& why) {
    r.status = "failed";
    if (r.reason.empty()) r.reason = why;
  }

  void ShowProgress(bool end) {
    if (!s_.progress || !reading_ || expected_ <= 0) return;
    const std::int64_t bytes = tap_.Bytes();
    const int percent = end ? 100 : static_cast<int>(bytes * 100 / expected_);
    if (percent == lastShown_) return;
    lastShown_ = percent;
    const double seconds = Now() - readStart_;
    const double speed = seconds > 0 ? static_cast<double>(bytes) / 176400.0 / seconds : 0.0;
    PrintProgress(results_[current_].number, percent, speed, testing_);
  }

  // The files being written are synced when they close; their data starts for the disk now,
  // so that sync finds little left and the disk works while the reading goes on.
  void StartWriteback() {
    if (!reading_ || !s_.sync) return;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return;
    const std::string prefix = s_.dir + "/.";
    while (dirent* e = readdir(d)) {
      char target[PATH_MAX];
      const std::string link = std::string("/proc/self/fd/") + e->d_name;
      const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      const std::string t(target, static_cast<std::size_t>(n));
      if (t.compare(0, prefix.size(), prefix) == 0 && t.size() > 7 &&
          t.compare(t.size() - 7, 7, ".qlpart") == 0)
        sync_file_range(std::atoi(e->d_name), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    closedir(d);
  }

  void StartNextRead() {
    while (copyNext_ || next_ < plan_.size()) {
      const bool copy = copyNext_;
      copyNext_ = false;
      const std::size_t k = copy ? current_ : next_++;
      TrackResult& r = results_[k];
      if (Plan(k).data) {
        r.reason = "Track " + std::to_string(r.number) + " is a data track: it holds no audio";
        if (Plan(k).named)
          r.status = "failed";
        else
          r.status = "skipped";
        continue;
      }
      try {
        BeginRead(k, s_.testAndCopy && !copy);
        return;
      } catch (const std::exception& e) {
        reading_ = false;
        testing_ = false;
        ++gen_;
        try {
          trigger_.Close();
        } catch (...) {
        }
        trigger_.SetOutput(nullptr);
        mp3Sink_.reset();
        readOut_ = waveSink_.Wave()->TakeFinished();
        readOut_.reset();
        Fail(r, e.what());
      }
    }
    readingDone_ = true;
    MaybeQuit();
  }

  // With `test`, the first read of test and copy: the track is only read, for its CRC-32.
  void BeginRead(std::size_t k, bool test) {
    std::uint32_t start = 0, length = 0;
    if (Plan(k).tocIndex < 0) {
      if (!reader_.HiddenTrackRange(start, length))
        throw EMMCDDAError("no hidden track before track 1 on the disc");
    } else {
      const CDDA_TRACK& t = reader_.TrackList().Tracks[Plan(k).tocIndex];
      start = t.dwStartMSF;
      length = t.dwLengthMSF;
    }
    TrimTrackRange(start, length, s_.trimFirst, s_.trimLast);
    if (MSFToFrames(length) == 0) throw EMMCDDAError("the track is too short to record");
    expected_ = static_cast<std::int64_t>(MSFToFrames(length)) * kCDSectorBytes;
    reader_.SetCopyMode(s_.mode);
    reader_.SetRange(start, length);
    tap_.Reset();
    // AccurateRip sums whole tracks of the table only (of the copy).
    if (s_.accurateRip && !test && Plan(k).tocIndex >= 0 && !s_.trimFirst && !s_.trimLast)
      tap_.SumAccurateRip(static_cast<std::uint32_t>(expected_ / 4), Plan(k).firstAudio,
                          Plan(k).lastAudio);
    current_ = k;
    closedEarly_ = false;
    error_.clear();
    skipped_ = 0;
    ++gen_;
    // The components make the file appear under its name only when it is complete. The wave
    // component hands its file over unnamed (readOut_): it is named once the track proved
    // whole, and a wave that is only the input of the MP3 workers never gets a name.
    readOut_.reset();
    const std::string file = Path(Mp3InChain() ? Plan(k).outName : Plan(k).waveName);
    trigger_.SetOutput(nullptr);
    mp3Sink_.reset();
    testing_ = test;
    if (test) {
      // Straight from the disc to nowhere: no conversion, no file.
      converter_.SetInput(nullptr);
      trigger_.SetInput(&tap_);
      discard_.SetInput(&trigger_);
    } else if (Mp3InChain()) {
      mp3Sink_ = MakeMp3Encoder(s_.mp3, file);
      mp3Sink_->Tags = Plan(k).tags;
      ripper::LinkRecording(tap_, converter_, trigger_, *mp3Sink_);
    } else {
      waveSink_.Wave()->SetFileName(file);
      ripper::LinkRecording(tap_, converter_, trigger_, waveSink_);
    }
    readStart_ = Now();
    lastShown_ = -1;
    reading_ = true;
    trigger_.Start();
  }

  void EndRead(int gen) {
    if (gen != gen_ || !reading_) return;
    ShowProgress(true);
    reading_ = false;
    if (testing_) {
      EndTestRead();
      return;
    }
    std::string why = error_;
    // A compressed wave says how many frames it holds, not what its padded last block suggests.
    if (!mp3Sink_ && converter_.FramesEncoded() >= 0)
      waveSink_.Wave()->SetSampleLength(converter_.FramesEncoded());
    try {
      trigger_.Close();
    } catch (const std::exception& e) {
      if (why.empty()) why = e.what();
    }
    const std::string& sinkFailure = mp3Sink_ ? mp3Sink_->FailureText() : waveSink_.FailureText();
    if (why.empty()) why = sinkFailure;
    if (why.empty() && closedEarly_) why = "not enough disk space, the file ends early";
    trigger_.SetOutput(nullptr);
    mp3Sink_.reset();
    if (!Mp3InChain()) readOut_ = waveSink_.Wave()->TakeFinished();
    if (why.empty() && !Mp3InChain() && !readOut_) why = "nothing was written";
    const std::size_t k = current_;
    TrackResult& r = results_[k];
    r.audioBytes = tap_.Bytes();
    r.crc = tap_.Crc();
    r.skippedSectors = skipped_;
    if (s_.accurateRip && Plan(k).tocIndex >= 0 && !s_.trimFirst && !s_.trimLast && why.empty() &&
        tap_.AccurateRip().Frames() * 4 == static_cast<std::uint64_t>(expected_)) {
      r.arComputed = true;
      r.arV1 = tap_.AccurateRip().V1();
      r.arV2 = tap_.AccurateRip().V2();
    }
    const std::string file = Path(Mp3InChain() ? Plan(k).outName : Plan(k).waveName);
    const std::string written = readOut_ ? readOut_->TempPath() : file;
    if (why.empty() && FileSize(written) <= 0) why = "nothing was written";
    if (!why.empty()) {
      if (readOut_) readOut_->Abandon();
      r.file.clear();
      Fail(r, why);
    } else if (Mp3Jobs()) {
      auto job = std::make_unique<EncodeJob>();
      job->track = k;
      job->wave = std::move(readOut_);
      queue_.push_back(std::move(job));
    } else {
      try {
        if (readOut_ && s_.encoder.empty()) {
          // The sync and rename of a finished wave run beside the reading of the next track:
          // the disk writes while the drive reads.
          r.status = "ok";
          r.file = Plan(k).waveName;
          r.bytes = FileSize(readOut_->TempPath());
          commits_.emplace_back(
              k, std::async(std::launch::async,
                            [out = std::move(readOut_), sync = s_.sync]() -> std::string {
                              try {
                                out->Commit(sync);
                                return {};
                              } catch (const std::exception& e) {
                                return e.what();
                              }
                            }));
        } else {
          if (readOut_) readOut_->Commit();
          if (s_.encoder.empty()) {
            r.status = "ok";
            r.file = Mp3InChain() ? Plan(k).outName : Plan(k).waveName;
            r.bytes = FileSize(file);
          } else {
            // The wave is complete under its own name before the encoder sees it.
            auto job = std::make_unique<EncodeJob>();
            job->track = k;
            job->wavePath = file;
            queue_.push_back(std::move(job));
          }
        }
      } catch (const std::exception& e) {
        Fail(r, e.what());
      }
    }
    StartJobs();
    StartNextRead();
  }

  // The test read ended: a track that could not be read whole fails as a copy would; else
  // the copy follows.
  void EndTestRead() {
    std::string why = error_;
    try {
      trigger_.Close();
    } catch (const std::exception& e) {
      if (why.empty()) why = e.what();
    }
    trigger_.SetOutput(nullptr);
    testing_ = false;
    TrackResult& r = results_[current_];
    r.tested = why.empty();
    r.testCrc = tap_.Crc();
    if (!why.empty()) {
      r.audioBytes = tap_.Bytes();
      r.crc = tap_.Crc();
      r.skippedSectors = skipped_;
      Fail(r, why);
    } else {
      copyNext_ = true;
    }
    StartNextRead();
  }

  void StartJobs() {
    while (running_ < s_.jobs && !queue_.empty()) {
      jobs_.push_back(std::move(queue_.front()));
      queue_.pop_front();
      EncodeJob* job = jobs_.back().get();
      ++running_;
      try {
        if (s_.encoder.empty())
          StartMp3Job(job);
        else
          StartExternalJob(job);
      } catch (const std::exception& e) {
        if (job->error.empty()) job->error = e.what();
        ql::Dispatch().Post(alive_, [this, job] { EndJob(job); });
      }
    }
  }

  // The MP3 encoder writes the final name itself (under a temporary one until it closes).
  void StartMp3Job(EncodeJob* job) {
    job->source = std::make_unique<TMMWaveFile>();
    job->source->Wave()->SetFileName(job->wave->TempPath());
    job->encoder = MakeMp3Encoder(s_.mp3, Path(Plan(job->track).outName));
    job->encoder->Tags = Plan(job->track).tags;
    job->trigger = std::make_unique<TMMTrigger>();
    ripper::InitTrigger(*job->trigger);
    job->trigger->SetInput(job->source.get());
    job->encoder->SetInput(job->trigger.get());
    job->trigger->OnStop = [this, job](TMMDSPComponent*) {
      if (!job->encoder->FileOpened()) job->closedEarly = true;
      ql::Dispatch().Post(alive_, [this, job] { EndJob(job); });
    };
    job->trigger->OnError = [this, job](TMMDSPComponent*) {
      if (job->error.empty()) job->error = job->trigger->LastError();
      job->encoder->DiscardOnClose();
      ql::Dispatch().Post(alive_, [this, job] { EndJob(job); });
    };
    job->trigger->Start();
  }

  // An external program writes a hidden name, renamed when it succeeded.
  void StartExternalJob(EncodeJob* job) {
    // The temporary keeps the output's extension: encoders that pick the format by the name.
    job->out = std::make_unique<ql::PartialFile>(Path(Plan(job->track).outName), true);
    std::vector<std::string> argv =
        ripper::EncoderArgv(s_.encoder, s_.encoderArgs, job->wavePath, job->out->TempPath());
    job->thread = std::thread([this, job, argv] {
      const int pid = ql::process::Start(argv, ql::process::kHide);
      job->started = pid >= 0;
      if (pid >= 0) job->exitCode = ql::process::Wait(pid);
      ql::Dispatch().Post(alive_, [this, job] { EndJob(job); });
    });
  }

  std::string EncoderFailure(const EncodeJob& job, std::int64_t outSize) const {
    const std::string program = "the encoder \"" + s_.encoder + "\"";
    if (!job.started) return program + " could not be started";
    if (job.exitCode < 0) return program + " ended abnormally";
    if (job.exitCode != 0) return program + " exited with status " + std::to_string(job.exitCode);
    if (outSize <= 0) return program + " wrote no output";
    return {};
  }

  void EndJob(EncodeJob* job) {
    if (job->finished) return;
    job->finished = true;
    --running_;
    TrackResult& r = results_[job->track];
    const RipTrackPlan& p = Plan(job->track);
    std::string why = job->error;
    if (job->trigger) {
      if (!why.empty()) job->encoder->DiscardOnClose();
      try {
        job->trigger->Close();
      } catch (const std::exception& e) {
        if (why.empty()) why = e.what();
      }
      job->encoder->SetInput(nullptr);
      job->trigger->SetInput(nullptr);
      if (why.empty()) why = job->encoder->FailureText();
      if (why.empty() && job->closedEarly) why = "not enough disk space, the file ends early";
      if (why.empty() && FileSize(Path(p.outName)) <= 0) why = "nothing was encoded";
    }
    if (job->thread.joinable()) job->thread.join();
    if (job->out) {
      if (why.empty()) why = EncoderFailure(*job, FileSize(job->out->TempPath()));
      if (why.empty()) {
        try {
          job->out->Commit();
        } catch (const std::exception& e) {
          why = e.what();
        }
      }
      if (!why.empty()) job->out->Abandon();
    }
    if (why.empty()) {
      // The output is complete under its name: the wave may go.
      r.status = "ok";
      r.file = p.outName;
      r.bytes = FileSize(Path(r.file));
      if (job->wave) job->wave->Abandon();
      if (!job->wavePath.empty()) unlink(job->wavePath.c_str());
    } else {
      // The recorded wave stays: the audio is not lost with the encoding.
      if (job->wave) {
        try {
          job->wave->Commit();
        } catch (const std::exception& e) {
          why += "; the wave could not be kept: " + std::string(e.what());
        }
      }
      r.file = FileSize(Path(p.waveName)) >= 0 ? p.waveName : std::string();
      r.bytes = r.file.empty() ? 0 : FileSize(Path(p.waveName));
      Fail(r, why);
    }
    job->trigger.reset();
    job->encoder.reset();
    job->source.reset();
    StartJobs();
    MaybeQuit();
  }

  void MaybeQuit() {
    if (readingDone_ && running_ == 0 && queue_.empty()) loop_.Quit();
  }

  ql::PollDispatcher& loop_;
  TMMCDReader& reader_;
  const RipSettings& s_;
  const std::vector<RipTrackPlan>& plan_;
  std::vector<TrackResult>& results_;

  ripper::TAudioTap tap_;
  TMMACMConverter converter_;
  TMMTrigger trigger_;
  TMMWaveFile waveSink_;
  TMMDSPComponent discard_;  // the end of the chain of a test read
  std::unique_ptr<TMMMP3Encoder> mp3Sink_;
  std::unique_ptr<ql::PartialFile> readOut_;
  std::vector<std::pair<std::size_t, std::future<std::string>>> commits_;

  std::size_t next_ = 0, current_ = 0;
  bool reading_ = false, readingDone_ = false, closedEarly_ = false;
  bool testing_ = false;   // the running read is the test read of test and copy
  bool copyNext_ = false;  // the copy of the track just tested comes next
  int gen_ = 0;
  unsigned ticks_ = 0;
  std::uint32_t skipped_ = 0;
  std::string error_;
  std::int64_t expected_ = 0;
  double readStart_ = 0;
  int lastShown_ = -1;

  std::deque<std::unique_ptr<EncodeJob>> queue_;
  std::list<std::unique_ptr<EncodeJob>> jobs_;
  int running_ = 0;
  ql::Alive alive_;
};

}  // namespace

void RunRip(ql::PollDispatcher& loop, TMMCDReader& reader, const RipSettings& settings,
            const std::vector<RipTrackPlan>& plan, std::vector<TrackResult>& results) {
  Runner runner(loop, reader, settings, plan, results);
  runner.Run();
}

}  // namespace trackwell
