// Wave files recorded through the format converter, read by ffmpeg and sox: every codec of the
// compression manager, from CD audio, in the recording chain's shape (source -> converter ->
// trigger -> wave file); and trackwell's rip --format as a whole process.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "AudioTestUtil.h"
#include "CdImage.h"
#include "MMACMCvt.h"
#include "MMTrigg.h"
#include "MMWaveFile.h"
#include "PollDispatcher.h"
#include "Signal.h"
#include "TestFiles.h"

using namespace qlaudio;
using qltest::TempDir;

namespace {

const TWaveFormatEx kCD = Pcm(16, 2, 44100);
constexpr double kHz = 440;

struct Case {
  const char* name;
  int tag, rate, bits, channels;
  double minSnr;  // of the decoded file against the tone made at the destination's rate
};

class ACMRecording : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { ql::SetDispatcher(&loop); }
  void TearDown() override { ql::SetDispatcher(nullptr); }
  ql::PollDispatcher loop;
  TempDir dir;
};

// Records seconds of a CD-audio tone into path through the converter; returns the format the
// file was written in.
WfxPtr Record(ql::PollDispatcher& loop, const TWaveFormatEx& want, double seconds,
              const std::string& path) {
  TMemorySource source(Samples16(Sine16(kHz, seconds, 16384, 44100, 2)), kCD);
  source.maxChunk = 2352 * 13;  // a CD reader's blocks
  TMMACMConverter conv;
  TMMTrigger trigger;
  TMMWaveFile sink;
  sink.Wave()->FileMustExist = false;
  sink.Wave()->SetFileName(path);
  conv.SetInput(&source);
  conv.SetWaveFormat(&want);
  trigger.SetInput(&conv);
  trigger.SetOutput(&sink);
  trigger.SetBufferSize(32768);
  bool stopped = false;
  trigger.OnStop = [&](TMMDSPComponent*) { stopped = true; };
  trigger.Start();
  EXPECT_TRUE(loop.RunUntil([&] { return stopped; }, std::chrono::seconds(30)));
  trigger.Close();
  return WfxClone(sink.GetWaveFormat());
}

