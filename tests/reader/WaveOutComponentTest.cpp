#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "AudioTestUtil.h"
#include "MMConnect.h"
#include "MMRingBf.h"
#include "MMWavOut.h"
#include "PollDispatcher.h"
#include "TestFiles.h"
#include "WaveOut.h"

using namespace qlaudio;

namespace {

std::string Pattern(int n) {
  std::string s(static_cast<std::size_t>(n), '\0');
  for (int i = 0; i < n; ++i)
    s[static_cast<std::size_t>(i)] = static_cast<char>((i * 37 + i / 509) & 0xFF);
  return s;
}

struct WaveOutFixture : ::testing::Test {
  ql::PollDispatcher loop;
  std::uint32_t dev = 0;
  void SetUp() override {
    ql::SetDispatcher(&loop);
    dev = ql::AddMemoryDevice();
  }
  void TearDown() override { ql::SetDispatcher(nullptr); }

  // A wave out on the memory device made after it was added.
  std::unique_ptr<TMMWaveOut> Make(TMMCBMode mode, int bufferSize = 1000, int buffers = 6) {
    auto w = std::make_unique<TMMWaveOut>();
    w->SetDeviceID(static_cast<int>(dev));
    w->SetCallBackMode(mode);
    w->SetBufferSize(bufferSize);
    w->SetNumBuffers(buffers);
    return w;
  }
  bool RunUntilStopped(bool& stopped, int seconds = 20) {
    return loop.RunUntil([&] { return stopped; }, std::chrono::seconds(seconds));
  }
};

}  // namespace

TEST_F(WaveOutFixture, PropertyLimitsAndProductName) {
  auto w = Make(cmWindow);
  EXPECT_EQ(w->GetProductName(), "Memory wave device");
  w->SetNumBuffers(1);
  EXPECT_EQ(w->GetNumBuffers(), 6);
  w->SetNumBuffers(1000);
  EXPECT_EQ(w->GetNumBuffers(), 500);
  w->SetBufferSize(10);
  EXPECT_EQ(w->GetBufferSize(), 32);
  w->SetDeviceID(100000);
  EXPECT_EQ(w->GetDeviceID(), -2);
  EXPECT_EQ(w->GetProductName(), "No wave audio playing device found");
  TWaveFormatEx f = Pcm();
  w->SetWaveFormat(&f);
  try {
    w->Open();
    FAIL();
  } catch (const EMMWaveOutError& e) {
    EXPECT_STREQ(e.what(), "Invalid DeviceID");
  }
}

// Every byte of the source arrives at the device, in order, in each completion mode; the
// played headers reach the Output too.
class WaveOutModes : public WaveOutFixture, public ::testing::WithParamInterface<TMMCBMode> {};

TEST_P(WaveOutModes, PlaysEveryByteInOrderAndStopsAtTheEnd) {
  const std::string data = Pattern(123457 * 4);
  TMemorySource src(data, Pcm());
  src.maxChunk = 3000;
  auto w = Make(GetParam(), 4096, 5);
  TMemorySink meters;
  w->SetInput(&src);
  w->SetOutput(&meters);
  bool stopped = false;
  int stops = 0, opens = 0, closes = 0;
  w->OnStop = [&](TMMDSPComponent*) { stopped = true, ++stops; };
  w->OnOpen = [&](TMMDSPComponent*) { ++opens; };
  w->OnClose = [&](TMMDSPComponent*) { ++closes; };
  w->Start();
  EXPECT_TRUE(w->State() & TMMWaveOut::stPlaying);
  ASSERT_TRUE(RunUntilStopped(stopped));
  EXPECT_EQ(ql::MemoryDeviceBytes(dev), data);
  EXPECT_EQ(meters.data, data);
  EXPECT_EQ(w->PlayedBytes(), static_cast<std::int64_t>(data.size()));
  EXPECT_FALSE(w->State() & TMMWaveOut::stPlaying);
  EXPECT_TRUE(w->State() & TMMWaveOut::stOpen);
  w->Close();
  EXPECT_EQ(w->State(), unsigned(TMMWaveOut::stClosed));
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(closes, 1);
}

