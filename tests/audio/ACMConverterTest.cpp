// The format converter on the real compression manager: planning, stages, pull and push, pass
// through, repositioning. Signals are checked against the same tone made at the destination
// format.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "AudioTestUtil.h"
#include "MMACMCvt.h"
#include "Signal.h"

using namespace qlaudio;

namespace {

constexpr std::uint16_t kAlaw = 6, kImaAdpcm = 17, kGsm = 49;

const TWaveFormatEx kCD = Pcm(16, 2, 44100);

// The same sine on every channel, at half of full scale.
std::vector<std::int16_t> Sine(const TWaveFormatEx& f, double seconds, double hz = 1000) {
  return Sine16(hz, seconds, 16384, static_cast<int>(f.nSamplesPerSec), f.nChannels);
}
std::string Tone(const TWaveFormatEx& f, double seconds, double hz = 1000) {
  return Samples16(Sine(f, seconds, hz));
}

unsigned SamplesPerBlock(const TWaveFormatEx* f) {
  const auto* b = reinterpret_cast<const std::uint8_t*>(f);
  return b[18] | (b[19] << 8);
}

// 8-bit samples widened to 16 bits, for comparisons.
std::vector<std::int16_t> Widen8(const std::string& bytes) {
  std::vector<std::int16_t> v(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i)
    v[i] = static_cast<std::int16_t>((static_cast<int>(static_cast<std::uint8_t>(bytes[i])) - 128)
                                     << 8);
  return v;
}

// A source -> converter pair, opened and started as a driver would.
struct Chain {
  TMemorySource source;
  TMMACMConverter conv;
  Chain(std::string data, const TWaveFormatEx& in, const TWaveFormatEx* want)
      : source(std::move(data), in) {
    conv.SetInput(&source);
    if (want) conv.SetWaveFormat(want);
  }
  void Open() {
    source.Opened();
    conv.Opened();
    source.Started();
    conv.Started();
  }
  ~Chain() {
    conv.Closed();
    source.Closed();
  }
};

std::string Pushed(const std::string& data, const TWaveFormatEx& in, const TWaveFormatEx& want,
                   std::size_t piece) {
  TMMACMConverter conv;
  TMemorySink sink;
  conv.InputFormatChanged(&in);
  conv.SetWaveFormat(&want);
  conv.SetOutput(&sink);
  conv.Opened();
  conv.Started();
  auto h = AllocWaveHdr(piece);
  for (std::size_t pos = 0; pos < data.size(); pos += piece) {
    const std::size_t n = std::min(piece, data.size() - pos);
    std::memcpy(h->lpData, data.data() + pos, n);
    h->dwBufferLength = h->dwBytesRecorded = static_cast<std::uint32_t>(n);
    conv.BufferReady(h.get());
  }
  conv.Closed();
  return sink.data;
}

}  // namespace

TEST(ACMConverter, CDAudioToLowRateMono8BitGoesThroughTwoStages) {
  const TWaveFormatEx want = Pcm(8, 1, 22050);
  Chain c(Tone(kCD, 2.0), kCD, &want);
  ASSERT_TRUE(c.conv.ConversionNeeded());
  ASSERT_TRUE(c.conv.ConversionPossible());
  // No single stream changes rate and sample size: 22.05 kHz mono 16-bit in between.
  ASSERT_EQ(c.conv.Plan().size(), 2u);
  EXPECT_EQ(c.conv.Plan()[0]->nSamplesPerSec, 22050u);
  EXPECT_EQ(c.conv.Plan()[0]->nChannels, 1);
  EXPECT_EQ(c.conv.Plan()[0]->wBitsPerSample, 16);
  ASSERT_EQ(c.conv.GetWaveFormat()->wBitsPerSample, 8);
  EXPECT_EQ(c.conv.GetWaveFormat()->nSamplesPerSec, 22050u);
  c.Open();
  EXPECT_EQ(c.conv.StageCount(), 2);
  EXPECT_EQ(c.conv.SourceChunk(), 8192);
  const std::string out = PullAll(c.conv, 4096);
  // Exactly rate-proportional, and the same tone.
  EXPECT_EQ(out.size(), 44100u);
  const TWaveFormatEx mono = Pcm(16, 1, 22050);
  const auto ref = Sine(mono, 2.0);
  EXPECT_GE(sigtest::Compare(ref, Widen8(out), 1, 64, 500).snrDb, 35.0);
}

