#include "MMRingBf.h"

#include <chrono>
#include <cstring>

#include "Dispatch.h"

namespace {
const char* kChangeWhileOpen = "Change to property while device was open";
void Nap() {
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
}  // namespace

TMMQueueThread::TMMQueueThread(TMMRingBuffer* owner) : TMMDSPThread(owner), ring_(owner) {}
void TMMQueueThread::Execute() {
  ring_->WorkerLoop();
}

TMMRingBuffer::TMMRingBuffer() = default;

TMMRingBuffer::~TMMRingBuffer() {
  try {
    TMMRingBuffer::Closed();
  } catch (...) {
  }
}

void TMMRingBuffer::SetBufferSize(int size) {
  if (qOpened_) throw EMMBufferError(kChangeWhileOpen);
  TMMDSPComponent::SetBufferSize(std::max(size, 32));
}

void TMMRingBuffer::SetNumBuffers(int n) {
  if (qOpened_) throw EMMBufferError(kChangeWhileOpen);
  if (n > 1) numBuffers_ = n;
}

void TMMRingBuffer::SetQueueMode(TMMQueueMode mode) {
  if (qOpened_) throw EMMBufferError(kChangeWhileOpen);
  mode_ = mode;
}

void TMMRingBuffer::Fire(const TNotifyEvent& e) {
  if (e) CallSynchronized([&] { e(this); });
}

bool TMMRingBuffer::Wait(const std::function<bool()>& done, int timeoutMs) {
  auto* d = ql::CurrentDispatcher();
  if (d && d->IsUiThread()) {
    // Serve the worker's synchronous events while waiting for it.
    return d->WaitServing(
        [&] {
          std::lock_guard lock(mutex_);
          return done();
        },
        std::chrono::milliseconds(timeoutMs));
  }
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
}

void TMMRingBuffer::WaitIdle() {
  while (!Wait([this] { return !work_; }, 1000)) {
  }
}

void TMMRingBuffer::RequestWork() {
  // Lock held by the caller.
  if (!work_) {
    done_ = false;
    work_ = true;
    cv_.notify_all();
  }
}

void TMMRingBuffer::EmptyQueue() {
  std::lock_guard lock(mutex_);
  used_ = write_ = read_ = 0;
  last_ = -1;
  queued_ = 0;
  ended_ = false;
}

bool TMMRingBuffer::Empty() const {
  std::lock_guard lock(mutex_);
  return used_ == 0;
}
bool TMMRingBuffer::Full() const {
  std::lock_guard lock(mutex_);
  return used_ >= numBuffers_;
}
int TMMRingBuffer::UsedSlots() const {
  std::lock_guard lock(mutex_);
  return used_;
}
std::int64_t TMMRingBuffer::QueuedBytes() const {
  std::lock_guard lock(mutex_);
  return queued_;
}
std::int64_t TMMRingBuffer::FreeBytes() const {
  std::lock_guard lock(mutex_);
  return std::int64_t(GetBufferSize()) * (numBuffers_ - used_);
}

void TMMRingBuffer::Opened() {
  TMMDSPComponent::Opened();
  if (qOpened_) return;
  const int size = GetBufferSize();
  fillChunk_ = flushChunk_ = std::max((65536 / size) * size, size);
  block_.assign(std::size_t(size) * numBuffers_, 0);
  slots_.assign(numBuffers_, Slot{});
  for (int i = 0; i < numBuffers_; ++i) slots_[i].data = block_.data() + std::size_t(i) * size;
  ih_ = AllocWaveHdr(std::max(65536, size));
  {
    std::lock_guard lock(mutex_);
    ready_ = work_ = done_ = quit_ = false;
    primed_ = false;
  }
  thread_ = std::make_unique<TMMQueueThread>(this);
  thread_->Resume();
  if (!Wait([this] { return ready_; }, 5000)) {
    StopWorker();
    throw EMMBufferError(std::string("RingBuffer:") + kMMLineBreak + "Could not create thread");
  }
  EmptyQueue();
  qOpened_ = true;
  stopping_ = false;
}

void TMMRingBuffer::StopWorker() {
  if (!thread_) return;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  cv_.notify_all();
  if (!thread_->WaitFor(5000)) thread_->WaitFor(600000);
  thread_.reset();
}

void TMMRingBuffer::Closed() {
  if (qOpened_) {
    stopping_ = true;
    WaitIdle();
    if (mode_ == qmWrite) {
      {
        std::lock_guard lock(mutex_);
        RequestWork();
      }
      WaitIdle();
    }
    qOpened_ = false;
    StopWorker();
    slots_.clear();
    block_.clear();
    block_.shrink_to_fit();
    ih_.reset();
  }
  TMMDSPComponent::Closed();
}

void TMMRingBuffer::Started() {
  stopping_ = false;
  TMMDSPComponent::Started();
}

void TMMRingBuffer::Stopped() {
  if (qOpened_) {
    {
      std::lock_guard lock(mutex_);
      primed_ = false;
      loop_ = {};
    }
    stopping_ = true;
    WaitIdle();
    if (mode_ == qmWrite) {
      {
        std::lock_guard lock(mutex_);
        RequestWork();
      }
      WaitIdle();
    }
    EmptyQueue();
  }
  TMMDSPComponent::Stopped();
}

void TMMRingBuffer::Repositioned() {
  if (qOpened_) {
    TMMRingBuffer::Stopped();
    EmptyQueue();
    stopping_ = false;
  }
  TMMDSPComponent::Repositioned();
}

void TMMRingBuffer::WorkerLoop() {
  {
    std::lock_guard lock(mutex_);
    ready_ = true;
  }
  cv_.notify_all();
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      cv_.wait(lock, [this] { return quit_ || work_; });
      if (quit_) break;
    }
    try {
      if (mode_ == qmRead)
        FillPass();
      else
        FlushPass();
    } catch (const std::exception& e) {
      ApplicationHandleException(e);
    }
    std::lock_guard lock(mutex_);
    work_ = false;
    done_ = true;
    cv_.notify_all();
  }
}

