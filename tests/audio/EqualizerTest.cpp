#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>

#include "AudioTestUtil.h"
#include "MMEqualiz.h"
#include "MMFFT.h"

using namespace qlaudio;

namespace {

std::vector<std::int16_t> Noise(std::size_t samples, int amplitude, unsigned seed = 7) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(-amplitude, amplitude);
  std::vector<std::int16_t> v(samples);
  for (auto& s : v) s = static_cast<std::int16_t>(d(rng));
  return v;
}

std::vector<std::int16_t> Filter(TMMEqualizer& eq, const std::vector<std::int16_t>& in,
                                 const TWaveFormatEx& fmt, int bufferSize = 8192) {
  TMemorySource src(Samples16(in), fmt);
  src.SetOutput(&eq);
  eq.SetBufferSize(bufferSize);
  eq.Opened();
  eq.Started();
  auto out = ToSamples16(PullAll(eq, bufferSize));
  eq.Closed();
  return out;
}

double Rms(const std::vector<std::int16_t>& v, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += double(v[i]) * v[i];
  return std::sqrt(sum / double(to - from));
}

}  // namespace

TEST(FFT, ForwardThenInverseGivesTheInput) {
  for (int n : {2, 4, 8, 64, 1024}) {
    TMMFFT fft(n);
    std::vector<float> re(n), im(n), r0, i0;
    for (int i = 0; i < n; ++i) re[i] = float(i % 7) - 3, im[i] = float(i % 5);
    r0 = re, i0 = im;
    fft.Forward(re.data(), im.data());
    // Bin 1 against a direct sum.
    double sr = 0, si = 0;
    for (int t = 0; t < n; ++t) {
      double a = -2 * M_PI * t / n;
      sr += r0[t] * std::cos(a) - i0[t] * std::sin(a);
      si += r0[t] * std::sin(a) + i0[t] * std::cos(a);
    }
    EXPECT_NEAR(re[1], sr, 1e-3 * n);
    EXPECT_NEAR(im[1], si, 1e-3 * n);
    fft.Inverse(re.data(), im.data());
    for (int i = 0; i < n; ++i) ASSERT_NEAR(re[i], r0[i], 1e-4) << n;
    // The convolution pair: the same spectrum in bit-reversed order, and back.
    std::vector<float> br = r0, bi = i0, fr = r0, fi = i0;
    fft.Forward(fr.data(), fi.data());
    fft.ForwardToBitReversed(br.data(), bi.data(), false);
    for (int k = 0; k < n; ++k) {
      ASSERT_NEAR(br[fft.BitReversed(k)], fr[k], 1e-3 * n);
      ASSERT_NEAR(bi[fft.BitReversed(k)], fi[k], 1e-3 * n);
    }
    fft.InverseFromBitReversed(br.data(), bi.data());
    for (int i = 0; i < n; ++i) ASSERT_NEAR(br[i] / n, r0[i], 1e-4) << n;
  }
}

TEST(Equalizer, FlatBandsGiveTheInputBackWithTheLatencyAndTheWholeTail) {
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  TWaveFormatEx fmt = Pcm();
  // A length that is no whole number of blocks, full-scale noise.
  auto in = Noise(2 * 40001, 32767);
  in[0] = -32768;
  auto out = Filter(eq, in, fmt);
  PEQEngine e = eqCreate(&fmt, 512, 65536);
  const std::size_t delay = 2 * static_cast<std::size_t>(eqLatency(e));
  eqFree(e);
  ASSERT_GT(delay, 0u);
  ASSERT_EQ(out.size(), in.size() + delay);  // nothing lost at the end, nothing put in
  for (std::size_t i = 0; i < delay; ++i) ASSERT_EQ(out[i], 0) << i;
  for (std::size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i + delay], in[i]) << i;
}

TEST(Equalizer, PullSizesDoNotChangeTheStream) {
  TWaveFormatEx fmt = Pcm();
  auto in = Noise(2 * 50000, 12000, 11);
  std::vector<std::int16_t> first;
  // Odd sizes, sizes below a frame's multiple, and sizes above the engine's largest buffer.
  for (int size : {8192, 400, 4 * 333 + 2, 77777, 262144}) {
    TMMEqualizer eq;
    SetupTwelveBands(eq);
    eq.Filters()->Items(2)->SetGain(7);
    eq.Filters()->Items(9)->SetGain(-8);
    auto out = Filter(eq, in, fmt, size);
    if (first.empty())
      first = out;
    else
      ASSERT_TRUE(out == first) << size;
  }
}

