#include "MMTrigg.h"

#include <chrono>

namespace {
const std::string kChangeWhileOpen = "Change to property while device was open";
}

TMMTriggerThread::TMMTriggerThread(TMMTrigger* owner) : TMMDSPThread(owner), trigger_(owner) {}

void TMMTriggerThread::Execute() {
  trigger_->WorkerLoop();
}

TMMTrigger::TMMTrigger() = default;

TMMTrigger::~TMMTrigger() {
  try {
    Close();
  } catch (...) {
  }
  if (state_ & stOpen) {
    // A buffer handler is still running: let it end, then finish the stop and the close.
    auto* d = ql::CurrentDispatcher();
    auto idle = [this] {
      std::lock_guard lock(mutex_);
      return handlers_ == 0;
    };
    if (d && d->IsUiThread()) d->WaitServing(idle, std::chrono::milliseconds(60000));
    while (!idle()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    try {
      closePending_ = false;
      Stop();
      Close();
    } catch (...) {
    }
  }
  alive_.Kill();
  ShutDown();
}

void TMMTrigger::SetBufferSize(int size) {
  if (state_ & stOpen) throw EMMTriggerError(kChangeWhileOpen);
  TMMDSPComponent::SetBufferSize(std::max(size, 32));
}

void TMMTrigger::SetInterval(int ms) {
  interval_ = std::max(ms, 1);
}

std::int64_t TMMTrigger::BytesTriggered() const {
  std::lock_guard lock(mutex_);
  return bytesTriggered_;
}

std::int64_t TMMTrigger::Position() const {
  std::int64_t bytes = BytesTriggered();
  const TWaveFormatEx* f = pwfx_;
  if (!f || !f->nAvgBytesPerSec) return 0;
  switch (TimeFormat) {
    case tfByte:
      return bytes;
    case tfSample:
      return MulDivRound64(bytes, f->nSamplesPerSec, f->nAvgBytesPerSec);
    case tfMillisecond:
      return MulDivRound64(bytes, 1000, f->nAvgBytesPerSec);
  }
  return bytes;
}

std::string TMMTrigger::LastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

void TMMTrigger::Error(const std::string& msg) {
  if (OnError) OnError(this);
  throw EMMTriggerError(msg);
}

void TMMTrigger::SetWaveFormat(const TWaveFormatEx* format) {
  if (format != pwfx_ && (state_ & stOpen)) Close();
  TMMDSPComponent::SetWaveFormat(format);
}

void TMMTrigger::Open() {
  if (!pwfx_) Error(std::string("TriggerOpen:") + kMMLineBreak + "Invalid wave format");
  if (state_ & stOpen) Close();
  {
    std::lock_guard lock(mutex_);
    closing_ = closePending_ = stopping_ = stopRequested_ = failed_ = false;
    ready_ = go_ = quit_ = false;
    handlers_ = 0;
  }
  try {
    sectionOpen_ = true;
    NotifySection(TMMNotify::Opened);
    thread_ = std::make_unique<TMMTriggerThread>(this);
    thread_->Resume();
    {
      std::unique_lock lock(mutex_);
      if (!cv_.wait_for(lock, std::chrono::milliseconds(5000), [this] { return ready_; })) {
        lock.unlock();
        Error(std::string("Trigger:") + kMMLineBreak + "Could not create thread");
      }
    }
    header_ = AllocWaveHdr(static_cast<std::size_t>(GetBufferSize()));
    state_ = stOpen;
    if (OnOpen) OnOpen(this);
  } catch (const EMMTriggerError&) {
    ShutDown();
    throw;
  } catch (...) {
    if (OnError) OnError(this);
    ShutDown();
    throw;
  }
}

// Ends the worker and closes the section, whatever state the trigger is in.
void TMMTrigger::ShutDown() {
  if (thread_) {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    cv_.notify_all();
    if (!thread_->WaitFor(5000)) thread_->WaitFor(600000);
    thread_.reset();
  }
  if (sectionOpen_) {
    sectionOpen_ = false;
    NotifySection(TMMNotify::Closed);
  }
  header_.reset();
  state_ = stClosed;
}

void TMMTrigger::PullIntoHeader() {
  moreBuffers_ = false;
  TMMWaveHdr* h = header_.get();
  h->dwBufferLength = static_cast<std::uint32_t>(GetBufferSize());
  h->dwBytesRecorded = 0;
  h->Looping = 0;
  TMMDSPComponent::BufferLoad(h, moreBuffers_);
  h->dwBufferLength = h->dwBytesRecorded;
  if (h->dwBytesRecorded == 0) moreBuffers_ = false;
}

void TMMTrigger::Start() {
  if (!(state_ & stOpen)) Open();
  if (!(state_ & stOpen) || (state_ & stPlaying)) return;
  {
    std::lock_guard lock(mutex_);
    bytesTriggered_ = 0;
    handlers_ = 0;
    stopRequested_ = stopping_ = false;
  }
  NotifySection(TMMNotify::Started);
  moreBuffers_ = true;
  state_ |= stPlaying;
  try {
    PullIntoHeader();
  } catch (...) {
    state_ &= ~unsigned(stPlaying);
    NotifySection(TMMNotify::Stopped);
    if (OnError) OnError(this);
    Close();
    throw;
  }
  if (header_->dwBytesRecorded > 0 && OnBufferFilled) OnBufferFilled(this, header_.get());
  if (header_->dwBufferLength > 0) {
    if (!(state_ & stPaused)) {
      {
        std::lock_guard lock(mutex_);
        go_ = true;
      }
      cv_.notify_all();
    }
    if (OnStart) OnStart(this);
  } else {
    state_ &= ~unsigned(stPlaying);
    NotifySection(TMMNotify::Stopped);
    if (OnError) OnError(this);
    Close();
    throw EMMTriggerError(std::string("TriggerStart:") + kMMLineBreak + "Unable to start device");
  }
}

void TMMTrigger::WorkerLoop() {
  {
    std::lock_guard lock(mutex_);
    ready_ = true;
  }
  cv_.notify_all();
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      cv_.wait(lock, [this] { return quit_ || (go_ && !(state_ & stPaused)); });
      if (quit_) return;
      go_ = false;
      if (stopping_ || !(state_ & stPlaying)) continue;
      ++handlers_;
    }
    try {
      HandleBuffer();
    } catch (const std::exception& e) {
      std::lock_guard lock(mutex_);
      failed_ = true;
      lastError_ = e.what();
      --handlers_;
      stopping_ = true;
      std::string msg = e.what();
      ql::Dispatch().Post(alive_, [this, msg] {
        if (OnError) OnError(this);
        ApplicationHandleException(EMMTriggerError(msg));
        try {
          Close();
        } catch (...) {
        }
      });
      return;
    }
    std::unique_lock lock(mutex_);
    if (stopping_) continue;
    if (interval_ > 0) {
      cv_.wait_for(lock, std::chrono::milliseconds(interval_), [this] { return quit_; });
      if (quit_) return;
    }
    go_ = true;
  }
}

