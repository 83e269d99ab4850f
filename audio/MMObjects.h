#pragma once
// The sound component chain: the component base classes, linking, format flow, buffer sizes,
// pull and push, the driver sections, the component and thread registries, and the worker
// thread base with its main-thread synchronisation.
//
// Threads. A driver's Open, Close, Start, Pause, Restart, Stop and Reposition are called on the UI
// thread (the thread of the dispatcher; the main thread of the command line). They notify the
// components of their section (Opened, Closed, Started, ...) on that same thread before they
// return, and a driver below another one is driven by those notifications, on the same thread; a
// Stop that finds a buffer being handled is finished later, on the UI thread. The audio moves on
// the "chain thread": a trigger's worker, or the thread a wave output handles its completions on
// (the UI thread, its device's thread or its own worker, by TMMCBMode); a ring buffer's worker
// pulls the part above it (read mode) or pushes the part below (write mode). BufferLoad,
// BufferReady, OnBufferLoad, OnBufferReady and ProcessHook run on the chain thread, except the
// first pulls of a driver's Start (and of a wave output's Reposition), which run on the caller's
// thread. A driver that ends by itself (the input ran dry, or the chain thread failed) posts its
// Stop or Close to the UI thread with ql::Dispatch().Post: the Stopped and Closed that follow,
// OnStop, OnClose and the OnError of such a failure all run on the UI thread. Changing a link, a
// format or the buffer size sends Stopped on the caller's thread. Events raised through
// CallSynchronized run on the UI thread when raised on a registered worker (a TMMDSPThread:
// trigger, ring buffer) while a dispatcher exists, else inline; a wave output's device thread and
// its cmThread worker are not registered, so there they run on that thread.
#include <atomic>
#include <exception>
#include <functional>
#include <string>
#include <thread>

#include "MMUtils.h"

class TMMDSPComponent;

// Where each event member is declared, a comment names the thread it fires on.
using TNotifyEvent = std::function<void(TMMDSPComponent* Sender)>;
using TMMBufferEvent = std::function<void(TMMDSPComponent* Sender, PWaveHdr lpWaveHdr)>;
using TMMBufferLoadEvent =
    std::function<void(TMMDSPComponent* Sender, PWaveHdr lpWaveHdr, bool& MoreBuffers)>;

enum TComponentState : unsigned { csLoading = 1, csReading = 2, csDestroying = 4, csDesigning = 8 };

class TMMComponent {
 public:
  TMMComponent() = default;
  virtual ~TMMComponent() = default;
  TMMComponent(const TMMComponent&) = delete;
  TMMComponent& operator=(const TMMComponent&) = delete;

  std::string Name;
  unsigned ComponentState() const { return state_; }
  // Loading from a stored layout: format propagation is held back until Loaded.
  void BeginLoading() { state_ |= csLoading; }
  virtual void Loaded() { state_ &= ~unsigned(csLoading); }
  void SetDesigning(bool on) { on ? state_ |= csDesigning : state_ &= ~unsigned(csDesigning); }
  // Whether the class publishes a property of that name.
  virtual bool HasPublishedProperty(const std::string& name) const;

 protected:
  unsigned state_ = 0;
};

class TMMNonVisualComponent : public TMMComponent {};

class TMMCustomDSPComponent : public TMMNonVisualComponent {};

enum class TMMLinkSide { Input, Output };

class TMMDSPComponent : public TMMCustomDSPComponent {
 public:
  TMMDSPComponent();
  ~TMMDSPComponent() override;

  bool HasPublishedProperty(const std::string& name) const override;

