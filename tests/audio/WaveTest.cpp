#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "AudioTestUtil.h"
#include "MMWaveFile.h"
#include "TestFiles.h"

using namespace qlaudio;
using qltest::ReadFile;
using qltest::TempDir;
using qltest::WriteFile;

namespace {

std::string Le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}
std::uint32_t At32(const std::string& s, std::size_t off) {
  std::uint32_t v;
  std::memcpy(&v, s.data() + off, 4);
  return v;
}
std::string FmtBody(int bits, int ch, int rate) {
  TWaveFormatEx f = Pcm(bits, ch, rate);
  return std::string(reinterpret_cast<const char*>(&f), 18);
}
std::string Chunk(const std::string& id, const std::string& body) {
  std::string s = id + Le32(static_cast<std::uint32_t>(body.size())) + body;
  if (body.size() & 1) s += '\0';
  return s;
}

// Records data through a wave file sink fed by a memory source, without a driver.
void Record(const std::string& path, const TWaveFormatEx& fmt, const std::string& data) {
  TMemorySource src(data, fmt);
  TMMWaveFile wf;
  wf.Wave()->FileMustExist = false;
  wf.Wave()->SetFileName(path);
  src.SetOutput(&wf);
  wf.Opened();
  wf.Started();
  if (!data.empty()) {
    auto h = AllocWaveHdr(data.size());
    std::memcpy(h->lpData, data.data(), data.size());
    h->dwBytesRecorded = static_cast<std::uint32_t>(data.size());
    wf.BufferReady(h.get());
  }
  wf.Closed();
}

}  // namespace

TEST(WaveFile, WritesTheChunksOf16BitStereo) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 400; ++i) data += static_cast<char>(i * 7);
  Record(dir / "a.wav", Pcm(16, 2, 44100), data);
  std::string want = "RIFF" + Le32(4 + 26 + 8 + 400 + 12) + "WAVE" +
                     Chunk("fmt ", FmtBody(16, 2, 44100)) + Chunk("data", data) +
                     Chunk("fact", Le32(100));
  EXPECT_EQ(ReadFile(dir / "a.wav"), want);
}

TEST(WaveFile, OddDataGetsAPadByteAndKeepsItsSize) {
  TempDir dir;
  Record(dir / "odd.wav", Pcm(8, 1, 8000), "abc");
  std::string got = ReadFile(dir / "odd.wav");
  ASSERT_EQ(got.size(), 12u + 26 + 8 + 4 + 12);
  EXPECT_EQ(got.substr(38, 12), std::string("data") + Le32(3) + "abc" + '\0');
  EXPECT_EQ(At32(got, 4), got.size() - 8);
  TMMWave w;
  w.SetFileName(dir / "odd.wav");
  EXPECT_EQ(w.DataSize(), 3);
  EXPECT_EQ(w.Length(), 3);
}

TEST(WaveFile, RecordingOfNothingHasFourZeroBytes) {
  TempDir dir;
  Record(dir / "empty.wav", Pcm(16, 2, 44100), "");
  std::string got = ReadFile(dir / "empty.wav");
  EXPECT_EQ(got.substr(38), Chunk("data", std::string(4, '\0')) + Chunk("fact", Le32(1)));
}

TEST(WaveFile, ParsesDamagedFilesWithinTheirBytes) {
  TempDir dir;
  const std::string fmt = Chunk("fmt ", FmtBody(16, 1, 8000));
  // The data chunk claims far more than the file holds.
  WriteFile(dir / "long.wav", "RIFF" + Le32(0x7FFFFFF0) + "WAVE" + fmt + "data" + Le32(1000000) +
                                  std::string(10, 'x'));
  TMMWave w;
  w.SetFileName(dir / "long.wav");
  EXPECT_EQ(w.DataSize(), 10);
  w.OpenWave();
  char buf[64];
  EXPECT_EQ(w.ReadWaveData(buf, 64), 10);
  EXPECT_EQ(w.WaveBytesLeft(), 0);
  w.CloseWave();

  // A second "fmt " ends the walk: the data behind it is not seen.
  WriteFile(dir / "twofmt.wav", "RIFF" + Le32(200) + "WAVE" + fmt +
                                    Chunk("data", std::string(8, 'a')) + fmt +
                                    Chunk("data", std::string(20, 'b')));
  w.SetFileName(dir / "twofmt.wav");
  EXPECT_EQ(w.DataSize(), 8);
  WriteFile(dir / "twodata.wav", "RIFF" + Le32(200) + "WAVE" + fmt + Chunk("data", "aaaa") +
                                     Chunk("data", std::string(20, 'b')) +
                                     Chunk("fmt ", FmtBody(8, 2, 22050)));
  w.SetFileName(dir / "twodata.wav");
  EXPECT_EQ(w.DataSize(), 4);
  EXPECT_EQ(w.SampleRate(), 8000);

  // Broken header fields of PCM are repaired from channels, bits and rate.
  std::string bad = FmtBody(16, 2, 44100);
  bad[12] = 3;  // block align
  WriteFile(dir / "align.wav",
            "RIFF" + Le32(100) + "WAVE" + Chunk("fmt ", bad) + Chunk("data", std::string(10, 'z')));
  w.SetFileName(dir / "align.wav");
  EXPECT_EQ(w.GetWaveFormat()->nBlockAlign, 4);
  EXPECT_EQ(w.DataSize(), 8);

  for (const std::string& junk :
       {std::string("RIFF"), "RIFF" + Le32(4) + "WAVE", "RIFX" + Le32(4) + "WAVE" + fmt,
        "RIFF" + Le32(30) + "WAVE" + "fmt " + Le32(8) + "12345678",
        "RIFF" + Le32(30) + "WAVE" + Chunk("fmt ", FmtBody(16, 0, 44100))}) {
    WriteFile(dir / "junk.wav", junk);
    try {
      w.SetFileName(dir / "junk.wav");
      ADD_FAILURE() << "accepted " << junk.size() << " bytes";
    } catch (const EMMWaveError& e) {
      EXPECT_STREQ(e.what(), "Invalid wave file...");
    }
  }
}

