#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AudioTestUtil.h"
#include "CdImage.h"
#include "MMCDRead.h"
#include "MMTrigg.h"
#include "PollDispatcher.h"
#include "ScriptedUi.h"
#include "TestFiles.h"

using namespace qlaudio;

namespace {

struct ReaderFixture : ::testing::Test {
  ql::ScriptedUi ui;
  ql::PollDispatcher loop;
  qltest::TempDir dir;
  void SetUp() override {
    ql::SetUi(&ui);
    ql::SetDispatcher(&loop);
  }
  void TearDown() override {
    unsetenv("QL_CD_IMAGES");
    ql::SetDispatcher(nullptr);
    ql::SetUi(nullptr);
  }
  // Offers the images (colon separated) to the next reader made.
  static void Offer(const std::string& paths) { setenv("QL_CD_IMAGES", paths.c_str(), 1); }
  static int IndexOf(const TMMCDReader& r, const std::string& name) {
    for (int i = 0; i < r.NumDevices(); ++i)
      if (r.DeviceName(i) == name) return i;
    return -1;
  }
  // A reader on the image, its table of contents read.
  std::unique_ptr<TMMCDReader> On(const qltest::CdImage& img) {
    Offer(img.cue);
    auto r = std::make_unique<TMMCDReader>();
    const int id = IndexOf(*r, img.cue);
    EXPECT_GE(id, 0);
    r->SetDeviceID(id);
    EXPECT_TRUE(r->ReadTOC());
    return r;
  }
  static std::string Bin(const qltest::CdImage& img, int track) {
    const std::string all = qltest::ReadFile(img.bin);
    return all.substr(std::size_t(img.starts[track]) * 2352,
                      std::size_t(img.lengths[track]) * 2352);
  }
  static void SelectTrack(TMMCDReader& r, int index) {
    const CDDA_TRACK& t = r.TrackList().Tracks[index];
    r.SetRange(t.dwStartMSF, t.dwLengthMSF);
  }
  // Reads the range in pulls of `size` bytes through BufferLoad, as a chain does.
  static std::string ReadAll(TMMCDReader& r, int size, int* pulls = nullptr) {
    r.Opened();
    r.Started();
    auto h = AllocWaveHdr(std::size_t(size));
    std::string out;
    bool more = true;
    int n = 0;
    while (more && n < 1000000) {
      h->dwBufferLength = std::uint32_t(size);
      h->dwBytesRecorded = 0;
      r.BufferLoad(h.get(), more);
      out.append(h->lpData, h->dwBytesRecorded);
      ++n;
    }
    if (pulls) *pulls = n;
    r.Stopped();
    r.Closed();
    return out;
  }
};

std::uint32_t Packed(std::uint32_t frames) {
  return frames / 4500 | ((frames / 75) % 60) << 8 | (frames % 75) << 16;
}

}  // namespace

TEST_F(ReaderFixture, TableOfContentsAndDiscKeys) {
  auto img3 = qltest::WriteCdImage(dir.path(), "three", {120, 37, 1});
  auto r = On(img3);
  ASSERT_EQ(r->GetTrackCount(), 3);
  std::uint32_t sum = 0;
  for (int i = 0; i < 3; ++i) {
    TMMCDTrackInfo t = r->GetTrack(i);
    EXPECT_EQ(t.Number, i + 1);
    EXPECT_EQ(t.Start, int(img3.starts[i]) + 150);
    EXPECT_EQ(t.Length, int(img3.lengths[i]));
    EXPECT_EQ(std::uint32_t{r->TrackList().Tracks[i].dwStartMSF}, Packed(img3.starts[i] + 150));
    sum += Packed(img3.starts[i] + 150);
  }
  // Fewer than four tracks: the lead-out term is added.
  EXPECT_EQ(r->DiscKey(), sum + (img3.sectors + 150) + 1);

  auto img4 = qltest::WriteCdImage(dir.path(), "four", {300, 75, 80, 4600});
  auto r4 = On(img4);
  ASSERT_EQ(r4->GetTrackCount(), 4);
  std::uint32_t sum4 = 0;
  for (int i = 0; i < 4; ++i) sum4 += Packed(img4.starts[i] + 150);
  EXPECT_EQ(r4->DiscKey(), sum4);

  // A new device selection empties the table.
  Offer(img3.cue + ":" + img4.cue);
  TMMCDReader both;
  both.SetDeviceID(IndexOf(both, img4.cue));
  ASSERT_TRUE(both.ReadTOC());
  EXPECT_EQ(both.DiscKey(), sum4);
  both.SetDeviceID(IndexOf(both, img3.cue));
  EXPECT_EQ(both.GetTrackCount(), 0);
  EXPECT_EQ(both.DiscKey(), 0u);
}