TEST(Equalizer, LatencyIsTakenOffWhenAsked) {
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  eq.CompensateLatency = true;
  TWaveFormatEx fmt = Pcm(16, 1, 44100);
  auto in = Noise(30011, 20000, 5);
  auto out = Filter(eq, in, fmt, 1234);
  EXPECT_TRUE(out == in);
}

// The measured gain at each band's geometric centre meets its slider within 1 dB, whatever
// the other sliders say: random settings, and the hardest, neighbours at opposite ends.
TEST(Equalizer, EveryBandMeetsItsSliderAtItsCentre) {
  static const double lo[12] = {10, 31, 61, 121, 181, 301, 601, 1201, 1801, 3001, 6001, 12001};
  static const double hi[12] = {30, 60, 120, 180, 300, 600, 1200, 1800, 3000, 6000, 12000, 20000};
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> d(-10, 10);
  std::vector<std::array<int, 12>> settings;
  std::array<int, 12> zigzag{}, flipped{};
  for (int i = 0; i < 12; ++i) zigzag[i] = (i & 1) ? -10 : 10, flipped[i] = -zigzag[i];
  settings.push_back(zigzag);
  settings.push_back(flipped);
  for (int n = 0; n < 12; ++n) {
    std::array<int, 12> s{};
    for (int& g : s) g = d(rng);
    settings.push_back(s);
  }
  TWaveFormatEx fmt = Pcm();
  for (const auto& s : settings) {
    TMMEqualizer eq;
    SetupTwelveBands(eq);
    eq.SetWaveFormat(&fmt);
    eq.Opened();
    for (int i = 0; i < 12; ++i) eq.Filters()->Items(i)->SetGain(static_cast<float>(s[i]));
    for (int i = 0; i < 12; ++i) {
      const double db = 20 * std::log10(eqResponse(eq.Engine(), std::sqrt(lo[i] * hi[i])));
      EXPECT_NEAR(db, s[i], 1.0) << "band " << i;
    }
    // 20 kHz and above follow the top band.
    EXPECT_NEAR(20 * std::log10(eqResponse(eq.Engine(), 21000)), s[11], 1.0);
    eq.Closed();
  }
}

TEST(Equalizer, ResponseDoesNotDependOnTheOrderOfChanges) {
  TWaveFormatEx fmt = Pcm();
  TMMEqualizer a, b;
  for (TMMEqualizer* eq : {&a, &b}) {
    SetupTwelveBands(*eq);
    eq->SetWaveFormat(&fmt);
    eq->Opened();
  }
  for (int i = 0; i < 12; ++i) a.Filters()->Items(i)->SetGain(static_cast<float>(i - 6));
  for (int i = 11; i >= 0; --i) b.Filters()->Items(i)->SetGain(static_cast<float>(9 - i));
  for (int i = 11; i >= 0; --i) b.Filters()->Items(i)->SetGain(static_cast<float>(i - 6));
  for (double hz : {17.0, 40.0, 90.0, 150.0, 1000.0, 5000.0, 15000.0})
    EXPECT_DOUBLE_EQ(eqResponse(a.Engine(), hz), eqResponse(b.Engine(), hz)) << hz;
}

TEST(Equalizer, SineAtABandCentreTakesTheBandGain) {
  struct Case {
    int band;
    float gain;
    double hz;
  };
  // Measured on the filtered stream; the low bands need whole seconds of sine.
  for (Case c : {Case{7, 6, 1470}, Case{9, -10, 4243}, Case{1, -10, 43}, Case{0, 10, 17.3},
                 Case{11, 8, 15492}}) {
    TMMEqualizer eq;
    SetupTwelveBands(eq);
    eq.CompensateLatency = true;
    eq.Filters()->Items(c.band)->SetGain(c.gain);
    if (c.band > 0) eq.Filters()->Items(c.band - 1)->SetGain(-c.gain);
    TWaveFormatEx fmt = Pcm();
    auto in = Sine16(c.hz, 3.0, 8000);
    auto out = Filter(eq, in, fmt);
    ASSERT_EQ(out.size(), in.size());
    double ratio = Rms(out, 44100, 2 * 44100 * 2) / Rms(in, 44100, 2 * 44100 * 2);
    EXPECT_NEAR(20 * std::log10(ratio), c.gain, 1.0) << c.hz;
  }
}