void TMMRingBuffer::FillPass() {
  if (!qOpened_ || FreeBytes() <= 0) return;
  Fire(OnFillQueue);
  TMMWaveHdr* h = ih_.get();
  while (!stopping_) {
    std::int64_t room = FreeBytes();
    if (room < 1) break;
    h->dwBufferLength = static_cast<std::uint32_t>(std::min<std::int64_t>(room, fillChunk_));
    h->dwBytesRecorded = 0;
    {
      std::lock_guard lock(mutex_);
      h->Looping = loop_.Looping;
      h->LoopCount = loop_.LoopCount;
      h->LoopsLeft = loop_.LoopsLeft;
      h->Looped = 0;
    }
    bool more = false;
    TMMDSPComponent::BufferLoad(h, more);
    if (h->dwBytesRecorded == 0) {
      std::lock_guard lock(mutex_);
      // The input has nothing more: the stream ends after what is queued.
      int lastWritten = (write_ + numBuffers_ - 1) % numBuffers_;
      if (used_ > 0) slots_[lastWritten].status |= rsEnd;
      ended_ = true;
      break;
    }
    std::uint32_t status = (h->Looped ? rsLooped : 0) | (more ? 0 : rsEnd);
    {
      std::lock_guard lock(mutex_);
      loop_.LoopsLeft = h->LoopsLeft;
      loop_.Looped = h->Looped;
    }
    PutData(h->lpData, static_cast<int>(h->dwBytesRecorded), status, h->dwUser);
    h->Looped = 0;
    if (!more) {
      std::lock_guard lock(mutex_);
      ended_ = true;
      break;
    }
    Nap();
  }
  Fire(OnFillQueueEnd);
}

