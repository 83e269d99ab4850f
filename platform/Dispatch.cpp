#include "Dispatch.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace ql {

Alive::Alive() : state_(std::make_shared<State>()) {}
Alive::~Alive() {
  Kill();
}

void Alive::Kill() {
  std::lock_guard lock(state_->mutex);
  state_->alive = false;
}

Dispatcher::Dispatcher() : ui_thread_(std::this_thread::get_id()) {}
Dispatcher::~Dispatcher() = default;

void Dispatcher::Post(const Alive& owner, Callback fn) {
  Post([state = owner.state(), fn = std::move(fn)] {
    std::lock_guard lock(state->mutex);
    if (state->alive) fn();
  });
}

void Dispatcher::Invoke(const Callback& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  Pending pending{&fn, false, nullptr};
  {
    std::unique_lock lock(invoke_mutex_);
    invokes_.push_back(&pending);
  }
  invoke_cv_.notify_all();
  WakeForInvoke();
  std::unique_lock lock(invoke_mutex_);
  invoke_cv_.wait(lock, [&] { return pending.done; });
  if (pending.error) std::rethrow_exception(pending.error);
}

void Dispatcher::ServeInvokes() {
  for (;;) {
    Pending* pending;
    {
      std::lock_guard lock(invoke_mutex_);
      if (invokes_.empty()) return;
      pending = invokes_.front();
      invokes_.pop_front();
    }
    try {
      (*pending->fn)();
    } catch (...) {
      pending->error = std::current_exception();
    }
    {
      std::lock_guard lock(invoke_mutex_);
      pending->done = true;
    }
    invoke_cv_.notify_all();
  }
}

bool Dispatcher::WaitServing(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    ServeInvokes();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::unique_lock lock(invoke_mutex_);
    // Woken at once by a new synchronous call; the short slice re-tests done().
    invoke_cv_.wait_for(lock, std::chrono::milliseconds(2), [&] { return !invokes_.empty(); });
  }
}

namespace {
std::atomic<Dispatcher*> current{nullptr};
}

Dispatcher* CurrentDispatcher() {
  return current.load();
}

Dispatcher& Dispatch() {
  Dispatcher* d = current.load();
  if (!d) {
    std::fputs("no dispatcher installed\n", stderr);
    std::abort();
  }
  return *d;
}

void SetDispatcher(Dispatcher* dispatcher) {
  current.store(dispatcher);
}

}  // namespace ql
