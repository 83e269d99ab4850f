// The PCM converter: sample sizes and channels exactly, rates through the resampler with exact
// output counts after the flush, and the several-stream road the converter component plans.
#include <gtest/gtest.h>

#include <cstring>

#include "AcmBinding.h"
#include "Signal.h"

using namespace acmtest;

namespace {

class AcmPcm : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Lib().ok) << Lib().lib.Error(); }
};

TEST_F(AcmPcm, EqualFormatsPassThroughByteForByte) {
  const auto tone = sigtest::Bytes(sigtest::Tone(10000, 2, 44100, 440));
  EXPECT_EQ(Convert(Pcm(44100, 16, 2), Pcm(44100, 16, 2), tone), tone);
}

TEST_F(AcmPcm, SampleSizesAndChannelsAreExact) {
  // 16 -> 8 bits rounds to the nearest step; 8 -> 16 is exact; stereo -> mono averages.
  std::vector<int16_t> s = {0, 127, 128, -129, 32767, -32768, 1000, -1000};
  const std::string in16 = sigtest::Bytes(s);
  const std::string out8 = Convert(Pcm(8000, 16, 1), Pcm(8000, 8, 1), in16);
  ASSERT_EQ(out8.size(), s.size());
  const uint8_t want8[] = {128, 128, 129, 127, 255, 0, 132, 124};
  for (size_t i = 0; i < s.size(); ++i) EXPECT_EQ(uint8_t(out8[i]), want8[i]) << i;
  const auto back = sigtest::Samples(Convert(Pcm(8000, 8, 1), Pcm(8000, 16, 1), out8));
  ASSERT_EQ(back.size(), s.size());
  for (size_t i = 0; i < s.size(); ++i) EXPECT_EQ(back[i], (int(uint8_t(out8[i])) - 128) * 256);

  const std::vector<int16_t> st = {100, 300, -5, -6, 32767, 32767, -32768, 32767};
  const auto mono =
      sigtest::Samples(Convert(Pcm(11025, 16, 2), Pcm(11025, 16, 1), sigtest::Bytes(st)));
  EXPECT_EQ(mono, (std::vector<int16_t>{200, -6, 32767, -1}));
  const auto wide =
      sigtest::Samples(Convert(Pcm(11025, 16, 1), Pcm(11025, 16, 2), sigtest::Bytes({7, -9})));
  EXPECT_EQ(wide, (std::vector<int16_t>{7, 7, -9, -9}));
}

// Every rate pair gives round(n * out / in) frames after the flush, however the input is cut.
TEST_F(AcmPcm, RateConversionCountsAreExact) {
  const uint32_t rates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
  for (uint32_t from : rates) {
    for (uint32_t to : rates) {
      const size_t frames = from * 7 / 10 + 13;
      const auto in = sigtest::Bytes(sigtest::Tone(frames, 1, from, 300));
      const std::string out = Convert(Pcm(from, 16, 1), Pcm(to, 16, 1), in);
      EXPECT_EQ(out.size() / 2, (uint64_t(frames) * to + from / 2) / from) << from << " -> " << to;
    }
  }
  // Odd rates anywhere in the range, stereo, 8-bit, and the high-quality resampler.
  struct Case {
    uint32_t from, to;
    unsigned bits, ch;
    uint32_t flags;
  };
  for (Case c : {Case{9999, 47999, 16, 2, 0}, Case{44100, 22050, 8, 2, 0},
                 Case{48000, 8000, 16, 2, ACM_STREAMOPENF_NONREALTIME},
                 Case{44100, 32000, 8, 1, ACM_STREAMOPENF_NONREALTIME}}) {
    const size_t frames = 33333;
    std::string in(frames * c.ch * c.bits / 8, '\x80');
    const std::string out =
        Convert(Pcm(c.from, c.bits, c.ch), Pcm(c.to, c.bits, c.ch), in, c.flags);
    EXPECT_EQ(out.size() / (c.ch * c.bits / 8), (uint64_t(frames) * c.to + c.from / 2) / c.from)
        << c.from << " -> " << c.to;
  }
}