void TMMRingBuffer::FlushPass() {
  Fire(OnFlushQueue);
  TMMWaveHdr* h = ih_.get();
  for (;;) {
    int n;
    {
      std::lock_guard lock(mutex_);
      if (used_ == 0) break;
      n = 0;
      while (used_ > 0 && n < flushChunk_) {
        std::uint32_t user = 0, status = 0;
        int got = TakeLocked(h->lpData + n, flushChunk_ - n, &user, &status);
        if (got <= 0) break;
        h->dwUser = user;
        n += got;
      }
    }
    h->dwBufferLength = h->dwBytesRecorded = static_cast<std::uint32_t>(n);
    TMMDSPComponent::BufferReady(h);
    Nap();
  }
  Fire(OnFlushQueueEnd);
}

void TMMRingBuffer::PutSlot(const void* data, int bytes, std::uint32_t status, std::uint32_t user) {
  if (!qOpened_ || !Enabled) return;
  std::unique_lock lock(mutex_);
  while (used_ >= numBuffers_) {
    if (!WaitIfFull) {
      lock.unlock();
      Fire(OnOverlow);
      return;
    }
    if (stopping_ || !qOpened_) return;
    lock.unlock();
    Nap();
    lock.lock();
  }
  Slot& s = slots_[write_];
  const int n = std::min(bytes, GetBufferSize());
  std::memcpy(s.data, data, static_cast<std::size_t>(n));
  s.bytes = static_cast<std::uint32_t>(n);
  s.status = status;
  s.user = user;
  write_ = (write_ + 1) % numBuffers_;
  ++used_;
  queued_ += n;
}

void TMMRingBuffer::PutData(const void* data, int bytes, std::uint32_t status, std::uint32_t user) {
  const char* p = static_cast<const char*>(data);
  const int size = GetBufferSize();
  while (bytes > 0) {
    const int n = std::min(bytes, size);
    PutSlot(p, n, n == bytes ? status : 0, user);
    p += n;
    bytes -= n;
    if (Full() && !WaitIfFull) break;
  }
}

int TMMRingBuffer::TakeLocked(char* out, int bytes, std::uint32_t* user, std::uint32_t* status) {
  if (used_ == 0 || bytes <= 0) return 0;
  Slot& s = slots_[read_];
  const int n = std::min<int>(static_cast<int>(s.bytes), bytes);
  std::memcpy(out, s.data, static_cast<std::size_t>(n));
  if (user) *user = s.user;
  if (static_cast<int>(s.bytes) > n) {
    // Read in parts: the rest stays at the start of the slot for the next pull.
    std::memmove(s.data, s.data + n, s.bytes - n);
    s.bytes -= n;
    if (status) *status = s.status & ~std::uint32_t(rsEnd);
  } else {
    if (status) *status = s.status;
    last_ = read_;
    read_ = (read_ + 1) % numBuffers_;
    --used_;
  }
  queued_ -= n;
  return n;
}

