#include <gtest/gtest.h>

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

TEST_F(ReaderFixture, ReadFailureCarriesTheLibrarysText) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {20});
  auto r = On(img);
  r->SetRange(Packed(150 + 10), Packed(40));  // runs past the end of the disc
  r->Opened();
  r->Started();
  std::vector<char> buf(40 * 2352);
  try {
    r->ReadData(buf.data(), static_cast<int>(buf.size()));
    ADD_FAILURE() << "read past the end of the disc";
  } catch (const EMMCDDAError& e) {
    EXPECT_NE(std::string(e.what()), "");
  }
  // After a stop nothing is read any more.
  r->Stopped();
  EXPECT_EQ(r->ReadData(buf.data(), 2352), 0);
  r->Closed();
}
