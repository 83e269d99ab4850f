#include "Sinks.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace ql::waveout {
namespace {

bool AlsaFormat(const WAVEFORMATEX& f, snd_pcm_format_t* out) {
  if (f.nChannels == 0 || f.nSamplesPerSec == 0 || f.nBlockAlign == 0) return false;
  if (f.nBlockAlign != f.nChannels * ((f.wBitsPerSample + 7) / 8)) return false;
  if (f.wFormatTag == WAVE_FORMAT_PCM) {
    switch (f.wBitsPerSample) {
      case 8:
        *out = SND_PCM_FORMAT_U8;
        return true;
      case 16:
        *out = SND_PCM_FORMAT_S16_LE;
        return true;
      case 24:
        *out = SND_PCM_FORMAT_S24_3LE;
        return true;
      case 32:
        *out = SND_PCM_FORMAT_S32_LE;
        return true;
    }
  } else if (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && f.wBitsPerSample == 32) {
    *out = SND_PCM_FORMAT_FLOAT_LE;
    return true;
  }
  return false;
}

class AlsaSink final : public Sink {
 public:
  AlsaSink(std::string pcm, std::string config)
      : name_(std::move(pcm)), config_(std::move(config)) {}
  ~AlsaSink() override { CloseAll(); }

  MMRESULT Open(const WAVEFORMATEX& format, bool query) override {
    snd_pcm_format_t fmt;
    if (!AlsaFormat(format, &fmt)) return WAVERR_BADFORMAT;
    int rc;
    if (!config_.empty()) {
      snd_input_t* in = nullptr;
      if (snd_config_top(&top_) < 0) return MMSYSERR_NOMEM;
      if (snd_input_buffer_open(&in, config_.data(), static_cast<ssize_t>(config_.size())) < 0)
        return MMSYSERR_NOMEM;
      rc = snd_config_load(top_, in);
      snd_input_close(in);
      if (rc < 0) {
        CloseAll();
        return MMSYSERR_NODRIVER;
      }
      rc =
          snd_pcm_open_lconf(&pcm_, name_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK, top_);
    } else {
      rc = snd_pcm_open(&pcm_, name_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    }
    if (rc < 0) {
      pcm_ = nullptr;
      CloseAll();
      return rc == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_NODRIVER;
    }
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rate = format.nSamplesPerSec;
    bool ok = snd_pcm_hw_params_any(pcm_, hw) >= 0 &&
              snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
              snd_pcm_hw_params_set_format(pcm_, hw, fmt) >= 0 &&
              snd_pcm_hw_params_set_channels(pcm_, hw, format.nChannels) >= 0 &&
              snd_pcm_hw_params_set_rate(pcm_, hw, rate, 0) >= 0;
    if (!ok || query) {
      CloseAll();
      return ok ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
    }
    unsigned buffer = 200000, period = 20000;
    snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &buffer, nullptr);
    snd_pcm_hw_params_set_period_time_near(pcm_, hw, &period, nullptr);
    if (snd_pcm_hw_params(pcm_, hw) < 0) {
      CloseAll();
      return WAVERR_BADFORMAT;
    }
    canPause_ = snd_pcm_hw_params_can_pause(hw) == 1;
    snd_pcm_uframes_t periodFrames = 0, bufferFrames = 0;
    snd_pcm_hw_params_get_period_size(hw, &periodFrames, nullptr);
    snd_pcm_hw_params_get_buffer_size(hw, &bufferFrames);
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_sw_params_current(pcm_, sw);
    snd_pcm_sw_params_set_start_threshold(pcm_, sw, std::max<snd_pcm_uframes_t>(periodFrames, 1));
    snd_pcm_sw_params_set_avail_min(pcm_, sw, std::max<snd_pcm_uframes_t>(periodFrames, 1));
    snd_pcm_sw_params(pcm_, sw);
    waitMs_ = std::clamp(static_cast<int>(periodFrames * 500 / rate), 2, 50);
    blockAlign_ = format.nBlockAlign;
    return snd_pcm_prepare(pcm_) < 0 ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
  }

  long Write(const char* data, std::size_t bytes) override {
    auto frames = static_cast<snd_pcm_uframes_t>(bytes / blockAlign_);
    if (frames == 0) return 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
      snd_pcm_sframes_t r = snd_pcm_writei(pcm_, data, frames);
      if (r >= 0) {
        written_ += static_cast<std::uint64_t>(r);
        return static_cast<long>(r) * blockAlign_;
      }
      if (r == -EAGAIN) return 0;
      if (r == -EPIPE) played_ = written_;  // an underrun: everything written has played
      if (snd_pcm_recover(pcm_, static_cast<int>(r), 1) < 0) return -1;
    }
    return 0;
  }

