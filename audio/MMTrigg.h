#pragma once
// TMMTrigger: a driver without a device. Its worker thread pulls one buffer at a time from the
// Input and pushes it to the Output, as fast as the chain allows or with a pause between buffers.
#include <condition_variable>
#include <memory>
#include <mutex>

#include "Dispatch.h"
#include "MMErrors.h"
#include "MMObjects.h"

class TMMTrigger;

class TMMTriggerThread : public TMMDSPThread {
 public:
  explicit TMMTriggerThread(TMMTrigger* owner);

 protected:
  void Execute() override;

 private:
  TMMTrigger* trigger_;
};

class TMMTrigger : public TMMCustomSoundComponent {
 public:
  enum : unsigned { stClosed = 1, stOpen = 2, stPlaying = 4, stPaused = 8 };

  TMMTrigger();
  ~TMMTrigger() override;

  void SetBufferSize(int size) override;
  int GetInterval() const { return interval_; }
  void SetInterval(int ms);
  TMMTimeFormats TimeFormat = tfByte;
  // Bytes pushed so far in the current run, and the same in TimeFormat units.
  std::int64_t BytesTriggered() const;
  std::int64_t Position() const;
  unsigned State() const { return state_; }
  // Text of the last failure of the worker thread.
  std::string LastError() const;

  TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;
  TMMBufferEvent OnBufferFilled;

  void Open() override;
  void Close() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;

  void SetWaveFormat(const TWaveFormatEx* format) override;
  void BufferReady(PWaveHdr) override {}

 private:
  friend class TMMTriggerThread;
  [[noreturn]] void Error(const std::string& msg);
  void PullIntoHeader();
  void HandleBuffer();
  void WorkerLoop();
  void ShutDown();

  std::atomic<unsigned> state_{stClosed};
  int interval_ = 0;
  WaveHdrPtr header_;
  bool moreBuffers_ = false;
  bool sectionOpen_ = false;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::int64_t bytesTriggered_ = 0;
  int handlers_ = 0;
  bool closing_ = false, closePending_ = false, stopping_ = false, stopRequested_ = false;
  bool failed_ = false;
  bool ready_ = false, go_ = false, quit_ = false;
  std::string lastError_;
  std::unique_ptr<TMMTriggerThread> thread_;
  ql::Alive alive_;
};