  virtual void PropagateFormat();
  virtual void ReleasePartner(TMMDSPComponent* comp, TMMLinkSide side, const std::string& prop);
  virtual void SetInput(TMMDSPComponent* value);
  virtual TMMDSPComponent* GetInput() const { return input_; }
  virtual void SetOutput(TMMDSPComponent* value);
  virtual TMMDSPComponent* GetOutput() const { return output_; }
  virtual void InputFormatChanged(const TWaveFormatEx* format);
  virtual void SetWaveFormat(const TWaveFormatEx* format);
  virtual const TWaveFormatEx* GetWaveFormat() const { return pwfx_; }
  virtual int GetBufferSize() const;
  virtual void SetBufferSize(int size);
  // Section notifications: on the thread that called the driver's Open, Close, Start, Pause,
  // Restart, Stop or Reposition (the UI thread), or on the UI thread for the Stop or Close a
  // driver posts when it ends by itself. Stopped also comes from SetInput, SetOutput,
  // SetWaveFormat and SetBufferSize, on the caller's thread.
  virtual void Opened();
  virtual void Closed();
  virtual void Started();
  virtual void Paused() {}
  virtual void Restarted() {}
  virtual void Stopped();
  virtual void Repositioned() {}
  // A push: on the chain thread.
  virtual void BufferReady(PWaveHdr lpWaveHdr);
  // A pull: on the chain thread; a driver's first pulls on the thread that called Start.
  virtual void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers);
  virtual void SetInputLink(TMMDSPComponent* value, const std::string& linkName);
  virtual void SetOutputLink(TMMDSPComponent* value, const std::string& linkName);
  virtual bool CanConnectInput(TMMDSPComponent* candidate);
  virtual bool CanConnectOutput(TMMDSPComponent* candidate);

  // Drivers (sound components) run their section of the chain.
  virtual bool IsSoundComponent() const { return false; }

  void Loaded() override;

  bool IsOpen() const { return opened_; }
  bool IsStarted() const { return started_; }
  const std::string& InputLinkName() const { return inputLink_; }
  const std::string& OutputLinkName() const { return outputLink_; }

  // Fired inside BufferReady and BufferLoad, on the same thread (the chain thread; the caller's
  // for the first pulls of a Start).
  TMMBufferEvent OnBufferReady;
  TMMBufferLoadEvent OnBufferLoad;

 protected:
  // Set by subclasses that process the data of their own pulls in place. Runs inside
  // BufferLoad, on the pulling thread.
  TMMBufferEvent ProcessHook;
  bool Propagating() const { return !(state_ & (csLoading | csReading | csDestroying)); }
  // The buffer size that holds whole sample frames of the current format.
  int EffectiveSize(int size) const;
  // Pulls up to length bytes from the input into scratch on behalf of the pull h, for stages
  // that pull in sizes of their own: h's loop state goes down with it, and what the input
  // reports of looping and its user word comes back to h. Returns the input's MoreBuffers.
  bool PullFor(PWaveHdr h, PWaveHdr scratch, std::uint32_t length);

  TMMDSPComponent* input_ = nullptr;
  TMMDSPComponent* output_ = nullptr;
  PWaveFormatEx pwfx_ = nullptr;
  int bufferSize_ = 2048;
  int effectiveSize_ = 2048;
  std::atomic<bool> opened_{false};
  std::atomic<bool> started_{false};
  std::string inputLink_, outputLink_;
};

enum class TMMNotify { Opened, Closed, Started, Paused, Restarted, Stopped, Repositioned };

class TMMCustomSoundComponent : public TMMDSPComponent {
 public:
  bool IsSoundComponent() const override { return true; }
  bool HasUpstreamDriver() const { return hasUpstreamDriver_; }

  // Called by the application on the UI thread. A driver calls its own Stop or Close on the UI
  // thread (posted from the chain thread) when it ends by itself.
  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual void Start() = 0;
  virtual void Pause() = 0;
  virtual void Restart() = 0;
  virtual void Stop() = 0;

  // A driver below another is driven by the notifications, on the upper driver's thread.
  void Opened() override { Open(); }
  void Closed() override { Close(); }
  void Started() override { Start(); }
  void Paused() override { Pause(); }
  void Restarted() override { Restart(); }
  void Stopped() override { Stop(); }
  void Repositioned() override { NotifySection(TMMNotify::Repositioned); }

 protected:
  // Sends the notification to the components of this driver's section (and to the next driver
  // below), then runs this driver's own base behaviour. All on the calling thread.
  void NotifySection(TMMNotify what);

 private:
  TMMDSPComponent* SectionStart(bool setUpstreamFlag);
  static void Send(TMMDSPComponent* c, TMMNotify what);
  void Base(TMMNotify what);
  bool hasUpstreamDriver_ = false;
};

// Number of live components and worker threads (the registries).
std::size_t DSPComponentCount();
std::size_t DSPThreadCount();
// Whether c is a component that is still alive (in the registry).
bool IsLiveDSPComponent(const TMMDSPComponent* c);

// A worker thread bound to a component. Registered while its thread runs: CallSynchronized and
// InDSPThread recognise it. Execute runs on the new thread; an exception leaving it is dropped.
class TMMDSPThread {
 public:
  explicit TMMDSPThread(TMMDSPComponent* owner) : owner_(owner) {}
  virtual ~TMMDSPThread();
  TMMDSPThread(const TMMDSPThread&) = delete;
  TMMDSPThread& operator=(const TMMDSPThread&) = delete;

  void Resume();  // starts the thread
  // Waits for the thread to end; on the UI thread the worker's synchronous calls are served
  // meanwhile. Returns false when it did not end in time (the thread is then detached).
  bool WaitFor(int timeoutMs);
  bool Running() const { return running_; }
  TMMDSPComponent* Owner() const { return owner_; }

 protected:
  virtual void Execute() = 0;

 private:
  TMMDSPComponent* owner_;
  std::thread thread_;
  std::atomic<bool> running_{false};
};

// Runs fn on the UI thread when called from a registered worker thread while a dispatcher
// exists (the worker waits for it), else directly on the calling thread.
void CallSynchronized(const std::function<void()>& fn);
// Whether the calling thread is one of the registered worker threads.
bool InDSPThread();

// The application's report of an error that no caller can catch (a worker thread's failure).
// Called on the UI thread (from calls the drivers post there, and the long timers), except by a
// ring buffer's worker, which calls it on its own thread. By default the message goes to
// stderr. Windows show it in an error box.
void SetApplicationExceptionHandler(std::function<void(const std::exception&)> handler);
void ApplicationHandleException(const std::exception& e);
