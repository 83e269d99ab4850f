#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "AudioTestUtil.h"
#include "MMLTimer.h"
#include "MMRingBf.h"
#include "PollDispatcher.h"

using namespace qlaudio;

namespace {

struct RingFixture : ::testing::Test {
  ql::PollDispatcher loop;
  void SetUp() override { ql::SetDispatcher(&loop); }
  void TearDown() override { ql::SetDispatcher(nullptr); }
};

std::string Pattern(int n) {
  std::string s(n, '\0');
  for (int i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
  return s;
}

// A source that holds each pull until the gate opens (or a time limit passes).
class TGatedSource : public TMemorySource {
 public:
  using TMemorySource::TMemorySource;
  std::atomic<bool> open{true};
  std::atomic<int> holdMs{5000};
  void BufferLoad(PWaveHdr h, bool& more) override {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(holdMs.load());
    while (!open && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    TMemorySource::BufferLoad(h, more);
  }
};

}  // namespace

TEST_F(RingFixture, ReadModeWithSlowConsumerKeepsEverything) {
  const std::string data = Pattern(120000);
  TMemorySource src(data, Pcm());
  src.maxChunk = 7000;
  TMMRingBuffer ring;
  ring.SetQueueMode(qmRead);
  ring.SetNumBuffers(8);
  ring.SetBufferSize(1000);
  src.SetOutput(&ring);
  ring.Opened();
  ring.Started();
  // The producer thread may fall behind (a loaded machine, the sanitizers): the ring then
  // answers a whole buffer of silence and fires OnEmpty first. Those buffers are no data.
  std::atomic<int> empties{0};
  ring.OnEmpty = [&](TMMDSPComponent*) { ++empties; };
  auto h = AllocWaveHdr(1000);
  std::string got;
  for (int i = 0; i < 10000; ++i) {
    bool more = false;
    h->dwBufferLength = 1000;
    const int before = empties.load();
    ring.BufferLoad(h.get(), more);
    if (empties.load() == before) got.append(h->lpData, h->dwBytesRecorded);
    if (!more || !h->dwBytesRecorded) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(got == data) << got.size();
  ring.Stopped();
  ring.Closed();
}

TEST_F(RingFixture, EmptyQueueGivesSilenceAndOnEmpty) {
  TGatedSource src(Pattern(40000), Pcm(8, 1, 8000));
  TMMRingBuffer ring;
  ring.SetQueueMode(qmRead);
  ring.SetNumBuffers(4);
  ring.SetBufferSize(500);
  src.SetOutput(&ring);
  std::atomic<int> empties{0};
  ring.OnEmpty = [&](TMMDSPComponent*) { ++empties; };
  ring.Opened();
  ring.Started();
  auto h = AllocWaveHdr(500);
  bool more = false;
  ring.BufferLoad(h.get(), more);  // waits for the first fill
  EXPECT_EQ(h->dwBytesRecorded, 500u);
  src.open = false;  // the next fills hang in the source
  std::string got;
  for (int i = 0; i < 6; ++i) {
    h->dwBufferLength = 500;
    ring.BufferLoad(h.get(), more);
    got.append(h->lpData, h->dwBytesRecorded);
  }
  EXPECT_GE(empties.load(), 1);
  EXPECT_EQ(got.substr(got.size() - 500), std::string(500, '\x80'));
  src.open = true;
  ring.Stopped();
  ring.Closed();
}

TEST_F(RingFixture, ReaderGivesUpAfterTimeOut) {
  TGatedSource src(Pattern(4000), Pcm());
  src.open = false;
  src.holdMs = 400;
  TMMRingBuffer ring;
  ring.SetQueueMode(qmRead);
  ring.TimeOut = 50;
  src.SetOutput(&ring);
  ring.Opened();
  ring.Started();
  auto h = AllocWaveHdr(2048);
  bool more = true;
  auto t0 = std::chrono::steady_clock::now();
  ring.BufferLoad(h.get(), more);
  EXPECT_EQ(h->dwBytesRecorded, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(350));
  ring.Closed();
}

TEST_F(RingFixture, WriteModePassesPushesOnInOrder) {
  TMMRingBuffer ring;
  TMemorySink sink;
  TMMDSPComponent head;
  TWaveFormatEx f = Pcm();
  head.SetWaveFormat(&f);
  head.SetOutput(&ring);
  ring.SetOutput(&sink);
  ring.SetQueueMode(qmWrite);
  ring.SetNumBuffers(10);
  ring.SetBufferSize(100);
  ring.Opened();
  ring.Started();
  EXPECT_THROW(ring.SetNumBuffers(4), EMMBufferError);
  const std::string data = Pattern(3000);
  auto h = AllocWaveHdr(100);
  for (int i = 0; i < 30; ++i) {
    std::memcpy(h->lpData, data.data() + i * 100, 100);
    h->dwBytesRecorded = 100;
    ring.BufferReady(h.get());
    while (ring.Full()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ring.Stopped();
  EXPECT_TRUE(sink.data == data) << sink.data.size();
  ring.Closed();
}

TEST_F(RingFixture, LongTimerCountsSecondsPerInterval) {
  SetLongTimerPeriod(std::chrono::milliseconds(10));
  TMMLongTimer every, fifth;
  int a = 0, b = 0;
  every.SetOnTimer([&](TMMLongTimer*) { ++a; });
  fifth.SetInterval(5);
  fifth.SetOnTimer([&](TMMLongTimer*) { ++b; });
  ASSERT_TRUE(loop.RunUntil([&] { return a >= 23; }, std::chrono::seconds(10)));
  fifth.SetEnabled(false);
  every.SetEnabled(false);
  loop.RunUntil([] { return false; }, std::chrono::milliseconds(30));
  EXPECT_NEAR(b, a / 5.0, 1);
  // Setting the interval starts the count again.
  a = b = 0;
  every.SetEnabled(true);
  fifth.SetEnabled(true);
  fifth.SetInterval(3);
  ASSERT_TRUE(loop.RunUntil([&] { return b >= 1; }, std::chrono::seconds(10)));
  EXPECT_GE(a, 2);
  EXPECT_LE(a, 4);
  SetLongTimerPeriod(std::chrono::milliseconds(1000));
}

TEST_F(RingFixture, SlotsReadInPartsAndLoopIfEmpty) {
  TMMRingBuffer ring;
  TMMDSPComponent head;
  TWaveFormatEx f = Pcm();
  head.SetWaveFormat(&f);
  head.SetOutput(&ring);
  ring.SetQueueMode(qmWrite);
  ring.SetNumBuffers(4);
  ring.SetBufferSize(100);
  ring.Opened();
  const std::string data = Pattern(150);
  ring.PutData(data.data(), 150, TMMRingBuffer::rsEnd, 42);
  EXPECT_EQ(ring.UsedSlots(), 2);
  EXPECT_EQ(ring.QueuedBytes(), 150);
  char buf[100];
  std::uint32_t user = 0, status = 0;
  EXPECT_EQ(ring.GetSlotData(buf, 60, &user, &status), 60);
  EXPECT_EQ(user, 42u);
  EXPECT_EQ(std::string(buf, 60), data.substr(0, 60));
  EXPECT_EQ(ring.GetSlotData(buf, 60, &user, &status), 40);  // the rest of the first slot
  EXPECT_EQ(std::string(buf, 40), data.substr(60, 40));
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(ring.GetSlotData(buf, 100, &user, &status), 50);
  EXPECT_EQ(status, TMMRingBuffer::rsEnd);  // the end mark sits on the last slot only
  EXPECT_TRUE(ring.Empty());
  // Empty: the last slot read again, or silence.
  ring.LoopIfEmpty = true;
  EXPECT_EQ(ring.GetSlotData(buf, 100, &user, &status), 50);
  EXPECT_EQ(std::string(buf, 50), data.substr(100));
  ring.LoopIfEmpty = false;
  EXPECT_EQ(ring.GetSlotData(buf, 100), 100);
  EXPECT_EQ(std::string(buf, 100), std::string(100, '\0'));
  // A full queue without WaitIfFull drops the data and says so.
  int overflows = 0;
  ring.OnOverlow = [&](TMMDSPComponent*) { ++overflows; };
  for (int i = 0; i < 5; ++i) ring.PutSlot(data.data(), 100, 0, 0);
  EXPECT_EQ(ring.UsedSlots(), 4);
  EXPECT_EQ(overflows, 1);
  ring.Closed();
}
