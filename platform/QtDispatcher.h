#pragma once
// The dispatcher of the programs: the Qt event loop of the thread that constructs it.
#include <QObject>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "Dispatch.h"

class QTimer;
class QSocketNotifier;

namespace ql {

class QtDispatcher : public Dispatcher {
 public:
  QtDispatcher();
  ~QtDispatcher() override;

  using Dispatcher::Post;
  void Post(Callback fn) override;
  TimerId SetTimer(int interval_ms, Callback fn, bool single_shot = false) override;
  void KillTimer(TimerId id) override;
  WatchId WatchFd(int fd, unsigned events, std::function<void(unsigned)> fn) override;
  void ModifyWatch(WatchId id, unsigned events) override;
  void Unwatch(WatchId id) override;
  void ProcessMessages() override;

 protected:
  void WakeForInvoke() override;

 private:
  struct Watch {
    std::unique_ptr<QSocketNotifier> read, write, error;
    std::shared_ptr<std::function<void(unsigned)>> fn;
  };
  class Context;
  void Fire(WatchId id, unsigned event);
  void RunOnePosted();

  std::unique_ptr<QObject> context_;
  // Posted calls wait here, under our own mutex, each woken by one event of its own: Qt's event
  // queue carries no data from thread to thread, so the hand-off is one a race detector sees.
  std::mutex posted_mutex_;
  std::deque<Callback> posted_;
  std::map<TimerId, std::unique_ptr<QTimer>> timers_;
  std::map<WatchId, Watch> watches_;
  std::uint64_t next_id_ = 1;
};

}  // namespace ql
