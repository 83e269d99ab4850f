#pragma once
// TMMRingBuffer: a queue of buffers with a worker thread. In read mode the worker keeps the queue
// filled from the Input while the consumer below takes from it; in write mode pushed buffers are
// collected and the worker passes them on.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "MMErrors.h"
#include "MMObjects.h"

enum TMMQueueMode { qmNone, qmRead, qmWrite, qmDuplex };

class TMMRingBuffer;

class TMMQueueThread : public TMMDSPThread {
 public:
  explicit TMMQueueThread(TMMRingBuffer* owner);

 protected:
  void Execute() override;

 private:
  TMMRingBuffer* ring_;
};

class TMMRingBuffer : public TMMDSPComponent {
 public:
  static constexpr std::uint32_t rsEnd = 1, rsLooped = 2;

  TMMRingBuffer();
  ~TMMRingBuffer() override;

  void SetBufferSize(int size) override;
  int GetNumBuffers() const { return numBuffers_; }
  void SetNumBuffers(int n);
  TMMQueueMode GetQueueMode() const { return mode_; }
  void SetQueueMode(TMMQueueMode mode);
  std::atomic<bool> Enabled{true};
  std::atomic<bool> WaitIfFull{false};
  std::atomic<bool> LoopIfEmpty{false};
  std::atomic<int> TimeOut{10000};

  TNotifyEvent OnOverlow, OnEmpty, OnFillQueue, OnFillQueueEnd, OnFlushQueue, OnFlushQueueEnd;

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Repositioned() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  bool Empty() const;
  bool Full() const;
  int UsedSlots() const;
  std::int64_t QueuedBytes() const;
  std::int64_t FreeBytes() const;
  void PutSlot(const void* data, int bytes, std::uint32_t status, std::uint32_t user);
  void PutData(const void* data, int bytes, std::uint32_t status, std::uint32_t user = 0);
  int GetSlotData(void* data, int bytes, std::uint32_t* user = nullptr,
                  std::uint32_t* status = nullptr);
  int GetData(void* data, int bytes);

 private:
  friend class TMMQueueThread;
  struct Slot {
    char* data;
    std::uint32_t bytes, user, status;
  };
  void WorkerLoop();
  void FillPass();
  void FlushPass();
  // Takes up to bytes from the read slot; the lock is held by the caller.
  int TakeLocked(char* out, int bytes, std::uint32_t* user, std::uint32_t* status);
  void RequestWork();
  bool Wait(const std::function<bool()>& done, int timeoutMs);
  void WaitIdle();
  void EmptyQueue();
  void Fire(const TNotifyEvent& e);
  void StopWorker();

  int numBuffers_ = 20;
  TMMQueueMode mode_ = qmNone;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Slot> slots_;
  std::vector<char> block_;
  int used_ = 0, write_ = 0, read_ = 0, last_ = -1;
  std::int64_t queued_ = 0;
  std::atomic<bool> qOpened_{false};
  bool primed_ = false;
  std::atomic<bool> stopping_{false};
  bool ended_ = false;  // the input delivered its last data
  struct {
    std::int32_t Looping = 0, LoopCount = 0, LoopsLeft = 0, Looped = 0;
  } loop_;
  int fillChunk_ = 0, flushChunk_ = 0;
  WaveHdrPtr ih_;
  bool ready_ = false, work_ = false, done_ = false, quit_ = false;
  std::unique_ptr<TMMQueueThread> thread_;
};
