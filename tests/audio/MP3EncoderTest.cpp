// The MP3 encoder component: what it writes is read back by real decoders (mpg123, ffmpeg), by
// its frame headers and, for the wave container, by its chunks; and trackwell rip --mp3 as a
// whole process on a disc image.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CdImage.h"
#include "MMBlade.h"
#include "Signal.h"
#include "TestFiles.h"

namespace {

TWaveFormatEx Pcm(int bits, int channels, int rate) {
  TWaveFormatEx f{};
  pcmBuildFormat(&f, bits, channels, rate);
  return f;
}

std::uint32_t Le(const std::string& s, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | std::uint8_t(s[at + std::size_t(i)]);
  return v;
}

// Feeds bytes to the encoder as a chain does: opened, started, pushed from its input in pieces
// of the given sizes (repeated), stopped and closed.
class Feeder {
 public:
  explicit Feeder(TMMMP3Encoder& enc, const TWaveFormatEx& fmt) : enc_(enc) {
    source_.SetWaveFormat(&fmt);
    enc_.SetInput(&source_);
  }
  ~Feeder() { enc_.SetInput(nullptr); }
  void Open() {
    enc_.Opened();
    enc_.Started();
  }
  void Push(const std::string& bytes, std::vector<std::size_t> sizes = {32768}) {
    for (std::size_t pos = 0, k = 0; pos < bytes.size(); ++k) {
      const std::size_t n = std::min(sizes[k % sizes.size()], bytes.size() - pos);
      auto h = AllocWaveHdr(n);
      std::memcpy(h->lpData, bytes.data() + pos, n);
      h->dwBufferLength = h->dwBytesRecorded = std::uint32_t(n);
      source_.BufferReady(h.get());
      EXPECT_EQ(std::memcmp(h->lpData, bytes.data() + pos, n), 0) << "a pushed buffer changed";
      pos += n;
    }
  }
  void Close() {
    enc_.Stopped();
    enc_.Closed();
  }

 private:
  TMMMP3Encoder& enc_;
  TMMDSPComponent source_;
};

struct Frame {
  unsigned bitrate, rate, mode;
  bool crc, priv, copyright, original;
};

// The frames of an MPEG-1 layer-3 stream from its first byte; fails on anything else.
std::vector<Frame> Frames(const std::string& s) {
  static const unsigned kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256,
                                    320, 0};
  static const unsigned rates[4] = {44100, 48000, 32000, 0};
  std::vector<Frame> out;
  std::size_t p = 0;
  while (p + 4 <= s.size()) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(s.data() + p);
    if (b[0] != 0xFF || (b[1] & 0xFE) != 0xFA) {
      ADD_FAILURE() << "no frame header at byte " << p;
      break;
    }
    Frame f{kbps[b[2] >> 4], rates[(b[2] >> 2) & 3], unsigned(b[3] >> 6), !(b[1] & 1),
            bool(b[2] & 1),  bool((b[3] >> 3) & 1),  bool((b[3] >> 2) & 1)};
    if (!f.bitrate || !f.rate) {
      ADD_FAILURE() << "bad header at byte " << p;
      break;
    }
    out.push_back(f);
    p += 144 * f.bitrate * 1000 / f.rate + ((b[2] >> 1) & 1);
  }
  EXPECT_EQ(p, s.size()) << "the stream does not end on a frame";
  return out;
}

// The body of the first chunk with that id in a RIFF WAVE file; npos offset when missing.
std::string Chunk(const std::string& riff, const char* id, std::size_t* at = nullptr) {
  for (std::size_t p = 12; p + 8 <= riff.size();) {
    const std::uint32_t len = Le(riff, p + 4, 4);
    if (riff.compare(p, 4, id) == 0) {
      if (at) *at = p;
      return riff.substr(p + 8, len);
    }
    p += 8 + len + (len & 1);
  }
  if (at) *at = std::string::npos;
  return {};
}