TEST_F(ReaderFixture, NinetyNineTracks) {
  std::vector<qltest::CdImageTrack> tracks(99, qltest::CdImageTrack(4));
  auto img = qltest::WriteCdImage(dir.path(), "many", tracks);
  auto r = On(img);
  ASSERT_EQ(r->GetTrackCount(), 99);
  EXPECT_EQ(r->GetTrack(98).Number, 99);
  EXPECT_EQ(r->GetTrack(98).Start + r->GetTrack(98).Length, int(img.sectors) + 150);
}

TEST_F(ReaderFixture, DriveWithoutDiscHasNoTable) {
  Offer(dir / "missing.cue");
  TMMCDReader r;
  const int id = IndexOf(r, dir / "missing.cue");
  ASSERT_GE(id, 0);
  r.SetDeviceID(id);
  EXPECT_FALSE(r.DeviceReady());
  EXPECT_FALSE(r.ReadTOC());
  EXPECT_EQ(r.GetTrackCount(), 0);
  EXPECT_EQ(r.DeviceName(r.NumDevices()), "Invalid DeviceID");
  EXPECT_EQ(r.DriveLetter(-1), "Invalid DeviceID");
}

// All three read methods give the image's bytes, whether the buffers hold whole blocks (read
// straight into them) or less than one (served from the cache over several pulls).
class ReaderModes : public ReaderFixture, public ::testing::WithParamInterface<TMMCDCopyMode> {};

TEST_P(ReaderModes, ExtractsEveryByte) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {120, 37, 1});
  auto r = On(img);
  r->SetCopyMode(GetParam());
  for (int track = 0; track < 3; ++track) {
    const std::string want = Bin(img, track);
    for (int size : {10 * 2352 * 2, 10 * 2352, 1000, 2352 * 10 + 1}) {
      SelectTrack(*r, track);
      int pulls = 0;
      const std::string got = ReadAll(*r, size, &pulls);
      ASSERT_EQ(got.size(), want.size()) << "track " << track + 1 << " buffer " << size;
      EXPECT_TRUE(got == want) << "track " << track + 1 << " buffer " << size;
      EXPECT_EQ(pulls, int((want.size() + size - 1) / size));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllModes, ReaderModes, ::testing::Values(cmNormal, cmBurst, cmSync));

TEST_F(ReaderFixture, CachedBytesKeepTheStreamGoingAfterTheLastSector) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {3});
  auto r = On(img);
  SelectTrack(*r, 0);
  r->Opened();
  r->Started();
  auto h = AllocWaveHdr(2352);
  bool more = false;
  h->dwBufferLength = 2352;
  r->BufferLoad(h.get(), more);  // the whole 3-sector block is read, one sector delivered
  EXPECT_EQ(r->CurrentSector(), r->EndSector());
  EXPECT_TRUE(more);
  h->dwBufferLength = 2352;
  r->BufferLoad(h.get(), more);
  EXPECT_TRUE(more);
  h->dwBufferLength = 2352;
  r->BufferLoad(h.get(), more);
  EXPECT_EQ(h->dwBytesRecorded, 2352u);
  EXPECT_FALSE(more);
  r->Stopped();
  r->Closed();
}

