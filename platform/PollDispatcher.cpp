#include "PollDispatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace ql {

using Clock = std::chrono::steady_clock;

PollDispatcher::PollDispatcher() : wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (wake_fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

PollDispatcher::~PollDispatcher() {
  close(wake_fd_);
}

void PollDispatcher::Wake() {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_fd_, &one, sizeof one);
}

void PollDispatcher::WakeForInvoke() {
  Wake();
}

void PollDispatcher::Post(Callback fn) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(fn));
  }
  Wake();
}

TimerId PollDispatcher::SetTimer(int interval_ms, Callback fn, bool single_shot) {
  TimerId id = next_id_++;
  auto interval = std::chrono::milliseconds(interval_ms < 0 ? 0 : interval_ms);
  timers_[id] = Timer{Clock::now() + interval, interval, std::move(fn), single_shot};
  return id;
}

void PollDispatcher::KillTimer(TimerId id) {
  timers_.erase(id);
}

WatchId PollDispatcher::WatchFd(int fd, unsigned events, std::function<void(unsigned)> fn) {
  WatchId id = next_id_++;
  watches_[id] = Watch{fd, events, std::make_shared<std::function<void(unsigned)>>(std::move(fn))};
  return id;
}

void PollDispatcher::ModifyWatch(WatchId id, unsigned events) {
  auto it = watches_.find(id);
  if (it != watches_.end()) it->second.events = events;
}

void PollDispatcher::Unwatch(WatchId id) {
  watches_.erase(id);
}

int PollDispatcher::NextTimeout(int timeout_ms) const {
  {
    std::lock_guard lock(mutex_);
    if (!posted_.empty()) return 0;
  }
  int result = timeout_ms;
  auto now = Clock::now();
  for (const auto& [id, t] : timers_) {
    if (t.running) continue;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(t.due - now).count();
    int ms = left <= 0 ? 0 : static_cast<int>(left);
    if (result < 0 || ms < result) result = ms;
  }
  return result;
}

void PollDispatcher::RunPosted() {
  std::deque<Callback> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(posted_);
  }
  while (!batch.empty()) {
    Callback fn = std::move(batch.front());
    batch.pop_front();
    fn();
  }
}

void PollDispatcher::RunTimers() {
  auto now = Clock::now();
  std::vector<TimerId> due;
  for (auto& [id, t] : timers_)
    if (!t.running && t.due <= now) due.push_back(id);
  for (TimerId id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end()) continue;  // killed by an earlier timer of this round
    Timer& t = it->second;
    Callback fn = t.fn;
    if (t.single_shot) {
      timers_.erase(it);
      fn();
      continue;
    }
    t.due = now + t.interval;
    t.running = true;  // a wait loop inside fn must not re-enter this timer
    fn();
    it = timers_.find(id);
    if (it != timers_.end()) it->second.running = false;
  }
}

void PollDispatcher::RunOnce(int timeout_ms) {
  std::vector<pollfd> fds;
  std::vector<WatchId> ids;
  fds.push_back({wake_fd_, POLLIN, 0});
  for (const auto& [id, w] : watches_) {
    if (w.running || w.events == 0) continue;
    short ev = 0;
    if (w.events & kFdRead) ev |= POLLIN;
    if (w.events & kFdWrite) ev |= POLLOUT;
    fds.push_back({w.fd, ev, 0});
    ids.push_back(id);
  }
  int n = poll(fds.data(), fds.size(), NextTimeout(timeout_ms));
  if (n > 0 && (fds[0].revents & POLLIN)) {
    std::uint64_t count;
    [[maybe_unused]] ssize_t r = read(wake_fd_, &count, sizeof count);
  }
  ServeInvokes();
  RunPosted();
  RunTimers();
  if (n <= 0) return;
  for (size_t i = 1; i < fds.size(); ++i) {
    if (!fds[i].revents) continue;
    auto it = watches_.find(ids[i - 1]);
    if (it == watches_.end()) continue;  // removed by an earlier handler
    unsigned ready = 0;
    if (fds[i].revents & (POLLIN | POLLHUP)) ready |= kFdRead;
    if (fds[i].revents & POLLOUT) ready |= kFdWrite;
    if (fds[i].revents & (POLLERR | POLLNVAL)) ready |= kFdError;
    ready &= it->second.events | kFdError;
    if (!ready) continue;
    auto fn = it->second.fn;  // keeps the handler alive if it unwatches itself
    it->second.running = true;
    (*fn)(ready);
    it = watches_.find(ids[i - 1]);
    if (it != watches_.end()) it->second.running = false;
  }
}

void PollDispatcher::Run() {
  quit_ = false;
  while (!quit_) RunOnce(-1);
}

void PollDispatcher::Quit() {
  quit_ = true;
  Wake();
}

bool PollDispatcher::RunUntil(const std::function<bool()>& pred,
                              std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (!pred()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return pred();
    RunOnce(static_cast<int>(std::min<long>(left.count(), 50)));
  }
  return true;
}

}  // namespace ql