class MP3Encoder : public ::testing::Test {
 protected:
  // Encodes the samples into a file of the encoder's type; returns the file's bytes.
  std::string Encode(TMMMP3Encoder& enc, const TWaveFormatEx& fmt, const std::string& pcm,
                     const std::string& name, std::vector<std::size_t> sizes = {32768}) {
    const std::string path = dir / name;
    enc.SetFileName(path);
    Feeder f(enc, fmt);
    f.Open();
    EXPECT_TRUE(enc.FileOpened());
    f.Push(pcm, sizes);
    f.Close();
    EXPECT_FALSE(enc.FileOpened());
    return qltest::ReadFile(path);
  }
  // Decodes with ffmpeg (and mpg123) into 16-bit samples.
  std::vector<std::int16_t> Decode(const std::string& file, unsigned channels, bool mpg123) {
    const std::string raw = file + ".raw";
    const std::string cmd =
        mpg123 ? "mpg123 -q -s " + file + " > " + raw + " 2>/dev/null"
               : "ffmpeg -v error -y -i " + file + " -f s16le -ac " + std::to_string(channels) +
                     " " + raw;
    EXPECT_EQ(qltest::Run(cmd), 0) << cmd;
    return sigtest::ReadS16(raw);
  }
  qltest::TempDir dir;
};

// 128 kbit/s of a stereo tone as a raw stream and inside a wave file: both decoders read both,
// the audio matches the source after the encoder's delay, the wave file carries the stream
// unchanged with the MPEG layer-3 format and a fact chunk.
TEST_F(MP3Encoder, RawAndWaveFilesDecodeToTheSource) {
  const auto tone = sigtest::Tone(44100 * 3, 2, 44100, 440);
  const std::string pcm = sigtest::Bytes(tone);
  TMMMP3Encoder raw, wav;
  wav.SetFileType(ftWAV);
  EXPECT_EQ(raw.GetFileType(), ftRAW) << "the default container";
  EXPECT_EQ(raw.GetBitrate(), br128);
  const std::string stream = Encode(raw, Pcm(16, 2, 44100), pcm, "tone.mp3");
  const std::string file = Encode(wav, Pcm(16, 2, 44100), pcm, "tone.wav");

  const auto frames = Frames(stream);
  ASSERT_GE(frames.size() * 1152, tone.size() / 2);
  for (const Frame& f : frames) {
    EXPECT_EQ(f.bitrate, 128u);
    EXPECT_EQ(f.rate, 44100u);
    EXPECT_EQ(f.mode, 0u);
    EXPECT_FALSE(f.crc || f.priv || f.copyright || f.original);
  }

  ASSERT_EQ(file.compare(0, 4, "RIFF"), 0);
  ASSERT_EQ(file.compare(8, 4, "WAVE"), 0);
  EXPECT_EQ(Le(file, 4, 4), file.size() - 8);
  const std::string fmt = Chunk(file, "fmt ");
  ASSERT_EQ(fmt.size(), 30u);
  const TMPEGLayer3WaveFormat want = Mp3WaveFormat(2, 44100, 128);
  EXPECT_EQ(fmt, std::string(reinterpret_cast<const char*>(&want), sizeof want));
  EXPECT_EQ(Le(fmt, 0, 2), 85u);
  EXPECT_EQ(Le(fmt, 2, 2), 2u);
  EXPECT_EQ(Le(fmt, 4, 4), 44100u);
  EXPECT_EQ(Le(fmt, 8, 4), 16000u);  // 128 kbit/s
  EXPECT_EQ(Le(fmt, 12, 2), 1u);
  EXPECT_EQ(Le(fmt, 14, 2), 0u);
  EXPECT_EQ(Le(fmt, 16, 2), 12u);
  EXPECT_EQ(Le(fmt, 18, 2), 1u);
  EXPECT_EQ(Le(fmt, 20, 4), 2u);
  EXPECT_EQ(Le(fmt, 24, 2), 417u);  // 144 * 128000 / 44100 = 417.96
  EXPECT_EQ(Le(fmt, 26, 2), 1u);
  EXPECT_EQ(Le(fmt, 28, 2), 1393u);
  const std::string data = Chunk(file, "data");
  EXPECT_TRUE(data == stream) << "the wave file's data is not the raw stream";
  const std::string fact = Chunk(file, "fact");
  ASSERT_EQ(fact.size(), 4u);
  EXPECT_EQ(Le(fact, 0, 4), std::uint32_t(MulDivRound(int(data.size()), 44100, 16000)));

  for (const std::string& f : {dir / "tone.mp3", dir / "tone.wav"}) {
    for (bool mpg123 : {true, false}) {
      const auto dec = Decode(f, 2, mpg123);
      EXPECT_GE(dec.size(), tone.size()) << f << (mpg123 ? " mpg123" : " ffmpeg");
      const auto m = sigtest::Compare(tone, dec, 2, 3000, 4410);
      EXPECT_GE(m.snrDb, 20.0) << f << (mpg123 ? " mpg123" : " ffmpeg");
      EXPECT_NEAR(m.gain, 1.0, 0.03) << f;
    }
  }
}

