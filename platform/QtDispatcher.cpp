#include "QtDispatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>

namespace ql {
namespace {

const QEvent::Type kRunPosted = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kServeInvokes = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

// The object the dispatcher's events go to, on the constructing thread.
class QtDispatcher::Context : public QObject {
 public:
  explicit Context(QtDispatcher* owner) : owner_(owner) {}
  bool event(QEvent* e) override {
    QEvent::Type type;
    {
      // The event was made on the posting thread before it released this mutex.
      std::lock_guard lock(owner_->posted_mutex_);
      type = e->type();
    }
    if (type == kRunPosted) {
      owner_->RunOnePosted();
      return true;
    }
    if (type == kServeInvokes) {
      owner_->ServeInvokes();
      return true;
    }
    return QObject::event(e);
  }

 private:
  QtDispatcher* owner_;
};

QtDispatcher::QtDispatcher() : context_(std::make_unique<Context>(this)) {}

QtDispatcher::~QtDispatcher() {
  watches_.clear();
  timers_.clear();
}

void QtDispatcher::Post(Callback fn) {
  // The event is made before the mutex is released: the loop thread reads it, and frees it,
  // only after taking the mutex.
  auto* wake = new QEvent(kRunPosted);
  {
    std::lock_guard lock(posted_mutex_);
    posted_.push_back(std::move(fn));
  }
  QCoreApplication::postEvent(context_.get(), wake);
}

// One call per event, in the order posted, between the other events as they came.
void QtDispatcher::RunOnePosted() {
  Callback fn;
  {
    std::lock_guard lock(posted_mutex_);
    if (posted_.empty()) return;
    fn = std::move(posted_.front());
    posted_.pop_front();
  }
  if (fn) fn();
}

void QtDispatcher::WakeForInvoke() {
  auto* wake = new QEvent(kServeInvokes);
  { std::lock_guard lock(posted_mutex_); }  // as in Post
  QCoreApplication::postEvent(context_.get(), wake);
}

TimerId QtDispatcher::SetTimer(int interval_ms, Callback fn, bool single_shot) {
  TimerId id = next_id_++;
  auto timer = std::make_unique<QTimer>();
  timer->setInterval(interval_ms);
  timer->setSingleShot(single_shot);
  QObject::connect(timer.get(), &QTimer::timeout, context_.get(),
                   [this, id, single_shot, fn = std::move(fn)] {
                     Callback call = fn;  // the timer may be killed inside the call
                     if (single_shot) KillTimer(id);
                     call();
                   });
  timer->start();
  timers_[id] = std::move(timer);
  return id;
}

void QtDispatcher::KillTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second->stop();
  // Deleting the QTimer from inside its own timeout signal is not allowed: defer it.
  it->second.release()->deleteLater();
  timers_.erase(it);
}

void QtDispatcher::Fire(WatchId id, unsigned event) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  auto fn = it->second.fn;
  (*fn)(event);
}

WatchId QtDispatcher::WatchFd(int fd, unsigned events, std::function<void(unsigned)> fn) {
  WatchId id = next_id_++;
  Watch w;
  w.fn = std::make_shared<std::function<void(unsigned)>>(std::move(fn));
  w.read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  w.write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
  w.error = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Exception);
  QObject::connect(w.read.get(), &QSocketNotifier::activated, context_.get(),
                   [this, id] { Fire(id, kFdRead); });
  QObject::connect(w.write.get(), &QSocketNotifier::activated, context_.get(),
                   [this, id] { Fire(id, kFdWrite); });
  QObject::connect(w.error.get(), &QSocketNotifier::activated, context_.get(),
                   [this, id] { Fire(id, kFdError); });
  w.read->setEnabled(events & kFdRead);
  w.write->setEnabled(events & kFdWrite);
  w.error->setEnabled(true);
  watches_[id] = std::move(w);
  return id;
}

void QtDispatcher::ModifyWatch(WatchId id, unsigned events) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  it->second.read->setEnabled(events & kFdRead);
  it->second.write->setEnabled(events & kFdWrite);
}

void QtDispatcher::Unwatch(WatchId id) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  for (auto* n : {&it->second.read, &it->second.write, &it->second.error}) {
    (*n)->setEnabled(false);
    n->release()->deleteLater();
  }
  watches_.erase(it);
}

void QtDispatcher::ProcessMessages() {
  ServeInvokes();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace ql
