#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "AudioTestUtil.h"
#include "MMEqualiz.h"
#include "MMTrigg.h"
#include "MMWaveFile.h"
#include "PollDispatcher.h"
#include "TestFiles.h"

using namespace qlaudio;
using qltest::ReadFile;
using qltest::TempDir;

namespace {
struct TriggerFixture : ::testing::Test {
  ql::PollDispatcher loop;
  void SetUp() override { ql::SetDispatcher(&loop); }
  void TearDown() override { ql::SetDispatcher(nullptr); }
};
}  // namespace

TEST_F(TriggerFixture, CopiesAWaveFileUnchanged) {
  TempDir dir;
  qltest::WriteToneWav(dir / "in.wav", 1.3);
  TMMWaveFile in, out;
  TMMTrigger trigger;
  in.Wave()->SetFileName(dir / "in.wav");
  out.Wave()->FileMustExist = false;
  out.Wave()->SetFileName(dir / "out.wav");
  trigger.SetInput(&in);
  trigger.SetOutput(&out);
  trigger.SetBufferSize(35280);
  bool stopped = false, closed = false;
  int filled = 0;
  trigger.OnStop = [&](TMMDSPComponent*) { stopped = true; };
  trigger.OnBufferFilled = [&](TMMDSPComponent*, PWaveHdr) { ++filled; };
  out.OnClose = [&](TMMDSPComponent*) { closed = true; };
  trigger.Start();
  ASSERT_TRUE(loop.RunUntil([&] { return stopped; }, std::chrono::seconds(20)));
  trigger.Close();
  EXPECT_TRUE(closed);
  EXPECT_GT(filled, 5);
  EXPECT_EQ(trigger.BytesTriggered(), in.Wave()->DataSize());
  // The tone file has a 16-byte fmt chunk and no fact chunk: compare the audio.
  TMMWave a, b;
  a.SetFileName(dir / "in.wav");
  b.SetFileName(dir / "out.wav");
  ASSERT_EQ(a.DataSize(), b.DataSize());
  a.OpenWave();
  b.OpenWave();
  std::string x(a.DataSize(), '\0'), y(b.DataSize(), '\0');
  a.ReadWaveData(x.data(), static_cast<int>(x.size()));
  b.ReadWaveData(y.data(), static_cast<int>(y.size()));
  EXPECT_TRUE(x == y);
  // A second copy of our own file is identical byte for byte.
  TMMWaveFile in2, out2;
  TMMTrigger t2;
  in2.Wave()->SetFileName(dir / "out.wav");
  out2.Wave()->FileMustExist = false;
  out2.Wave()->SetFileName(dir / "out2.wav");
  t2.SetInput(&in2);
  t2.SetOutput(&out2);
  stopped = false;
  t2.OnStop = [&](TMMDSPComponent*) { stopped = true; };
  t2.Start();
  ASSERT_TRUE(loop.RunUntil([&] { return stopped; }, std::chrono::seconds(20)));
  t2.Close();
  EXPECT_TRUE(ReadFile(dir / "out.wav") == ReadFile(dir / "out2.wav"));
}

TEST_F(TriggerFixture, StopFromABufferHandlerEndsAfterIt) {
  TMemorySource src(std::string(100000, 'a'), Pcm());
  TMemorySink sink;
  TMMTrigger trigger;
  trigger.SetInput(&src);
  trigger.SetOutput(&sink);
  trigger.SetBufferSize(1000);
  int ready = 0;
  bool stopped = false;
  trigger.OnBufferReady = [&](TMMDSPComponent* s, PWaveHdr) {
    if (++ready == 3) static_cast<TMMTrigger*>(s)->Stop();
  };
  trigger.OnStop = [&](TMMDSPComponent*) { stopped = true; };
  trigger.Start();
  ASSERT_TRUE(loop.RunUntil([&] { return stopped; }, std::chrono::seconds(10)));
  EXPECT_EQ(ready, 3);
  // The handler's buffer still reached the output.
  EXPECT_EQ(sink.pushes, 3);
  EXPECT_EQ(sink.data.size(), 3000u);
  trigger.Close();
}

TEST_F(TriggerFixture, LastShortBufferIsPushed) {
  TMemorySource src(std::string(2500, 'b'), Pcm());
  TMemorySink sink;
  TMMTrigger trigger;
  trigger.SetInput(&src);
  trigger.SetOutput(&sink);
  trigger.SetBufferSize(1000);
  bool stopped = false;
  trigger.OnStop = [&](TMMDSPComponent*) { stopped = true; };
  trigger.Start();
  ASSERT_TRUE(loop.RunUntil([&] { return stopped; }, std::chrono::seconds(10)));
  EXPECT_EQ(sink.data, std::string(2500, 'b'));
  EXPECT_EQ(sink.pushes, 3);
  trigger.Close();
  EXPECT_EQ(trigger.State(), unsigned(TMMTrigger::stClosed));
}

TEST_F(TriggerFixture, SourceWithoutDataCannotStart) {
  TMemorySource src("", Pcm());
  TMemorySink sink;
  TMMTrigger trigger;
  trigger.SetInput(&src);
  trigger.SetOutput(&sink);
  int errors = 0;
  trigger.OnError = [&](TMMDSPComponent*) { ++errors; };
  try {
    trigger.Start();
    ADD_FAILURE();
  } catch (const EMMTriggerError& e) {
    EXPECT_EQ(std::string(e.what()), "TriggerStart:\n\rUnable to start device");
  }
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(trigger.State(), unsigned(TMMTrigger::stClosed));
  TMMTrigger lone;
  EXPECT_THROW(lone.Open(), EMMTriggerError);  // no format
}

