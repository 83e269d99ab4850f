// The CD-extraction window's playback chain, played at the audio's own pace into the memory
// wave device: what the device plays is the source, sample for sample, with nothing put in.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <thread>

#include "AudioTestUtil.h"
#include "Chains.h"
#include "PollDispatcher.h"
#include "WaveOut.h"

using namespace qlaudio;

namespace {

// A source that takes its time like a CD drive (about 70 times real time).
class TSlowSource : public TMemorySource {
 public:
  using TMemorySource::TMemorySource;
  void BufferLoad(PWaveHdr h, bool& more) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    TMemorySource::BufferLoad(h, more);
  }
};

struct Stages {
  bool on = false;  // every stage in the chain
  bool halfSpeed = false;
};

struct PlaybackChain : ::testing::Test {
  ql::PollDispatcher loop;
  void SetUp() override { ql::SetDispatcher(&loop); }
  void TearDown() override { ql::SetDispatcher(nullptr); }

  // Plays data (16-bit stereo, 44.1 kHz) through the chain; returns what the device played.
  std::string Play(const std::string& data, Stages s, int* latency = nullptr) {
    ql::MemoryDeviceOptions mo;
    mo.realTime = true;
    mo.bufferMs = 200;
    const std::uint32_t dev = ql::AddMemoryDevice(mo);
    TSlowSource src(data, Pcm());
    src.maxChunk = 2352 * 27;  // what the CD reader delivers at a time
    TMMRingBuffer ring;
    TMMPitch pitch, slowDown;
    TMMVolume volume;
    TMMMetronome metronome;
    TMMEqualizer equalizer;
    TMMConnector connector;
    auto waveOut = std::make_unique<TMMWaveOut>();
    waveOut->SetDeviceID(static_cast<int>(dev));
    ripper::InitPlayback(ring, *waveOut, connector);
    ripper::TStages stages;
    if (s.on) stages = {&pitch, &volume, &metronome, &slowDown, &equalizer};
    ripper::InitStages(stages);
    // Neutral settings: the window's defaults with half speed off.
    metronome.SetStretch(s.halfSpeed ? 2 : 1);
    ripper::LinkPlayback(src, ring, stages, *waveOut);
    bool stopped = false;
    waveOut->OnStop = [&](TMMDSPComponent*) { stopped = true; };
    waveOut->Start();
    if (latency) *latency = equalizer.LatencyFrames();
    EXPECT_TRUE(loop.RunUntil([&] { return stopped; }, std::chrono::seconds(60)));
    waveOut->Close();
    return ql::MemoryDeviceBytes(dev);
  }
};

std::string Noise(std::size_t frames) {
  std::mt19937 rng(17);
  std::uniform_int_distribution<int> d(-30000, 30000);
  std::vector<std::int16_t> v(frames * 2);
  for (auto& x : v) x = static_cast<std::int16_t>(d(rng));
  return Samples16(v);
}

}  // namespace

TEST_F(PlaybackChain, EveryStageOffPlaysTheSourceExactly) {
  const std::string data = Noise(44100 * 2 + 588);
  const std::string played = Play(data, {});
  ASSERT_EQ(played.size(), data.size());
  EXPECT_TRUE(played == data);
}

TEST_F(PlaybackChain, EveryStageOnAtNeutralSettingsPlaysTheSourceAfterTheFilterDelay) {
  const std::string data = Noise(44100 * 2 + 1176);
  int latency = 0;
  const std::string played = Play(data, {true, false}, &latency);
  ASSERT_GT(latency, 0);
  const std::size_t lead = static_cast<std::size_t>(latency) * 4;
  ASSERT_EQ(played.size(), data.size() + lead);
  EXPECT_EQ(played.substr(0, lead), std::string(lead, '\0'));
  // Compared sample for sample: the first difference, if any, is where silence came in.
  std::size_t i = 0;
  while (i < data.size() && played[lead + i] == data[i]) ++i;
  EXPECT_EQ(i, data.size()) << "first difference at frame " << i / 4;
}

TEST_F(PlaybackChain, HalfSpeedPlaysTwiceAsLong) {
  const std::string data = Noise(44100);
  int latency = 0;
  const std::string played = Play(data, {true, true}, &latency);
  EXPECT_EQ(played.size(), 2 * data.size() + static_cast<std::size_t>(latency) * 4);
}
