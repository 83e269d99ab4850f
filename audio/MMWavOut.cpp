#include "MMWavOut.h"

#include <chrono>
#include <cstring>

namespace {
const std::string kChangeWhileOpen = "Change to property while device was open";
const std::string kNoDevice = "No wave audio playing device found";

template <class Pred>
bool WaitSteps(Pred done, int steps, bool pump) {
  for (int i = 0; i < steps; ++i) {
    if (done()) return true;
    auto* d = ql::CurrentDispatcher();
    if (pump && d && d->IsUiThread()) d->ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}
}  // namespace

// ---- the worker of cmThread ----

class TMMWaveOut::Worker {
 public:
  explicit Worker(TMMWaveOut* owner) : owner_(owner) {}
  ~Worker() { Quit(); }

  bool Start() {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (...) {
      return false;
    }
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, std::chrono::milliseconds(5000), [this] { return ready_; });
  }
  void Post(PWaveHdr hdr, unsigned gen) {
    {
      std::lock_guard lock(m_);
      queue_.push_back({hdr, gen});
    }
    cv_.notify_all();
  }
  // Drops every completion not handled yet and waits until none is being handled.
  void Flush() {
    std::unique_lock lock(m_);
    dropped_ += static_cast<int>(queue_.size());
    queue_.clear();
    cv_.wait_for(lock, std::chrono::milliseconds(5000), [this] { return !busy_; });
  }
  void Quit() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(m_);
      quit_ = true;
    }
    cv_.notify_all();
    if (std::this_thread::get_id() == thread_.get_id())
      thread_.detach();
    else
      thread_.join();
  }
  int TakeDropped() {
    std::lock_guard lock(m_);
    int n = dropped_;
    dropped_ = 0;
    return n;
  }

 private:
  void Run() {
    {
      std::lock_guard lock(m_);
      ready_ = true;
    }
    cv_.notify_all();
    for (;;) {
      std::pair<PWaveHdr, unsigned> item;
      {
        std::unique_lock lock(m_);
        cv_.wait(lock, [this] { return quit_ || !queue_.empty(); });
        if (quit_) return;
        item = queue_.front();
        queue_.pop_front();
        busy_ = true;
      }
      {
        std::lock_guard l(owner_->mutex_);
        --owner_->pendingDone_;
      }
      try {
        owner_->HandleDone(item.first, item.second);
      } catch (const std::exception& e) {
        owner_->ReportFailure(e);
      }
      {
        std::lock_guard lock(m_);
        busy_ = false;
      }
      cv_.notify_all();
    }
  }

  TMMWaveOut* owner_;
  std::thread thread_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::pair<PWaveHdr, unsigned>> queue_;
  bool ready_ = false, quit_ = false, busy_ = false;
  int dropped_ = 0;
};

// ---- construction and properties ----

TMMWaveOut::TMMWaveOut() {
  numDevs_ = ql::waveOutGetNumDevs();
  deviceId_ = 1;  // so that SetDeviceID(0) fills the product name
  SetDeviceID(0);
}

TMMWaveOut::~TMMWaveOut() {
  TMMComponent::state_ |= csDestroying;
  try {
    Close();
  } catch (...) {
  }
  if (devState_ & stOpen) {
    // A completion handler is still running: let it end, then finish the stop and the close.
    WaitSteps(
        [this] {
          std::lock_guard lock(mutex_);
          return handlers_ == 0;
        },
        6000, false);
    try {
      {
        std::lock_guard lock(mutex_);
        stopPending_ = false;
      }
      closePending_ = false;
      closing_ = false;
      Stop();
      Close();
    } catch (...) {
    }
  }
  alive_.Kill();
  StopWorker();
}

