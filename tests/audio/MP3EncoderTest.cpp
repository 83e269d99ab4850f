// The MP3 encoder component: what it writes is read back by real decoders (mpg123, ffmpeg), by
// its frame headers and, for the wave container, by its chunks; and trackwell rip --mp3 as a
// whole process on a disc image.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

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

std::vector<sigtest::Mp3Frame> Frames(const std::string& s) {
  std::string error;
  auto frames = sigtest::Mp3Frames(s, error);
  EXPECT_EQ(error, "");
  return frames;
}

// The body of the first chunk with that id in a RIFF WAVE file.
std::string Chunk(const std::string& riff, const char* id) {
  for (std::size_t p = 12; p + 8 <= riff.size();) {
    const std::uint32_t len = Le(riff, p + 4, 4);
    if (riff.compare(p, 4, id) == 0) return riff.substr(p + 8, len);
    p += 8 + len + (len & 1);
  }
  return {};
}

// The stream after the ID3v2 tag a file begins with (the file when it has none).
std::string AfterTag(const std::string& f) {
  if (f.size() < 10 || f.compare(0, 3, "ID3") != 0) return f;
  std::size_t n = 0;
  for (std::size_t i = 6; i < 10; ++i) n = n << 7 | (std::uint8_t(f[i]) & 0x7F);
  return f.substr(std::min(f.size(), 10 + n));
}

// The MPEG-1 layer-3 frame the stream begins with.
std::string FirstFrame(const std::string& s) {
  static const unsigned kbps[] = {0,   32,  40,  48,  56,  64,  80,  96,
                                  112, 128, 160, 192, 224, 256, 320, 0};
  static const unsigned rates[] = {44100, 48000, 32000, 1};
  if (s.size() < 4) return {};
  const unsigned b2 = std::uint8_t(s[2]);
  return s.substr(0, 144000 * kbps[b2 >> 4] / rates[(b2 >> 2) & 3] + ((b2 >> 1) & 1));
}

// Pushes bytes from the encoder's input as a chain does, in pieces of the given sizes
// (repeated); checks that every buffer comes back unchanged.
void Push(TMMDSPComponent& source, const std::string& bytes, std::vector<std::size_t> sizes) {
  for (std::size_t pos = 0, k = 0; pos < bytes.size(); ++k) {
    const std::size_t n = std::min(sizes[k % sizes.size()], bytes.size() - pos);
    auto h = AllocWaveHdr(n);
    std::memcpy(h->lpData, bytes.data() + pos, n);
    h->dwBufferLength = h->dwBytesRecorded = std::uint32_t(n);
    source.BufferReady(h.get());
    EXPECT_EQ(std::memcmp(h->lpData, bytes.data() + pos, n), 0) << "a pushed buffer changed";
    pos += n;
  }
}

class MP3Encoder : public ::testing::Test {
 protected:
  // Opens, starts, pushes, stops and closes the encoder on the samples; the file's bytes.
  std::string Encode(TMMMP3Encoder& enc, const TWaveFormatEx& fmt, const std::string& pcm,
                     const std::string& name, std::vector<std::size_t> sizes = {32768}) {
    TMMDSPComponent source;
    source.SetWaveFormat(&fmt);
    enc.SetInput(&source);
    enc.SetFileName(dir / name);
    enc.Opened();
    enc.Started();
    EXPECT_TRUE(enc.FileOpened());
    Push(source, pcm, std::move(sizes));
    enc.Stopped();
    enc.Closed();
    enc.SetInput(nullptr);
    return qltest::ReadFile(dir / name);
  }
  std::vector<std::int16_t> Decode(const std::string& file, unsigned channels, bool mpg123) {
    const std::string raw = file + ".raw";
    const std::string in = "'" + file + "'", out = "'" + raw + "'";
    const std::string cmd = mpg123 ? "mpg123 -q -s " + in + " > " + out + " 2>/dev/null"
                                   : "ffmpeg -v error -y -i " + in + " -f s16le -ac " +
                                         std::to_string(channels) + " " + out;
    EXPECT_EQ(qltest::Run(cmd), 0) << cmd;
    return sigtest::ReadS16(raw);
  }
  qltest::TempDir dir;
};