  std::uint64_t Played() override {
    snd_pcm_sframes_t delay = 0;
    snd_pcm_state_t state = snd_pcm_state(pcm_);
    std::uint64_t now = written_;
    if (state != SND_PCM_STATE_XRUN && snd_pcm_delay(pcm_, &delay) == 0 && delay > 0)
      now = written_ > static_cast<std::uint64_t>(delay)
                ? written_ - static_cast<std::uint64_t>(delay)
                : 0;
    played_ = std::max(played_, std::min(now, written_));
    return played_;
  }

  void Pause(bool pause) override {
    snd_pcm_state_t state = snd_pcm_state(pcm_);
    if (pause && state == SND_PCM_STATE_RUNNING && canPause_) snd_pcm_pause(pcm_, 1);
    if (!pause && state == SND_PCM_STATE_PAUSED) snd_pcm_pause(pcm_, 0);
  }

  void Reset() override {
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
    written_ = played_ = 0;
  }

  void Flush() override {
    // Below the start threshold the device would wait for more data for ever.
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED && written_ > played_) snd_pcm_start(pcm_);
  }

  int WaitMs() const override { return waitMs_; }

 private:
  void CloseAll() {
    if (pcm_) snd_pcm_close(pcm_);
    pcm_ = nullptr;
    if (top_) snd_config_delete(top_);
    top_ = nullptr;
  }

  std::string name_, config_;
  snd_pcm_t* pcm_ = nullptr;
  snd_config_t* top_ = nullptr;
  bool canPause_ = false;
  int waitMs_ = 10;
  unsigned blockAlign_ = 1;
  std::uint64_t written_ = 0, played_ = 0;
};

class MemorySink final : public Sink {
  using Clock = std::chrono::steady_clock;

 public:
  explicit MemorySink(std::shared_ptr<MemoryStore> store) : store_(std::move(store)) {}

  MMRESULT Open(const WAVEFORMATEX& format, bool) override {
    if (format.nBlockAlign == 0 || format.nSamplesPerSec == 0) return WAVERR_BADFORMAT;
    format_ = format;
    std::lock_guard lock(store_->mutex);
    realTime_ = store_->options.realTime;
    capacity_ = std::max<std::uint64_t>(
        1, static_cast<std::uint64_t>(format.nSamplesPerSec) * store_->options.bufferMs / 1000);
    return MMSYSERR_NOERROR;
  }

  long Write(const char* data, std::size_t bytes) override {
    std::uint64_t frames = bytes / format_.nBlockAlign;
    if (realTime_) {
      std::uint64_t played = Played();
      if (played == written_ && !paused_) {  // idle: the clock starts with this data
        base_ = written_;
        start_ = Clock::now();
      }
      std::uint64_t room = capacity_ > written_ - played ? capacity_ - (written_ - played) : 0;
      frames = std::min(frames, room);
    }
    std::size_t n = static_cast<std::size_t>(frames) * format_.nBlockAlign;
    if (n == 0) return 0;
    {
      std::lock_guard lock(store_->mutex);
      std::string& b = store_->bytes;
      b.append(data, n);
      // Older bytes go in steps of at least a quarter of what is kept, so each is moved a few
      // times at most (whole frames, so what stays starts on a frame).
      const std::size_t keep =
          store_->options.keepBytes / format_.nBlockAlign * format_.nBlockAlign;
      if (b.size() > keep + keep / 4 + 65536) {
        const std::size_t drop = (b.size() - keep) / format_.nBlockAlign * format_.nBlockAlign;
        b.erase(0, drop);
      }
    }
    written_ += frames;
    return static_cast<long>(n);
  }

  std::uint64_t Played() override {
    if (!realTime_) return written_;
    if (paused_) return std::min(base_, written_);
    auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_).count();
    std::uint64_t frames =
        base_ + static_cast<std::uint64_t>(elapsed) * format_.nSamplesPerSec / 1000000;
    return std::min(frames, written_);
  }

  void Pause(bool pause) override {
    if (!realTime_ || pause == paused_) return;
    if (pause)
      base_ = Played();
    else
      start_ = Clock::now();
    paused_ = pause;
  }

  void Reset() override {
    written_ = base_ = 0;
    start_ = Clock::now();
  }

  void Flush() override {}
  int WaitMs() const override { return 5; }

 private:
  std::shared_ptr<MemoryStore> store_;
  WAVEFORMATEX format_{};
  bool realTime_ = false, paused_ = false;
  std::uint64_t capacity_ = 1, written_ = 0, base_ = 0;
  Clock::time_point start_ = Clock::now();
};

}  // namespace

std::unique_ptr<Sink> MakeAlsaSink(const std::string& pcm, const std::string& config) {
  return std::make_unique<AlsaSink>(pcm, config);
}

std::unique_ptr<Sink> MakeMemorySink(std::shared_ptr<MemoryStore> store) {
  return std::make_unique<MemorySink>(std::move(store));
}

}  // namespace ql::waveout
