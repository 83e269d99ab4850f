// The programs' dispatcher on the Qt event loop: the same contract as the poll() loop.
#include "QtDispatcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "GuiTest.h"

using namespace std::chrono_literals;

TEST(QtDispatcher, PostedCallsRunInOrderOnTheUiThreadAndDeadReceiversAreSkipped) {
  ql::Dispatcher& d = ql::Dispatch();
  std::vector<int> order;
  std::thread::id ran_on;
  auto dead = std::make_unique<ql::Alive>();
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i)
      d.Post([&, i] {
        order.push_back(i);
        ran_on = std::this_thread::get_id();
      });
    d.Post(*dead, [&] { order.push_back(-1); });
  });
  worker.join();
  dead.reset();
  EXPECT_TRUE(SpinUntil([&] { return order.size() >= 50; }, 2s));
  SpinUntil([] { return false; }, 50ms);
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST(QtDispatcher, InvokeFromAWorkerIsServedByTheEventLoopAndByWaits) {
  ql::Dispatcher& d = ql::Dispatch();
  std::atomic<int> done{0};
  std::thread::id ran_on;
  std::thread a([&] {
    d.Invoke([&] { ran_on = std::this_thread::get_id(); });
    ++done;
  });
  EXPECT_TRUE(SpinUntil([&] { return done == 1; }, 2s));  // served by the event loop
  a.join();
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  // A UI-thread wait that processes no events still serves the worker.
  std::thread b([&] {
    for (int i = 0; i < 10; ++i) d.Invoke([] {});
    ++done;
  });
  EXPECT_TRUE(d.WaitServing([&] { return done == 2; }, 5s));
  b.join();
}

TEST(QtDispatcher, TimersRepeatSingleShotsFireOnceAndATimerMayKillItself) {
  ql::Dispatcher& d = ql::Dispatch();
  int ticks = 0, shots = 0, self = 0;
  ql::TimerId repeating = d.SetTimer(5, [&] { ++ticks; });
  d.SetTimer(
      5, [&] { ++shots; }, true);
  ql::TimerId own = 0;
  own = d.SetTimer(5, [&] {
    ++self;
    d.KillTimer(own);
  });
  EXPECT_TRUE(SpinUntil([&] { return ticks >= 3; }, 2s));
  d.KillTimer(repeating);
  int seen = ticks;
  SpinUntil([] { return false; }, 40ms);
  EXPECT_EQ(ticks, seen);
  EXPECT_EQ(shots, 1);
  EXPECT_EQ(self, 1);
}

TEST(QtDispatcher, DescriptorWatchesReportReadiness) {
  ql::Dispatcher& d = ql::Dispatch();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string got;
  ql::WatchId r = d.WatchFd(fds[0], ql::kFdRead, [&](unsigned ev) {
    char buf[16];
    if (ev & ql::kFdRead) {
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
  });
  bool wrote = false;
  ql::WatchId w = 0;
  w = d.WatchFd(fds[1], ql::kFdWrite, [&](unsigned ev) {
    if (!(ev & ql::kFdWrite) || wrote) return;
    wrote = write(fds[1], "qt", 2) == 2;
    d.ModifyWatch(w, 0);
  });
  EXPECT_TRUE(SpinUntil([&] { return got == "qt"; }, 2s));
  d.Unwatch(r);
  d.Unwatch(w);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  SpinUntil([] { return false; }, 30ms);
  EXPECT_EQ(got, "qt");
  close(fds[0]);
  close(fds[1]);
}