TEST_F(ReaderFixture, CopyVolumeScalesTheData) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {20});
  auto r = On(img);
  const std::vector<std::int16_t> src = ToSamples16(Bin(img, 0));
  SelectTrack(*r, 0);
  r->SetCopyVolume(16384);
  EXPECT_EQ(ToSamples16(ReadAll(*r, 8192)), src);

  r->SetCopyVolume(40000);
  EXPECT_EQ(r->GetCopyVolume(), 32768);
  SelectTrack(*r, 0);
  std::vector<std::int16_t> doubled = ToSamples16(ReadAll(*r, 8192));
  ASSERT_EQ(doubled.size(), src.size());
  for (std::size_t i = 0; i < src.size(); ++i)
    ASSERT_EQ(doubled[i], std::clamp(src[i] * 2, -32768, 32767)) << i;

  r->SetCopyVolume(0);
  SelectTrack(*r, 0);
  const std::string silent = ReadAll(*r, 8192);
  EXPECT_EQ(silent, std::string(src.size() * 2, '\0'));
}

TEST_F(ReaderFixture, DisabledReaderDeliversSilenceForEver) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {2});
  auto r = On(img);
  SelectTrack(*r, 0);
  r->SetEnabled(false);
  r->Opened();
  r->Started();
  auto h = AllocWaveHdr(30000);
  for (int i = 0; i < 5; ++i) {
    std::memset(h->lpData, 0x55, 30000);
    h->dwBufferLength = 30000;
    bool more = false;
    r->BufferLoad(h.get(), more);
    EXPECT_TRUE(more);
    ASSERT_EQ(h->dwBytesRecorded, 30000u);
    EXPECT_EQ(std::string(h->lpData, 30000), std::string(30000, '\0'));
  }
  r->Stopped();
  r->Closed();
}

TEST_F(ReaderFixture, PropertiesCannotChangeWhileOpen) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {20});
  auto r = On(img);
  SelectTrack(*r, 0);
  r->Opened();
  auto refused = [](auto&& fn) {
    try {
      fn();
    } catch (const EMMCDDAError& e) {
      return std::string(e.what()) == "Change to property while device was open";
    }
    return false;
  };
  EXPECT_TRUE(refused([&] { r->SetCopyMode(cmBurst); }));
  EXPECT_TRUE(refused([&] { r->SetIgnoreSpeed(true); }));
  EXPECT_TRUE(refused([&] { r->SetRange(Packed(150), Packed(5)); }));
  EXPECT_TRUE(refused([&] { r->SetDeviceID(0); }));
  EXPECT_EQ(r->GetCopyMode(), cmNormal);
  r->Closed();
  r->SetCopyMode(cmBurst);
  EXPECT_EQ(r->GetCopyMode(), cmBurst);

  TWaveFormatEx mono = Pcm(16, 1, 44100);
  try {
    r->SetWaveFormat(&mono);
    FAIL();
  } catch (const EMMCDDAError& e) {
    EXPECT_STREQ(e.what(), "It's not allowed to change the WaveFormat");
  }
  EXPECT_EQ(r->GetWaveFormat()->nChannels, 2);
}

// The recording chain's driver pulls a whole track through the reader.
TEST_F(ReaderFixture, TriggerPullsTheTrack) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {33, 150});
  auto r = On(img);
  r->SetCopyMode(cmBurst);
  SelectTrack(*r, 1);
  TMMTrigger trigger;
  TMemorySink sink;
  trigger.SetInput(r.get());
  trigger.SetOutput(&sink);
  trigger.SetBufferSize(32768);
  bool stopped = false;
  trigger.OnStop = [&](TMMDSPComponent*) { stopped = true; };
  trigger.Start();
  ASSERT_TRUE(loop.RunUntil([&] { return stopped; }, std::chrono::seconds(20)));
  trigger.Close();
  EXPECT_TRUE(sink.data == Bin(img, 1));
  EXPECT_FALSE(r->IsOpenForReading());
}

TEST(TrimTrackRange, MovesBySecondsWithCarryAndBorrow) {
  std::uint32_t start = 0 | 59 << 8 | 10 << 16, length = 3 | 0 << 8 | 5 << 16;
  TrimTrackRange(start, length, true, false);
  EXPECT_EQ(start, 1u | 0 << 8 | 10 << 16);
  EXPECT_EQ(length, 2u | 59 << 8 | 5 << 16);
  TrimTrackRange(start, length, false, true);
  EXPECT_EQ(length, 2u | 58 << 8 | 5 << 16);
  std::uint32_t s2 = 0 | 2 << 8, l2 = 0 | 1 << 8 | 30 << 16;
  TrimTrackRange(s2, l2, true, true);  // 1 s 30 f cannot lose two seconds
  EXPECT_EQ(l2, 0u);
  EXPECT_EQ(MSFToFrames(FramesToMSF(123456)), 123456u);
}

