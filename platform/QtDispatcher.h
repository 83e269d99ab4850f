#pragma once
// The dispatcher of the programs: the Qt event loop of the thread that constructs it.
#include <QObject>
#include <map>
#include <memory>

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
  void Fire(WatchId id, unsigned event);

  std::unique_ptr<QObject> context_;
  std::map<TimerId, std::unique_ptr<QTimer>> timers_;
  std::map<WatchId, Watch> watches_;
  std::uint64_t next_id_ = 1;
};

}  // namespace ql