TEST(WaveFile, NamesAndErrors) {
  TempDir dir;
  TMMWave w;
  EXPECT_THROW(w.SetFileName(dir / "missing.wav"), EMMWaveError);
  w.FileMustExist = false;
  w.SetFileName(dir / "missing.wav");
  EXPECT_EQ(w.GetFileName(), dir / "missing.wav");
  EXPECT_EQ(w.GetWaveFormat(), nullptr);
  try {
    TWaveFormatEx f = Pcm();
    w.CreateWave(dir / "nodir/x.wav", &f);
    ADD_FAILURE();
  } catch (const EMMWaveError& e) {
    EXPECT_STREQ(e.what(), "Unable to create wave file");
  }
}

TEST(WaveFile, InfoTextsSurviveAWriteAndRead) {
  TempDir dir;
  TMMWave w;
  TWaveFormatEx f = Pcm(16, 1, 8000);
  w.CreateWave(dir / "i.wav", &f);
  w.SetInfo(MakeFourCC("INAM"), "Title");
  w.WriteWaveData("abcd", 4);
  w.CloseWave();
  TMMWave r;
  r.SetFileName(dir / "i.wav");
  EXPECT_EQ(r.GetInfo(MakeFourCC("INAM")), "Title");
  EXPECT_EQ(r.DataSize(), 4);
  std::string bytes = ReadFile(dir / "i.wav");
  EXPECT_EQ(At32(bytes, 4), bytes.size() - 8);
}

TEST(WaveFile, SourcePlaysAndLoops) {
  TempDir dir;
  Record(dir / "s.wav", Pcm(16, 1, 8000), "0123456789");
  TMMWaveFile wf;
  wf.Wave()->SetFileName(dir / "s.wav");
  int loops = 0;
  wf.OnLooping = [&](TMMDSPComponent*) { ++loops; };
  wf.Opened();
  auto h = AllocWaveHdr(64);
  bool more = false;
  wf.BufferLoad(h.get(), more);  // not started: silence
  EXPECT_EQ(h->dwBytesRecorded, 64u);
  EXPECT_TRUE(more);
  wf.Started();
  EXPECT_EQ(PullAll(wf, 4), "0123456789");
  wf.Repositioned();
  h->Looping = -1;
  h->LoopCount = 1;
  h->LoopsLeft = 1;
  std::string got;
  for (int i = 0; i < 10; ++i) {
    more = false;
    h->dwBufferLength = 6;
    wf.BufferLoad(h.get(), more);
    got.append(h->lpData, h->dwBytesRecorded);
    if (!more) break;
  }
  EXPECT_EQ(got, "01234567890123456789");
  EXPECT_EQ(loops, 1);
  wf.Closed();
}

namespace {
std::string Listing(const std::string& dir) {
  std::string names;
  EXPECT_EQ(qltest::RunCapture("ls -A " + dir, &names), 0);
  return names;
}

// A recording sink over path, opened and started; push() records bytes as a chain would.
struct Recorder {
  explicit Recorder(const std::string& path, const TWaveFormatEx& fmt = Pcm(16, 2, 44100))
      : src("", fmt) {
    wf.Wave()->FileMustExist = false;
    wf.Wave()->SetFileName(path);
    wf.OnClose = [this](TMMDSPComponent*) { ++closes; };
    src.SetOutput(&wf);
    wf.Opened();
    wf.Started();
  }
  void push(const std::string& data) {
    auto h = AllocWaveHdr(data.size());
    std::memcpy(h->lpData, data.data(), data.size());
    h->dwBytesRecorded = static_cast<std::uint32_t>(data.size());
    wf.BufferReady(h.get());
  }
  TMemorySource src;
  TMMWaveFile wf;
  int closes = 0;
};
}  // namespace