// ---- sectors that cannot be read, and data tracks ----

namespace {

// The image's bytes of sectors [first, end) of the disc.
std::string BinSectors(const qltest::CdImage& img, std::uint32_t first, std::uint32_t end) {
  return qltest::ReadFile(img.bin).substr(std::size_t(first) * 2352,
                                          std::size_t(end - first) * 2352);
}

// What the generator wrote for sectors [from, to) of track `track` (1-based), counted within
// the track: the disc's bytes whatever happened to the image file since.
std::string Original(std::uint32_t track, std::uint32_t from, std::uint32_t to) {
  std::string out(std::size_t(to - from) * 2352, '\0');
  for (std::uint32_t s = from; s < to; ++s)
    qltest::CdImageSector(track, s, reinterpret_cast<std::uint8_t*>(&out[(s - from) * 2352]));
  return out;
}

std::string ModeName(TMMCDCopyMode m) {
  return m == cmNormal ? "normal" : m == cmBurst ? "burst" : "sync";
}

}  // namespace

class ReaderFailures : public ReaderModes {};

// Every mode reads a whole disc with nothing to report.
TEST_P(ReaderFailures, AGoodReadReportsNothing) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {80, 40});
  auto r = On(img);
  r->SetCopyMode(GetParam());
  r->SetRange(Packed(150), Packed(img.sectors));
  EXPECT_TRUE(ReadAll(*r, 10 * 2352) == BinSectors(img, 0, img.sectors));
  EXPECT_EQ(r->FailureText(), "");
  EXPECT_EQ(r->SkippedSectors(), 0u);
  EXPECT_EQ(r->Retries(), 0u);
}

