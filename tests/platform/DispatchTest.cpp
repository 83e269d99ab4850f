#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "PollDispatcher.h"

using namespace std::chrono_literals;
using ql::PollDispatcher;

TEST(PollDispatcher, PostedCallsRunInOrderOnTheUiThreadFromAnyThread) {
  PollDispatcher d;
  std::vector<int> order;
  std::thread::id ran_on;
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i)
      d.Post([&, i] {
        order.push_back(i);
        ran_on = std::this_thread::get_id();
      });
  });
  worker.join();
  EXPECT_TRUE(d.RunUntil([&] { return order.size() == 100; }, 2s));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST(PollDispatcher, CallForADestroyedObjectIsDropped) {
  PollDispatcher d;
  int runs = 0;
  {
    ql::Alive alive;
    d.Post(alive, [&] { ++runs; });
  }  // destroyed before the loop ran
  ql::Alive kept;
  d.Post(kept, [&] { runs += 10; });
  d.RunUntil([] { return false; }, 50ms);
  EXPECT_EQ(runs, 10);
}

TEST(PollDispatcher, ObjectDestroyedOnAWorkerWaitsForItsRunningCall) {
  PollDispatcher d;
  auto alive = std::make_unique<ql::Alive>();
  std::atomic<bool> in_call{false}, destroyed{false};
  bool destroyed_during_call = false;
  d.Post(*alive, [&] {
    in_call = true;
    std::this_thread::sleep_for(50ms);
    destroyed_during_call = destroyed;
  });
  std::thread worker([&] {
    while (!in_call) std::this_thread::yield();
    alive.reset();
    destroyed = true;
  });
  d.RunUntil([&] { return in_call.load(); }, 1s);
  worker.join();
  EXPECT_FALSE(destroyed_during_call);
}

TEST(PollDispatcher, InvokeRunsOnTheUiThreadAndReturnsResultsAndErrors) {
  PollDispatcher d;
  std::atomic<bool> finished{false};
  std::thread::id ran_on;
  std::string error;
  std::thread worker([&] {
    d.Invoke([&] { ran_on = std::this_thread::get_id(); });
    try {
      d.Invoke([] { throw std::runtime_error("raised on the UI thread"); });
    } catch (const std::exception& e) {
      error = e.what();
    }
    finished = true;
  });
  EXPECT_TRUE(d.RunUntil([&] { return finished.load(); }, 2s));
  worker.join();
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  EXPECT_EQ(error, "raised on the UI thread");
}

TEST(PollDispatcher, WaitingForAWorkerServesItsSynchronousCalls) {
  // The UI thread waits for the worker to end while the worker needs the UI thread: no deadlock.
  PollDispatcher d;
  std::atomic<bool> done{false};
  int served = 0;
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i) d.Invoke([&] { ++served; });
    done = true;
  });
  EXPECT_TRUE(d.WaitServing([&] { return done.load(); }, 5s));
  worker.join();
  EXPECT_EQ(served, 20);
}

TEST(PollDispatcher, InvokeOnTheUiThreadRunsAtOnce) {
  PollDispatcher d;
  bool ran = false;
  d.Invoke([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(PollDispatcher, TimersRepeatUntilKilledAndSingleShotsFireOnce) {
  PollDispatcher d;
  int ticks = 0, shots = 0;
  ql::TimerId id = d.SetTimer(5, [&] { ++ticks; });
  d.SetTimer(
      5, [&] { ++shots; }, true);
  EXPECT_TRUE(d.RunUntil([&] { return ticks >= 3; }, 2s));
  d.KillTimer(id);
  int seen = ticks;
  d.RunUntil([] { return false; }, 30ms);
  EXPECT_EQ(ticks, seen);
  EXPECT_EQ(shots, 1);
}

TEST(PollDispatcher, TimerKilledFromItsOwnCallAndWaitLoopsInsideATimer) {
  PollDispatcher d;
  int ticks = 0, inner = 0;
  ql::TimerId id = 0;
  id = d.SetTimer(1, [&] {
    ++ticks;
    d.KillTimer(id);
  });
  // A handler that processes messages in a wait loop does not re-enter itself.
  ql::TimerId nested = d.SetTimer(1, [&] {
    ++inner;
    EXPECT_EQ(inner, 1);
    for (int i = 0; i < 5; ++i) {
      usleep(2000);
      d.ProcessMessages();
    }
    --inner;
  });
  d.RunUntil([] { return false; }, 40ms);
  d.KillTimer(nested);
  EXPECT_EQ(ticks, 1);
}

TEST(PollDispatcher, DescriptorWatchesReportReadAndWriteReadiness) {
  PollDispatcher d;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string got;
  unsigned write_seen = 0;
  ql::WatchId r = d.WatchFd(fds[0], ql::kFdRead, [&](unsigned ev) {
    char buf[16];
    if (ev & ql::kFdRead) {
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
  });
  ql::WatchId w = d.WatchFd(fds[1], ql::kFdWrite, [&](unsigned ev) {
    write_seen |= ev;
    ASSERT_EQ(write(fds[1], "abc", 3), 3);
    d.ModifyWatch(w, 0);  // stop asking once written
  });
  EXPECT_TRUE(d.RunUntil([&] { return got == "abc"; }, 2s));
  EXPECT_TRUE(write_seen & ql::kFdWrite);
  d.Unwatch(r);
  d.Unwatch(w);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  d.RunUntil([] { return false; }, 20ms);
  EXPECT_EQ(got, "abc");
  close(fds[0]);
  close(fds[1]);
}