TEST_P(ACMRecording, FfmpegAndSoxReadTheFileAndHearTheTone) {
  const Case c = GetParam();
  WfxPtr want = ACMBuildFormat(c.tag, c.rate, c.bits, c.channels);
  ASSERT_TRUE(want);
  const std::string wav = dir / "rec.wav";
  const double seconds = 2.5;
  WfxPtr written = Record(loop, *want, seconds, wav);
  ASSERT_TRUE(written);
  ASSERT_EQ(wfxSize(written.get()), wfxSize(want.get()));
  EXPECT_EQ(std::memcmp(written.get(), want.get(), std::size_t(wfxSize(want.get()))), 0);

  const std::string f = dir / "ffmpeg.raw", s = dir / "sox.raw";
  ASSERT_EQ(qltest::Run("ffmpeg -v error -y -i " + wav + " -f s16le -acodec pcm_s16le " + f), 0);
  ASSERT_EQ(qltest::Run("sox -V1 " + wav + " -t raw -e signed-integer -b 16 " + s), 0);
  const auto ref = Sine16(kHz, seconds, 16384, c.rate, c.channels);
  const std::size_t frames = ref.size() / std::size_t(c.channels);
  for (const char* who : {"ffmpeg", "sox"}) {
    const auto decoded = sigtest::ReadS16(std::string(who) == "ffmpeg" ? f : s);
    const std::size_t got = decoded.size() / std::size_t(c.channels);
    // The whole signal: a codec pads its last block, nothing more.
    EXPECT_GE(got, frames - 1) << who;
    EXPECT_LE(got, frames + 2048) << who;
    const auto m =
        sigtest::Compare(ref, decoded, unsigned(c.channels), 200, std::size_t(c.rate) / 20);
    EXPECT_GE(m.snrDb, c.minSnr) << who;
    EXPECT_NEAR(m.gain, 1.0, 0.1) << who;
    std::printf("%s: %s hears the tone at %.1f dB SNR, lag %ld\n", c.name, who, m.snrDb, m.lag);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, ACMRecording,
    ::testing::Values(
        Case{"Pcm22kMono8", 1, 22050, 8, 1, 30}, Case{"Pcm11kStereo16", 1, 11025, 16, 2, 40},
        Case{"Pcm48kMono16", 1, 48000, 16, 1, 40}, Case{"Alaw8k", 6, 8000, 8, 1, 30},
        Case{"Mulaw22kStereo", 7, 22050, 8, 2, 30}, Case{"Ima22kMono", 17, 22050, 4, 1, 20},
        Case{"Ima44kStereo", 17, 44100, 4, 2, 20}, Case{"MsAdpcm22kStereo", 2, 22050, 4, 2, 20},
        Case{"MsAdpcm8kMono", 2, 8000, 4, 1, 20}, Case{"Gsm8k", 49, 8000, 0, 1, 10}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// ---- trackwell rip --format ----

int Trackwell(const std::string& args, std::string* err = nullptr) {
  return qltest::RunCapture(std::string(TRACKWELL_PATH) + " " + args + " 2>&1 >/dev/null", err);
}

std::string Probe(const std::string& wav) {
  std::string text;
  qltest::RunCapture(
      "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of "
      "csv=p=0 " +
          wav,
      &text);
  return text;
}

TEST(TrackwellRipFormat, WritesTheTrackInTheChosenFormat) {
  TempDir dir;
  // Track 2 is 300 frames: 4 seconds.
  const auto img = qltest::WriteCdImage(dir.path(), "disc", {75, 300, 40});
  const std::string image = "--image " + img.cue + " ";
  struct Want {
    const char* format;
    const char* probe;
    int rate, channels;
  };
  for (const Want& w : {Want{"1,22050,8,1", "pcm_u8,22050,1", 22050, 1},
                        Want{"17,22050,4,1", "adpcm_ima_wav,22050,1", 22050, 1},
                        Want{"2,44100,4,2", "adpcm_ms,44100,2", 44100, 2},
                        Want{"49,8000,0,1", "gsm_ms,8000,1", 8000, 1},
                        Want{"7,11025,8,2", "pcm_mulaw,11025,2", 11025, 2}}) {
    const std::string wav = dir / "t2.wav", raw = dir / "t2.raw";
    std::string err;
    ASSERT_EQ(Trackwell(image + "rip --track 2 -o " + wav + " --format " + w.format, &err), 0)
        << w.format << ": " << err;
    EXPECT_EQ(Probe(wav), std::string(w.probe) + "\n");
    ASSERT_EQ(qltest::Run("ffmpeg -v error -y -i " + wav + " -f s16le -acodec pcm_s16le " + raw),
              0);
    const std::size_t frames = qltest::ReadFile(raw).size() / 2 / std::size_t(w.channels);
    const std::size_t expected = std::size_t(w.rate) * 4;
    EXPECT_GE(frames, expected) << w.format;
    EXPECT_LE(frames, expected + 2048) << w.format << ": at most a padded block more";
    std::remove(wav.c_str());
  }
  // Without --format the CD audio is copied as it is.
  const std::string plain = dir / "plain.wav";
  ASSERT_EQ(Trackwell(image + "rip --track 2 -o " + plain), 0);
  EXPECT_EQ(Probe(plain), "pcm_s16le,44100,2\n");
}

TEST(TrackwellRipFormat, RefusesFormatsItCannotMakeOrReach) {
  TempDir dir;
  const auto img = qltest::WriteCdImage(dir.path(), "disc", {75});
  const std::string rip = "--image " + img.cue + " rip --track 1 -o " + (dir / "x.wav");
  std::string err;
  // Not a format at all: usage errors.
  for (const char* bad : {"1,22050,8", "1,22050,12,1", "17,44100,8,1", "x,1,2,3", "1,2,3,4,5",
                          "99,22050,16,2", "49,8000,16,1", "17,22050,4,3"})
    EXPECT_EQ(Trackwell(rip + " --format " + bad), 2) << bad;
  EXPECT_EQ(Trackwell(rip + " --format"), 2);
  // A format no chain of conversions reaches: the converter's message, and no file.
  EXPECT_EQ(Trackwell(rip + " --format 1,96000,16,2", &err), 1);
  EXPECT_NE(err.find("Unable to convert to destination format"), std::string::npos) << err;
  EXPECT_NE(access((dir / "x.wav").c_str(), F_OK), 0);
}

}  // namespace
