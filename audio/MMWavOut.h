#pragma once
// TMMWaveOut: the driver that plays its chain on a wave output device. A ring of headers is kept
// queued at the device; each header that comes back is pushed to the Output (the level meters),
// refilled from the Input and queued again. Completions are handled on the UI thread
// (cmWindow), directly on the device's thread (cmCallback) or on a worker (cmThread): that is the
// "completion thread" below. The device's thread and the worker are not registered DSP threads,
// so what the chain raises through CallSynchronized runs inline on them.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Dispatch.h"
#include "MMErrors.h"
#include "MMObjects.h"
#include "WaveOut.h"

class EMMWaveOutError : public Exception {
 public:
  using Exception::Exception;
};

// The completion thread: cmWindow the UI thread (a posted call), cmCallback the device's
// thread, cmThread the component's own worker.
enum TMMCBMode { cmWindow, cmCallback, cmThread };

constexpr int kMaxWaveOutBuffers = 500;
constexpr std::uint32_t kWaveOutStopRequest = 32769;

class TMMWaveOut : public TMMCustomSoundComponent {
 public:
  enum : unsigned { stClosed = 1, stOpen = 2, stPlaying = 4, stPaused = 8 };

  TMMWaveOut();
  ~TMMWaveOut() override;

  bool HasPublishedProperty(const std::string& name) const override;

  void SetBufferSize(int size) override;
  int GetNumBuffers() const { return numBuffers_; }
  void SetNumBuffers(int n);
  int GetDeviceID() const { return deviceId_; }
  void SetDeviceID(int id);
  const std::string& GetProductName() const { return productName_; }
  TMMCBMode GetCallBackMode() const { return cbMode_; }
  void SetCallBackMode(TMMCBMode mode);
  TMMTimeFormats TimeFormat = tfByte;
  bool Looping = false;
  std::uint16_t LoopCount = 0;
  bool ShowHourGlass = true;  // no wait cursor in the engine: kept for the stored layouts

  unsigned State() const { return devState_; }
  std::int64_t PlayedBytes() const;
  std::int64_t Position();

  // OnOpen, OnStart, OnPause, OnRestart: on the thread that called Open, Start, Pause, Restart
  //   (Start and Pause open a closed device first, firing OnOpen on the same thread).
  // OnStop: on the thread that called Stop (or Close, or Reposition that found nothing to play);
  //   on the UI thread when the playback ended by itself, after a failure on the completion
  //   thread, or when Stop had to wait for a completion being handled.
  // OnClose: on the thread that called Close; on the UI thread when the close waited for such a
  //   stop or follows a failure on the completion thread. Neither fires while destroying.
  // OnError: on the thread of the call that failed (Open ... Close, Position); on the UI thread
  //   for a failure while handling a completion, whatever the mode.
  // OnLooping: on the completion thread, as a looped header comes back.
  TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose, OnLooping;
  // Each filled header before it is queued: on the thread that called Start or Reposition for
  // the first ones (up to NumBuffers), then on the completion thread.
  TMMBufferEvent OnBufferFilled;

  // Called on the UI thread. The completion thread posts Stop to the UI thread when the input
  // ran dry; a completion that failed closes the device there too. The first pulls from the
  // Input (up to NumBuffers) run inside Start and Reposition, on the caller's thread; every later
  // pull, and every push to the Output, on the completion thread.
  void Open() override;
  void Close() override;
  virtual void Reposition();
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;

  void SetWaveFormat(const TWaveFormatEx* format) override;
  void BufferReady(PWaveHdr) override {}

 private:
  void ErrorClose();
  class Worker;
  static void WaveOutProc(ql::HWAVEOUT hwo, std::uint32_t msg, std::uintptr_t instance,
                          std::uintptr_t p1, std::uintptr_t p2);
  void DeviceMessage(std::uint32_t msg, PWaveHdr hdr);
  void HandleDone(PWaveHdr hdr, unsigned gen);
  void ReportFailure(const std::exception& e);
  void PostStopRequest();
  [[noreturn]] void Raise(const std::string& msg);
  [[noreturn]] void RaiseMM(const char* prefix, ql::MMRESULT r);
  void ErrorCleanup(bool close);
  void CheckFormat();
  int PullInto(PWaveHdr hdr);
  void WriteHeader(PWaveHdr hdr);
  void FillHeaders(bool allocate);
  void DoStop();
  void DoClose();
  std::int64_t DevicePositionSamples();
  void ResetPosition();
  void StopWorker();

  std::atomic<unsigned> devState_{stClosed};
  std::atomic<unsigned> gen_{0};  // a new run: completions of the one before are ignored
  bool sectionOpen_ = false;
  std::mutex posMutex_;
  ql::HWAVEOUT handle_ = nullptr;
  std::uint32_t numDevs_ = 0;
  ql::MMRESULT lastResult_ = 0;
  ql::WAVEOUTCAPS caps_{};
  std::string productName_;
  int deviceId_ = 0;
  int numBuffers_ = 10;
  TMMCBMode cbMode_ = cmWindow;

  std::vector<WaveHdrPtr> headers_;
  int nextIndex_ = 0;
  int filled_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  int queued_ = 0;
  int handlers_ = 0;
  int pendingDone_ = 0;  // completions posted to the window or the worker, not handled yet
  bool closing_ = false, closePending_ = false;
  std::atomic<bool> resetting_{false}, stopping_{false};
  bool stopPending_ = false;
  bool moreBuffers_ = false;
  int loopsLeft_ = 0;
  std::int64_t playedBytes_ = 0;
  // Position bookkeeping, in samples.
  std::int64_t posOffset_ = 0, lastDevPos_ = 0, wraps_ = 0, loopStart_ = 0, finalPos_ = 0;

  std::unique_ptr<Worker> worker_;
  ql::Alive alive_;
};