TEST_F(MP3Encoder, HeaderBitsAndBitrateFollowTheProperties) {
  const std::string pcm = sigtest::Bytes(sigtest::Tone(44100 / 2, 2, 44100, 1000));
  struct Bits {
    bool priv, crc, copyright, original;
    TMMBitrates rate;
    unsigned kbps;
  };
  for (Bits b : {Bits{true, true, true, true, br320, 320}, Bits{true, false, true, false, br32, 32},
                 Bits{false, true, false, true, br192, 192}}) {
    TMMMP3Encoder enc;
    enc.Privat = b.priv;
    enc.CRC = b.crc;
    enc.Copyright = b.copyright;
    enc.Original = b.original;
    enc.SetBitrate(b.rate);
    const auto frames = Frames(Encode(enc, Pcm(16, 2, 44100), pcm, "bits.mp3"));
    ASSERT_GT(frames.size(), 10u);
    for (const Frame& f : frames) {
      EXPECT_EQ(f.priv, b.priv);
      EXPECT_EQ(f.crc, b.crc);
      EXPECT_EQ(f.copyright, b.copyright);
      EXPECT_EQ(f.original, b.original);
      EXPECT_EQ(f.bitrate, b.kbps);
    }
  }
}

// Mono input is one channel whatever ChannelMode says; stereo input is never made mono.
TEST_F(MP3Encoder, ChannelModeOnlyChoosesBetweenStereoModes) {
  struct Case {
    int channels, rate;
    TMMChannelMode mode;
    unsigned header;
  };
  for (Case c : {Case{1, 48000, cmStereo, 3}, Case{1, 32000, cmDualChannel, 3},
                 Case{1, 44100, cmMono, 3}, Case{2, 44100, cmMono, 0},
                 Case{2, 48000, cmDualChannel, 2}, Case{2, 32000, cmStereo, 0}}) {
    const auto tone = sigtest::Tone(std::size_t(c.rate), unsigned(c.channels), unsigned(c.rate),
                                    440);
    TMMMP3Encoder enc;
    enc.SetChannelMode(c.mode);
    enc.SetFileType(ftWAV);
    const std::string file =
        Encode(enc, Pcm(16, c.channels, c.rate), sigtest::Bytes(tone), "mode.wav");
    const std::string fmt = Chunk(file, "fmt ");
    ASSERT_EQ(fmt.size(), 30u);
    EXPECT_EQ(Le(fmt, 2, 2), unsigned(c.channels));
    EXPECT_EQ(Le(fmt, 4, 4), unsigned(c.rate));
    const auto frames = Frames(Chunk(file, "data"));
    ASSERT_FALSE(frames.empty());
    for (const Frame& f : frames) {
      EXPECT_EQ(f.mode, c.header) << c.channels << " channels, mode " << c.mode;
      EXPECT_EQ(f.rate, unsigned(c.rate));
    }
    const auto dec = Decode(dir / "mode.wav", unsigned(c.channels), false);
    EXPECT_GE(sigtest::Compare(tone, dec, unsigned(c.channels), 3000, 4000).snrDb, 20.0)
        << c.channels << " channels at " << c.rate;
  }
}