INSTANTIATE_TEST_SUITE_P(AllModes, WaveOutModes, ::testing::Values(cmWindow, cmCallback, cmThread));

TEST_F(WaveOutFixture, SourceEndingInTheFirstFillPlaysAndStops) {
  const std::string data = Pattern(2500);  // under three of the six headers
  TMemorySource src(data, Pcm());
  auto w = Make(cmWindow);
  w->SetInput(&src);
  bool stopped = false;
  w->OnStop = [&](TMMDSPComponent*) { stopped = true; };
  w->Start();
  ASSERT_TRUE(RunUntilStopped(stopped));
  EXPECT_EQ(ql::MemoryDeviceBytes(dev), data);
}

TEST_F(WaveOutFixture, NoDataCannotStartAndEndsClosed) {
  TMemorySource src(std::string(), Pcm());
  auto w = Make(cmThread);
  w->SetInput(&src);
  int errors = 0;
  w->OnError = [&](TMMDSPComponent*) { ++errors; };
  try {
    w->Start();
    FAIL() << "started without data";
  } catch (const EMMWaveOutError& e) {
    EXPECT_EQ(std::string(e.what()), std::string("WaveOutStart:\n\rUnable to start device"));
  }
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(w->State(), unsigned(TMMWaveOut::stClosed));
}

TEST_F(WaveOutFixture, PauseAndRestartLoseNothing) {
  const std::string data = Pattern(44100 * 4);  // one second
  TMemorySource src(data, Pcm());
  ql::MemoryDeviceOptions o;
  o.realTime = true;
  o.bufferMs = 50;
  dev = ql::AddMemoryDevice(o);
  auto w = Make(cmWindow, 4410 * 4, 4);
  w->SetInput(&src);
  w->TimeFormat = tfMillisecond;
  bool stopped = false;
  w->OnStop = [&](TMMDSPComponent*) { stopped = true; };
  w->Start();
  loop.RunUntil([] { return false; }, std::chrono::milliseconds(250));
  w->Pause();
  const std::size_t atPause = ql::MemoryDeviceBytes(dev).size();
  const std::int64_t pos = w->Position();
  loop.RunUntil([] { return false; }, std::chrono::milliseconds(200));
  // Paused: the device takes nothing more and the position holds.
  EXPECT_LE(ql::MemoryDeviceBytes(dev).size(), atPause + 4410 * 4);
  EXPECT_NEAR(static_cast<double>(w->Position()), static_cast<double>(pos), 60);
  EXPECT_GT(pos, 100);
  w->Restart();
  ASSERT_TRUE(RunUntilStopped(stopped));
  EXPECT_EQ(ql::MemoryDeviceBytes(dev), data);
}

TEST_F(WaveOutFixture, StopInsideACompletionIsCarriedOutAfterIt) {
  const std::string data = Pattern(400000);
  TMemorySource src(data, Pcm());
  auto w = Make(cmWindow);
  w->SetInput(&src);
  TMemorySink meters;
  w->SetOutput(&meters);
  bool stopped = false, stillPlayingAfterStop = false;
  int stops = 0;
  w->OnStop = [&](TMMDSPComponent*) { stopped = true, ++stops; };
  meters.OnBufferReady = [&](TMMDSPComponent*, PWaveHdr) {
    if (meters.pushes == 2) {
      w->Stop();
      stillPlayingAfterStop = (w->State() & TMMWaveOut::stPlaying) != 0;
    }
  };
  w->Start();
  ASSERT_TRUE(RunUntilStopped(stopped));
  EXPECT_TRUE(stillPlayingAfterStop);
  EXPECT_EQ(stops, 1);
  EXPECT_LT(meters.data.size(), data.size());
  // A close asked for while the stop is still pending happens once the stop is done.
  EXPECT_EQ(w->State() & TMMWaveOut::stPlaying, 0u);
  w->Close();
  EXPECT_EQ(w->State(), unsigned(TMMWaveOut::stClosed));
}