// The earlier file of the name is replaced only when the recording is closed complete; a
// recording stopped early is a valid, shorter file.
TEST(WaveFile, AnEarlierFileIsReplacedOnlyAtTheClose) {
  TempDir dir;
  Record(dir / "take.wav", Pcm(16, 2, 44100), "earlier take");
  const std::string earlier = ReadFile(dir / "take.wav");
  Recorder r(dir / "take.wav");
  r.push(std::string(4000, 'a'));
  EXPECT_EQ(ReadFile(dir / "take.wav"), earlier);
  r.wf.Closed();
  EXPECT_EQ(r.closes, 1);
  EXPECT_EQ(r.wf.FailureText(), "");
  TMMWave w;
  w.SetFileName(dir / "take.wav");
  EXPECT_EQ(w.DataSize(), 4000);
  EXPECT_EQ(Listing(dir.path()), "take.wav\n");
}

// A write that fails mid-recording (the file-size limit: EFBIG, as ENOSPC would) closes the
// component: OnClose fires once, the unfinished file is removed, the earlier one stays, and
// FailureText names the file and the reason until the next open.
TEST(WaveFile, AFailedWriteKeepsTheEarlierFileAndSaysWhy) {
  TempDir dir;
  Record(dir / "take.wav", Pcm(16, 2, 44100), "earlier take");
  const std::string earlier = ReadFile(dir / "take.wav");
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 100000;
  auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
  Recorder r(dir / "take.wav");
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  for (int i = 0; i < 10 && r.wf.FileOpened(); ++i) r.push(std::string(32768, 'b'));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(r.wf.FileOpened());
  EXPECT_EQ(r.closes, 1);
  EXPECT_EQ(r.wf.FailureText(),
            "Cannot write " + (dir / "take.wav") + ": I/O error 27: File too large");
  r.wf.Closed();
  EXPECT_EQ(r.closes, 1);
  EXPECT_EQ(ReadFile(dir / "take.wav"), earlier);
  EXPECT_EQ(Listing(dir.path()), "take.wav\n");

  // The next recording starts clean and completes.
  r.wf.Opened();
  r.wf.Started();
  EXPECT_EQ(r.wf.FailureText(), "");
  r.push("abcd");
  r.wf.Closed();
  TMMWave w;
  w.SetFileName(dir / "take.wav");
  EXPECT_EQ(w.DataSize(), 4);
}

// RIFF sizes are 32-bit: a recording that would pass the limit stops with a clear failure
// instead of wrapping its sizes (the limit lowered here in place of 4 GiB of audio).
TEST(WaveFile, ARecordingThatWouldPassTheRiffLimitFailsClearly) {
  TempDir dir;
  Recorder r(dir / "big.wav");
  r.wf.Wave()->MaxFileSize = 46 + 10000 + 12;  // header, 10000 bytes of audio, fact chunk
  r.push(std::string(6000, 'c'));
  EXPECT_TRUE(r.wf.FileOpened());
  r.push(std::string(4004, 'c'));
  EXPECT_FALSE(r.wf.FileOpened());
  EXPECT_EQ(r.wf.FailureText(), "Cannot write " + (dir / "big.wav") + ": " + kWaveTooLarge);
  EXPECT_EQ(Listing(dir.path()), "");
  EXPECT_EQ(kMaxRiffFileSize, 4294967295LL + 8);

  // Exactly at the limit is still a file.
  Recorder fits(dir / "fits.wav");
  fits.wf.Wave()->MaxFileSize = 46 + 10000 + 12;
  fits.push(std::string(10000, 'c'));
  fits.wf.Closed();
  EXPECT_EQ(fits.wf.FailureText(), "");
  EXPECT_EQ(ReadFile(dir / "fits.wav").size(), 46u + 10000 + 12);
}

// A name that is a symbolic link records through it; a device is refused by name.
TEST(WaveFile, RecordsThroughLinksAndRefusesDevices) {
  TempDir dir;
  Record(dir / "real.wav", Pcm(16, 2, 44100), "earlier take");
  ASSERT_EQ(symlink("real.wav", (dir / "link.wav").c_str()), 0);
  {
    Recorder r(dir / "link.wav");
    r.push("wxyz");
    r.wf.Closed();
  }
  TMMWave w;
  w.SetFileName(dir / "real.wav");
  EXPECT_EQ(w.DataSize(), 4);
  struct stat st {};
  ASSERT_EQ(lstat((dir / "link.wav").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  TMMWave dev;
  TWaveFormatEx f = Pcm();
  try {
    dev.CreateWave("/dev/null", &f);
    ADD_FAILURE() << "wrote to a device";
  } catch (const EMMWaveError& e) {
    EXPECT_NE(std::string(e.what()).find("/dev/null"), std::string::npos) << e.what();
  }
}
