#include <gtest/gtest.h>

#include <cmath>
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

TEST(Equalizer, FlatBandsGiveTheInputDelayedByAQuarterBlock) {
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  TWaveFormatEx fmt = Pcm();
  // Whole buffers: a short last buffer would wait for the rest of its block.
  auto in = Noise(2 * 2048 * 21, 20000);
  auto out = Filter(eq, in, fmt);
  ASSERT_EQ(out.size(), in.size());
  const std::size_t delay = 2 * 512 / 4;  // N / 4 frames, two channels
  for (std::size_t i = 0; i < delay; ++i) ASSERT_EQ(out[i], 0) << i;
  for (std::size_t i = delay; i < in.size(); ++i) ASSERT_EQ(out[i], in[i - delay]) << i;
}

TEST(Equalizer, SineAtABandCentreTakesTheBandGain) {
  struct Case {
    int band;
    float gain;
    double hz;
  };
  for (Case c : {Case{7, 6, 1500}, Case{9, -10, 4500}, Case{10, -12, 9000}, Case{8, 9, 2400}}) {
    TMMEqualizer eq;
    SetupTwelveBands(eq);
    eq.Filters()->Items(c.band)->SetGain(c.gain);
    TWaveFormatEx fmt = Pcm();
    auto in = Sine16(c.hz, 2048.0 * 21 / 44100, 8000);
    auto out = Filter(eq, in, fmt);
    double ratio = Rms(out, 8820, in.size()) / Rms(in, 8820, in.size());
    EXPECT_NEAR(20 * std::log10(ratio), c.gain, 0.5) << c.hz;
  }
}

TEST(Equalizer, FullScaleNoiseClipsWithoutGarbage) {
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  for (int i = 0; i < 12; ++i) eq.Filters()->Items(i)->SetGain(12);
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
  // Samples saturate on the side the input drives them to.
  const std::size_t delay = 256;
  int same = 0, total = 0;
  for (std::size_t i = delay; i < out.size(); ++i) {
    if (std::abs(out[i]) < 32767 || std::abs(in[i - delay]) < 16000) continue;
    ++total;
    same += (out[i] > 0) == (in[i - delay] > 0);
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

TEST(Equalizer, LengthsAndBins) {
  TMMEqualizer eq;
  eq.SetFFTLength(1000);
  EXPECT_EQ(eq.GetFFTLength(), 512);
  eq.SetFFTLength(5000);
  EXPECT_EQ(eq.GetFFTLength(), 4096);
  TWaveFormatEx fmt = Pcm();
  PEQEngine e = eqCreate(&fmt, 4096, 65536);
  EXPECT_EQ(eqTransformSize(e), 1024);
  eqFree(e);

  e = eqCreate(&fmt, 512, 65536);
  // 10-30 Hz and 31-60 Hz both cover bin 0; the later band wins.
  eqSetBand(e, 6, 30, 10);
  eqSetBand(e, -6, 60, 31);
  EXPECT_NEAR(eqBinGain(e, 0), std::pow(10.0, -6 / 20.0), 1e-5);
  EXPECT_NEAR(eqBinGain(e, 1), std::pow(10.0, -6 / 20.0), 1e-5);
  // A band at or above half the rate moves just below it; edges may come in either order.
  eqSetBand(e, 3, 22050, 30000);
  EXPECT_NEAR(eqBinGain(e, 256), std::pow(10.0, 3 / 20.0), 1e-5);
  EXPECT_NEAR(eqBinGain(e, 255), 1.0, 1e-5);
  eqSetBand(e, -3, 100, 200);
  EXPECT_NEAR(eqBinGain(e, 2), std::pow(10.0, -3 / 20.0), 1e-5);
  eqFree(e);
}

TEST(Equalizer, ShortBuffersAreSilentUntilABlockArrives) {
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  TWaveFormatEx fmt = Pcm();
  auto in = Noise(2 * 3000, 10000);
  auto out = Filter(eq, in, fmt, 400);  // 100 frames per buffer
  ASSERT_EQ(out.size(), in.size());
  // The first five buffers (500 frames) arrive before the first block of 512 is complete.
  for (std::size_t i = 0; i < 1000; ++i) ASSERT_EQ(out[i], 0);
  EXPECT_NE(Rms(out, 2000, out.size()), 0);
}

TEST(Equalizer, OneChannelLeavesTheOther) {
  TMMEqualizer eq;
  SetupTwelveBands(eq);
  for (int i = 0; i < 12; ++i) eq.Filters()->Items(i)->SetGain(-20);
  eq.Channel = chLeft;
  TWaveFormatEx fmt = Pcm();
  auto in = Sine16(1000, 8192.0 / 44100, 10000);
  for (std::size_t i = 1; i < in.size(); i += 2) in[i] = static_cast<std::int16_t>(i % 1000);
  auto out = Filter(eq, in, fmt);
  for (std::size_t i = 1; i < in.size(); i += 2) ASSERT_EQ(out[i], in[i]);
  EXPECT_LT(Rms(out, 4096, out.size()), Rms(in, 4096, in.size()) / 5);

  TMMEqualizer mono;
  SetupTwelveBands(mono);
  for (int i = 0; i < 12; ++i) mono.Filters()->Items(i)->SetGain(-20);
  mono.Channel = chRight;
  TWaveFormatEx m = Pcm(16, 1, 44100);
  auto min = Sine16(1000, 8192.0 / 44100, 10000, 44100, 1);
  auto mout = Filter(mono, min, m);
  EXPECT_LT(Rms(mout, 1024, mout.size()), Rms(min, 1024, min.size()) / 5);
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
  eq.Filters()->Items(7)->SetGain(-20);
  EXPECT_EQ(changes, 1);
  EXPECT_NEAR(eqBinGain(eq.Engine(), 17), 0.1f, 1e-4);
  eq.Filters()->Items(7)->SetEnabled(false);
  EXPECT_NEAR(eqBinGain(eq.Engine(), 17), 1.0f, 1e-4);
  eq.Closed();
  EXPECT_FALSE(eq.Prepared());
}