TEST(Equalizer, FullScaleNoiseClipsWithoutGarbage) {
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  eq.CompensateLatency = true;
  for (int i = 0; i < 12; ++i) eq.Filters()->Items(i)->SetGain(10);
  int overflows = 0;
  eq.OnPcmOverflow = [&](TMMDSPComponent*) { ++overflows; };
  TWaveFormatEx fmt = Pcm();
  auto in = Noise(2 * 2048 * 10, 32767, 3);
  for (std::size_t i = 0; i < in.size(); i += 97) in[i] = (i & 1) ? -32768 : 32767;
  auto out = Filter(eq, in, fmt);
  ASSERT_EQ(out.size(), in.size());
  EXPECT_GT(overflows, 0);
  int atLimit = 0;
  for (auto s : out) atLimit += (s == 32767 || s == -32768);
  EXPECT_GT(atLimit, 100);
  EXPECT_EQ(eq.ClippedSamples(), atLimit);
  // Samples saturate on the side the input drives them to.
  int same = 0, total = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (std::abs(out[i]) < 32767 || std::abs(in[i]) < 16000) continue;
    ++total;
    same += (out[i] > 0) == (in[i] > 0);
  }
  EXPECT_GT(total, 100);
  EXPECT_GT(same, total * 9 / 10);
}

TEST(Equalizer, RefusesEightBitAndNonPcm) {
  TMMEqualizer eq;
  TWaveFormatEx f8 = Pcm(8, 2, 44100);
  try {
    eq.SetWaveFormat(&f8);
    ADD_FAILURE();
  } catch (const EMMEqualizerError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }
  TWaveFormatEx adpcm = Pcm();
  adpcm.wFormatTag = 2;
  EXPECT_THROW(eq.SetWaveFormat(&adpcm), EMMEqualizerError);
  eq.SetWaveFormat(nullptr);
  TWaveFormatEx f = Pcm(16, 1, 22050);
  eq.SetWaveFormat(&f);
  EXPECT_EQ(eq.GetSampleRate(), 22050);
}

TEST(Equalizer, LengthsAndBandEdges) {
  TMMEqualizer eq;
  eq.SetFFTLength(1000);
  EXPECT_EQ(eq.GetFFTLength(), 512);
  eq.SetFFTLength(5000);
  EXPECT_EQ(eq.GetFFTLength(), 4096);
  TWaveFormatEx fmt = Pcm();
  PEQEngine e = eqCreate(&fmt, 512, 65536);
  EXPECT_EQ(eqLatency(e) * 4, eqTransformSize(e));
  // A band at or above half the rate moves just below it; edges may come in either order; a
  // band with the same edges replaces the earlier one.
  eqSetBand(e, 6, 30000, 22050);
  EXPECT_NEAR(eqTargetGain(e, 22050), std::pow(10.0, 6 / 20.0), 1e-5);
  eqSetBand(e, -3, 100, 200);
  eqSetBand(e, -4, 200, 100);
  EXPECT_NEAR(eqTargetGain(e, 141.4), std::pow(10.0, -4 / 20.0), 1e-3);
  // The whole range at a gain drops every band.
  eqSetBand(e, 2, 22050, 0);
  EXPECT_NEAR(eqTargetGain(e, 141.4), std::pow(10.0, 2 / 20.0), 1e-5);
  eqFree(e);
}

TEST(Equalizer, PushedBuffersKeepTheirSizeAndTurnSilentWhileFilling) {
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  TWaveFormatEx fmt = Pcm();
  eq.SetWaveFormat(&fmt);
  TMemorySink sink;
  eq.SetOutput(&sink);
  eq.Opened();
  eq.Started();
  auto in = Noise(2 * 60000, 10000);
  in[0] = 5000;  // the first sound out is the first sample in
  auto h = AllocWaveHdr(4000);
  for (std::size_t at = 0; at < in.size(); at += 1000) {
    std::memcpy(h->lpData, in.data() + at, 2000);
    h->dwBytesRecorded = 2000;
    eq.BufferReady(h.get());
  }
  auto out = ToSamples16(sink.data);
  ASSERT_EQ(out.size(), in.size());
  const std::size_t delay = 2 * static_cast<std::size_t>(eq.LatencyFrames());
  // Silence until the first block is filtered, then the input delayed by the latency.
  std::size_t firstSound = 0;
  while (firstSound < out.size() && out[firstSound] == 0) ++firstSound;
  ASSERT_LT(firstSound, out.size());
  EXPECT_GE(firstSound, delay);
  for (std::size_t i = firstSound; i < out.size(); ++i)
    ASSERT_EQ(out[i], in[i - firstSound]) << i << " " << firstSound;
  eq.Closed();
}