// 128 kbit/s of a stereo tone as a raw stream and inside a wave file: both decoders read both
// and give the source after the encoder's delay; the wave file holds the same stream with the
// MPEG layer-3 format and a fact chunk.
TEST_F(MP3Encoder, RawAndWaveFilesDecodeToTheSource) {
  const auto tone = sigtest::Tone(44100 * 3, 2, 44100, 440);
  TMMMP3Encoder raw, wav;
  wav.SetFileType(ftWAV);
  const std::string stream = Encode(raw, Pcm(16, 2, 44100), sigtest::Bytes(tone), "tone.mp3");
  const std::string file = Encode(wav, Pcm(16, 2, 44100), sigtest::Bytes(tone), "tone.wav");
  const auto frames = Frames(stream);
  ASSERT_GE(frames.size() * 1152, tone.size() / 2);
  // The raw stream begins with the information frame; the wave container has none.
  const std::string info = FirstFrame(stream);
  EXPECT_NE(info.find("Info"), std::string::npos);
  for (const auto& f : frames)
    EXPECT_TRUE(f.bitrate == 128 && f.rate == 44100 && f.mode == 0 &&
                !(f.crc || f.priv || f.copyright || f.original));

  ASSERT_EQ(file.compare(0, 4, "RIFF"), 0);
  EXPECT_EQ(Le(file, 4, 4), file.size() - 8);
  const std::string fmt = Chunk(file, "fmt ");
  ASSERT_EQ(fmt.size(), 30u);
  // Tag 85, stereo, 44100 Hz, 16000 bytes/s, block align 1, 0 bits, cbSize 12; identifier 1,
  // flags 2, block size 417 (144 * 128000 / 44100 = 417.96), 1 frame per block, delay 1393.
  EXPECT_EQ(fmt, std::string("\x55\0\2\0\x44\xAC\0\0\x80\x3E\0\0\1\0\0\0\x0C\0"
                             "\1\0\2\0\0\0\xA1\x01\1\0\x71\x05",
                             30));
  const std::string data = Chunk(file, "data");
  EXPECT_TRUE(data == stream.substr(info.size()))
      << "the wave file's data is not the raw stream after its information frame";
  ASSERT_EQ(Chunk(file, "fact").size(), 4u);
  EXPECT_EQ(Le(Chunk(file, "fact"), 0, 4),
            std::uint32_t(MulDivRound(int(data.size()), 44100, 16000)));

  for (const std::string& f : {dir / "tone.mp3", dir / "tone.wav"})
    for (bool mpg123 : {true, false}) {
      const auto dec = Decode(f, 2, mpg123);
      EXPECT_GE(dec.size(), tone.size()) << f << (mpg123 ? " mpg123" : " ffmpeg");
      const auto m = sigtest::Compare(tone, dec, 2, 3000, 4410);
      EXPECT_GE(m.snrDb, 20.0) << f << (mpg123 ? " mpg123" : " ffmpeg");
      EXPECT_NEAR(m.gain, 1.0, 0.03) << f;
    }
}

// The header bits and the bit rate follow the properties; mono input is one channel whatever
// ChannelMode says, stereo input is never made mono.
TEST_F(MP3Encoder, HeaderFollowsTheProperties) {
  struct Case {
    int channels, rate;
    TMMChannelMode mode;
    TMMBitrates bitrate;
    bool flags;
    unsigned kbps, header;
  };
  for (Case c : {Case{1, 48000, cmStereo, br320, true, 320, 3},
                 Case{1, 32000, cmDualChannel, br128, false, 128, 3},
                 Case{2, 44100, cmMono, br32, true, 32, 0},
                 Case{2, 48000, cmDualChannel, br192, false, 192, 2}}) {
    const auto tone =
        sigtest::Tone(std::size_t(c.rate), unsigned(c.channels), unsigned(c.rate), 440);
    TMMMP3Encoder enc;
    enc.SetChannelMode(c.mode);
    enc.SetBitrate(c.bitrate);
    enc.Privat = enc.CRC = c.flags;
    enc.Copyright = enc.Original = !c.flags;
    const std::string mp3 = Encode(enc, Pcm(16, c.channels, c.rate), sigtest::Bytes(tone), "h.mp3");
    const auto frames = Frames(mp3);
    ASSERT_GT(frames.size(), 10u);
    // The first is the information frame (none at 32 kbit/s: the tag does not fit).
    for (const auto& f : std::vector(frames.begin() + (c.kbps >= 128), frames.end()))
      EXPECT_TRUE(f.mode == c.header && f.rate == unsigned(c.rate) && f.bitrate == c.kbps &&
                  f.priv == c.flags && f.crc == c.flags && f.copyright == !c.flags &&
                  f.original == !c.flags)
          << c.channels << " channels, mode " << c.mode << ", " << c.kbps;
    if (c.kbps < 128) continue;
    const auto dec = Decode(dir / "h.mp3", unsigned(c.channels), false);
    EXPECT_GE(sigtest::Compare(tone, dec, unsigned(c.channels), 3000, 4000).snrDb, 20.0)
        << c.channels << " channels at " << c.rate;
  }
}

