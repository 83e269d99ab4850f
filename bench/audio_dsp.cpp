// Throughput of the DSP stages in times real time for 44.1 kHz 16-bit stereo, pulled through a
// chain the way the wave output device pulls the playback chain (8192-byte buffers).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "MMEqualiz.h"
#include "MMMetronome.h"
#include "MMPitch.h"
#include "MMVolume.h"

namespace {

constexpr int kBuffer = 8192;

// An endless source of music-like noise (one second, repeated), cheap next to the stages.
class TLoopSource : public TMMDSPComponent {
 public:
  TLoopSource() {
    TWaveFormatEx f{};
    pcmBuildFormat(&f, 16, 2, 44100);
    SetWaveFormat(&f);
    std::mt19937 rng(1);
    std::normal_distribution<double> d(0, 5000);
    data_.resize(44100 * 2);
    for (std::size_t i = 0; i < data_.size(); ++i)
      data_[i] = static_cast<std::int16_t>(
          std::clamp(d(rng) + 8000 * std::sin(i * 0.01), -32768.0, 32767.0));
  }
  bool HasPublishedProperty(const std::string& n) const override { return n != "Input"; }
  void BufferLoad(PWaveHdr h, bool& more) override {
    auto* out = reinterpret_cast<std::int16_t*>(h->lpData);
    std::size_t n = h->dwBufferLength / 2;
    while (n > 0) {
      const std::size_t take = std::min(n, data_.size() - pos_);
      std::memcpy(out, data_.data() + pos_, take * 2);
      out += take;
      n -= take;
      pos_ = (pos_ + take) % data_.size();
    }
    h->dwBytesRecorded = h->dwBufferLength;
    more = true;
  }

 private:
  std::vector<std::int16_t> data_;
  std::size_t pos_ = 0;
};

void Pull(benchmark::State& state, TMMDSPComponent& last) {
  last.SetBufferSize(kBuffer);
  for (TMMDSPComponent* c = &last; c; c = c->GetInput()) c->SetBufferSize(kBuffer);
  std::vector<TMMDSPComponent*> chain;
  for (TMMDSPComponent* c = &last; c; c = c->GetInput()) chain.insert(chain.begin(), c);
  for (auto* c : chain) c->Opened();
  for (auto* c : chain) c->Started();
  auto h = AllocWaveHdr(kBuffer);
  std::int64_t bytes = 0;
  for (auto _ : state) {
    bool more = false;
    h->dwBufferLength = kBuffer;
    h->dwBytesRecorded = 0;
    last.BufferLoad(h.get(), more);
    bytes += h->dwBytesRecorded;
    benchmark::DoNotOptimize(h->lpData[0]);
  }
  // Output seconds of audio per second of work: times real time.
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(bytes) / 176400.0, benchmark::Counter::kIsRate);
  for (auto* c : chain) c->Closed();
}

void BM_Equalizer(benchmark::State& state) {
  TLoopSource src;
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  const float gains[12] = {3, 2, 1, 0, -1, -2, -3, -2, 0, 2, 4, 6};
  for (int i = 0; i < 12; ++i) eq.Filters()->Items(i)->SetGain(gains[i]);
  eq.SetInput(&src);
  Pull(state, eq);
}
BENCHMARK(BM_Equalizer);

void BM_Pitch(benchmark::State& state) {
  TLoopSource src;
  TMMPitch p;
  p.SetPitch(static_cast<float>(state.range(0)));
  p.SetInput(&src);
  Pull(state, p);
}
BENCHMARK(BM_Pitch)->Arg(-50)->Arg(20);

// Half speed: twice the frames out of the stretcher.
void BM_Metronome(benchmark::State& state) {
  TLoopSource src;
  TMMMetronome m;
  m.SetOverlapType(state.range(0) ? otSOLA : otLINE);
  m.SetInput(&src);
  Pull(state, m);
}
BENCHMARK(BM_Metronome)->Arg(1)->Arg(0);

void BM_Volume(benchmark::State& state) {
  TLoopSource src;
  TMMVolume v;
  v.SetVolume(12000);
  v.SetPanning(-2000);
  v.SetInput(&src);
  Pull(state, v);
}
BENCHMARK(BM_Volume);

// Every stage in the playback chain's order, as the window links them: pitch, volume, the
// time stretcher at half speed, equalizer. Output seconds per second of work.
void BM_PlaybackStages(benchmark::State& state) {
  TLoopSource src;
  TMMPitch pitch;
  TMMVolume vol;
  TMMMetronome m;
  TMMEqualizer eq;
  pitch.SetPitch(5);
  vol.SetVolume(12000);
  m.SetStretch(state.range(0) ? 2 : 1);
  SetupTwelveBands(eq);
  for (int i = 0; i < 12; ++i) eq.Filters()->Items(i)->SetGain(float(i % 5) - 2);
  pitch.SetInput(&src);
  vol.SetInput(&pitch);
  m.SetInput(&vol);
  eq.SetInput(&m);
  Pull(state, eq);
}
BENCHMARK(BM_PlaybackStages)->Arg(1)->Arg(0);

}  // namespace

BENCHMARK_MAIN();