bool TMMWaveOut::HasPublishedProperty(const std::string& name) const {
  static const char* const own[] = {
      "NumBuffers", "DeviceID",      "ProductName", "TimeFormat", "CallBackMode",  "Looping",
      "LoopCount",  "ShowHourGlass", "OnError",     "OnOpen",     "OnStart",       "OnPause",
      "OnRestart",  "OnStop",        "OnClose",     "OnLooping",  "OnBufferFilled"};
  for (const char* p : own)
    if (name == p) return true;
  return TMMCustomSoundComponent::HasPublishedProperty(name);
}

void TMMWaveOut::SetBufferSize(int size) {
  if (devState_ & stOpen) Raise(kChangeWhileOpen);
  TMMDSPComponent::SetBufferSize(std::max(size, 32));
}

void TMMWaveOut::SetNumBuffers(int n) {
  if (devState_ & stOpen) Raise(kChangeWhileOpen);
  if (n <= 1) return;
  numBuffers_ = std::min(n, kMaxWaveOutBuffers);
}

void TMMWaveOut::SetDeviceID(int id) {
  if (devState_ & stOpen) Raise(kChangeWhileOpen);
  if (id == deviceId_) return;
  productName_ = kNoDevice;
  if (id >= -1 && id < static_cast<int>(numDevs_)) {
    const std::uint32_t dev = id < 0 ? ql::WAVE_MAPPER : static_cast<std::uint32_t>(id);
    if (ql::waveOutGetDevCaps(dev, &caps_, sizeof caps_) == ql::MMSYSERR_NOERROR)
      productName_ = caps_.szPname;
    deviceId_ = id;
  } else {
    deviceId_ = -2;
  }
}

void TMMWaveOut::SetCallBackMode(TMMCBMode mode) {
  if (devState_ & stOpen) Raise(kChangeWhileOpen);
  // Completions here come on the device's own thread, never at interrupt time, so all three
  // modes are safe.
  cbMode_ = mode;
}

void TMMWaveOut::SetWaveFormat(const TWaveFormatEx* format) {
  if (format != pwfx_ && (devState_ & stOpen)) Close();
  TMMDSPComponent::SetWaveFormat(format);
}

std::int64_t TMMWaveOut::PlayedBytes() const {
  std::lock_guard lock(mutex_);
  return playedBytes_;
}

// ---- errors ----

void TMMWaveOut::Raise(const std::string& msg) {
  throw EMMWaveOutError(msg);
}

void TMMWaveOut::RaiseMM(const char* prefix, ql::MMRESULT r) {
  lastResult_ = r;
  char buf[256] = {};
  std::string text;
  if (ql::waveOutGetErrorText(r, buf, 255) == ql::MMSYSERR_NOERROR)
    text = buf;
  else
    text = "Specified error number is out of range (unknown error)";
  throw EMMWaveOutError(std::string(prefix) + kMMLineBreak + text);
}

void TMMWaveOut::ReportFailure(const std::exception& e) {
  std::string msg = e.what();
  ql::Dispatch().Post(alive_, [this, msg] {
    ErrorClose();
    ApplicationHandleException(EMMWaveOutError(msg));
  });
}

// ---- the device's callback ----

void TMMWaveOut::WaveOutProc(ql::HWAVEOUT, std::uint32_t msg, std::uintptr_t instance,
                             std::uintptr_t p1, std::uintptr_t) {
  reinterpret_cast<TMMWaveOut*>(instance)->DeviceMessage(msg, reinterpret_cast<PWaveHdr>(p1));
}

