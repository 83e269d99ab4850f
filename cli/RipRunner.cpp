#include "RipRunner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <list>
#include <thread>

#include "AudioTap.h"
#include "EncoderJob.h"
#include "MMACMCvt.h"
#include "MMBlade.h"
#include "MMTrigg.h"
#include "MMWave.h"
#include "MMWaveFile.h"
#include "RipOutput.h"

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
  std::unique_ptr<OutputFile> wave;  // MP3 jobs: the temporary wave read from the disc
  std::string wavePath;              // external jobs: the wave, complete under its own name
  std::unique_ptr<OutputFile> out;
  // MP3 jobs
  std::unique_ptr<TMMWaveFile> source;
  std::unique_ptr<TMMMP3Encoder> encoder;
  std::unique_ptr<TMMTrigger> trigger;
  bool closedEarly = false;
  std::string error;
  // external jobs
  std::thread thread;
  EncoderResult result;
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
    converter_.SetInput(&tap_);
    trigger_.SetInput(&converter_);
    trigger_.SetBufferSize(32768);
    waveSink_.Wave()->FileMustExist = false;
    waveSink_.OnClose = [this](TMMDSPComponent*) {
      if (trigger_.State() & TMMTrigger::stPlaying) closedEarly_ = true;
    };
    trigger_.OnStop = [this](TMMDSPComponent*) {
      // The encoder closes itself when the disk is full or a write fails.
      if (mp3Sink_ && !mp3Sink_->FileOpened()) closedEarly_ = true;
      const int gen = gen_;
      ql::Dispatch().Post(alive_, [this, gen] { EndRead(gen); });
    };
    trigger_.OnError = [this](TMMDSPComponent*) {
      if (error_.empty()) error_ = trigger_.LastError();
      const int gen = gen_;
      ql::Dispatch().Post(alive_, [this, gen] { EndRead(gen); });
    };
    const ql::TimerId timer =
        s_.progress ? ql::Dispatch().SetTimer(500, [this] { ShowProgress(false); }) : 0;
    ql::Dispatch().Post(alive_, [this] { StartNextRead(); });
    loop_.Run();
    if (timer) ql::Dispatch().KillTimer(timer);
    for (auto& t : committers_) t.join();
    trigger_.SetOutput(nullptr);
  }

 private:
  const RipTrackPlan& Plan(std::size_t k) const { return plan_[k]; }
  std::string Path(const std::string& name) const { return s_.dir + "/" + name; }
  bool Mp3InChain() const { return s_.mp3.on && s_.jobs == 0; }

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
    PrintProgress(results_[current_].number, percent, speed);
  }

  void StartNextRead() {
    while (next_ < plan_.size()) {
      const std::size_t k = next_++;
      TrackResult& r = results_[k];
      if (Plan(k).data) {
        r.reason = "track " + std::to_string(r.number) + " is a data track, not audio";
        if (Plan(k).named)
          r.status = "failed";
        else
          r.status = "skipped";
        continue;
      }
      try {
        BeginRead(k);
        return;
      } catch (const std::exception& e) {
        reading_ = false;
        ++gen_;
        try {
          trigger_.Close();
        } catch (...) {
        }
        mp3Sink_.reset();
        if (readOut_) readOut_->Abandon();
        Fail(r, e.what());
      }
    }
    readingDone_ = true;
    MaybeQuit();
  }

  void BeginRead(std::size_t k) {
    const CDDA_TRACK& t = reader_.TrackList().Tracks[Plan(k).tocIndex];
    std::uint32_t start = t.dwStartMSF, length = t.dwLengthMSF;
    TrimTrackRange(start, length, s_.trimFirst, s_.trimLast);
    if (MSFToFrames(length) == 0) throw EMMCDDAError("the track is too short to record");
    expected_ = static_cast<std::int64_t>(MSFToFrames(length)) * kCDSectorBytes;
    reader_.SetCopyMode(s_.mode);
    reader_.SetRange(start, length);
    tap_.Reset();
    current_ = k;
    closedEarly_ = false;
    error_.clear();
    ++gen_;
    readOut_ = std::make_unique<OutputFile>();
    readOut_->Create(Path(Mp3InChain() ? Plan(k).outName : Plan(k).waveName));
    trigger_.SetOutput(nullptr);
    mp3Sink_.reset();
    if (Mp3InChain()) {
      mp3Sink_ = MakeMp3Encoder(s_.mp3, readOut_->TempPath());
      trigger_.SetOutput(mp3Sink_.get());
    } else {
      waveSink_.Wave()->SetFileName(readOut_->TempPath());
      trigger_.SetOutput(&waveSink_);
    }
    readStart_ = Now();
    lastShown_ = -1;
    reading_ = true;
    trigger_.Start();
  }

  // Why the track just read is not complete, or empty.
  std::string CheckRead(const TrackResult& r) {
    const std::string& sinkFailure = mp3Sink_ ? mp3Sink_->FailureText() : waveSink_.FailureText();
    if (!sinkFailure.empty()) return sinkFailure;
    if (!error_.empty()) return error_;
    if (closedEarly_) return "not enough disk space, the file ends early";
    if (r.audioBytes != expected_)
      return "the track ends early: " + std::to_string(r.audioBytes) + " of " +
             std::to_string(expected_) + " bytes read";
    if (!Mp3InChain() && !s_.format) {
      // The wave must hold every byte read, in a header that says so.
      try {
        TMMWave w;
        w.SetFileName(readOut_->TempPath());
        if (w.DataSize() != r.audioBytes)
          return "the wave file holds " + std::to_string(w.DataSize()) + " of " +
                 std::to_string(r.audioBytes) + " bytes of audio";
      } catch (const std::exception& e) {
        return std::string("the wave file is unreadable: ") + e.what();
      }
    }
    if (FileSize(readOut_->TempPath()) <= 0) return "nothing was written";
    return {};
  }

  void EndRead(int gen) {
    if (gen != gen_ || !reading_) return;
    ShowProgress(true);
    reading_ = false;
    try {
      trigger_.Close();
    } catch (const std::exception& e) {
      if (error_.empty()) error_ = e.what();
    }
    trigger_.SetOutput(nullptr);
    const std::size_t k = current_;
    TrackResult& r = results_[k];
    r.audioBytes = tap_.Bytes();
    r.crc = tap_.Crc();
    std::string why = CheckRead(r);
    mp3Sink_.reset();
    if (!why.empty()) {
      readOut_->Abandon();
      r.file.clear();
      Fail(r, why);
    } else if (!s_.encoder.empty()) {
      // The wave is complete under its own name before the encoder sees it.
      try {
        readOut_->Commit();
        auto job = std::make_unique<EncodeJob>();
        job->track = k;
        job->wavePath = Path(Plan(k).waveName);
        queue_.push_back(std::move(job));
      } catch (const std::exception& e) {
        Fail(r, e.what());
      }
    } else if (s_.mp3.on && s_.jobs > 0) {
      auto job = std::make_unique<EncodeJob>();
      job->track = k;
      job->wave = std::move(readOut_);
      queue_.push_back(std::move(job));
    } else {
      CommitInBackground(k, std::move(readOut_));
    }
    StartJobs();
    StartNextRead();
  }

  // The file goes to the disk (fsync) and under its name while the next track is read: the
  // reading waits for neither.
  void CommitInBackground(std::size_t k, std::unique_ptr<OutputFile> file) {
    ++committing_;
    OutputFile* f = file.release();
    committers_.emplace_back([this, k, f] {
      std::string error;
      try {
        f->Commit();
      } catch (const std::exception& e) {
        error = e.what();
      }
      ql::Dispatch().Post(alive_, [this, k, f, error] {
        delete f;
        TrackResult& r = results_[k];
        if (error.empty()) {
          r.status = "ok";
          r.file = Mp3InChain() ? Plan(k).outName : Plan(k).waveName;
          r.bytes = FileSize(Path(r.file));
        } else {
          Fail(r, error);
        }
        --committing_;
        MaybeQuit();
      });
    });
  }

  void StartJobs() {
    while (running_ < s_.jobs && !queue_.empty()) {
      jobs_.push_back(std::move(queue_.front()));
      queue_.pop_front();
      EncodeJob* job = jobs_.back().get();
      ++running_;
      try {
        job->out = std::make_unique<OutputFile>();
        job->out->Create(Path(Plan(job->track).outName));
        if (s_.encoder.empty())
          StartMp3Job(job);
        else
          StartExternalJob(job);
      } catch (const std::exception& e) {
        job->error = e.what();
        ql::Dispatch().Post(alive_, [this, job] { EndJob(job); });
      }
    }
  }

  void StartMp3Job(EncodeJob* job) {
    job->source = std::make_unique<TMMWaveFile>();
    job->source->Wave()->SetFileName(job->wave->TempPath());
    job->encoder = MakeMp3Encoder(s_.mp3, job->out->TempPath());
    job->trigger = std::make_unique<TMMTrigger>();
    job->trigger->SetInput(job->source.get());
    job->trigger->SetOutput(job->encoder.get());
    job->trigger->SetBufferSize(32768);
    job->trigger->OnStop = [this, job](TMMDSPComponent*) {
      if (!job->encoder->FileOpened()) job->closedEarly = true;
      ql::Dispatch().Post(alive_, [this, job] { EndJob(job); });
    };
    job->trigger->OnError = [this, job](TMMDSPComponent*) {
      if (job->error.empty()) job->error = job->trigger->LastError();
      ql::Dispatch().Post(alive_, [this, job] { EndJob(job); });
    };
    job->trigger->Start();
  }

  void StartExternalJob(EncodeJob* job) {
    std::vector<std::string> argv =
        EncoderArgv(s_.encoder, s_.encoderArgs, job->wavePath, job->out->TempPath());
    job->thread = std::thread([this, job, argv] {
      job->result = RunEncoder(argv);
      ql::Dispatch().Post(alive_, [this, job] { EndJob(job); });
    });
  }

  static std::string EncoderFailure(const EncodeJob& job, const std::string& program,
                                    std::int64_t outSize) {
    const EncoderResult& r = job.result;
    if (!r.started) return "the encoder " + program + " could not be started: " + r.startError;
    if (r.signal) return "the encoder was ended by signal " + std::to_string(r.signal);
    if (r.status != 0) return "the encoder exited with status " + std::to_string(r.status);
    if (outSize <= 0) return "the encoder wrote no output";
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
      try {
        job->trigger->Close();
      } catch (const std::exception& e) {
        if (why.empty()) why = e.what();
      }
      job->trigger->SetOutput(nullptr);
      job->trigger->SetInput(nullptr);
      if (why.empty() && !job->encoder->FailureText().empty()) why = job->encoder->FailureText();
      if (why.empty() && job->closedEarly) why = "not enough disk space, the file ends early";
    }
    if (job->thread.joinable()) job->thread.join();
    const std::int64_t outSize = job->out ? FileSize(job->out->TempPath()) : -1;
    if (why.empty() && !s_.encoder.empty()) why = EncoderFailure(*job, s_.encoder, outSize);
    if (why.empty() && outSize <= 0) why = "nothing was encoded";
    if (why.empty()) {
      try {
        job->out->Commit();
        r.status = "ok";
        r.file = p.outName;
        r.bytes = FileSize(Path(r.file));
        if (job->wave) job->wave->Abandon();
        if (!job->wavePath.empty()) unlink(job->wavePath.c_str());
      } catch (const std::exception& e) {
        why = e.what();
      }
    }
    if (!why.empty()) {
      // The recorded wave stays: the audio is not lost with the encoding.
      if (job->out) job->out->Abandon();
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
    if (readingDone_ && running_ == 0 && queue_.empty() && committing_ == 0) loop_.Quit();
  }

  ql::PollDispatcher& loop_;
  TMMCDReader& reader_;
  const RipSettings& s_;
  const std::vector<RipTrackPlan>& plan_;
  std::vector<TrackResult>& results_;

  TAudioTap tap_;
  TMMACMConverter converter_;
  TMMTrigger trigger_;
  TMMWaveFile waveSink_;
  std::unique_ptr<TMMMP3Encoder> mp3Sink_;
  std::unique_ptr<OutputFile> readOut_;

  std::size_t next_ = 0, current_ = 0;
  bool reading_ = false, readingDone_ = false, closedEarly_ = false;
  int gen_ = 0;
  std::string error_;
  std::int64_t expected_ = 0;
  double readStart_ = 0;
  int lastShown_ = -1;

  std::deque<std::unique_ptr<EncodeJob>> queue_;
  std::list<std::unique_ptr<EncodeJob>> jobs_;
  int running_ = 0;
  int committing_ = 0;
  std::list<std::thread> committers_;
  ql::Alive alive_;
};

}  // namespace

void RunRip(ql::PollDispatcher& loop, TMMCDReader& reader, const RipSettings& settings,
            const std::vector<RipTrackPlan>& plan, std::vector<TrackResult>& results) {
  Runner runner(loop, reader, settings, plan, results);
  runner.Run();
}

}  // namespace trackwell