// The image loses its end while a track is read (as a disc that cannot be read on from some
// point): the sectors before the gap are delivered, the range ends there, nothing is made up.
TEST_P(ReaderFailures, AnImageCutShortEndsTheRangeAtTheFirstMissingSector) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {60, 60});
  auto r = On(img);
  r->SetCopyMode(GetParam());
  SelectTrack(*r, 1);  // sectors 60..119
  bool cut = false;
  r->OnDataRead = [&](TMMDSPComponent*) {
    if (!cut) cut = truncate(img.bin.c_str(), 90 * 2352) == 0;
  };
  for (int size : {10 * 2352, 1000}) {
    SCOPED_TRACE(size);
    cut = false;
    qltest::WriteCdImage(dir.path(), "disc", {60, 60});  // whole again
    SelectTrack(*r, 1);
    const std::string got = ReadAll(*r, size);
    ASSERT_TRUE(cut);
    // Normal reads stop exactly at the cut. Burst reads may still get what the image library
    // had buffered before the cut, and jitter correction may give up a little before it, as
    // its reads overlap: either way only the disc's own bytes, up to the sector named.
    const std::uint32_t stop = r->CurrentSector();
    if (GetParam() == cmNormal) {
      EXPECT_EQ(stop, 90u);
    }
    ASSERT_GE(stop, 60u);
    ASSERT_LT(stop, 120u);
    EXPECT_EQ(got.size(), std::size_t(stop - 60) * 2352);
    EXPECT_TRUE(got == Original(2, 0, stop - 60));
    EXPECT_EQ(r->FailureText().rfind("Sector " + std::to_string(stop) + " (track 2, ", 0), 0u)
        << r->FailureText();
    EXPECT_NE(r->FailureText().find(") could not be read: "), std::string::npos);
    EXPECT_EQ(r->SkippedSectors(), 1u);
    if (GetParam() == cmNormal) {
      EXPECT_EQ(r->Retries(), 2u);  // three tries of sector 90
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllModes, ReaderFailures, ::testing::Values(cmNormal, cmBurst, cmSync),
                         [](const auto& info) { return ModeName(info.param); });

// The recording chain's driver sees the failure when the trigger stops: the sink holds exactly
// the sectors before the bad one, and a failure at the very first sector fails the start.
TEST_F(ReaderFixture, TheTriggerStopsAtTheBadSectorAndTheDriverReadsWhy) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {33, 150});
  for (TMMCDCopyMode mode : {cmNormal, cmBurst, cmSync}) {
    SCOPED_TRACE(ModeName(mode));
    qltest::WriteCdImage(dir.path(), "disc", {33, 150});
    auto r = On(img);
    r->SetCopyMode(mode);
    SelectTrack(*r, 1);
    r->OnDataRead = [&](TMMDSPComponent*) { truncate(img.bin.c_str(), 100 * 2352); };
    TMMTrigger trigger;
    TMemorySink sink;
    trigger.SetInput(r.get());
    trigger.SetOutput(&sink);
    trigger.SetBufferSize(32768);
    bool stopped = false;
    std::string seen;
    trigger.OnStop = [&](TMMDSPComponent*) {
      stopped = true;
      seen = r->FailureText();  // before the chain closes
    };
    trigger.Start();
    ASSERT_TRUE(loop.RunUntil([&] { return stopped; }, std::chrono::seconds(20)));
    trigger.Close();
    const std::uint32_t stop = 33 + std::uint32_t(sink.data.size() / 2352);
    EXPECT_EQ(sink.data.size() % 2352, 0u);
    EXPECT_TRUE(sink.data == Original(2, 0, stop - 33));
    EXPECT_EQ(seen.rfind("Sector " + std::to_string(stop) + " (track 2, ", 0), 0u) << seen;
    if (mode == cmNormal) {
      EXPECT_EQ(stop, 100u);
    }
  }

  // Nothing readable at all: the start fails, and the reader says why.
  qltest::WriteCdImage(dir.path(), "disc", {33, 150});
  auto r = On(img);
  SelectTrack(*r, 1);
  r->OnDataRead = [&](TMMDSPComponent*) { truncate(img.bin.c_str(), 33 * 2352); };
  TMMTrigger trigger;
  TMemorySink sink;
  trigger.SetInput(r.get());
  trigger.SetOutput(&sink);
  try {
    trigger.Start();
    ADD_FAILURE() << "the chain started on nothing";
  } catch (const EMMCDDAError& e) {
    EXPECT_EQ(std::string(e.what()), r->FailureText());
  }
  EXPECT_EQ(r->FailureText().substr(0, 28), "Sector 33 (track 2, 00:00:00");
  EXPECT_TRUE(sink.data.empty());
}

// A range that runs past the end of the disc: normal reads deliver what is there and stop at
// the end; burst and sync copies are refused when they start.
TEST_F(ReaderFixture, ARangePastTheEndOfTheDisc) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {20});
  auto r = On(img);
  r->SetRange(Packed(150 + 10), Packed(40));
  EXPECT_TRUE(ReadAll(*r, 40 * 2352) == BinSectors(img, 10, 20));
  EXPECT_EQ(r->FailureText(), "Sector 20 could not be read: The sectors lie outside the disc");
  for (TMMCDCopyMode mode : {cmBurst, cmSync}) {
    r->SetCopyMode(mode);
    r->Opened();
    EXPECT_THROW(r->Started(), EMMCDDAError);
    EXPECT_EQ(r->FailureText(), "The sectors lie outside the disc");
    r->Closed();
  }
}