void TMMWaveOut::DeviceMessage(std::uint32_t msg, PWaveHdr hdr) {
  if (msg == ql::WOM_OPEN) {
    devState_ = stOpen;
    return;
  }
  if (msg == ql::WOM_CLOSE) {
    devState_ = stClosed;
    return;
  }
  if (msg != ql::WOM_DONE) return;
  const unsigned gen = gen_;
  {
    std::lock_guard lock(mutex_);
    --queued_;
    if (resetting_ || stopping_) {
      cv_.notify_all();
      return;
    }
    if (cbMode_ != cmCallback) ++pendingDone_;
  }
  cv_.notify_all();
  switch (cbMode_) {
    case cmWindow:
      ql::Dispatch().Post(alive_, [this, hdr, gen] {
        {
          std::lock_guard lock(mutex_);
          --pendingDone_;
        }
        try {
          HandleDone(hdr, gen);
        } catch (const std::exception& e) {
          if (OnError) OnError(this);
          try {
            Close();
          } catch (...) {
          }
          ApplicationHandleException(e);
        }
      });
      break;
    case cmCallback:
      try {
        HandleDone(hdr, gen);
      } catch (const std::exception& e) {
        ReportFailure(e);
      }
      break;
    case cmThread:
      if (worker_) worker_->Post(hdr, gen);
      break;
  }
}

// ---- a returned header ----

