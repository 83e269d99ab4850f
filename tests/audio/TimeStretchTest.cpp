#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "AudioTestUtil.h"
#include "MMMetronome.h"

using namespace qlaudio;

namespace {

// An exponential chirp from f0 to f1 Hz over the given seconds, in any PCM format.
std::string Chirp(const TWaveFormatEx& f, double f0, double f1, double seconds, double amp) {
  const int rate = static_cast<int>(f.nSamplesPerSec), n = static_cast<int>(seconds * rate);
  const double k = std::log(f1 / f0) / seconds;
  std::string out;
  for (int i = 0; i < n; ++i) {
    const double t = double(i) / rate;
    const double v = amp * std::sin(2 * M_PI * f0 * (std::exp(k * t) - 1) / k);
    for (int c = 0; c < f.nChannels; ++c) {
      if (f.wBitsPerSample == 8) {
        out += static_cast<char>(static_cast<std::uint8_t>(std::lround(v) + 128));
      } else {
        const auto s = static_cast<std::int16_t>(std::lround(v));
        out.append(reinterpret_cast<const char*>(&s), 2);
      }
    }
  }
  return out;
}

// Channel 0 of the frames as numbers around 0.
std::vector<double> FirstChannel(const std::string& bytes, const TWaveFormatEx& f) {
  std::vector<double> v;
  for (std::size_t at = 0; at + f.nBlockAlign <= bytes.size(); at += f.nBlockAlign) {
    if (f.wBitsPerSample == 8) {
      v.push_back(static_cast<std::uint8_t>(bytes[at]) - 128.0);
    } else {
      std::int16_t s;
      std::memcpy(&s, bytes.data() + at, 2);
      v.push_back(s);
    }
  }
  return v;
}

std::string Stretch(const std::string& in, const TWaveFormatEx& f, int pull, int stretch = 2,
                    TMMOverlapType type = otSOLA) {
  TMemorySource src(in, f);
  TMMMetronome m;
  src.SetOutput(&m);
  m.SetStretch(stretch);
  m.SetOverlapType(type);
  m.Started();
  return PullAll(m, pull);
}

const TWaveFormatEx kFormats[] = {Pcm(16, 2), Pcm(16, 1), Pcm(8, 2), Pcm(8, 1)};

}  // namespace

TEST(TimeStretch, TwiceAsLongAndTheSameWhateverThePullSize) {
  for (const TWaveFormatEx& f : kFormats) {
    for (TMMOverlapType type : {otSOLA, otLINE}) {
      const std::string in = Chirp(f, 200, 2000, 30011.0 / 44100, 90);
      std::string first;
      for (int frames : {2048, 32768, 999, 1}) {
        const std::string out = Stretch(in, f, frames * f.nBlockAlign, 2, type);
        ASSERT_EQ(out.size(), 2 * in.size()) << f.wBitsPerSample << " " << f.nChannels;
        if (first.empty())
          first = out;
        else
          ASSERT_TRUE(out == first) << frames;
      }
    }
  }
}

// At half speed the output at time t carries what the input had at t / 2, at its own pitch:
// the chirp's frequency, measured by zero crossings, follows the input's track, rising all the
// way (a repeated phrase would fall back).
TEST(TimeStretch, ChirpKeepsItsPitchTrack) {
  for (const TWaveFormatEx& f : kFormats) {
    const double f0 = 300, f1 = 3000, seconds = 3;
    const std::string out = Stretch(Chirp(f, f0, f1, seconds, 100), f, 32768 * f.nBlockAlign);
    const std::vector<double> y = FirstChannel(out, f);
    ASSERT_EQ(y.size(), static_cast<std::size_t>(2 * seconds * 44100));
    const int win = 4410;
    double last = 0;
    for (std::size_t at = win; at + 2 * win < y.size(); at += win) {
      int crossings = 0;
      for (std::size_t i = at + 1; i < at + win; ++i) crossings += (y[i - 1] < 0) != (y[i] < 0);
      const double measured = crossings / 2.0 / (double(win) / 44100);
      const double t = (at + win / 2.0) / 44100 / 2;  // input time
      const double want = f0 * std::exp(std::log(f1 / f0) / seconds * t);
      EXPECT_NEAR(measured / want, 1.0, 0.04)
          << f.wBitsPerSample << "/" << f.nChannels << " at " << at;
      EXPECT_GT(measured, last * 0.99) << at;
      last = measured;
    }
  }
}

TEST(TimeStretch, OffPassesTheAudioBitForBit) {
  std::mt19937 rng(9);
  std::string in(40000 * 4 + 3, '\0');
  for (char& c : in) c = static_cast<char>(rng());
  for (const TWaveFormatEx& f : kFormats) {
    const std::string whole = in.substr(0, in.size() / f.nBlockAlign * f.nBlockAlign);
    EXPECT_TRUE(Stretch(whole, f, 8192, 1) == whole);
    EXPECT_TRUE(Stretch(whole, f, 131072, 1) == whole);
  }
}

TEST(TimeStretch, TurnedOffMidStreamGoesBackToTheInput) {
  const TWaveFormatEx f = Pcm();
  const std::string in = Chirp(f, 200, 400, 2.0, 8000);
  TMemorySource src(in, f);
  TMMMetronome m;
  src.SetOutput(&m);
  m.Started();
  auto h = AllocWaveHdr(8192);
  std::string out;
  bool more = true;
  for (int i = 0; more && i < 10000; ++i) {
    if (i == 20) m.SetStretch(1);
    h->dwBufferLength = 8192;
    m.BufferLoad(h.get(), more);
    out.append(h->lpData, h->dwBytesRecorded);
  }
  EXPECT_FALSE(more);
  // Longer than the input (the first part played slowly), shorter than twice, and the input's
  // last second at the end unchanged.
  EXPECT_GT(out.size(), in.size());
  EXPECT_LT(out.size(), 2 * in.size());
  EXPECT_TRUE(out.substr(out.size() - 176400) == in.substr(in.size() - 176400));
}

TEST(TimeStretch, SeamsOfSolaFollowTheWave) {
  // A steady sine stays a sine: no step between frames larger than the sine's own steepest.
  const TWaveFormatEx f = Pcm();
  for (int div : {16, 256, 516}) {
    TMemorySource src(Samples16(Sine16(440, 1.0, 10000)), f);
    TMMMetronome m;
    src.SetOutput(&m);
    m.SetDivSize(div);
    m.Started();
    std::vector<double> y = FirstChannel(PullAll(m, 8192), f);
    double worst = 0;
    for (std::size_t i = 1; i < y.size(); ++i) worst = std::max(worst, std::abs(y[i] - y[i - 1]));
    EXPECT_LT(worst, 10000 * 2 * M_PI * 440 / 44100 * 1.1) << div;
  }
}

TEST(TimeStretch, OverlapSliderMovedWhilePlaying) {
  const TWaveFormatEx f = Pcm();
  const std::string in = Chirp(f, 200, 2000, 2.0, 8000);
  TMemorySource src(in, f);
  TMMMetronome m;
  src.SetOutput(&m);
  m.Started();
  auto h = AllocWaveHdr(8192);
  std::string out;
  bool more = true;
  for (int i = 0; more && i < 10000; ++i) {
    m.SetDivSize(16 + (i * 37) % 4000);
    h->dwBufferLength = 8192;
    m.BufferLoad(h.get(), more);
    out.append(h->lpData, h->dwBytesRecorded);
  }
  EXPECT_EQ(out.size(), 2 * in.size());
}