// Data tracks are never read as audio, in any mode, whether the table was read first or not;
// the audio tracks around them read byte for byte.
TEST_P(ReaderFailures, DataTracksAreRefusedWhenTheChainOpens) {
  auto mixed = qltest::WriteCdImage(dir.path(), "mixed", {qltest::DataTrack(50), 60, 40});
  auto extra = qltest::WriteCdImage(dir.path(), "extra", {70, 30, qltest::DataTrack(45)});
  for (const auto* img : {&mixed, &extra}) {
    const int data = img == &mixed ? 0 : 2;
    auto r = On(*img);
    r->SetCopyMode(GetParam());
    ASSERT_EQ(r->GetTrackCount(), 3);
    EXPECT_EQ(std::uint32_t{r->TrackList().Tracks[data].fAudio}, 0u);
    EXPECT_TRUE(r->TrackList().Tracks[data].bAttrib & CDDA_ATTR_DATA);
    const std::string refusal =
        "Track " + std::to_string(data + 1) + " is a data track: it holds no audio";
    SelectTrack(*r, data);
    try {
      r->Opened();
      ADD_FAILURE() << "a data track opened";
    } catch (const EMMCDDAError& e) {
      EXPECT_EQ(std::string(e.what()), refusal);
    }
    EXPECT_EQ(r->FailureText(), refusal);
    EXPECT_FALSE(r->IsOpenForReading());
    r->Closed();
    // The whole disc touches the data track too.
    r->SetRange(Packed(150), Packed(img->sectors));
    EXPECT_THROW(r->Opened(), EMMCDDAError);
    r->Closed();
    for (int t = 0; t < 3; ++t) {
      if (t == data) continue;
      SelectTrack(*r, t);
      EXPECT_TRUE(ReadAll(*r, 10 * 2352) == Bin(*img, t)) << "track " << t + 1;
      EXPECT_EQ(r->FailureText(), "");
    }
  }
  // A reader that never read the table still refuses the range.
  Offer(mixed.cue);
  TMMCDReader fresh;
  fresh.SetDeviceID(IndexOf(fresh, mixed.cue));
  fresh.SetCopyMode(GetParam());
  fresh.SetRange(Packed(150 + 10), Packed(20));
  EXPECT_THROW(fresh.Opened(), EMMCDDAError);
  EXPECT_EQ(fresh.FailureText(), "Track 1 is a data track: it holds no audio");
  fresh.Closed();
}

