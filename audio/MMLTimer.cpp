#include "MMLTimer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Dispatch.h"
#include "MMErrors.h"
#include "MMObjects.h"

// The shared record: the periodic timer thread and the registered timers.
struct TMMLongTimerShared {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<TMMLongTimer*> timers;
  std::thread thread;
  bool quit = false;

  static TMMLongTimerShared*& Instance() {
    static TMMLongTimerShared* shared = nullptr;
    return shared;
  }
  static std::mutex& InstanceMutex() {
    static std::mutex m;
    return m;
  }
  void Tick();
  void Run();
  // Runs on the UI thread: fires the timer if it is still registered.
  static void Fire(std::uint64_t id);
};

namespace {
std::atomic<std::int64_t> periodMs{1000};
std::atomic<std::uint64_t> nextId{1};
}  // namespace

void SetLongTimerPeriod(std::chrono::milliseconds period) {
  periodMs = period.count();
}

void TMMLongTimerShared::Run() {
  std::unique_lock lock(mutex);
  auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs.load());
  while (!quit) {
    if (cv.wait_until(lock, due, [this] { return quit; })) break;
    due += std::chrono::milliseconds(periodMs.load());
    Tick();
  }
}

void TMMLongTimerShared::Tick() {
  auto* d = ql::CurrentDispatcher();
  for (TMMLongTimer* t : timers) {
    if (!t->enabled_ || !t->onTimer_ || t->interval_ <= 0) continue;
    if (++t->counter_ >= t->interval_) {
      t->counter_ = 0;
      if (d) d->Post([id = t->id_] { Fire(id); });
    }
  }
}

void TMMLongTimerShared::Fire(std::uint64_t id) {
  TMMLongTimer::TTimerEvent handler;
  TMMLongTimer* timer = nullptr;
  {
    std::lock_guard ilock(InstanceMutex());
    TMMLongTimerShared* s = Instance();
    if (!s) return;
    std::lock_guard lock(s->mutex);
    for (TMMLongTimer* t : s->timers)
      if (t->id_ == id) timer = t, handler = t->onTimer_;
  }
  if (!timer || !handler) return;
  try {
    handler(timer);
  } catch (const std::exception& e) {
    ApplicationHandleException(e);
  }
}

TMMLongTimer::TMMLongTimer() : id_(nextId++) {
  std::lock_guard ilock(TMMLongTimerShared::InstanceMutex());
  auto*& s = TMMLongTimerShared::Instance();
  if (!s) {
    s = new TMMLongTimerShared;
    try {
      s->thread = std::thread([s] { s->Run(); });
    } catch (...) {
      delete s;
      s = nullptr;
      throw EOutOfResources("Not enough timers available");
    }
  }
  std::lock_guard lock(s->mutex);
  s->timers.push_back(this);
}

TMMLongTimer::~TMMLongTimer() {
  TMMLongTimerShared* last = nullptr;
  {
    std::lock_guard ilock(TMMLongTimerShared::InstanceMutex());
    auto*& s = TMMLongTimerShared::Instance();
    if (!s) return;
    {
      std::lock_guard lock(s->mutex);
      s->timers.erase(std::remove(s->timers.begin(), s->timers.end(), this), s->timers.end());
      if (s->timers.empty()) {
        s->quit = true;
        last = s;
        s = nullptr;
      }
    }
  }
  if (last) {
    last->cv.notify_all();
    last->thread.join();
    delete last;
  }
}

namespace {
template <typename F>
void Locked(F f) {
  std::lock_guard ilock(TMMLongTimerShared::InstanceMutex());
  TMMLongTimerShared* s = TMMLongTimerShared::Instance();
  if (s) {
    std::lock_guard lock(s->mutex);
    f();
  } else {
    f();
  }
}
}  // namespace

bool TMMLongTimer::GetEnabled() const {
  bool v;
  Locked([&] { v = enabled_; });
  return v;
}
void TMMLongTimer::SetEnabled(bool on) {
  Locked([&] { enabled_ = on, counter_ = 0; });
}
int TMMLongTimer::GetInterval() const {
  int v;
  Locked([&] { v = interval_; });
  return v;
}
void TMMLongTimer::SetInterval(int seconds) {
  Locked([&] { interval_ = seconds, counter_ = 0; });
}
void TMMLongTimer::SetOnTimer(TTimerEvent handler) {
  Locked([&] { onTimer_ = std::move(handler), counter_ = 0; });
}
