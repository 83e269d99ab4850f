// The encoder library as the MP3 component uses it: bound by name at run time, fed whole chunks
// and a short last one, flushed, and the stream checked by real decoders and by its headers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DynLib.h"
#include "Signal.h"
#include "TestFiles.h"
#include "bladeenc.h"

namespace {

struct Blade {
  ql::DynLib lib;
  BEINITSTREAM init = nullptr;
  BEENCODECHUNK encode = nullptr;
  BEDEINITSTREAM deinit = nullptr;
  BECLOSESTREAM close = nullptr;
  BEVERSION version = nullptr;

  Blade() {
    if (!lib.Load("BLADEENC.DLL")) return;
    init = reinterpret_cast<BEINITSTREAM>(lib.Symbol("beInitStream"));
    encode = reinterpret_cast<BEENCODECHUNK>(lib.Symbol("beEncodeChunk"));
    deinit = reinterpret_cast<BEDEINITSTREAM>(lib.Symbol("beDeinitStream"));
    close = reinterpret_cast<BECLOSESTREAM>(lib.Symbol("beCloseStream"));
    version = reinterpret_cast<BEVERSION>(lib.Symbol("beVersion"));
  }
};

Blade& Lib() {
  static Blade b;
  return b;
}

BE_CONFIG Config(uint32_t rate, uint8_t mode, uint16_t kbps) {
  BE_CONFIG c;
  std::memset(&c, 0, sizeof c);
  c.dwConfig = BE_CONFIG_MP3;
  c.format.mp3.dwSampleRate = rate;
  c.format.mp3.byMode = mode;
  c.format.mp3.wBitrate = kbps;
  return c;
}

struct Encoded {
  std::string mp3;
  std::vector<uint32_t> chunkSizes;  // samples passed to each beEncodeChunk
};

// Encodes as the component does: whole chunks, then one short chunk, then the flush.
Encoded Encode(BE_CONFIG cfg, const std::vector<int16_t>& pcm) {
  Blade& b = Lib();
  Encoded e;
  uint32_t samples = 0, bufSize = 0;
  HBE_STREAM h = 0;
  EXPECT_EQ(b.init(&cfg, &samples, &bufSize, &h), BE_ERR_SUCCESSFUL);
  std::vector<uint8_t> out(bufSize);
  size_t pos = 0;
  while (pos < pcm.size()) {
    const uint32_t n = uint32_t(std::min<size_t>(samples, pcm.size() - pos));
    uint32_t got = 0;
    EXPECT_EQ(b.encode(h, n, const_cast<int16_t*>(pcm.data() + pos), out.data(), &got),
              BE_ERR_SUCCESSFUL);
    EXPECT_LE(got, bufSize);
    e.mp3.append(reinterpret_cast<char*>(out.data()), got);
    e.chunkSizes.push_back(n);
    pos += n;
  }
  uint32_t got = 0;
  EXPECT_EQ(b.deinit(h, out.data(), &got), BE_ERR_SUCCESSFUL);
  e.mp3.append(reinterpret_cast<char*>(out.data()), got);
  EXPECT_EQ(b.close(h), BE_ERR_SUCCESSFUL);
  return e;
}

using FrameHeader = sigtest::Mp3Frame;

// Walks the stream frame by frame from its first byte; fails on anything but MPEG-1 layer 3.
std::vector<FrameHeader> Frames(const std::string& s) {
  std::string error;
  auto frames = sigtest::Mp3Frames(s, error);
  EXPECT_EQ(error, "");
  return frames;
}

class BladeEnc : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Lib().lib.Loaded()) << Lib().lib.Error();
    ASSERT_TRUE(Lib().init && Lib().encode && Lib().deinit && Lib().close && Lib().version);
  }
  qltest::TempDir dir;
};

