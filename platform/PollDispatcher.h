#pragma once
// The dispatcher of tests and the command line: a small poll() loop on the constructing thread.
#include <atomic>
#include <map>

#include "Dispatch.h"

namespace ql {

class PollDispatcher : public Dispatcher {
 public:
  PollDispatcher();
  ~PollDispatcher() override;

  using Dispatcher::Post;
  void Post(Callback fn) override;
  TimerId SetTimer(int interval_ms, Callback fn, bool single_shot = false) override;
  void KillTimer(TimerId id) override;
  WatchId WatchFd(int fd, unsigned events, std::function<void(unsigned)> fn) override;
  void ModifyWatch(WatchId id, unsigned events) override;
  void Unwatch(WatchId id) override;
  void ProcessMessages() override { RunOnce(0); }

  // Wait at most timeout_ms (-1: no limit) for something to do, then do everything pending.
  void RunOnce(int timeout_ms);
  // Run until Quit() is called.
  void Run();
  void Quit();
  // Run until pred() holds or the timeout passes; returns pred().
  bool RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

 protected:
  void WakeForInvoke() override;

 private:
  struct Timer {
    std::chrono::steady_clock::time_point due;
    std::chrono::milliseconds interval;
    Callback fn;
    bool single_shot;
    bool running = false;
  };
  struct Watch {
    int fd;
    unsigned events;
    std::shared_ptr<std::function<void(unsigned)>> fn;
    bool running = false;
  };
  void Wake();
  void RunPosted();
  void RunTimers();
  int NextTimeout(int timeout_ms) const;

  int wake_fd_;
  mutable std::mutex mutex_;
  std::deque<Callback> posted_;
  std::map<TimerId, Timer> timers_;
  std::map<WatchId, Watch> watches_;
  std::uint64_t next_id_ = 1;
  std::atomic<bool> quit_{false};
};

}  // namespace ql
