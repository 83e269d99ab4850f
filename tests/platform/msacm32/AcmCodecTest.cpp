// Each codec's output, in a RIFF WAVE file with its fmt (and fact) chunk, is read by ffmpeg and
// sox, and all three decoders (ffmpeg, sox, ours) give back the source within the codec's SNR.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "AcmBinding.h"
#include "Signal.h"
#include "TestFiles.h"

using namespace acmtest;

namespace {

struct Case {
  const char* name;
  uint16_t tag;
  uint32_t rate;
  unsigned channels;
  double minSnr;  // against the source
};

class AcmCodec : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { ASSERT_TRUE(Lib().ok) << Lib().lib.Error(); }
  qltest::TempDir dir;
};

TEST_P(AcmCodec, WaveFileDecodesWithFfmpegSoxAndItself) {
  const Case c = GetParam();
  // 1.3 s: not a whole number of blocks, so the last block is a padded one.
  const size_t frames = c.rate * 13 / 10;
  const auto tone = sigtest::Tone(frames, c.channels, c.rate, c.rate / 20.0, 0.6);
  const Fmt pcm = Pcm(c.rate, 16, c.channels);
  const Fmt codec = Listed(c.tag, c.rate, c.channels);
  ASSERT_FALSE(codec.empty());
  const std::string coded = Convert(pcm, codec, sigtest::Bytes(tone));
  const uint32_t align = W(codec)->nBlockAlign;
  ASSERT_EQ(coded.size() % align, 0u) << "whole blocks only";
  const size_t spb = c.tag == WAVE_FORMAT_ALAW || c.tag == WAVE_FORMAT_MULAW
                         ? 1
                         : size_t(uint16_t(codec[18] | (codec[19] << 8)));
  EXPECT_EQ(coded.size() / align, (frames + spb - 1) / spb) << "one block per samples-per-block";

  const std::string wav = dir / "codec.wav";
  sigtest::WriteWav(wav, codec.data(), codec.size(), coded, long(frames));
  const std::string f = dir / "ffmpeg.raw", s = dir / "sox.raw";
  ASSERT_EQ(qltest::Run("ffmpeg -v error -y -i " + wav + " -f s16le -acodec pcm_s16le " + f), 0);
  ASSERT_EQ(qltest::Run("sox -V1 " + wav + " -t raw -e signed-integer -b 16 " + s), 0);
  const auto ours = sigtest::Samples(Convert(codec, pcm, coded));
  EXPECT_EQ(ours.size() / c.channels, coded.size() / align * spb);
  struct Decoded {
    const char* who;
    std::vector<int16_t> samples;
  };
  for (const Decoded& d : {Decoded{"ffmpeg", sigtest::ReadS16(f)},
                           Decoded{"sox", sigtest::ReadS16(s)}, Decoded{"ours", ours}}) {
    EXPECT_GE(d.samples.size() / c.channels, frames) << d.who;
    const auto m = sigtest::Compare(tone, d.samples, c.channels, 0, c.rate / 50);
    EXPECT_GE(m.snrDb, c.minSnr) << d.who;
    std::printf("%s: %s decodes to %.1f dB SNR\n", c.name, d.who, m.snrDb);
  }
  // Our decoder reads the stream as one of the others does, to rounding.
  const double byFfmpeg = sigtest::Compare(sigtest::ReadS16(f), ours, c.channels, 0, 0).snrDb;
  const double bySox = sigtest::Compare(sigtest::ReadS16(s), ours, c.channels, 0, 0).snrDb;
  std::printf("%s: ours against ffmpeg %.1f dB, against sox %.1f dB\n", c.name, byFfmpeg, bySox);
  EXPECT_GE(std::max(byFfmpeg, bySox), 60.0);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, AcmCodec,
    ::testing::Values(Case{"AlawMono8k", WAVE_FORMAT_ALAW, 8000, 1, 30},
                      Case{"MulawStereo22k", WAVE_FORMAT_MULAW, 22050, 2, 30},
                      Case{"ImaMono44k", WAVE_FORMAT_IMA_ADPCM, 44100, 1, 25},
                      Case{"ImaStereo22k", WAVE_FORMAT_IMA_ADPCM, 22050, 2, 25},
                      Case{"MsAdpcmMono8k", WAVE_FORMAT_ADPCM, 8000, 1, 25},
                      Case{"MsAdpcmStereo44k", WAVE_FORMAT_ADPCM, 44100, 2, 25},
                      Case{"Gsm8k", WAVE_FORMAT_GSM610, 8000, 1, 18}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
