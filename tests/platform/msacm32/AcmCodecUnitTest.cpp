// The codecs and the PCM converter below the handle layer, run also under the sanitizers:
// G.711 against its quantisation bounds, ADPCM round trips, and damaged blocks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "AcmCodecs.h"
#include "AcmDrivers.h"
#include "Signal.h"

namespace {

TEST(AcmCodecUnit, G711QuantisationStaysWithinItsStep) {
  EXPECT_EQ(acm::LinearToAlaw(0), 0xD5);
  EXPECT_EQ(acm::LinearToMulaw(0), 0xFF);
  for (int s = -32768; s <= 32767; ++s) {
    const int a = acm::AlawToLinear(acm::LinearToAlaw(int16_t(s)));
    const int u = acm::MulawToLinear(acm::LinearToMulaw(int16_t(s)));
    // Both laws keep 4 bits of mantissa within their segment: the error is at most half a step,
    // under 1/16 of the value (and small near zero).
    const int bound = std::max(16, std::abs(s) / 16);
    if (std::abs(a - s) > bound || std::abs(u - s) > bound) {
      ADD_FAILURE() << s << " -> A-law " << a << ", u-law " << u;
      break;
    }
  }
  for (int b = 0; b < 256; ++b) {  // decoding a code and encoding it again gives the code
    EXPECT_EQ(acm::LinearToAlaw(acm::AlawToLinear(uint8_t(b))), b);
    const uint8_t u = acm::LinearToMulaw(acm::MulawToLinear(uint8_t(b)));
    EXPECT_EQ(acm::MulawToLinear(u), acm::MulawToLinear(uint8_t(b)));
  }
}

// A whole signal through a stream of the drivers, block by block.
std::vector<int16_t> Through(const acm::Format& src, const acm::Format& dst,
                             const std::vector<int16_t>& in16, const std::string& inBytes = "") {
  const acm::Driver* drv = nullptr;
  for (const acm::Driver& d : acm::Drivers())
    if (d.Supports(src.get(), dst.get())) drv = &d;
  EXPECT_NE(drv, nullptr);
  if (!drv) return {};
  auto s = drv->Open(src, dst, false);
  const std::string in = inBytes.empty() ? sigtest::Bytes(in16) : inBytes;
  std::string out(s->DestSize(uint32_t(in.size())), '\0');
  uint32_t used = 0, written = 0;
  s->Convert(reinterpret_cast<const uint8_t*>(in.data()), uint32_t(in.size()),
             reinterpret_cast<uint8_t*>(out.data()), uint32_t(out.size()), 0, used, written);
  EXPECT_EQ(used, in.size());
  out.resize(written);
  return sigtest::Samples(out);
}

std::string Encoded(const acm::Format& pcm, const acm::Format& codec,
                    const std::vector<int16_t>& in) {
  const acm::Driver* drv = &acm::Drivers()[0];
  for (const acm::Driver& d : acm::Drivers())
    if (d.Supports(pcm.get(), codec.get())) drv = &d;
  auto s = drv->Open(pcm, codec, false);
  const std::string b = sigtest::Bytes(in);
  std::string out(s->DestSize(uint32_t(b.size())), '\0');
  uint32_t used = 0, written = 0;
  s->Convert(reinterpret_cast<const uint8_t*>(b.data()), uint32_t(b.size()),
             reinterpret_cast<uint8_t*>(out.data()), uint32_t(out.size()), 0, used, written);
  out.resize(written);
  return out;
}

TEST(AcmCodecUnit, AdpcmRoundTripsFollowLoudAndQuietSignals) {
  for (uint16_t tag : {uint16_t(WAVE_FORMAT_IMA_ADPCM), uint16_t(WAVE_FORMAT_ADPCM)}) {
    for (unsigned ch : {1u, 2u}) {
      for (double amp : {0.9, 0.01}) {
        const auto tone = sigtest::Tone(22050, ch, 22050, 440, amp);
        const acm::Format pcm = acm::Pcm(22050, 16, ch), codec = acm::Standard(tag, 22050, ch);
        const std::string coded = Encoded(pcm, codec, tone);
        const auto back = Through(codec, pcm, {}, coded);
        ASSERT_GE(back.size(), tone.size());
        EXPECT_GE(sigtest::Compare(tone, back, ch, 0, 0).snrDb, 25.0)
            << tag << " " << ch << " " << amp;
      }
    }
  }
}

// Random bytes in place of codec blocks, and extreme but valid records: decoding never reads or
// writes outside the blocks and always yields the block's sample count.
TEST(AcmCodecUnit, DamagedBlocksDecodeToBoundedOutput) {
  std::mt19937 rng(7);
  for (uint16_t tag : {uint16_t(WAVE_FORMAT_IMA_ADPCM), uint16_t(WAVE_FORMAT_ADPCM),
                       uint16_t(WAVE_FORMAT_GSM610), uint16_t(WAVE_FORMAT_ALAW)}) {
    for (unsigned ch : {1u, 2u}) {
      acm::Format codec = acm::Standard(tag, 8000, ch);
      if (codec.empty()) continue;
      std::string junk(size_t(codec->nBlockAlign) * 9 + 3, '\0');
      for (char& c : junk) c = char(rng());
      const auto out = Through(codec, acm::Pcm(8000, 16, ch), {}, junk);
      const size_t spb = acm::SamplesPerBlock(codec.get());
      EXPECT_EQ(out.size(), (tag == WAVE_FORMAT_ALAW ? junk.size() / ch : 9 * spb) * ch) << tag;
    }
  }
}

TEST(AcmCodecUnit, PcmStreamDrainsToTheExactCount) {
  const acm::Format from = acm::Pcm(44100, 16, 2), to = acm::Pcm(22050, 16, 2);
  auto s = acm::Drivers()[0].Open(from, to, true);
  ASSERT_TRUE(s);
  const std::string in = sigtest::Bytes(sigtest::Tone(44100 + 1, 2, 44100, 440));
  std::string out(64, '\0');  // a small destination: the stream keeps what does not fit
  size_t pos = 0, total = 0;
  for (int guard = 0; guard < 100000; ++guard) {
    uint32_t used = 0, written = 0;
    const uint32_t n = uint32_t(std::min<size_t>(4000, in.size() - pos));
    s->Convert(reinterpret_cast<const uint8_t*>(in.data() + pos), n,
               reinterpret_cast<uint8_t*>(out.data()), 64, n ? 0 : ACM_STREAMCONVERTF_END, used,
               written);
    pos += used;
    total += written;
    if (!n && !written) break;
  }
  EXPECT_EQ(pos, in.size());
  EXPECT_EQ(total / 4, 22051u);
}

// The flush may come with data that does not fit the destination at once, and with a piece of a
// frame: the rest comes back in the next END call, and the count is still exact.
TEST(AcmCodecUnit, FlushWithDataThatDoesNotFit) {
  const acm::Format from = acm::Pcm(22050, 16, 1), to = acm::Pcm(48000, 16, 1);
  auto s = acm::Drivers()[0].Open(from, to, false);
  ASSERT_TRUE(s);
  std::string in = sigtest::Bytes(sigtest::Tone(10000, 1, 22050, 440)) + "x";  // a half frame
  std::string out(100, '\0');
  size_t pos = 0, total = 0;
  for (int guard = 0; guard < 100000; ++guard) {
    uint32_t used = 0, written = 0;
    const uint32_t n = uint32_t(in.size() - pos);
    s->Convert(reinterpret_cast<const uint8_t*>(in.data() + pos), n,
               reinterpret_cast<uint8_t*>(out.data()), 100, ACM_STREAMCONVERTF_END, used, written);
    pos += used;
    total += written;
    if (!used && !written) break;
  }
  EXPECT_EQ(pos, in.size());
  EXPECT_EQ(total / 2, (10000u * 48000 + 11025) / 22050);
}

}  // namespace