TEST_F(MP3Encoder, UnsupportedInputIsRefusedAtOpen) {
  for (TWaveFormatEx fmt : {Pcm(16, 2, 22050), Pcm(8, 2, 44100), Pcm(16, 4, 44100)}) {
    TMMMP3Encoder enc;
    try {
      Encode(enc, fmt, "", "refused.mp3");
      ADD_FAILURE() << "opened " << fmt.nChannels << " x " << fmt.wBitsPerSample << " bits at "
                    << fmt.nSamplesPerSec;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Unsupported Input Format");
    }
    EXPECT_FALSE(enc.FileOpened());
    EXPECT_NE(qltest::Run("test -e " + dir / "refused.mp3"), 0) << "a file was made";
  }
}

// Pushes of any size give the bytes of whole-chunk pushes, into a file that replaces an older
// one; a length that is not a whole number of chunks ends with a short chunk, all of it encoded.
TEST_F(MP3Encoder, PushSizesDoNotChangeTheStreamAndTheLastChunkIsShort) {
  const std::size_t frames = 1152 * 10 + 333;
  const auto tone = sigtest::Tone(frames, 2, 44100, 440);
  const std::string pcm = sigtest::Bytes(tone);
  TMMMP3Encoder enc;
  const std::string whole = Encode(enc, Pcm(16, 2, 44100), pcm, "whole.mp3", {4608});
  for (std::vector<std::size_t> sizes :
       {std::vector<std::size_t>{1000}, {4609}, {4609, 1000, 3}, {pcm.size()}, {13824, 4607}}) {
    qltest::WriteFile(dir / "pieces.mp3", std::string(whole.size() * 2, 'x'));
    EXPECT_TRUE(Encode(enc, Pcm(16, 2, 44100), pcm, "pieces.mp3", sizes) == whole)
        << "pushes of " << sizes[0] << " bytes";
  }
  // Bytes that split the last sample frame are dropped, not refused.
  EXPECT_TRUE(Encode(enc, Pcm(16, 2, 44100), pcm + "\x11\x22\x33", "pieces.mp3", {4609}) == whole);
  EXPECT_GE(Frames(whole).size() * 1152, frames + 576);
  const auto dec = Decode(dir / "whole.mp3", 2, false);
  const auto m = sigtest::Compare(tone, dec, 2, 3000, 2000);
  EXPECT_GE(m.snrDb, 20.0);
  // The tone goes on to the last input frame.
  const std::size_t end = frames + std::size_t(m.lag);
  ASSERT_GE(dec.size() / 2, end);
  double level = 0;
  for (std::size_t i = (end - 200) * 2; i < end * 2; ++i) level += std::abs(double(dec[i]));
  EXPECT_GT(level / 400, 5000.0) << "the end of the input is missing";
}