void TMMWaveOut::HandleDone(PWaveHdr hdr, unsigned gen) {
  {
    std::lock_guard lock(mutex_);
    if (gen != gen_ || !(devState_ & stPlaying) || resetting_ || stopping_) {
      cv_.notify_all();
      return;
    }
    ++handlers_;
  }
  auto finish = [this] {
    bool post = false;
    {
      std::lock_guard lock(mutex_);
      --handlers_;
      if (handlers_ == 0) {
        if (stopPending_) {
          post = true;
        } else if (queued_ <= 0 && pendingDone_ <= 0 && !stopping_) {
          stopping_ = true;
          post = true;
        }
      }
    }
    cv_.notify_all();
    if (post) {
      if (handle_) ql::waveOutPause(handle_);
      PostStopRequest();
    }
  };
  try {
    auto* wh = reinterpret_cast<ql::WAVEHDR*>(hdr);
    ql::waveOutUnprepareHeader(handle_, wh, sizeof *wh);
    {
      std::lock_guard lock(mutex_);
      playedBytes_ += hdr->dwBufferLength;
    }
    if (filled_ > 0) {
      nextIndex_ = (nextIndex_ + 1) % filled_;
      hdr->lpNextHdr = headers_[static_cast<std::size_t>(nextIndex_)].get();
    }
    TMMDSPComponent::BufferReady(hdr);
    {
      std::lock_guard lock(posMutex_);
      DevicePositionSamples();  // counts a wrap of the device's counter
    }
    bool stopPend;
    {
      std::lock_guard lock(mutex_);
      stopPend = stopPending_;
    }
    if (moreBuffers_ && !stopPend) {
      if (Looping && hdr->Looped) {
        {
          std::lock_guard lock(posMutex_);
          loopStart_ = DevicePositionSamples() + posOffset_ + (wraps_ << 32);
        }
        hdr->Looped = 0;
        if (OnLooping) OnLooping(this);
      }
      // The device sets the done bit before it reports the header.
      const int got = PullInto(hdr);
      {
        std::lock_guard lock(mutex_);
        stopPend = stopPending_;
      }
      // A pull that delivers nothing is the end of the source: the queue drains and the last
      // completion ends the playback.
      if (got > 0 && !stopPend) WriteHeader(hdr);
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TMMWaveOut::PostStopRequest() {
  ql::Dispatch().Post(alive_, [this] {
    try {
      Stop();
    } catch (const std::exception& e) {
      ApplicationHandleException(e);
    }
  });
}

int TMMWaveOut::PullInto(PWaveHdr hdr) {
  moreBuffers_ = false;
  hdr->dwBufferLength = static_cast<std::uint32_t>(GetBufferSize());
  hdr->dwBytesRecorded = 0;
  hdr->Looping = Looping ? -1 : 0;
  if (Looping) {
    hdr->LoopCount = LoopCount;
    hdr->LoopsLeft = loopsLeft_;
  }
  bool more = false;
  TMMDSPComponent::BufferLoad(hdr, more);
  moreBuffers_ = more;
  hdr->dwBufferLength = hdr->dwBytesRecorded;
  if (Looping) loopsLeft_ = hdr->LoopsLeft;
  if (hdr->dwBytesRecorded == 0) moreBuffers_ = false;
  return static_cast<int>(hdr->dwBytesRecorded);
}

void TMMWaveOut::WriteHeader(PWaveHdr hdr) {
  if (OnBufferFilled) OnBufferFilled(this, hdr);
  if (stopping_) return;
  auto* wh = reinterpret_cast<ql::WAVEHDR*>(hdr);
  wh->dwFlags = 0;
  ql::MMRESULT r = ql::waveOutPrepareHeader(handle_, wh, sizeof *wh);
  if (r != ql::MMSYSERR_NOERROR) RaiseMM("WaveOutWrite:", r);
  hdr->dwBytesRecorded = hdr->dwBufferLength;
  {
    std::lock_guard lock(mutex_);
    ++queued_;
  }
  r = ql::waveOutWrite(handle_, wh, sizeof *wh);
  if (r != ql::MMSYSERR_NOERROR) {
    {
      std::lock_guard lock(mutex_);
      --queued_;
    }
    RaiseMM("WaveOutWrite:", r);
  }
}

void TMMWaveOut::FillHeaders(bool allocate) {
  moreBuffers_ = true;
  filled_ = 0;
  if (allocate || headers_.size() != static_cast<std::size_t>(numBuffers_))
    headers_.resize(static_cast<std::size_t>(numBuffers_));
  for (int i = 0; i < numBuffers_ && moreBuffers_; ++i) {
    auto& h = headers_[static_cast<std::size_t>(i)];
    if (!h) h = AllocWaveHdr(static_cast<std::size_t>(GetBufferSize()));
    if (PullInto(h.get()) <= 0) break;
    WriteHeader(h.get());
    ++filled_;
  }
}

// ---- format and open ----

void TMMWaveOut::CheckFormat() {
  const std::uint32_t dev = deviceId_ < 0 ? ql::WAVE_MAPPER : static_cast<std::uint32_t>(deviceId_);
  const auto* f = reinterpret_cast<const ql::WAVEFORMATEX*>(pwfx_);
  bool ok = ql::waveOutOpen(nullptr, dev, f, 0, 0, ql::WAVE_FORMAT_QUERY) == ql::MMSYSERR_NOERROR &&
            ql::waveOutGetDevCaps(dev, &caps_, sizeof caps_) == ql::MMSYSERR_NOERROR;
  if (ok && pwfx_->wFormatTag == WAVE_FORMAT_PCM &&
      (pwfx_->nChannels == 1 || pwfx_->nChannels == 2) &&
      (pwfx_->wBitsPerSample == 8 || pwfx_->wBitsPerSample == 16)) {
    const std::uint32_t rate = pwfx_->nSamplesPerSec;
    int shift = -1;
    if (rate >= 8000 && rate <= 11025)
      shift = 0;
    else if (rate >= 11026 && rate <= 22050)
      shift = 4;
    else if (rate >= 22051 && rate <= 48000)
      shift = 8;
    if (shift >= 0) {
      int bit = (pwfx_->nChannels == 2 ? 1 : 0) + (pwfx_->wBitsPerSample == 16 ? 2 : 0);
      ok = (caps_.dwFormats >> (shift + bit)) & 1u;
    }
  }
  if (!ok)
    Raise(std::string("WaveOutOpen:") + kMMLineBreak + "The actual device can''t play this format");
}

void TMMWaveOut::Open() {
  try {
    if (numDevs_ == 0) Raise(kNoDevice);
    if (deviceId_ == -2) Raise("Invalid DeviceID");
    if (!pwfx_) Raise(std::string("WaveOutOpen:") + kMMLineBreak + "Invalid wave format");
    if (devState_ & stOpen) Close();
    {
      std::lock_guard lock(mutex_);
      closing_ = closePending_ = stopPending_ = false;
      resetting_ = stopping_ = false;
      queued_ = handlers_ = pendingDone_ = 0;
    }
    CheckFormat();
    NotifySection(TMMNotify::Opened);
    sectionOpen_ = true;
    if (cbMode_ == cmThread) {
      worker_ = std::make_unique<Worker>(this);
      if (!worker_->Start())
        Raise(std::string("WaveOut:") + kMMLineBreak + "Could not create thread");
    }
    const std::uint32_t dev =
        deviceId_ < 0 ? ql::WAVE_MAPPER : static_cast<std::uint32_t>(deviceId_);
    ql::MMRESULT r =
        ql::waveOutOpen(&handle_, dev, reinterpret_cast<const ql::WAVEFORMATEX*>(pwfx_),
                        reinterpret_cast<std::uintptr_t>(&WaveOutProc),
                        reinterpret_cast<std::uintptr_t>(this), ql::CALLBACK_FUNCTION);
    if (r != ql::MMSYSERR_NOERROR) {
      handle_ = nullptr;
      RaiseMM("WaveOutOpen:", r);
    }
    if (!WaitSteps([this] { return (devState_ & stOpen) != 0; }, 500, cbMode_ == cmWindow))
      Raise(std::string("WaveOutOpen:") + kMMLineBreak + "Unable to open device");
    ResetPosition();
    if (OnOpen) OnOpen(this);
  } catch (...) {
    if (OnError) OnError(this);
    if (handle_) {
      ql::waveOutReset(handle_);
      ql::waveOutClose(handle_);
      handle_ = nullptr;
    }
    if (sectionOpen_) {
      sectionOpen_ = false;
      NotifySection(TMMNotify::Closed);
    }
    StopWorker();
    devState_ = stClosed;
    throw;
  }
}

void TMMWaveOut::StopWorker() {
  if (worker_) worker_->Quit();
  worker_.reset();
}

// ---- start, pause, restart ----

void TMMWaveOut::Start() {
  if (!(devState_ & stOpen)) Open();
  if (!(devState_ & stOpen) || (devState_ & stPlaying)) return;
  try {
    ++gen_;
    {
      std::lock_guard lock(mutex_);
      playedBytes_ = 0;
      stopPending_ = false;
      resetting_ = stopping_ = false;
      queued_ = handlers_ = pendingDone_ = 0;
    }
    ResetPosition();
    loopsLeft_ = LoopCount;
    nextIndex_ = 0;
    if (worker_) worker_->TakeDropped();
    ql::MMRESULT r = ql::waveOutPause(handle_);
    if (r != ql::MMSYSERR_NOERROR) RaiseMM("WaveOutPause:", r);
    NotifySection(TMMNotify::Started);
    FillHeaders(true);
    devState_ |= stPlaying;
    if (filled_ == 0) {
      devState_ &= ~unsigned(stPlaying);
      headers_.clear();
      NotifySection(TMMNotify::Stopped);
      Raise(std::string("WaveOutStart:") + kMMLineBreak + "Unable to start device");
    }
    if (!(devState_ & stPaused)) {
      r = ql::waveOutRestart(handle_);
      if (r != ql::MMSYSERR_NOERROR) RaiseMM("WaveOutRestart:", r);
    }
    if (OnStart) OnStart(this);
  } catch (...) {
    ErrorClose();
    throw;
  }
}

void TMMWaveOut::Pause() {
  if (!(devState_ & stOpen)) Open();
  if (!(devState_ & stOpen) || (devState_ & stPaused)) return;
  try {
    if (devState_ & stPlaying) {
      ql::MMRESULT r = ql::waveOutPause(handle_);
      if (r != ql::MMSYSERR_NOERROR) RaiseMM("WaveOutPause:", r);
      devState_ |= stPaused;
      if (HasUpstreamDriver()) {
        {
          std::lock_guard lock(posMutex_);
          posOffset_ += DevicePositionSamples();
          lastDevPos_ = 0;
        }
        resetting_ = true;
        r = ql::waveOutReset(handle_);
        if (r != ql::MMSYSERR_NOERROR) RaiseMM("WaveOutReset:", r);
        nextIndex_ = 0;
        std::lock_guard lock(mutex_);
        queued_ = 0;
      }
    }
    devState_ |= stPaused;
    NotifySection(TMMNotify::Paused);
    if (OnPause) OnPause(this);
  } catch (...) {
    ErrorClose();
    throw;
  }
}

void TMMWaveOut::Restart() {
  if (!((devState_ & stPlaying) && (devState_ & stPaused))) return;
  try {
    resetting_ = false;
    ql::MMRESULT r = ql::waveOutRestart(handle_);
    if (r != ql::MMSYSERR_NOERROR) RaiseMM("WaveOutRestart:", r);
    devState_ &= ~unsigned(stPaused);
    NotifySection(TMMNotify::Restarted);
    if (OnRestart) OnRestart(this);
  } catch (...) {
    ErrorClose();
    throw;
  }
}

void TMMWaveOut::Reposition() {
  if (!(devState_ & (stPlaying | stPaused)) || resetting_) return;
  try {
    resetting_ = true;
    ql::waveOutPause(handle_);
    ++gen_;  // completions posted to the window or the worker are dropped
    if (worker_) worker_->Flush();
    ql::MMRESULT r = ql::waveOutReset(handle_);
    if (r != ql::MMSYSERR_NOERROR) RaiseMM("WaveOutReset:", r);
    WaitSteps(
        [this] {
          std::lock_guard lock(mutex_);
          return queued_ <= 0 && handlers_ == 0;
        },
        100, false);
    ql::waveOutRestart(handle_);
    ql::waveOutPause(handle_);
    nextIndex_ = 0;
    {
      std::lock_guard lock(mutex_);
      queued_ = 0;
      pendingDone_ = 0;
    }
    ResetPosition();
    NotifySection(TMMNotify::Repositioned);
    resetting_ = false;
    FillHeaders(false);
    if (!(devState_ & stPaused)) ql::waveOutRestart(handle_);
    if (filled_ == 0) Stop();
  } catch (...) {
    ErrorClose();
    throw;
  }
}

// ---- stop and close ----

void TMMWaveOut::Stop() {
  if (!(devState_ & (stPlaying | stPaused))) return;
  try {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      resetting_ = true;
    }
    {
      std::lock_guard lock(posMutex_);
      finalPos_ = DevicePositionSamples() + posOffset_ + (wraps_ << 32) - loopStart_;
      wraps_ = 0;
      lastDevPos_ = 0;
    }
    ql::MMRESULT r = ql::waveOutReset(handle_);
    if (r != ql::MMSYSERR_NOERROR) RaiseMM("WaveOutReset:", r);
    {
      std::lock_guard lock(mutex_);
      if (handlers_ > 0) {
        stopPending_ = true;
        return;
      }
      stopPending_ = false;
    }
    DoStop();
  } catch (...) {
    if (OnError) OnError(this);
    try {
      DoStop();
      DoClose();
    } catch (...) {
    }
    throw;
  }
}

void TMMWaveOut::DoStop() {
  if (!(devState_ & (stPlaying | stPaused))) return;
  devState_ &= ~unsigned(stPlaying | stPaused);
  {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(5000), [this] { return queued_ <= 0; });
  }
  ++gen_;
  NotifySection(TMMNotify::Stopped);
  for (auto& h : headers_) {
    if (!h) continue;
    auto* wh = reinterpret_cast<ql::WAVEHDR*>(h.get());
    for (int i = 0; i < 65000 && (wh->dwFlags & ql::WHDR_INQUEUE); ++i) std::this_thread::yield();
    if (wh->dwFlags & ql::WHDR_PREPARED) {
      if (ql::waveOutUnprepareHeader(handle_, wh, sizeof *wh) != ql::MMSYSERR_NOERROR)
        wh->dwFlags &= ~ql::WHDR_PREPARED;
    }
  }
  headers_.clear();
  filled_ = 0;
  nextIndex_ = 0;
  {
    std::lock_guard lock(mutex_);
    queued_ = 0;
  }
  if (!(TMMComponent::state_ & csDestroying) && OnStop) OnStop(this);
  if (closePending_) Close();
}

void TMMWaveOut::Close() {
  if (!(devState_ & stOpen)) return;
  if (closing_ && !closePending_) return;
  closing_ = true;
  try {
    if (devState_ & (stPlaying | stPaused)) Stop();
    {
      std::lock_guard lock(mutex_);
      if (stopPending_) {
        closePending_ = true;
        return;
      }
    }
    closePending_ = false;
    DoClose();
  } catch (...) {
    closing_ = false;
    throw;
  }
}

void TMMWaveOut::DoClose() {
  if (!handle_) {
    closing_ = false;
    return;
  }
  ql::MMRESULT r = ql::waveOutClose(handle_);
  if (r != ql::MMSYSERR_NOERROR) {
    closing_ = false;
    if (OnError) OnError(this);
    RaiseMM("WaveOutClose:", r);
  }
  bool closed = WaitSteps([this] { return (devState_ & stOpen) == 0; }, 500, false);
  ResetPosition();
  if (sectionOpen_) {
    sectionOpen_ = false;
    NotifySection(TMMNotify::Closed);
  }
  StopWorker();
  handle_ = nullptr;
  devState_ = stClosed;
  closing_ = false;
  if (!(TMMComponent::state_ & csDestroying) && OnClose) OnClose(this);
  if (!closed) {
    if (OnError) OnError(this);
    Raise(std::string("WaveOutClose:") + kMMLineBreak + "Unable to close device");
  }
}

// ---- position ----

void TMMWaveOut::ResetPosition() {
  std::lock_guard lock(posMutex_);
  posOffset_ = lastDevPos_ = wraps_ = loopStart_ = finalPos_ = 0;
}

// The device's position in samples; counts a wrap when it dropped by more than 65534.
// posMutex_ is held by the caller.
std::int64_t TMMWaveOut::DevicePositionSamples() {
  if (!handle_ || !pwfx_) return 0;
  ql::MMTIME t{};
  t.wType = ql::TIME_SAMPLES;
  ql::MMRESULT r = ql::waveOutGetPosition(handle_, &t, sizeof t);
  std::int64_t samples;
  if (r == ql::MMSYSERR_NOERROR && t.wType == ql::TIME_SAMPLES) {
    samples = t.u.sample;
  } else {
    t.wType = ql::TIME_BYTES;
    r = ql::waveOutGetPosition(handle_, &t, sizeof t);
    if (r != ql::MMSYSERR_NOERROR) RaiseMM("WaveOutGetPosition:", r);
    samples = pwfx_->nBlockAlign ? std::int64_t(t.u.cb) / pwfx_->nBlockAlign : 0;
  }
  if (samples + 65534 < lastDevPos_) ++wraps_;
  lastDevPos_ = samples;
  return samples;
}

std::int64_t TMMWaveOut::Position() {
  if (!(devState_ & stOpen) || !pwfx_ || closing_) return 0;
  std::int64_t samples;
  try {
    std::lock_guard lock(posMutex_);
    samples = DevicePositionSamples() + posOffset_ + (wraps_ << 32) - loopStart_;
  } catch (...) {
    if (OnError) OnError(this);
    throw;
  }
  if (samples < 0) samples = 0;
  switch (TimeFormat) {
    case tfMillisecond:
      return MulDivRound64(samples, 1000, pwfx_->nSamplesPerSec);
    case tfByte:
      return samples * pwfx_->nBlockAlign;
    case tfSample:
      return samples;
  }
  return samples;
}

// A failed operation: tell OnError, then close the device, whatever closing itself raises.
void TMMWaveOut::ErrorClose() {
  if (OnError) OnError(this);
  try {
    Close();
  } catch (...) {
  }
}