TEST_F(BladeEnc, ChunkAndBufferSizesFollowTheMode) {
  for (uint8_t mode :
       {BE_MP3_MODE_STEREO, BE_MP3_MODE_JSTEREO, BE_MP3_MODE_DUALCHANNEL, BE_MP3_MODE_MONO}) {
    BE_CONFIG c = Config(44100, mode, 128);
    uint32_t samples = 0, size = 0;
    HBE_STREAM h = 0;
    ASSERT_EQ(Lib().init(&c, &samples, &size, &h), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(samples, mode == BE_MP3_MODE_MONO ? 1152u : 2304u);
    EXPECT_GE(size, 7200u);
    EXPECT_NE(h, 0u);
    EXPECT_EQ(Lib().close(h), BE_ERR_SUCCESSFUL);
  }
}

// 128 kbit/s of a stereo tone, written raw: both decoders read it, and after the encoder's delay
// it matches the source at the source's level.
TEST_F(BladeEnc, ToneDecodesWithMpg123AndFfmpeg) {
  const auto pcm = sigtest::Tone(44100 * 3, 2, 44100, 440);
  const Encoded e = Encode(Config(44100, BE_MP3_MODE_STEREO, 128), pcm);
  for (const FrameHeader& h : Frames(e.mp3)) {
    EXPECT_EQ(h.bitrate, 128u);
    EXPECT_EQ(h.rate, 44100u);
    EXPECT_EQ(h.mode, 0u);
  }
  const std::string mp3 = dir / "tone.mp3";
  qltest::WriteFile(mp3, e.mp3);
  const std::string a = dir / "mpg123.raw", b = dir / "ffmpeg.raw";
  ASSERT_EQ(qltest::Run("mpg123 -q -s " + mp3 + " > " + a + " 2>/dev/null"), 0);
  ASSERT_EQ(qltest::Run("ffmpeg -v error -y -i " + mp3 + " -f s16le -ac 2 " + b), 0);
  for (const std::string& f : {a, b}) {
    const auto dec = sigtest::ReadS16(f);
    EXPECT_GE(dec.size(), pcm.size()) << f;
    const auto m = sigtest::Compare(pcm, dec, 2, 3000, 4410);
    EXPECT_GE(m.snrDb, 20.0) << f;
    EXPECT_NEAR(m.gain, 1.0, 0.03) << f << ": level changed";
  }
}

TEST_F(BladeEnc, HeaderBitsAreSetAsAsked) {
  const auto pcm = sigtest::Tone(44100 / 2, 2, 44100, 1000);
  struct Bits {
    bool priv, crc, copyright, original;
  };
  for (Bits want : {Bits{false, false, false, false}, Bits{true, true, true, true},
                    Bits{true, false, true, false}, Bits{false, true, false, true}}) {
    BE_CONFIG c = Config(44100, BE_MP3_MODE_STEREO, 128);
    c.format.mp3.bPrivate = want.priv ? -1 : 0;
    c.format.mp3.bCRC = want.crc ? -1 : 0;
    c.format.mp3.bCopyright = want.copyright ? -1 : 0;
    c.format.mp3.bOriginal = want.original ? -1 : 0;
    const auto frames = Frames(Encode(c, pcm).mp3);
    ASSERT_GT(frames.size(), 10u);
    for (const FrameHeader& h : frames) {
      EXPECT_EQ(h.priv, want.priv);
      EXPECT_EQ(h.crc, want.crc);
      EXPECT_EQ(h.copyright, want.copyright);
      EXPECT_EQ(h.original, want.original);
    }
  }
}

TEST_F(BladeEnc, ShortLastChunkIsEncodedAndFlushed) {
  // 10 chunks and 333 frames more: the last call carries 666 samples.
  const size_t frames = 1152 * 10 + 333;
  const auto pcm = sigtest::Tone(frames, 2, 44100, 440);
  const Encoded e = Encode(Config(44100, BE_MP3_MODE_STEREO, 128), pcm);
  ASSERT_EQ(e.chunkSizes.size(), 11u);
  EXPECT_EQ(e.chunkSizes.back(), 666u);
  // Every input frame is in the stream: its frames cover the input and the encoder delay.
  const auto headers = Frames(e.mp3);
  EXPECT_GE(headers.size() * 1152, frames + 576);
  const std::string mp3 = dir / "short.mp3", raw = dir / "short.raw";
  qltest::WriteFile(mp3, e.mp3);
  ASSERT_EQ(qltest::Run("ffmpeg -v error -y -i " + mp3 + " -f s16le -ac 2 " + raw), 0);
  const auto dec = sigtest::ReadS16(raw);
  const auto m = sigtest::Compare(pcm, dec, 2, 3000, 2000);
  EXPECT_GE(m.snrDb, 20.0);
  EXPECT_GE(dec.size() / 2, frames + size_t(m.lag) - 1152) << "the end of the input is missing";
}

TEST_F(BladeEnc, ChannelModesAndRates) {
  struct Case {
    uint32_t rate;
    uint8_t mode;
    uint16_t kbps;
  };
  for (Case c : {Case{44100, BE_MP3_MODE_JSTEREO, 192}, Case{48000, BE_MP3_MODE_DUALCHANNEL, 256},
                 Case{32000, BE_MP3_MODE_MONO, 64}, Case{48000, BE_MP3_MODE_STEREO, 320},
                 Case{32000, BE_MP3_MODE_STEREO, 32}}) {
    const unsigned ch = c.mode == BE_MP3_MODE_MONO ? 1 : 2;
    const auto pcm = sigtest::Tone(c.rate * 2, ch, c.rate, 440);
    const Encoded e = Encode(Config(c.rate, c.mode, c.kbps), pcm);
    const auto headers = Frames(e.mp3);
    ASSERT_FALSE(headers.empty());
    for (const FrameHeader& h : headers) {
      EXPECT_EQ(h.rate, c.rate);
      EXPECT_EQ(h.mode, c.mode);
      EXPECT_EQ(h.bitrate, c.kbps);
    }
    if (c.kbps < 128) continue;  // low rates lose too much of the second channel's tone
    const std::string mp3 = dir / "m.mp3", raw = dir / "m.raw";
    qltest::WriteFile(mp3, e.mp3);
    ASSERT_EQ(qltest::Run("ffmpeg -v error -y -i " + mp3 + " -f s16le -ac " + std::to_string(ch) +
                          " " + raw),
              0);
    EXPECT_GE(sigtest::Compare(pcm, sigtest::ReadS16(raw), ch, 3000, 4000).snrDb, 20.0)
        << "mode " << int(c.mode) << " at " << c.rate;
  }
}

TEST_F(BladeEnc, UnsupportedParametersAreRefused) {
  uint32_t samples = 0, size = 0;
  HBE_STREAM h = 0;
  auto init = [&](BE_CONFIG c) { return Lib().init(&c, &samples, &size, &h); };
  EXPECT_EQ(init(Config(22050, BE_MP3_MODE_STEREO, 128)), BE_ERR_INVALID_FORMAT_PARAMETERS);
  EXPECT_EQ(init(Config(8000, BE_MP3_MODE_MONO, 32)), BE_ERR_INVALID_FORMAT_PARAMETERS);
  EXPECT_EQ(init(Config(44100, BE_MP3_MODE_STEREO, 127)), BE_ERR_INVALID_FORMAT_PARAMETERS);
  EXPECT_EQ(init(Config(44100, BE_MP3_MODE_STEREO, 8)), BE_ERR_INVALID_FORMAT_PARAMETERS);
  EXPECT_EQ(init(Config(44100, 4, 128)), BE_ERR_INVALID_FORMAT_PARAMETERS);
  BE_CONFIG other = Config(44100, BE_MP3_MODE_STEREO, 128);
  other.dwConfig = 1;
  EXPECT_EQ(init(other), BE_ERR_INVALID_FORMAT);
  EXPECT_NE(Lib().init(nullptr, &samples, &size, &h), BE_ERR_SUCCESSFUL);
}

TEST_F(BladeEnc, BadHandlesAndOversizedChunksAreRefused) {
  BE_CONFIG c = Config(44100, BE_MP3_MODE_STEREO, 128);
  uint32_t samples = 0, size = 0, got = 0;
  HBE_STREAM h = 0;
  ASSERT_EQ(Lib().init(&c, &samples, &size, &h), BE_ERR_SUCCESSFUL);
  std::vector<int16_t> pcm(samples + 2);
  std::vector<uint8_t> out(size);
  EXPECT_EQ(Lib().encode(h, samples + 2, pcm.data(), out.data(), &got), BE_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(Lib().encode(h, 3, pcm.data(), out.data(), &got), BE_ERR_BUFFER_TOO_SMALL)
      << "an odd count splits a stereo frame";
  EXPECT_EQ(Lib().encode(h + 1, 2, pcm.data(), out.data(), &got), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(Lib().encode(0, 2, pcm.data(), out.data(), &got), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(Lib().close(h), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(Lib().encode(h, 2, pcm.data(), out.data(), &got), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(Lib().deinit(h, out.data(), &got), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(Lib().close(h), BE_ERR_INVALID_HANDLE);
}

TEST_F(BladeEnc, VersionNamesTheEngine) {
  BE_VERSION v;
  Lib().version(&v);
  EXPECT_EQ(v.byMajorVersion, 3);
  EXPECT_GE(v.byMinorVersion, 99);
  EXPECT_GT(std::strlen(v.zHomepage), 0u);
}

}  // namespace