TEST(Equalizer, OneChannelLeavesTheOtherAligned) {
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  for (int i = 0; i < 12; ++i) eq.Filters()->Items(i)->SetGain(-10);
  eq.Channel = chLeft;
  eq.CompensateLatency = true;
  TWaveFormatEx fmt = Pcm();
  auto in = Sine16(1000, 0.5, 10000);
  for (std::size_t i = 1; i < in.size(); i += 2) in[i] = static_cast<std::int16_t>(i % 1000);
  auto out = Filter(eq, in, fmt);
  ASSERT_EQ(out.size(), in.size());
  for (std::size_t i = 1; i < in.size(); i += 2) ASSERT_EQ(out[i], in[i]) << i;
  double left = 0, leftIn = 0;
  for (std::size_t i = 4096; i < out.size(); i += 2)
    left += double(out[i]) * out[i], leftIn += double(in[i]) * in[i];
  EXPECT_NEAR(10 * std::log10(left / leftIn), -10, 1.0);

  TMMEqualizer mono;
  SetupTwelveBands(mono);
  for (int i = 0; i < 12; ++i) mono.Filters()->Items(i)->SetGain(-10);
  mono.Channel = chRight;
  mono.CompensateLatency = true;
  TWaveFormatEx m = Pcm(16, 1, 44100);
  auto min = Sine16(1000, 0.5, 10000, 44100, 1);
  auto mout = Filter(mono, min, m);
  EXPECT_NEAR(20 * std::log10(Rms(mout, 2048, mout.size()) / Rms(min, 2048, min.size())), -10, 1.0);
}

TEST(Equalizer, ObjectContainerRoundTrip) {
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  eq.Description = "Rock";
  eq.Filters()->Items(3)->SetGain(-4.5f);
  eq.Filters()->Items(4)->SetEnabled(false);
  const std::string bytes = eq.Filters()->WriteObjectContainer();
  EXPECT_EQ(bytes.substr(0, 5), std::string("EQU\0\1", 5));
  EXPECT_EQ(bytes.size(), 4u + 1 + 4 + 4 + 4 + 2 + 12 * (1 + 11 + 1 + 12));

  TMMEqualizer copy;
  copy.Filters()->ReadObjectContainer(bytes);
  EXPECT_EQ(copy.Description, "Rock");
  EXPECT_EQ(copy.GetFFTLength(), 512);
  ASSERT_EQ(copy.Filters()->Count(), 12);
  EXPECT_EQ(copy.Filters()->Items(3)->Gain(), -4.5f);
  EXPECT_FALSE(copy.Filters()->Items(4)->Enabled());
  EXPECT_EQ(copy.Filters()->Items(11)->Upper(), 20000.0f);

  std::string bad = bytes;
  bad[2] = 'X';
  try {
    copy.Filters()->ReadObjectContainer(bad);
    ADD_FAILURE();
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Invalid Object stream");
  }
  EXPECT_EQ(copy.Filters()->Count(), 0);
  for (std::size_t cut = 5; cut < bytes.size(); cut += 7)
    EXPECT_THROW(copy.Filters()->ReadObjectContainer(bytes.substr(0, cut)), EStreamError);
  std::string unknown = bytes;
  unknown[21] = 'Z';  // the first band's class name
  EXPECT_THROW(copy.Filters()->ReadObjectContainer(unknown), EStreamError);
}

TEST(Equalizer, BandChangesReachARunningEngine) {
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  int changes = 0;
  eq.OnChange = [&](TMMDSPComponent*) { ++changes; };
  TWaveFormatEx fmt = Pcm();
  TMemorySource src(Samples16(Sine16(1500, 0.5, 8000)), fmt);
  src.SetOutput(&eq);
  eq.Opened();
  eq.Started();
  eq.Filters()->Items(7)->SetGain(-10);
  EXPECT_EQ(changes, 1);
  EXPECT_NEAR(20 * std::log10(eqResponse(eq.Engine(), 1470)), -10, 1.0);
  eq.Filters()->Items(7)->SetEnabled(false);
  EXPECT_NEAR(20 * std::log10(eqResponse(eq.Engine(), 1470)), 0, 0.1);
  eq.Closed();
  EXPECT_FALSE(eq.Prepared());
}