int TMMRingBuffer::GetSlotData(void* data, int bytes, std::uint32_t* user, std::uint32_t* status) {
  if (user) *user = 0;
  if (status) *status = 0;
  bool primed;
  {
    std::lock_guard lock(mutex_);
    if (Enabled && mode_ == qmRead && used_ < numBuffers_ / 2 && !ended_) RequestWork();
    primed = primed_;
  }
  if (!primed) {
    // The consumer is served once the first fill pass has finished (the queue is full or the
    // input has ended), not at its first slot: a consumer that starts on one slot drains it
    // faster than the pass refills and hears silence.
    if (mode_ == qmRead && !Wait([this] { return !work_; }, TimeOut)) return 0;
    std::lock_guard lock(mutex_);
    done_ = false;
    if (used_ == 0) return 0;
    primed_ = true;
  }
  std::unique_lock lock(mutex_);
  if (used_ == 0 && mode_ == qmRead && work_ && !ended_) {
    // A fill pass is running: its data is about to arrive. Waiting a little for it (a slow
    // read, a loaded machine) delays this pull, where a buffer of silence would be heard as a
    // gap inside the track; a source that stalls for longer gets the silence.
    lock.unlock();
    Wait([this] { return used_ > 0 || !work_ || ended_; }, std::min<int>(TimeOut, 200));
    lock.lock();
  }
  if (used_ == 0) {
    const bool ended = ended_;
    lock.unlock();
    if (ended) {
      if (status) *status = rsEnd;
      return 0;
    }
    Fire(OnEmpty);
    lock.lock();
    const bool pcm = pwfx_ && pwfx_->wFormatTag == WAVE_FORMAT_PCM;
    if ((LoopIfEmpty || !pcm) && last_ >= 0) {
      const Slot& s = slots_[last_];
      const int n = std::min<int>(static_cast<int>(s.bytes), bytes);
      std::memcpy(data, s.data, static_cast<std::size_t>(n));
      if (user) *user = s.user;
      if (status) *status = s.status;
      return n;
    }
    const int silence = (pcm && pwfx_->wBitsPerSample == 8) ? 128 : 0;
    std::memset(data, silence, static_cast<std::size_t>(bytes));
    return bytes;
  }
  return TakeLocked(static_cast<char*>(data), bytes, user, status);
}

int TMMRingBuffer::GetData(void* data, int bytes) {
  char* p = static_cast<char*>(data);
  int done = 0;
  while (done < bytes && !Empty()) {
    int n = GetSlotData(p + done, bytes - done);
    if (n <= 0) break;
    done += n;
  }
  return done;
}

void TMMRingBuffer::BufferReady(PWaveHdr h) {
  if (!qOpened_ || mode_ == qmNone || mode_ == qmRead) {
    TMMDSPComponent::BufferReady(h);
    return;
  }
  PutSlot(h->lpData, static_cast<int>(h->dwBytesRecorded), 0, h->dwUser);
  std::lock_guard lock(mutex_);
  if (mode_ == qmWrite && used_ >= numBuffers_ / 2) RequestWork();
}

void TMMRingBuffer::BufferLoad(PWaveHdr h, bool& MoreBuffers) {
  if (!qOpened_) return;
  if (mode_ == qmNone || mode_ == qmWrite) {
    TMMDSPComponent::BufferLoad(h, MoreBuffers);
    return;
  }
  if (mode_ == qmDuplex) {
    // Answers from the queue once it is more than half full, with silence before that.
    std::unique_lock lock(mutex_);
    if (used_ > numBuffers_ / 2) {
      std::uint32_t user = 0, status = 0;
      int n = 0;
      while (used_ > 0 && n < static_cast<int>(h->dwBufferLength))
        n += TakeLocked(h->lpData + n, static_cast<int>(h->dwBufferLength) - n, &user, &status);
      h->dwBytesRecorded = static_cast<std::uint32_t>(n);
      h->dwUser = user;
    } else {
      std::memset(h->lpData, 0, h->dwBufferLength);
      h->dwBytesRecorded = h->dwBufferLength;
    }
    MoreBuffers = true;
    return;
  }
  if (Enabled || QueuedBytes() > 0) {
    {
      std::lock_guard lock(mutex_);
      if (h->Looping != loop_.Looping) {
        loop_.Looping = h->Looping;
        loop_.LoopCount = h->LoopCount;
        loop_.LoopsLeft = h->LoopsLeft;
      }
    }
    std::uint32_t user = 0, status = 0;
    h->dwBytesRecorded = static_cast<std::uint32_t>(
        GetSlotData(h->lpData, static_cast<int>(h->dwBufferLength), &user, &status));
    h->dwUser = user;
    h->Looped = (status & rsLooped) ? -1 : 0;
    MoreBuffers = !(status & rsEnd) && h->dwBytesRecorded > 0;
  } else {
    TMMDSPComponent::BufferLoad(h, MoreBuffers);
  }
}
