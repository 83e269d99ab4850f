#pragma once
// The user-interface thread's message loop as the rest of the system sees it: posted calls,
// synchronous calls from worker threads, timers, file-descriptor watches and "process pending
// messages" for wait loops. Two implementations: QtDispatcher (the programs) and PollDispatcher
// (tests and the command line).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace ql {

using Callback = std::function<void()>;
using TimerId = std::uint64_t;
using WatchId = std::uint64_t;

enum FdEvent : unsigned { kFdRead = 1, kFdWrite = 2, kFdError = 4 };

// Lifetime token of an object that receives posted calls. A call posted for a token that has
// been killed (its object destroyed) in the meantime is dropped. Killing waits for a call of
// the token that runs on another thread, so an object is never destroyed under its own call.
class Alive {
 public:
  Alive();
  ~Alive();
  Alive(const Alive&) = delete;
  Alive& operator=(const Alive&) = delete;
  void Kill();

  struct State {
    std::recursive_mutex mutex;
    bool alive = true;
  };
  std::shared_ptr<State> state() const { return state_; }

 private:
  std::shared_ptr<State> state_;
};

class Dispatcher {
 public:
  Dispatcher();
  virtual ~Dispatcher();

  // Any thread: queue fn to run on the UI thread, after the calls posted before it.
  virtual void Post(Callback fn) = 0;
  // Any thread: as Post, but dropped when owner has been destroyed before the call runs.
  void Post(const Alive& owner, Callback fn);
  // Any thread: run fn on the UI thread and wait for it to return; on the UI thread it runs at
  // once. An exception thrown by fn is rethrown to the caller.
  void Invoke(const Callback& fn);

  // UI thread only. Timers repeat until killed unless single_shot is set.
  virtual TimerId SetTimer(int interval_ms, Callback fn, bool single_shot = false) = 0;
  virtual void KillTimer(TimerId id) = 0;
  // UI thread only. fn receives the FdEvent bits that are ready.
  virtual WatchId WatchFd(int fd, unsigned events, std::function<void(unsigned)> fn) = 0;
  virtual void ModifyWatch(WatchId id, unsigned events) = 0;
  virtual void Unwatch(WatchId id) = 0;

  // UI thread only: run what is pending now (posted calls, due timers, ready descriptors)
  // without blocking. This is "process pending messages" of the wait loops.
  virtual void ProcessMessages() = 0;

  // UI thread only: wait until done() holds or the timeout passes, serving the synchronous
  // calls of worker threads meanwhile (never other messages). Returns done().
  bool WaitServing(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // UI thread only: run the synchronous calls worker threads are waiting in.
  void ServeInvokes();

  bool IsUiThread() const { return std::this_thread::get_id() == ui_thread_; }

 protected:
  // Make the loop call ServeInvokes soon (any thread).
  virtual void WakeForInvoke() = 0;

 private:
  struct Pending {
    const Callback* fn;
    bool done = false;
    std::exception_ptr error;
  };
  std::thread::id ui_thread_;
  std::mutex invoke_mutex_;
  std::condition_variable invoke_cv_;
  std::deque<Pending*> invokes_;
};

// The process's dispatcher. A dispatcher's UI thread is the thread that constructed it.
Dispatcher& Dispatch();
Dispatcher* CurrentDispatcher();
void SetDispatcher(Dispatcher* dispatcher);

}  // namespace ql