TEST_F(MP3Encoder, UnsupportedInputIsRefusedAtOpen) {
  for (TWaveFormatEx fmt : {Pcm(16, 2, 22050), Pcm(8, 2, 44100), Pcm(16, 1, 11025),
                            Pcm(16, 4, 44100)}) {
    TMMMP3Encoder enc;
    enc.SetFileName(dir / "refused.mp3");
    Feeder f(enc, fmt);
    try {
      enc.Opened();
      ADD_FAILURE() << "opened " << fmt.nChannels << " x " << fmt.wBitsPerSample << " bit at "
                    << fmt.nSamplesPerSec;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Unsupported Input Format");
    }
    EXPECT_FALSE(enc.FileOpened());
    EXPECT_NE(qltest::Run("test -e " + dir / "refused.mp3"), 0) << "a file was made";
  }
  // Without a file name or an input nothing is opened and nothing is refused.
  TMMMP3Encoder idle;
  idle.Opened();
  EXPECT_FALSE(idle.FileOpened());
}

// Pushes of any size give the bytes of whole-chunk pushes: the chunks the library sees are the
// same; a length that is not a whole number of chunks ends with one short chunk, all of it
// encoded.
TEST_F(MP3Encoder, PushSizesDoNotChangeTheStreamAndTheLastChunkIsShort) {
  const std::size_t frames = 1152 * 10 + 333;
  const auto tone = sigtest::Tone(frames, 2, 44100, 440);
  const std::string pcm = sigtest::Bytes(tone);
  TMMMP3Encoder enc;
  const std::string whole = Encode(enc, Pcm(16, 2, 44100), pcm, "whole.mp3", {4608});
  for (std::vector<std::size_t> sizes :
       {std::vector<std::size_t>{1000}, {4609}, {4609, 1000, 3}, {pcm.size()}, {13824, 4607}}) {
    EXPECT_TRUE(Encode(enc, Pcm(16, 2, 44100), pcm, "pieces.mp3", sizes) == whole)
        << "pushes of " << sizes[0] << " bytes";
  }
  const auto headers = Frames(whole);
  EXPECT_GE(headers.size() * 1152, frames + 576);
  const auto dec = Decode(dir / "whole.mp3", 2, false);
  const auto m = sigtest::Compare(tone, dec, 2, 3000, 2000);
  EXPECT_GE(m.snrDb, 20.0);
  // The tone goes on to the last input frame.
  ASSERT_GE(dec.size() / 2, frames + std::size_t(m.lag));
  double tail = 0;
  for (std::size_t i = (frames - 200 + std::size_t(m.lag)) * 2;
       i < (frames + std::size_t(m.lag)) * 2; ++i)
    tail += std::abs(double(dec[i]));
  EXPECT_GT(tail / 400, 5000.0) << "the end of the input is missing";
}

TEST_F(MP3Encoder, AnExistingFileIsReplaced) {
  const std::string pcm = sigtest::Bytes(sigtest::Tone(44100, 2, 44100, 440));
  TMMMP3Encoder enc;
  const std::string fresh = Encode(enc, Pcm(16, 2, 44100), pcm, "fresh.mp3");
  qltest::WriteFile(dir / "old.mp3", std::string(fresh.size() * 3, 'x'));
  EXPECT_TRUE(Encode(enc, Pcm(16, 2, 44100), pcm, "old.mp3") == fresh);
}