TEST_F(MP3Encoder, FileNameAndTypeCannotChangeWhileOpen) {
  TMMMP3Encoder enc;
  TMMDSPComponent source;
  const TWaveFormatEx fmt = Pcm(16, 2, 44100);
  source.SetWaveFormat(&fmt);
  enc.SetInput(&source);
  enc.SetFileName(dir / "open.mp3");
  enc.Opened();
  ASSERT_TRUE(enc.FileOpened());
  for (int i = 0; i < 2; ++i) {
    try {
      i == 0 ? enc.SetFileName(dir / "other.mp3") : enc.SetFileType(ftWAV);
      ADD_FAILURE() << "changed while open";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
  }
  EXPECT_TRUE(enc.GetFileName() == dir / "open.mp3" && enc.GetFileType() == ftRAW);
  enc.Closed();
  enc.SetFileType(ftWAV);
  EXPECT_EQ(enc.GetFileType(), ftWAV);
}

// A write that fails (the file-size limit here: EFBIG, as ENOSPC would) closes the encoder; the
// chain goes on, later buffers pass on and are not encoded. The unfinished file is removed, an
// earlier file of the name stays as it was, and FailureText says which file and why.
TEST_F(MP3Encoder, AFailedWriteClosesTheEncoderKeepsTheEarlierFileAndTheChainGoesOn) {
  for (TMMFileType type : {ftRAW, ftWAV}) {
    TMMMP3Encoder enc;
    enc.SetFileType(type);
    int passed = 0;
    bool openAtTheEnd = true;
    enc.OnBufferReady = [&](TMMDSPComponent*, PWaveHdr) {
      ++passed;
      openAtTheEnd = enc.FileOpened();
    };
    qltest::WriteFile(dir / "limited.mp3", "earlier take");
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 20000;
    auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string written =
        Encode(enc, Pcm(16, 2, 44100), sigtest::Bytes(sigtest::Tone(44100 * 4, 2, 44100, 440)),
               "limited.mp3");
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(openAtTheEnd);
    EXPECT_EQ(passed, (44100 * 16 + 32767) / 32768) << "every push passes on";
    EXPECT_EQ(written, "earlier take");
    EXPECT_EQ(enc.FailureText(),
              "Cannot write " + (dir / "limited.mp3") + ": I/O error 27: File too large");
    std::string names;
    EXPECT_EQ(qltest::RunCapture("ls -A " + dir.path(), &names), 0);
    EXPECT_EQ(names, "limited.mp3\n");
  }
}

// A good encoding replaces an earlier file only at its end, and clears an earlier failure.
TEST_F(MP3Encoder, AnEarlierFileIsReplacedOnlyWhenTheNewOneIsComplete) {
  qltest::WriteFile(dir / "take.mp3", "earlier take");
  TMMMP3Encoder enc;
  TMMDSPComponent source;
  const TWaveFormatEx fmt = Pcm(16, 2, 44100);
  source.SetWaveFormat(&fmt);
  enc.SetInput(&source);
  enc.SetFileName(dir / "take.mp3");
  enc.Opened();
  enc.Started();
  Push(source, sigtest::Bytes(sigtest::Tone(44100, 2, 44100, 440)), {32768});
  EXPECT_EQ(qltest::ReadFile(dir / "take.mp3"), "earlier take");
  enc.Closed();
  EXPECT_EQ(enc.FailureText(), "");
  EXPECT_GE(Frames(qltest::ReadFile(dir / "take.mp3")).size(), 38u);
  enc.SetInput(nullptr);

  // A device is refused by name; nothing is written to it.
  enc.SetInput(&source);
  enc.SetFileName("/dev/full");
  try {
    enc.Opened();
    ADD_FAILURE() << "wrote to a device";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("/dev/full"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(enc.FileOpened());
}

// ffprobe's "key=value" lines of the file's tags.
std::string ProbeTags(const std::string& file) {
  std::string out;
  EXPECT_EQ(qltest::RunCapture(
                "ffprobe -v error -show_entries format_tags -of default=nw=1 '" + file + "'", &out),
            0)
      << file;
  return out;
}

bool HasTag(const std::string& probe, const std::string& key, const std::string& value) {
  return probe.find("TAG:" + key + "=" + value + "\n") != std::string::npos;
}

// A raw stream carries its encoder delay and padding in the information frame: ffmpeg and
// mpg123 give back exactly the samples that went in, in place (no lag), whatever the rate,
// the channels, the bit rate and the length (less than one frame, not a whole number of
// chunks). Below about 64 kbit/s the tag does not fit into a frame: the stream has none and
// decodes longer. The ID3v2.4 tag before it is read by ffprobe.
TEST_F(MP3Encoder, RawStreamsDecodeToTheExactLengthAndCarryTheirTags) {
  struct Case {
    int channels, rate;
    TMMBitrates bitrate;
    std::size_t frames;
    bool info;
  };
  for (Case c : {Case{2, 44100, br128, 44100 * 2 + 123, true},
                 Case{1, 48000, br320, 48000 + 7, true}, Case{2, 32000, br64, 32000 + 1000, true},
                 Case{2, 44100, br192, 500, true}, Case{2, 44100, br32, 44100, false}}) {
    const auto tone = sigtest::Tone(c.frames, unsigned(c.channels), unsigned(c.rate), 440);
    TMMMP3Encoder enc;
    enc.SetBitrate(c.bitrate);
    enc.Tags.Artist = "Ünïcode Ärtist";
    enc.Tags.Album = "The Album";
    enc.Tags.Title = "Track Three";
    enc.Tags.Track = 3;
    enc.Tags.TrackCount = 12;
    enc.Tags.Year = "1999";
    enc.Tags.Genre = "Rock";
    enc.Tags.Isrc = "GBAYE9900123";
    const std::string file =
        Encode(enc, Pcm(16, c.channels, c.rate), sigtest::Bytes(tone), "gapless.mp3");
    const std::string what = std::to_string(c.channels) + " x " + std::to_string(c.rate) + ", " +
                             std::to_string(c.frames) + " frames";
    ASSERT_EQ(file.compare(0, 5, "ID3\4\0", 5), 0) << what;
    const std::string stream = AfterTag(file);
    EXPECT_EQ(FirstFrame(stream).find("Info") != std::string::npos, c.info) << what;
    Frames(stream);

    for (bool mpg123 : {false, true}) {
      const auto dec = Decode(dir / "gapless.mp3", unsigned(c.channels), mpg123);
      if (c.info)
        EXPECT_EQ(dec.size(), tone.size()) << what << (mpg123 ? " mpg123" : " ffmpeg");
      else
        EXPECT_GT(dec.size(), tone.size()) << what << (mpg123 ? " mpg123" : " ffmpeg");
      if (c.frames < 4410 * 3 || c.bitrate < br128) continue;
      const auto m = sigtest::Compare(tone, dec, unsigned(c.channels), 0, 4410);
      EXPECT_GE(m.snrDb, 20.0) << what << (mpg123 ? " mpg123" : " ffmpeg");
    }
    const std::string tags = ProbeTags(dir / "gapless.mp3");
    EXPECT_TRUE(HasTag(tags, "artist", "Ünïcode Ärtist") && HasTag(tags, "album", "The Album") &&
                HasTag(tags, "title", "Track Three") && HasTag(tags, "track", "3/12") &&
                HasTag(tags, "date", "1999") && HasTag(tags, "genre", "Rock") &&
                HasTag(tags, "TSRC", "GBAYE9900123"))
        << tags;
  }
}

// Texts from discs and servers: Latin-1 stays readable, a zero ends a text, a long text is cut
// on a character, a year that is not one is left out; no fields or WriteTags off write no tag.
// The wave container carries the same fields as LIST INFO texts.
TEST_F(MP3Encoder, TagTextsAsTheyComeAndTheWaveContainer) {
  const auto tone = sigtest::Tone(44100, 2, 44100, 440);
  const std::string pcm = sigtest::Bytes(tone);
  std::string longName;
  for (int i = 0; i < 3000; ++i) longName += "é";
  TMMMP3Tags t;
  t.Artist = "Caf\xE9";
  t.Title = std::string("Side A\0junk", 11);
  t.Album = longName;
  t.Track = 7;
  t.Year = "99";
  t.Isrc = "GB-AYE-99-00123";  // not the 12 letters and digits of an ISRC
  {
    TMMMP3Encoder enc;
    enc.Tags = t;
    Encode(enc, Pcm(16, 2, 44100), pcm, "texts.mp3");
    const std::string tags = ProbeTags(dir / "texts.mp3");
    EXPECT_TRUE(HasTag(tags, "artist", "Café") && HasTag(tags, "title", "Side A") &&
                HasTag(tags, "track", "7") && HasTag(tags, "album", longName.substr(0, 4096)))
        << tags.substr(0, 300);
    EXPECT_EQ(tags.find("TAG:date"), std::string::npos) << tags.substr(0, 300);
    EXPECT_EQ(tags.find("TAG:TSRC"), std::string::npos) << tags.substr(0, 300);
    EXPECT_EQ(Decode(dir / "texts.mp3", 2, false).size(), tone.size());
  }
  for (bool off : {true, false}) {
    TMMMP3Encoder enc;
    if (off) {
      enc.Tags = t;
      enc.WriteTags = false;
    }
    const std::string file = Encode(enc, Pcm(16, 2, 44100), pcm, "plain.mp3");
    EXPECT_NE(file.compare(0, 3, "ID3"), 0);
    EXPECT_NE(FirstFrame(file).find("Info"), std::string::npos);
    EXPECT_EQ(ProbeTags(dir / "plain.mp3").find("TAG:artist"), std::string::npos);
  }
  {
    TMMMP3Encoder enc;
    enc.SetFileType(ftWAV);
    enc.Tags.Artist = "Artist";
    enc.Tags.Album = "Album";
    enc.Tags.Title = "Title";
    enc.Tags.Track = 2;
    const std::string file = Encode(enc, Pcm(16, 2, 44100), pcm, "tagged.wav");
    EXPECT_EQ(FirstFrame(Chunk(file, "data")).find("Info"), std::string::npos);
    const std::string tags = ProbeTags(dir / "tagged.wav");
    EXPECT_TRUE(HasTag(tags, "artist", "Artist") && HasTag(tags, "album", "Album") &&
                HasTag(tags, "title", "Title") && HasTag(tags, "track", "2"))
        << tags;
  }
}

TEST_F(MP3Encoder, TrackwellRipsATrackToMp3) {
  const auto img = qltest::WriteCdImage(dir.path(), "disc", {75, 750});
  auto trackwell = [&](const std::string& args) {
    return qltest::Run(std::string(TRACKWELL_PATH) + " --image " + img.cue + " rip " + args +
                       " 2>/dev/null");
  };
  const std::string out = dir / "track.mp3", wav = dir / "track.wav";
  ASSERT_EQ(trackwell("--track 1 --mp3 -o " + out), 0);
  // The file of the first rip is replaced by the 10 seconds of track 2.
  ASSERT_EQ(trackwell("--track 2 --mp3 -o " + out), 0);
  const auto dec = Decode(out, 2, false);
  EXPECT_GE(dec.size() / 2, 750u * 588);
  EXPECT_LE(dec.size() / 2, 750u * 588 + 2 * 1152 + 1393) << "longer than the track";
  for (const auto& f : Frames(qltest::ReadFile(out))) EXPECT_TRUE(f.bitrate == 128 && f.mode == 0);

  ASSERT_EQ(trackwell("--track 1 --mp3 --bitrate 192 --channel-mode dual --wave-container --crc "
                      "--copyright --original --private -o " +
                      wav),
            0);
  const std::string file = qltest::ReadFile(wav);
  EXPECT_EQ(Le(Chunk(file, "fmt "), 0, 2), 85u);
  const auto h = Frames(Chunk(file, "data"));
  ASSERT_FALSE(h.empty());
  EXPECT_TRUE(h[0].bitrate == 192 && h[0].mode == 2 && h[0].crc && h[0].copyright &&
              h[0].original && h[0].priv);
  EXPECT_GE(Decode(wav, 2, false).size() / 2, 75u * 588);

  EXPECT_EQ(trackwell("--track 1 --mp3 --bitrate 100 -o " + out), 2);
  EXPECT_EQ(trackwell("--track 1 --mp3 --channel-mode joint -o " + out), 2);
  EXPECT_EQ(trackwell("--track 1 --bitrate 128 -o " + out), 2) << "needs --mp3";
}

// rip --all names the tracks from the disc's text (no entry in the disc store): the MP3s (encoded
// in the recording chain and by the workers) carry the tags and decode to the tracks' exact
// length; the waves carry LIST INFO texts.
TEST_F(MP3Encoder, RipAllTagsItsFiles) {
  const auto img =
      qltest::WriteCdImage(dir.path(), "disc", {{750, "First Song"}, {200, "Second Song"}}, false,
                           "The Album", "The Band");
  const std::string cue = img.cue;
  for (const std::string args : {" --mp3", " --mp3 --jobs 1", ""}) {
    ASSERT_EQ(qltest::Run("rm -rf '" + (dir / "out") + "' && mkdir '" + (dir / "out") + "'"), 0);
    ASSERT_EQ(qltest::Run("cd '" + dir.path() + "' && QL_WINDOWS_DIR='" + dir.path() + "' " +
                          TRACKWELL_PATH + " --image '" + cue + "' rip --all --quiet --dir out" +
                          args + " 2>/dev/null"),
              0)
        << args;
    const std::string ext = args.empty() ? ".wav" : ".mp3";
    const std::string first = dir / ("out/First Song" + ext),
                      second = dir / ("out/Second Song" + ext);
    std::string tags = ProbeTags(first);
    EXPECT_TRUE(HasTag(tags, "artist", "The Band") && HasTag(tags, "album", "The Album") &&
                HasTag(tags, "title", "First Song") &&
                HasTag(tags, "track", args.empty() ? "1" : "1/2"))
        << args << "\n"
        << tags;
    tags = ProbeTags(second);
    EXPECT_TRUE(HasTag(tags, "title", "Second Song") &&
                HasTag(tags, "track", args.empty() ? "2" : "2/2"))
        << args << "\n"
        << tags;
    if (args.empty()) continue;
    EXPECT_EQ(Decode(first, 2, false).size(), 750u * 588 * 2) << args;
    EXPECT_EQ(Decode(second, 2, false).size(), 200u * 588 * 2) << args;
  }
}

}  // namespace
