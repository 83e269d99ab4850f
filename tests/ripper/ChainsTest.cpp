// The chains every front end builds: the stages in their order, the initial settings, and a
// stage that leaves the chain lets go of its partners.
#include "Chains.h"

#include <gtest/gtest.h>

#include <cstring>

#include "MMWaveFile.h"
#include "PollDispatcher.h"
#include "TestFiles.h"

namespace {

struct Parts {
  TMMWaveFile source, sink;
  TMMRingBuffer ring;
  TMMPitch pitch, slowDown;
  TMMVolume volume;
  TMMMetronome metronome;
  TMMEqualizer equalizer;
  TMMTrigger trigger;
  TMMConnector connector;
  ripper::TStages All() { return {&pitch, &volume, &metronome, &slowDown, &equalizer}; }
};

}  // namespace

TEST(Chains, StagesFollowThePlaybackOrderAndLeaveItCleanly) {
  Parts p;
  ripper::TStages all = p.All();
  ripper::InitStages(all);
  EXPECT_EQ(ripper::LinkStages(&p.ring, all), &p.equalizer);
  EXPECT_EQ(p.pitch.GetInput(), &p.ring);
  EXPECT_EQ(p.volume.GetInput(), &p.pitch);
  EXPECT_EQ(p.metronome.GetInput(), &p.volume);
  // The stretcher makes the half-speed stream on its own: the slow-down stays out.
  EXPECT_EQ(p.equalizer.GetInput(), &p.metronome);
  EXPECT_EQ(p.slowDown.GetInput(), nullptr);
  ripper::TStages some;
  some.volume = &p.volume;
  some.metronome = &p.metronome;
  EXPECT_EQ(ripper::LinkStages(&p.ring, some), &p.metronome);
  EXPECT_EQ(p.volume.GetInput(), &p.ring);
  EXPECT_EQ(ripper::LinkStages(&p.ring, {}), &p.ring);
}

TEST(Chains, PlaybackAndRecordingChainsHaveOneSetOfInitialSettings) {
  ql::PollDispatcher loop;
  ql::SetDispatcher(&loop);
  {
    Parts p;
    TMMWaveOut waveOut;
    ripper::InitPlayback(p.ring, waveOut, p.connector);
    EXPECT_EQ(p.ring.GetNumBuffers(), ripper::kRingBuffers);
    EXPECT_EQ(p.ring.GetBufferSize(), ripper::kRingBufferSize);
    EXPECT_EQ(p.ring.GetQueueMode(), qmRead);
    EXPECT_EQ(waveOut.GetNumBuffers(), ripper::kWaveOutBuffers);
    EXPECT_EQ(waveOut.GetBufferSize(), ripper::kWaveOutBufferSize);
    EXPECT_EQ(p.connector.GetInput(), &waveOut);
    ripper::TStages stages;
    stages.equalizer = &p.equalizer;
    ripper::LinkPlayback(p.source, p.ring, stages, waveOut);
    EXPECT_EQ(p.ring.GetInput(), &p.source);
    EXPECT_EQ(waveOut.GetInput(), &p.equalizer);
    // Relinked without the equalizer: the output takes the ring directly.
    ripper::LinkPlayback(p.source, p.ring, {}, waveOut);
    EXPECT_EQ(waveOut.GetInput(), &p.ring);

    TMMACMConverter converter;
    ripper::InitTrigger(p.trigger);
    EXPECT_EQ(p.trigger.GetBufferSize(), ripper::kTriggerBufferSize);
    ripper::LinkRecording(p.source, converter, p.trigger, p.sink);
    EXPECT_EQ(converter.GetInput(), &p.source);
    EXPECT_EQ(p.trigger.GetInput(), &converter);
    EXPECT_EQ(p.sink.GetInput(), &p.trigger);
  }
  ql::SetDispatcher(nullptr);
}

TEST(Chains, AnOfflineChainCarriesAWaveThroughUnchanged) {
  // source -> trigger -> sink with the shared trigger size: the bytes arrive as they were.
  qltest::TempDir dir;
  qltest::WriteToneWav(dir / "in.wav", 1.3);
  ql::PollDispatcher loop;
  ql::SetDispatcher(&loop);
  {
    Parts p;
    p.source.Wave()->SetFileName(dir / "in.wav");
    p.sink.Wave()->FileMustExist = false;
    p.sink.Wave()->SetFileName(dir / "out.wav");
    ripper::InitTrigger(p.trigger);
    p.trigger.SetInput(ripper::LinkStages(&p.source, {}));
    p.trigger.SetOutput(&p.sink);
    p.trigger.OnStop = [&](TMMDSPComponent*) { loop.Quit(); };
    p.trigger.Start();
    loop.Run();
    p.trigger.Close();
  }
  ql::SetDispatcher(nullptr);
  auto data = [](const std::string& file) {
    std::string f = qltest::ReadFile(file);
    std::size_t at = f.find("data");
    if (at == std::string::npos || at + 8 > f.size()) return std::string();
    std::uint32_t n;
    std::memcpy(&n, f.data() + at + 4, 4);
    return f.substr(at + 8, n);
  };
  std::string in = data(dir / "in.wav");
  EXPECT_EQ(in.size(), 57330u * 4);
  EXPECT_TRUE(data(dir / "out.wav") == in);
}

TEST(Chains, TheRecordingTriggerRunsWithoutAPauseBetweenBuffers) {
  TMMTrigger trigger;
  ripper::InitTrigger(trigger);
  EXPECT_EQ(trigger.GetBufferSize(), ripper::kTriggerBufferSize);
  EXPECT_EQ(trigger.GetInterval(), 0);
}