// One round of the worker: push the filled header, pull the next one. handlers_ was counted.
void TMMTrigger::HandleBuffer() {
  TMMWaveHdr* h = header_.get();
  {
    std::lock_guard lock(mutex_);
    bytesTriggered_ += h->dwBufferLength;
  }
  TMMDSPComponent::BufferReady(h);
  bool stopReq;
  {
    std::lock_guard lock(mutex_);
    stopReq = stopRequested_;
  }
  if (moreBuffers_ && !stopReq) {
    PullIntoHeader();
    // A pull that delivers nothing ends the stream: nothing is left to push.
    if (h->dwBytesRecorded > 0) {
      std::unique_lock lock(mutex_);
      if (!stopRequested_) {
        lock.unlock();
        if (OnBufferFilled) OnBufferFilled(this, h);
        if (!moreBuffers_) {
          {
            std::lock_guard l(mutex_);
            bytesTriggered_ += h->dwBufferLength;
          }
          TMMDSPComponent::BufferReady(h);
        }
      }
    }
  }
  std::lock_guard lock(mutex_);
  if (--handlers_ == 0 && (stopRequested_ || !moreBuffers_)) {
    stopping_ = true;
    ql::Dispatch().Post(alive_, [this] { Stop(); });
  }
}

void TMMTrigger::Stop() {
  if (!(state_ & (stPlaying | stPaused))) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    if (handlers_ > 0) {
      stopRequested_ = true;
      return;
    }
  }
  state_ &= ~unsigned(stPlaying | stPaused);
  cv_.notify_all();
  NotifySection(TMMNotify::Stopped);
  if (OnStop) OnStop(this);
  if (closePending_) {
    closePending_ = false;
    Close();
  }
}

void TMMTrigger::Pause() {
  if (!(state_ & stOpen)) Open();
  if (!(state_ & stOpen) || (state_ & stPaused)) return;
  {
    std::lock_guard lock(mutex_);
    state_ |= stPaused;
  }
  NotifySection(TMMNotify::Paused);
  if (OnPause) OnPause(this);
}

void TMMTrigger::Restart() {
  if (!((state_ & stPlaying) && (state_ & stPaused))) return;
  {
    std::lock_guard lock(mutex_);
    state_ &= ~unsigned(stPaused);
  }
  cv_.notify_all();
  NotifySection(TMMNotify::Restarted);
  if (OnRestart) OnRestart(this);
}

void TMMTrigger::Close() {
  if (!(state_ & stOpen)) return;
  closing_ = true;
  if (state_ & (stPlaying | stPaused)) Stop();
  if (state_ & (stPlaying | stPaused)) {
    closePending_ = true;
    return;
  }
  ShutDown();
  if (OnClose) OnClose(this);
}