TEST(ACMConverter, PlansOneStageWhenOneStreamDoesIt) {
  const TWaveFormatEx half = Pcm(16, 2, 22050), mono8 = Pcm(8, 1, 44100);
  std::vector<WfxPtr> chain;
  ASSERT_TRUE(ACMPlanConversion(&kCD, &half, cqLow, &chain));
  EXPECT_EQ(chain.size(), 1u);
  ASSERT_TRUE(ACMPlanConversion(&kCD, &mono8, cqHigh, &chain));
  EXPECT_EQ(chain.size(), 1u);
  ASSERT_TRUE(ACMPlanConversion(&kCD, &kCD, cqLow, &chain));
  EXPECT_TRUE(chain.empty());
  // Codecs keep rate and channels: CD audio reaches them through 16-bit PCM of their shape.
  for (auto [tag, rate, channels] :
       {std::tuple{kImaAdpcm, 22050, 1}, {kGsm, 8000, 1}, {kAlaw, 8000, 2}}) {
    WfxPtr codec = ACMBuildFormat(tag, rate, 0, channels);
    ASSERT_TRUE(codec) << tag;
    ASSERT_TRUE(ACMPlanConversion(&kCD, codec.get(), cqLow, &chain)) << tag;
    ASSERT_EQ(chain.size(), 2u) << tag;
    EXPECT_EQ(chain[0]->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(chain[0]->wBitsPerSample, 16);
    // ... and leave them the same way, back to CD audio in three.
    ASSERT_TRUE(ACMPlanConversion(codec.get(), &kCD, cqLow, &chain)) << tag;
    EXPECT_LE(chain.size(), 3u);
  }
}

TEST(ACMConverter, UnreachableFormatFailsAtOpenAndKeepsTheInputFormat) {
  // Beyond the PCM driver's rates, and a tag no driver knows.
  TWaveFormatEx fast = Pcm(16, 2, 96000), unknown = Pcm(16, 2, 44100);
  unknown.wFormatTag = 0x55;
  for (const TWaveFormatEx* want : {&fast, &unknown}) {
    Chain c(Tone(kCD, 0.1), kCD, want);
    EXPECT_TRUE(c.conv.ConversionNeeded());
    EXPECT_FALSE(c.conv.ConversionPossible());
    EXPECT_EQ(std::memcmp(c.conv.GetWaveFormat(), &kCD, sizeof kCD), 0);
    try {
      c.conv.Opened();
      ADD_FAILURE() << "opened";
    } catch (const EMMConverterError& e) {
      EXPECT_STREQ(e.what(), "Unable to convert to destination format");
    }
    EXPECT_FALSE(c.conv.IsOpen());
  }
  // 8-bit PCM never reaches a codec (they take 16-bit only, and rate and size do not change
  // in one stream).
  const TWaveFormatEx low8 = Pcm(8, 1, 44100);
  WfxPtr ima = ACMBuildFormat(kImaAdpcm, 22050, 4, 1);
  ASSERT_TRUE(ima);
  EXPECT_FALSE(ACMPlanConversion(&low8, ima.get(), cqLow));
}

TEST(ACMConverter, EqualFormatsAndDisabledPassThroughUnchanged) {
  const std::string data = Tone(kCD, 0.5);
  // Same tag, bits, channels and rate: nothing to do, even if other fields differ.
  TWaveFormatEx same = kCD;
  same.cbSize = 7;
  Chain a(data, kCD, &same);
  EXPECT_FALSE(a.conv.ConversionNeeded());
  a.Open();
  EXPECT_EQ(a.conv.StageCount(), 0);
  EXPECT_TRUE(PullAll(a.conv, 3000) == data);

  const TWaveFormatEx want = Pcm(8, 1, 11025);
  TMMDSPComponent below;
  Chain b(data, kCD, &want);
  b.conv.SetOutput(&below);
  EXPECT_EQ(below.GetWaveFormat()->nSamplesPerSec, 11025u);
  b.conv.SetEnabled(false);
  EXPECT_EQ(std::memcmp(b.conv.GetWaveFormat(), &kCD, sizeof kCD), 0);
  EXPECT_EQ(std::memcmp(below.GetWaveFormat(), &kCD, sizeof kCD), 0) << "passed downstream";
  b.Open();
  EXPECT_TRUE(PullAll(b.conv, 4096) == data);
  b.conv.Closed();
  b.conv.SetEnabled(true);
  EXPECT_EQ(below.GetWaveFormat()->nSamplesPerSec, 11025u);
  // A new input format is planned again.
  const TWaveFormatEx mono = Pcm(16, 1, 11025);
  b.source.SetWaveFormat(&mono);
  EXPECT_EQ(b.conv.Plan().size(), 1u);
  EXPECT_EQ(below.GetWaveFormat()->wBitsPerSample, 8);
}

TEST(ACMConverter, AnyBufferAndInputSizesGiveTheSameBytes) {
  // Two stages without a resampler (channels, then the codec), so every split is exact.
  WfxPtr alaw = ACMBuildFormat(kAlaw, 44100, 8, 1);
  WfxPtr ima = ACMBuildFormat(kImaAdpcm, 44100, 4, 2);
  ASSERT_TRUE(alaw && ima);
  const std::string data = Tone(kCD, 1.37);
  for (const TWaveFormatEx* want : {alaw.get(), ima.get()}) {  // NOLINT
    std::string first;
    for (auto [buffer, input] : {std::pair{4096, 0}, {1001, 333}, {7, 4}, {65536, 10000}}) {
      Chain c(data, kCD, want);
      c.source.maxChunk = input;  // 333: not even whole sample frames
      c.Open();
      const std::string out = PullAll(c.conv, buffer);
      EXPECT_EQ(out.size() % want->nBlockAlign, 0u);
      if (first.empty())
        first = out;
      else
        EXPECT_TRUE(out == first) << want->wFormatTag << ": " << buffer << "/" << input;
    }
    // One A-law byte per frame; whole IMA blocks, the last padded.
    const std::size_t frames = data.size() / 4;
    if (want == alaw.get()) {
      EXPECT_EQ(first.size(), frames);
    }
    if (want == ima.get()) {
      const unsigned spb = SamplesPerBlock(want);
      EXPECT_EQ(first.size(), (frames + spb - 1) / spb * want->nBlockAlign);
    }
  }
}

TEST(ACMConverter, PushGivesWhatPullGivesBeforeTheEnd) {
  const std::string data = Tone(kCD, 1.5);
  WfxPtr ima = ACMBuildFormat(kImaAdpcm, 22050, 4, 1);
  ASSERT_TRUE(ima);
  const TWaveFormatEx mono8 = Pcm(8, 1, 22050);
  for (const TWaveFormatEx* want : {static_cast<const TWaveFormatEx*>(ima.get()), &mono8}) {
    Chain c(data, kCD, want);
    c.Open();
    const std::string pulled = PullAll(c.conv, 2048);
    for (std::size_t piece : {std::size_t(8192), std::size_t(100), std::size_t(30000)}) {
      // A push has no end of stream: only the flushed tail is missing.
      const std::string pushed = Pushed(data, kCD, *want, piece);
      ASSERT_LE(pushed.size(), pulled.size());
      EXPECT_LE(pulled.size() - pushed.size(), 2048u) << piece;
      if (want == ima.get())
        EXPECT_TRUE(pulled.compare(0, pushed.size(), pushed) == 0) << piece;
      else
        EXPECT_GE(sigtest::Compare(Widen8(pulled), Widen8(pushed), 1, 0, 200).snrDb, 40.0);
    }
  }
}

TEST(ACMConverter, RepositionedStartsANewSignal) {
  // The resampler's history, and the bytes a codec holds back for its next block.
  const TWaveFormatEx mono8 = Pcm(8, 1, 22050);
  WfxPtr ima = ACMBuildFormat(kImaAdpcm, 44100, 4, 2);
  ASSERT_TRUE(ima);
  const std::string data = Tone(kCD, 1.0, 440);
  for (const TWaveFormatEx* want : {static_cast<const TWaveFormatEx*>(ima.get()), &mono8}) {
    Chain c(data, kCD, want);
    c.source.maxChunk = 3000;
    c.Open();
    const std::string whole = PullAll(c.conv, 4096);
    // Part way, then back to the start: the same bytes as a fresh run.
    c.source.Rewind();
    c.conv.Repositioned();
    PullAll(c.conv, 1000, 3);
    c.source.Rewind();
    c.conv.Repositioned();
    EXPECT_TRUE(PullAll(c.conv, 4096) == whole) << want->wFormatTag;
    // So is stopping and starting again.
    c.source.Rewind();
    PullAll(c.conv, 1000, 5);
    c.conv.Stopped();
    c.source.Rewind();
    c.conv.Started();
    EXPECT_TRUE(PullAll(c.conv, 4096) == whole) << want->wFormatTag;
  }
}

TEST(ACMConverter, HighQualityAndCodecRoundTripKeepTheTone) {
  const std::string data = Tone(kCD, 1.0);
  WfxPtr gsm = ACMBuildFormat(kGsm, 8000, 0, 1);
  ASSERT_TRUE(gsm);
  for (TMMConvertQuality q : {cqLow, cqHigh}) {
    Chain enc(data, kCD, gsm.get());
    enc.conv.SetQuality(q);
    enc.Open();
    const std::string coded = PullAll(enc.conv, 8192);
    EXPECT_EQ(coded.size() % 65, 0u);
    // And back to CD audio through the decoder and two PCM stages.
    Chain dec(coded, *gsm, &kCD);
    dec.conv.SetQuality(q);
    dec.Open();
    EXPECT_GE(dec.conv.StageCount(), 2);
    const std::string back = PullAll(dec.conv, 8192);
    EXPECT_NEAR(double(back.size()), double(data.size()), 44100 * 4 * 0.05);
    EXPECT_GE(sigtest::Compare(sigtest::Samples(data), sigtest::Samples(back), 2, 2000, 4000).snrDb,
              10.0);
  }
}