TEST_F(MP3Encoder, FileNameAndTypeCannotChangeWhileOpen) {
  TMMMP3Encoder enc;
  enc.SetFileName(dir / "open.mp3");
  Feeder f(enc, Pcm(16, 2, 44100));
  f.Open();
  ASSERT_TRUE(enc.FileOpened());
  for (int i = 0; i < 2; ++i) {
    try {
      i == 0 ? enc.SetFileName(dir / "other.mp3") : enc.SetFileType(ftWAV);
      ADD_FAILURE() << "changed while open";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
  }
  EXPECT_EQ(enc.GetFileName(), dir / "open.mp3");
  EXPECT_EQ(enc.GetFileType(), ftRAW);
  enc.SetBitrate(br64);  // takes effect at the next open
  f.Close();
  enc.SetFileName(dir / "other.mp3");
  enc.SetFileType(ftWAV);
  EXPECT_EQ(enc.GetFileType(), ftWAV);
}

// A write that fails (here the file-size limit, as a full disk would) closes the encoder; the
// chain keeps running, later buffers pass on and are not encoded.
TEST_F(MP3Encoder, AFailedWriteClosesTheEncoderAndTheChainGoesOn) {
  const std::string pcm = sigtest::Bytes(sigtest::Tone(44100 * 4, 2, 44100, 440));
  TMMMP3Encoder enc;
  int passed = 0;
  enc.OnBufferReady = [&](TMMDSPComponent*, PWaveHdr) { ++passed; };
  enc.SetFileName(dir / "limited.mp3");
  Feeder f(enc, Pcm(16, 2, 44100));
  f.Open();
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 20000;
  auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  f.Push(pcm, {32768});
  const bool openAfter = enc.FileOpened();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(openAfter);
  EXPECT_EQ(passed, int((pcm.size() + 32767) / 32768)) << "every push passes on";
  f.Close();
  const std::string written = qltest::ReadFile(dir / "limited.mp3");
  EXPECT_LE(written.size(), 20000u);
  EXPECT_GT(written.size(), 10000u);
}

// ---- trackwell rip --mp3 ----

int Trackwell(const std::string& args) {
  return qltest::Run(std::string(TRACKWELL_PATH) + " " + args + " 2>/dev/null");
}

TEST_F(MP3Encoder, TrackwellRipsATrackToMp3) {
  // Track 2: 10 seconds.
  const auto img = qltest::WriteCdImage(dir.path(), "disc", {75, 750});
  const std::string image = "--image " + img.cue + " ";
  const std::string out = dir / "track.mp3";
  ASSERT_EQ(Trackwell(image + "rip --track 1 --mp3 -o " + out), 0);
  // The file of the first rip is replaced.
  ASSERT_EQ(Trackwell(image + "rip --track 2 --mp3 -o " + out), 0);
  const std::size_t frames = 750 * 588;
  const auto dec = Decode(out, 2, false);
  EXPECT_GE(dec.size() / 2, frames);
  EXPECT_LE(dec.size() / 2, frames + 2 * 1152 + 1393) << "longer than the track";
  for (const Frame& f : Frames(qltest::ReadFile(out))) {
    EXPECT_EQ(f.bitrate, 128u);
    EXPECT_EQ(f.mode, 0u);
  }

  const std::string wav = dir / "track.wav";
  ASSERT_EQ(Trackwell(image + "rip --track 1 --mp3 --bitrate 192 --channel-mode dual "
                              "--wave-container --crc --copyright --original --private -o " +
                      wav),
            0);
  const std::string file = qltest::ReadFile(wav);
  EXPECT_EQ(Le(Chunk(file, "fmt "), 0, 2), 85u);
  const auto headers = Frames(Chunk(file, "data"));
  ASSERT_FALSE(headers.empty());
  EXPECT_TRUE(headers[0].bitrate == 192 && headers[0].mode == 2 && headers[0].crc &&
              headers[0].copyright && headers[0].original && headers[0].priv);
  EXPECT_GE(Decode(wav, 2, false).size() / 2, 75u * 588);

  EXPECT_EQ(Trackwell(image + "rip --track 1 --mp3 --bitrate 100 -o " + out), 2);
  EXPECT_EQ(Trackwell(image + "rip --track 1 --mp3 --channel-mode joint -o " + out), 2);
  EXPECT_EQ(Trackwell(image + "rip --track 1 --bitrate 128 -o " + out), 2) << "needs --mp3";
}

}  // namespace