TEST_F(TriggerFixture, PauseHoldsTheWorker) {
  TMemorySource src(std::string(400000, 'c'), Pcm());
  TMemorySink sink;
  TMMTrigger trigger;
  trigger.SetInput(&src);
  trigger.SetOutput(&sink);
  trigger.SetBufferSize(1000);
  trigger.SetInterval(1);
  bool stopped = false;
  trigger.OnStop = [&](TMMDSPComponent*) { stopped = true; };
  trigger.Start();
  trigger.Pause();
  loop.RunUntil([] { return false; }, std::chrono::milliseconds(30));
  int held = sink.pushes;
  loop.RunUntil([] { return false; }, std::chrono::milliseconds(30));
  EXPECT_LE(sink.pushes, held + 1);
  trigger.Restart();
  ASSERT_TRUE(loop.RunUntil([&] { return stopped; }, std::chrono::seconds(20)));
  EXPECT_EQ(sink.data.size(), 400000u);
  trigger.Close();
}

TEST_F(TriggerFixture, EmptyWaveFileCannotStartAndFormatChangeCloses) {
  TempDir dir;
  TMMWave w;
  TWaveFormatEx f = Pcm();
  w.CreateWave(dir / "empty.wav", &f);
  w.CloseWave();
  TMMWaveFile in;
  TMemorySink sink;
  TMMTrigger trigger;
  in.Wave()->SetFileName(dir / "empty.wav");
  EXPECT_TRUE(in.Wave()->WaveIsEmpty());
  trigger.SetInput(&in);
  trigger.SetOutput(&sink);
  EXPECT_THROW(trigger.Start(), EMMTriggerError);
  EXPECT_EQ(trigger.State(), unsigned(TMMTrigger::stClosed));

  trigger.Open();
  EXPECT_TRUE(trigger.State() & TMMTrigger::stOpen);
  EXPECT_THROW(trigger.SetBufferSize(4096), EMMTriggerError);
  TWaveFormatEx mono = Pcm(16, 1, 22050);
  in.SetWaveFormat(&mono);  // flows down to the trigger, which closes first
  EXPECT_EQ(trigger.State(), unsigned(TMMTrigger::stClosed));
  EXPECT_EQ(trigger.GetWaveFormat()->nChannels, 1);
}

TEST_F(TriggerFixture, WorkerEventsRunOnTheUiThread) {
  // Full-scale square wave through an equalizer with gain: it clips on the trigger's thread.
  std::vector<std::int16_t> loud(2 * 2048 * 64);
  for (std::size_t i = 0; i < loud.size(); ++i) loud[i] = (i / 64) % 2 ? 30000 : -30000;
  TMemorySource src(Samples16(loud), Pcm());
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  for (int i = 0; i < 12; ++i) eq.Filters()->Items(i)->SetGain(10);
  eq.CompensateLatency = true;
  TMemorySink sink;
  TMMTrigger trigger;
  eq.SetInput(&src);
  trigger.SetInput(&eq);
  trigger.SetOutput(&sink);
  trigger.SetBufferSize(8192);
  const auto ui = std::this_thread::get_id();
  int overflows = 0, offThread = 0;
  std::thread::id workerId;
  eq.OnPcmOverflow = [&](TMMDSPComponent*) {
    ++overflows;
    offThread += std::this_thread::get_id() != ui;
  };
  trigger.OnBufferReady = [&](TMMDSPComponent*, PWaveHdr) {
    workerId = std::this_thread::get_id();
  };
  bool stopped = false;
  trigger.OnStop = [&](TMMDSPComponent*) { stopped = true; };
  trigger.Start();
  EXPECT_EQ(DSPThreadCount(), 1u);
  ASSERT_TRUE(loop.RunUntil([&] { return stopped; }, std::chrono::seconds(10)));
  trigger.Close();
  EXPECT_EQ(DSPThreadCount(), 0u);
  EXPECT_NE(workerId, ui);
  EXPECT_GT(overflows, 2);
  EXPECT_EQ(offThread, 0);
  EXPECT_EQ(sink.data.size(), loud.size() * 2);
}

namespace {
class TFailingSource : public TMemorySource {
 public:
  using TMemorySource::TMemorySource;
  void BufferLoad(PWaveHdr h, bool& more) override {
    if (pulls == 3) throw EMMWaveError("Error reading wave file");
    TMemorySource::BufferLoad(h, more);
  }
};
}  // namespace

TEST_F(TriggerFixture, FailureOnTheWorkerIsReportedAndCloses) {
  TFailingSource src(std::string(100000, 'd'), Pcm());
  TMemorySink sink;
  TMMTrigger trigger;
  trigger.SetInput(&src);
  trigger.SetOutput(&sink);
  trigger.SetBufferSize(1000);
  std::string reported;
  SetApplicationExceptionHandler([&](const std::exception& e) { reported = e.what(); });
  int errors = 0;
  bool closed = false;
  trigger.OnError = [&](TMMDSPComponent*) { ++errors; };
  trigger.OnClose = [&](TMMDSPComponent*) { closed = true; };
  trigger.Start();
  ASSERT_TRUE(loop.RunUntil([&] { return closed; }, std::chrono::seconds(10)));
  SetApplicationExceptionHandler(nullptr);
  EXPECT_EQ(reported, "Error reading wave file");
  EXPECT_EQ(trigger.LastError(), "Error reading wave file");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(trigger.State(), unsigned(TMMTrigger::stClosed));
  EXPECT_EQ(sink.data.size(), 3000u);
}
