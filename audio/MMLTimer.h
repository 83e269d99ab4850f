#pragma once
// TMMLongTimer: a timer with a resolution of one second for long intervals. Every long timer of
// the process counts on one shared periodic timer; OnTimer fires on the UI thread.
// The shared timer runs on a thread of its own and posts each due OnTimer to the dispatcher; a
// tick while no dispatcher is installed is lost.
#include <chrono>
#include <cstdint>
#include <functional>

class TMMLongTimer {
 public:
  using TTimerEvent = std::function<void(TMMLongTimer* Sender)>;

  TMMLongTimer();
  ~TMMLongTimer();
  TMMLongTimer(const TMMLongTimer&) = delete;
  TMMLongTimer& operator=(const TMMLongTimer&) = delete;

  // Any thread (the shared timer's lock).
  bool GetEnabled() const;
  void SetEnabled(bool on);
  int GetInterval() const;  // seconds
  void SetInterval(int seconds);
  // The handler runs on the UI thread, from a posted call; a timer destroyed on the UI thread
  // before that call runs does not fire. What the handler throws goes to
  // ApplicationHandleException, on the UI thread.
  void SetOnTimer(TTimerEvent handler);

  std::uint64_t Id() const { return id_; }

 private:
  friend struct TMMLongTimerShared;
  std::uint64_t id_;
  bool enabled_ = true;
  int interval_ = 1;
  int counter_ = 0;
  TTimerEvent onTimer_;
};

// Period of the shared timer: one second. Tests shorten it.
void SetLongTimerPeriod(std::chrono::milliseconds period);