// A bad spot on the "disc" (the image file's read fails with EIO at one byte, under the fault
// injector in a child process): every mode stops at the sector that holds it.
TEST_P(ReaderFailures, AnIOErrorAtOneSectorFailsThatSector) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {40, 100});
  const std::uint32_t bad = 40 + 57;  // track 2, 00:00:57
  const std::string cmd =
      "env ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + std::string(QL_FAULTINJECT_PATH) +
      " QL_FAULT_DIR='" + dir.path() +
      "' QL_FAULT_READ_AT=" + std::to_string(std::uint64_t(bad) * 2352 + 1000) +
      " QL_READER_CHILD_IMAGE='" + img.cue +
      "' QL_READER_CHILD_MODE=" + std::to_string(int(GetParam())) + " /proc/" +
      std::to_string(getpid()) + "/exe --gtest_filter=ReaderChild.ReadsTrackTwo";
  std::string out;
  EXPECT_EQ(qltest::RunCapture(cmd + " 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
  const std::string expected = "failure: Sector " + std::to_string(bad) + " (track 2, 00:00:57)";
  if (GetParam() == cmSync) {
    // Jitter correction reads overlapping stretches: it may give up on a sector a little
    // before the bad spot, never on one after it.
    EXPECT_NE(out.find("failure: Sector "), std::string::npos) << out;
  } else {
    EXPECT_NE(out.find(expected), std::string::npos) << out;
  }
}

// The child half of the test above: reads track 2 of the image it is given and prints what it
// got. Skipped when run on its own.
TEST(ReaderChild, ReadsTrackTwo) {
  const char* cue = std::getenv("QL_READER_CHILD_IMAGE");
  if (!cue) GTEST_SKIP() << "run by AnIOErrorAtOneSectorFailsThatSector";
  ql::ScriptedUi ui;
  ql::PollDispatcher loop;
  ql::SetUi(&ui);
  ql::SetDispatcher(&loop);
  setenv("QL_CD_IMAGES", cue, 1);
  {
    TMMCDReader r;
    int id = -1;
    for (int i = 0; i < r.NumDevices(); ++i)
      if (r.DeviceName(i) == cue) id = i;
    ASSERT_GE(id, 0);
    r.SetDeviceID(id);
    ASSERT_TRUE(r.ReadTOC());
    r.SetCopyMode(static_cast<TMMCDCopyMode>(std::atoi(std::getenv("QL_READER_CHILD_MODE"))));
    const CDDA_TRACK& t = r.TrackList().Tracks[1];
    r.SetRange(t.dwStartMSF, t.dwLengthMSF);
    r.Opened();
    r.Started();
    auto h = AllocWaveHdr(10 * 2352);
    std::string got;
    bool more = true;
    while (more) {
      h->dwBufferLength = 10 * 2352;
      r.BufferLoad(h.get(), more);
      got.append(h->lpData, h->dwBytesRecorded);
    }
    r.Stopped();
    r.Closed();
    std::printf("failure: %s\n", r.FailureText().c_str());
    const std::uint32_t end = r.CurrentSector();
    EXPECT_EQ(r.SkippedSectors(), 1u);
    // What was delivered is the image's bytes up to the sector that failed.
    ASSERT_GE(end, 40u);
    EXPECT_EQ(got.size(), std::size_t(end - 40) * 2352);
    EXPECT_TRUE(got == Original(2, 0, end - 40));
  }
  unsetenv("QL_CD_IMAGES");
  ql::SetDispatcher(nullptr);
  ql::SetUi(nullptr);
}

// The reader's part of read offsets, hidden tracks and disc text: the offset reaches every copy
// mode when the chain opens and cannot change while it is open; the hidden track is the audio
// before index 1 of track 1; the text is the library's lines; a broken sheet says why.
TEST_F(ReaderFixture, OffsetHiddenTrackTextAndImageErrors) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {{60, "One", "Me"}, {40}}, false, "Al", "Ar");
  const std::string all = qltest::ReadFile(img.bin);
  const int n = 700;  // samples
  const std::string late = std::string(n * 4, '\0') + all.substr(0, all.size() - n * 4);
  qltest::WriteFile(dir / "late.bin", late);
  qltest::WriteFile(dir / "late.cue",
                    "FILE \"late.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\n"
                    "INDEX 01 00:00:20\nTRACK 02 AUDIO\nINDEX 01 00:00:60\n");
  Offer(dir / "late.cue");
  TMMCDReader r;
  r.SetDeviceID(IndexOf(r, dir / "late.cue"));
  ASSERT_TRUE(r.ReadTOC());
  std::uint32_t start = 0, length = 0;
  ASSERT_TRUE(r.HiddenTrackRange(start, length));
  EXPECT_EQ(MSFToFrames(start), 150u);
  EXPECT_EQ(MSFToFrames(length), 20u);
  for (TMMCDCopyMode mode : {cmNormal, cmBurst, cmSync}) {
    r.SetCopyMode(mode);
    r.SetReadOffset(n);
    r.SetRange(start, length);
    EXPECT_TRUE(ReadAll(r, 5000) == all.substr(0, 20 * 2352)) << mode;
    SelectTrack(r, 1);
    EXPECT_TRUE(ReadAll(r, 32768) ==
                all.substr(60 * 2352, 40 * 2352 - n * 4) + std::string(n * 4, '\0'))
        << mode;
    r.SetReadOffset(0);
    EXPECT_TRUE(ReadAll(r, 32768) == late.substr(60 * 2352)) << mode;
  }
  r.Opened();
  EXPECT_THROW(r.SetReadOffset(5), EMMCDDAError);
  r.Closed();
  EXPECT_EQ(r.CDText(), "");

  auto named = On(img);
  EXPECT_EQ(named->CDText(), "0\tTITLE\tAl\n0\tPERFORMER\tAr\n1\tTITLE\tOne\n1\tPERFORMER\tMe\n");
  EXPECT_FALSE(named->HiddenTrackRange(start, length));
  EXPECT_EQ(named->ImageError(), "");

  qltest::WriteFile(dir / "broken.cue", "FILE \"nothing.bin\" BINARY\nTRACK 01 AUDIO\n");
  Offer(dir / "broken.cue");
  TMMCDReader b;
  b.SetDeviceID(IndexOf(b, dir / "broken.cue"));
  EXPECT_FALSE(b.ReadTOC());
  EXPECT_EQ(b.ImageError(), "broken.cue: line 1: FILE \"nothing.bin\": file not found");
}