TEST_F(AcmPcm, ResampledToneKeepsItsShape) {
  for (uint32_t flags : {0u, ACM_STREAMOPENF_NONREALTIME}) {
    const auto in = sigtest::Tone(44100 * 2, 2, 44100, 1000);
    const auto out =
        sigtest::Samples(Convert(Pcm(44100, 16, 2), Pcm(22050, 16, 2), sigtest::Bytes(in), flags));
    const auto ref = sigtest::Tone(22050 * 2, 2, 22050, 1000);
    const auto m = sigtest::Compare(ref, out, 2, 200, 2000);
    EXPECT_GE(m.snrDb, flags ? 60.0 : 50.0);
    EXPECT_NEAR(m.gain, 1.0, 0.01);
    EXPECT_LE(m.lag, 2) << "the resampler's delay is taken out";
  }
}

// CD audio to 22.05 kHz mono 8-bit is no single stream's work; the suggested middle step gives
// two streams that together do it.
TEST_F(AcmPcm, CdAudioTo22kMono8BitTakesTwoStreams) {
  Acm& a = Lib();
  Fmt cd = Pcm(44100, 16, 2), want = Pcm(22050, 8, 1);
  ASSERT_EQ(a.acmStreamOpen(nullptr, nullptr, W(cd), W(want), nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
            ACMERR_NOTPOSSIBLE);
  Fmt mid(1025, 0);
  W(mid)->nChannels = 1;
  W(mid)->nSamplesPerSec = 22050;
  ASSERT_EQ(a.acmFormatSuggest(nullptr, W(cd), W(mid), 1025,
                               ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC),
            MMSYSERR_NOERROR);
  mid.resize(18);
  ASSERT_EQ(
      a.acmStreamOpen(nullptr, nullptr, W(mid), W(want), nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
      MMSYSERR_NOERROR);
  const auto in = sigtest::Tone(44100, 2, 44100, 500);
  const std::string out = Convert(mid, want, Convert(cd, mid, sigtest::Bytes(in)));
  EXPECT_EQ(out.size(), 22050u);
  std::vector<int16_t> as16;
  for (char c : out) as16.push_back(int16_t((int(uint8_t(c)) - 128) * 256));
  // The mono mix of 500 Hz and 750 Hz at half level each.
  auto l = sigtest::Tone(22050, 2, 22050, 500);
  std::vector<int16_t> ref;
  for (size_t i = 0; i < l.size(); i += 2) ref.push_back(int16_t((l[i] + l[i + 1]) / 2));
  EXPECT_GE(sigtest::Compare(ref, as16, 1, 50, 1000).snrDb, 30.0);
}

TEST_F(AcmPcm, ResetStartsAFreshSignal) {
  Acm& a = Lib();
  Fmt s = Pcm(44100, 16, 1), d = Pcm(32000, 16, 1);
  HACMSTREAM h = nullptr;
  ASSERT_EQ(a.acmStreamOpen(&h, nullptr, W(s), W(d), nullptr, 0, 0, 0), MMSYSERR_NOERROR);
  auto in = sigtest::Bytes(sigtest::Tone(4000, 1, 44100, 700));
  std::vector<uint8_t> dst(16384);
  ACMSTREAMHEADER hdr{};
  hdr.cbStruct = sizeof hdr;
  hdr.pbSrc = reinterpret_cast<uint8_t*>(in.data());
  hdr.cbSrcLength = uint32_t(in.size());
  hdr.pbDst = dst.data();
  hdr.cbDstLength = uint32_t(dst.size());
  ASSERT_EQ(a.acmStreamPrepareHeader(h, &hdr, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(a.acmStreamConvert(h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
  const std::string first(reinterpret_cast<char*>(dst.data()), hdr.cbDstLengthUsed);
  // Repositioning: start and end with no data, then the same input again.
  hdr.cbSrcLength = 0;
  ASSERT_EQ(a.acmStreamConvert(h, &hdr, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END),
            MMSYSERR_NOERROR);
  hdr.cbSrcLength = uint32_t(in.size());
  ASSERT_EQ(a.acmStreamReset(h, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(a.acmStreamConvert(h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
  EXPECT_TRUE(std::string(reinterpret_cast<char*>(dst.data()), hdr.cbDstLengthUsed) == first);
  EXPECT_EQ(a.acmStreamUnprepareHeader(h, &hdr, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(a.acmStreamClose(h, 0), MMSYSERR_NOERROR);
}

}  // namespace