TEST_F(WaveOutFixture, CloseDuringAPendingStopIsDeferred) {
  const std::string data = Pattern(400000);
  TMemorySource src(data, Pcm());
  auto w = Make(cmWindow);
  w->SetInput(&src);
  TMemorySink meters;
  w->SetOutput(&meters);
  bool closed = false;
  unsigned stateInside = 0;
  w->OnClose = [&](TMMDSPComponent*) { closed = true; };
  meters.OnBufferReady = [&](TMMDSPComponent*, PWaveHdr) {
    if (meters.pushes == 1) {
      w->Close();
      stateInside = w->State();
    }
  };
  w->Start();
  ASSERT_TRUE(loop.RunUntil([&] { return closed; }, std::chrono::seconds(20)));
  EXPECT_TRUE(stateInside & TMMWaveOut::stOpen);
  EXPECT_EQ(w->State(), unsigned(TMMWaveOut::stClosed));
}

TEST_F(WaveOutFixture, RepositionRefillsFromTheSource) {
  const std::string data = Pattern(200000);
  TMemorySource src(data, Pcm());
  ql::MemoryDeviceOptions o;
  o.realTime = true;
  dev = ql::AddMemoryDevice(o);
  auto w = Make(cmThread, 4000, 4);
  w->SetInput(&src);
  bool stopped = false;
  w->OnStop = [&](TMMDSPComponent*) { stopped = true; };
  w->Start();
  loop.RunUntil([] { return false; }, std::chrono::milliseconds(100));
  // Paused, the device returns nothing, so the worker pulls nothing while the source rewinds.
  w->Pause();
  loop.RunUntil([] { return false; }, std::chrono::milliseconds(50));
  src.Rewind();
  w->Reposition();
  w->Restart();
  ASSERT_TRUE(RunUntilStopped(stopped));
  // The tail of what was played is the whole source again.
  const std::string played = ql::MemoryDeviceBytes(dev);
  ASSERT_GE(played.size(), data.size());
  EXPECT_EQ(played.substr(played.size() - data.size()), data);
}

TEST_F(WaveOutFixture, PropertyChangesWhileOpenAreRefused) {
  TMemorySource src(Pattern(1000), Pcm());
  auto w = Make(cmWindow);
  w->SetInput(&src);
  w->Open();
  EXPECT_THROW(w->SetBufferSize(4096), EMMWaveOutError);
  EXPECT_THROW(w->SetNumBuffers(4), EMMWaveOutError);
  EXPECT_THROW(w->SetDeviceID(0), EMMWaveOutError);
  EXPECT_THROW(w->SetCallBackMode(cmThread), EMMWaveOutError);
  w->Close();
  w->SetNumBuffers(4);
  EXPECT_EQ(w->GetNumBuffers(), 4);
}

// Through ALSA itself: the file plugin writes exactly the bytes played.
TEST_F(WaveOutFixture, PlaysThroughAlsaFilePlugin) {
  qltest::TempDir dir;
  const std::string raw = dir / "out.raw";
  const std::uint32_t id = ql::AddAlsaDevice(
      "rec", "ALSA file",
      "pcm.rec { type file slave.pcm { type null } file \"" + raw + "\" format \"raw\" }");
  const std::string data = Pattern(44100);
  TMemorySource src(data, Pcm());
  auto w = std::make_unique<TMMWaveOut>();
  w->SetDeviceID(static_cast<int>(id));
  w->SetBufferSize(8192);
  w->SetNumBuffers(4);
  w->SetInput(&src);
  bool stopped = false;
  w->OnStop = [&](TMMDSPComponent*) { stopped = true; };
  w->Start();
  ASSERT_TRUE(RunUntilStopped(stopped));
  w->Close();
  w.reset();
  EXPECT_EQ(qltest::ReadFile(raw), data);
}
