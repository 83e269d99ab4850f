// The CD library through its entry points, on generated images.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "CdImage.h"
#include "CddaLib.h"
#include "TestFiles.h"

using namespace qltest;

namespace {

constexpr uint32_t kSector = CDDA_SECTOR_BYTES;

class Cdda : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("QL_CD_IMAGES"); }
  void TearDown() override {
    for (uint32_t h : handles_) lib_.cdda_Done(&h);
    unsetenv("QL_CD_IMAGES");
  }

  // A handle that sees the given images through $QL_CD_IMAGES.
  uint32_t Open(const std::string& images) {
    setenv("QL_CD_IMAGES", images.c_str(), 1);
    uint32_t h = lib_.Init();
    handles_.push_back(h);
    return h;
  }

  int IndexOf(uint32_t h, const std::string& path) {
    char name[256];
    for (uint32_t i = 0; i < lib_.cdda_GetNumDevices(h); ++i)
      if (lib_.cdda_GetDeviceName(h, i, name, sizeof name) == 0 && path == name)
        return static_cast<int>(i);
    return -1;
  }

  // A handle with the image's drive selected.
  uint32_t Select(const std::string& image) {
    uint32_t h = Open(image);
    int index = IndexOf(h, image);
    EXPECT_GE(index, 0);
    EXPECT_EQ(lib_.cdda_SetDeviceID(h, static_cast<uint32_t>(index)), CDDA_OK);
    return h;
  }

  // Reads sectors [first, first + count) with the given method in blocks of `blocks`.
  std::string Extract(uint32_t h, const std::string& mode, uint32_t first, uint32_t count,
                      uint32_t blocks = 10) {
    std::string out;
    std::vector<char> buf(static_cast<size_t>(blocks) * kSector);
    if (mode == "normal") {
      for (uint32_t s = first; s < first + count; s += blocks) {
        uint32_t n = std::min(blocks, first + count - s);
        EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), s, n), CDDA_OK);
        out.append(buf.data(), static_cast<size_t>(n) * kSector);
      }
      return out;
    }
    bool sync = mode == "sync";
    EXPECT_EQ((sync ? lib_.cdda_InitSyncCopy : lib_.cdda_InitBurstCopy)(h, blocks, first, count),
              CDDA_OK);
    for (uint32_t left = count; left > 0;) {
      uint32_t n = std::min(blocks, left);
      EXPECT_EQ((sync ? lib_.cdda_ReadAudioSync : lib_.cdda_ReadAudioBurst)(h, buf.data()),
                CDDA_OK);
      out.append(buf.data(), static_cast<size_t>(n) * kSector);
      left -= n;
    }
    // Past the end of the range nothing more comes.
    EXPECT_EQ((sync ? lib_.cdda_ReadAudioSync : lib_.cdda_ReadAudioBurst)(h, buf.data()),
              CDDA_E_RANGE);
    EXPECT_EQ((sync ? lib_.cdda_DoneSyncCopy : lib_.cdda_DoneBurstCopy)(h), CDDA_OK);
    return out;
  }

  CddaLib lib_;
  TempDir dir_;
  std::vector<uint32_t> handles_;
};

// Several tracks: whole blocks, a length that is no multiple of 10, a one-sector track.
std::vector<CdImageTrack> MixedTracks() {
  return {{300}, {157}, {1}, {75}, {233}};
}

TEST_F(Cdda, VersionAndInit) {
  EXPECT_EQ(lib_.cdda_Version(), CDDA_VERSION);
  uint32_t version = 0x1234, flags = 0;
  EXPECT_EQ(lib_.cdda_Init(&version, &flags), 0u);
  EXPECT_EQ(version, CDDA_E_VERSION);
  EXPECT_FALSE(lib_.ErrorText(version).empty());
  uint32_t h = lib_.Init();
  EXPECT_NE(h, 0u);
  EXPECT_EQ(lib_.cdda_Done(&h), CDDA_OK);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(lib_.cdda_Done(&h), CDDA_E_HANDLE);
  EXPECT_EQ(lib_.cdda_GetDeviceReady(12345), CDDA_E_HANDLE);
}

TEST_F(Cdda, ImagesAreDrivesWithLettersFromD) {
  auto a = WriteCdImage(dir_.path(), "a", {{75}, {75}});
  auto b = WriteCdImage(dir_.path(), "b", {{75}});
  uint32_t base = lib_.cdda_GetNumDevices(Open(""));
  uint32_t h = Open(a.cue + ":" + dir_ / "missing.cue" + ":" + b.cue);
  ASSERT_EQ(lib_.cdda_GetNumDevices(h), base + 3);
  int ia = IndexOf(h, a.cue);
  EXPECT_EQ(IndexOf(h, dir_ / "missing.cue"), ia + 1);
  EXPECT_EQ(IndexOf(h, b.cue), ia + 2);
  for (uint32_t i = 0; i < base + 3; ++i) {
    char letter = 0;
    ASSERT_EQ(lib_.cdda_GetDriveLetter(h, i, &letter), CDDA_OK);
    EXPECT_EQ(letter, static_cast<char>('D' + i));
  }
  char name[256], letter;
  EXPECT_EQ(lib_.cdda_GetDeviceName(h, base + 3, name, sizeof name), CDDA_E_DEVICE);
  EXPECT_EQ(lib_.cdda_GetDriveLetter(h, base + 3, &letter), CDDA_E_DEVICE);
  EXPECT_EQ(lib_.cdda_SetDeviceID(h, base + 3), CDDA_E_DEVICE);
  EXPECT_EQ(lib_.cdda_SetDeviceType(h, 0, 0), CDDA_E_NODEVICE);
  EXPECT_EQ(lib_.cdda_GetDeviceReady(h), CDDA_E_NODEVICE);
  EXPECT_EQ(lib_.cdda_GetDeviceStatus(h), CDDA_STATUS_NOT_READY);
  // A short buffer gets a cut, terminated name.
  ASSERT_EQ(lib_.cdda_GetDeviceName(h, static_cast<uint32_t>(ia), name, 5), CDDA_OK);
  EXPECT_EQ(std::string(name), a.cue.substr(0, 4));
}

TEST_F(Cdda, TableOfContents) {
  auto img = WriteCdImage(dir_.path(), "mixed", MixedTracks());
  uint32_t h = Select(img.cue);
  EXPECT_EQ(lib_.cdda_SetDeviceType(h, 23, 0), CDDA_OK);
  EXPECT_EQ(lib_.cdda_SetDeviceType(h, 24, 0), CDDA_E_PARAM);
  EXPECT_EQ(lib_.cdda_OpenDevice(h, CDDA_OPEN_CONTROL), CDDA_OK);
  EXPECT_EQ(lib_.cdda_GetDeviceReady(h), CDDA_OK);
  EXPECT_EQ(lib_.cdda_GetDeviceStatus(h), CDDA_STATUS_STOPPED);
  static_assert(sizeof(CDDA_TRACK) == 21 && sizeof(CDDA_TOC) == 4 + 21 * 100);
  CDDA_TOC toc;
  ASSERT_EQ(lib_.cdda_ReadTOC(h, &toc), CDDA_OK);
  ASSERT_EQ(toc.dwNumTracks, 5u);
  for (uint32_t i = 0; i < 5; ++i) {
    const CDDA_TRACK& t = toc.Tracks[i];
    EXPECT_EQ(+t.dwTrack, i + 1);
    EXPECT_EQ(MSFToFrames(t.dwStartMSF), img.starts[i] + 150) << "track " << i + 1;
    EXPECT_EQ(MSFToFrames(t.dwLengthMSF), img.lengths[i]) << "track " << i + 1;
    EXPECT_NE(+t.fAudio, 0u);
    EXPECT_EQ(t.bAttrib & CDDA_ATTR_DATA, 0u);
  }
  // Packed MSF: minute in the low byte, then second, then frame.
  EXPECT_EQ(+toc.Tracks[0].dwStartMSF, (2u << 8));
  EXPECT_EQ(+toc.Tracks[1].dwStartMSF, (6u << 8) | (0u << 16));  // 150 + 300 = 6 s
  EXPECT_EQ(+toc.Tracks[2].dwStartMSF, (8u << 8) | (7u << 16));  // 607 = 8 s 7 f
}

TEST_F(Cdda, NinetyNineTracks) {
  std::vector<CdImageTrack> tracks(99, CdImageTrack{4});
  tracks[98].sectors = 13;
  auto img = WriteCdImage(dir_.path(), "many", tracks);
  uint32_t h = Select(img.cue);
  CDDA_TOC toc;
  ASSERT_EQ(lib_.cdda_ReadTOC(h, &toc), CDDA_OK);
  ASSERT_EQ(toc.dwNumTracks, 99u);
  EXPECT_EQ(+toc.Tracks[98].dwTrack, 99u);
  EXPECT_EQ(MSFToFrames(toc.Tracks[98].dwStartMSF), 150u + 98 * 4);
  EXPECT_EQ(MSFToFrames(toc.Tracks[98].dwLengthMSF), 13u);
  std::string bin = ReadFile(img.bin);
  EXPECT_EQ(Extract(h, "burst", 98 * 4, 13), bin.substr(98 * 4 * kSector, 13 * kSector));
}

// Every track of the image in every read method, byte for byte against the .bin, with the
// table of contents giving the ranges as the CD reader computes them.
TEST_F(Cdda, EveryMethodReadsTheImageBytes) {
  auto img = WriteCdImage(dir_.path(), "mixed", MixedTracks());
  std::string bin = ReadFile(img.bin);
  uint32_t h = Select(img.cue);
  ASSERT_EQ(lib_.cdda_OpenDevice(h, CDDA_OPEN_AUDIO), CDDA_OK);
  CDDA_TOC toc;
  ASSERT_EQ(lib_.cdda_ReadTOC(h, &toc), CDDA_OK);
  for (const char* mode : {"normal", "burst", "sync"}) {
    for (uint32_t i = 0; i < toc.dwNumTracks; ++i) {
      uint32_t first = MSFToFrames(toc.Tracks[i].dwStartMSF) - 150;
      uint32_t count = MSFToFrames(toc.Tracks[i].dwLengthMSF);
      std::string got = Extract(h, mode, first, count);
      ASSERT_EQ(got.size(), static_cast<size_t>(count) * kSector) << mode << " track " << i + 1;
      EXPECT_TRUE(got == bin.substr(static_cast<size_t>(first) * kSector, got.size()))
          << mode << " track " << i + 1;
    }
    // The whole disc in one range, with blocks of one sector and of more than the disc.
    EXPECT_TRUE(Extract(h, mode, 0, img.sectors, 1) == bin) << mode;
    EXPECT_TRUE(Extract(h, mode, 0, img.sectors, 1000) == bin) << mode;
  }
  EXPECT_EQ(lib_.cdda_CloseDevice(h), CDDA_OK);
}

TEST_F(Cdda, ReadErrors) {
  auto img = WriteCdImage(dir_.path(), "short", {{20}});
  uint32_t h = Select(img.cue);
  std::vector<char> buf(30 * kSector);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 15, 6), CDDA_E_RANGE);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 15, 5), CDDA_OK);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, nullptr, 0, 1), CDDA_E_PARAM);
  EXPECT_EQ(lib_.cdda_InitBurstCopy(h, 10, 0, 21), CDDA_E_RANGE);
  EXPECT_EQ(lib_.cdda_InitSyncCopy(h, 0, 0, 20), CDDA_E_PARAM);
  EXPECT_EQ(lib_.cdda_ReadAudioBurst(h, buf.data()), CDDA_E_NOCOPY);
  EXPECT_EQ(lib_.cdda_DoneSyncCopy(h), CDDA_E_NOCOPY);
  // A burst copy is not a sync copy.
  ASSERT_EQ(lib_.cdda_InitBurstCopy(h, 10, 0, 20), CDDA_OK);
  EXPECT_EQ(lib_.cdda_ReadAudioSync(h, buf.data()), CDDA_E_NOCOPY);
  EXPECT_EQ(lib_.cdda_LoadMedia(h, 0), CDDA_E_BUSY);
  EXPECT_EQ(lib_.cdda_DoneBurstCopy(h), CDDA_OK);
}

// Data tracks are never read as audio, by any method, whatever range touches them; the audio
// around them reads as it is. (Sync on a data track used to run for ever.)
TEST_F(Cdda, DataTracksAreNeverReadAsAudio) {
  auto img = WriteCdImage(dir_.path(), "mixed", {DataTrack(50), {60}, {40}, DataTrack(30)}, true);
  const std::string bin = ReadFile(img.bin);
  for (const std::string& image : {img.cue, img.toc}) {
    SCOPED_TRACE(image);
    uint32_t h = Select(image);
    CDDA_TOC toc;
    ASSERT_EQ(lib_.cdda_ReadTOC(h, &toc), CDDA_OK);
    ASSERT_EQ(toc.dwNumTracks, 4u);
    for (int i = 0; i < 4; ++i) {
      const bool data = i == 0 || i == 3;
      EXPECT_EQ(uint32_t{toc.Tracks[i].fAudio}, data ? 0u : 1u) << i;
      EXPECT_EQ((toc.Tracks[i].bAttrib & CDDA_ATTR_DATA) != 0, data) << i;
    }
    std::vector<char> buf(20 * kSector);
    EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 0, 10), CDDA_E_DATA);
    EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 45, 10), CDDA_E_DATA);   // the data track's end
    EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 145, 10), CDDA_E_DATA);  // into the last one
    for (auto init : {lib_.cdda_InitBurstCopy, lib_.cdda_InitSyncCopy}) {
      EXPECT_EQ(init(h, 10, 0, 50), CDDA_E_DATA);
      EXPECT_EQ(init(h, 10, 0, img.sectors), CDDA_E_DATA);
      EXPECT_EQ(init(h, 10, 149, 2), CDDA_E_DATA);
    }
    EXPECT_TRUE(Extract(h, "sync", 50, 100) == bin.substr(50 * kSector, 100 * kSector));
    EXPECT_TRUE(Extract(h, "burst", 50, 100) == bin.substr(50 * kSector, 100 * kSector));
  }
  std::vector<char> text(128);
  ASSERT_EQ(lib_.cdda_GetErrorText(CDDA_E_DATA, text.data(), 128), CDDA_OK);
  EXPECT_STREQ(text.data(), "The sectors belong to a data track: it holds no audio");
}

// An image file that loses its end while it is read (libcdio reports a read that finds only
// part of its sectors as a success, the rest of the buffer left as it was): the sectors past
// the end are a read error in every method, never stale bytes, and a copy says where it
// stopped.
TEST_F(Cdda, SectorsPastTheEndOfACutFileAreReadErrors) {
  auto img = WriteCdImage(dir_.path(), "cut", {{60}, {60}});
  const std::string bin = ReadFile(img.bin);
  uint32_t h = Select(img.cue);
  ASSERT_EQ(lib_.cdda_OpenDevice(h, CDDA_OPEN_AUDIO), CDDA_OK);
  std::vector<char> buf(30 * kSector, 0x55);
  ASSERT_EQ(truncate(img.bin.c_str(), 90 * kSector), 0);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 80, 20), CDDA_E_READ);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 80, 10), CDDA_OK);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 90, 1), CDDA_E_READ);

  CDDA_COPYSTATE st{};
  EXPECT_EQ(lib_.cdda_GetCopyState(h, &st), CDDA_E_NOCOPY);
  ASSERT_EQ(lib_.cdda_InitBurstCopy(h, 25, 60, 60), CDDA_OK);
  ASSERT_EQ(lib_.cdda_ReadAudioBurst(h, buf.data()), CDDA_OK);  // 60..84
  EXPECT_EQ(lib_.cdda_ReadAudioBurst(h, buf.data()), CDDA_E_READ);
  ASSERT_EQ(lib_.cdda_GetCopyState(h, &st), CDDA_OK);
  EXPECT_EQ(st.dwNextSector, 90u);
  EXPECT_EQ(st.dwSkipped, 1u);
  // The sectors before the bad one are in the buffer.
  EXPECT_TRUE(std::string(buf.data(), 5 * kSector) == bin.substr(85 * kSector, 5 * kSector));
  EXPECT_EQ(lib_.cdda_ReadAudioBurst(h, buf.data()), CDDA_E_READ);  // and it stays there
  ASSERT_EQ(lib_.cdda_DoneBurstCopy(h), CDDA_OK);

  ASSERT_EQ(lib_.cdda_InitSyncCopy(h, 10, 60, 60), CDDA_OK);
  uint32_t rc = CDDA_OK;
  std::string got;
  for (int i = 0; i < 6 && rc == CDDA_OK; ++i) {
    rc = lib_.cdda_ReadAudioSync(h, buf.data());
    ASSERT_EQ(lib_.cdda_GetCopyState(h, &st), CDDA_OK);
    got.append(buf.data(), (st.dwNextSector - 60 - got.size() / kSector) * kSector);
  }
  EXPECT_TRUE(rc == CDDA_E_SKIPPED || rc == CDDA_E_READ) << rc;
  EXPECT_LE(st.dwNextSector, 90u);
  EXPECT_EQ(st.dwSkipped, 1u);
  EXPECT_TRUE(got == bin.substr(60 * kSector, got.size()));
  ASSERT_EQ(lib_.cdda_DoneSyncCopy(h), CDDA_OK);
}

TEST_F(Cdda, DriveWithoutDisc) {
  std::string missing = dir_ / "nodisc.cue";
  uint32_t h = Select(missing);
  EXPECT_EQ(lib_.cdda_OpenDevice(h, CDDA_OPEN_CONTROL), CDDA_OK);
  EXPECT_EQ(lib_.cdda_GetDeviceReady(h), CDDA_E_NOTREADY);
  EXPECT_EQ(lib_.cdda_GetDeviceStatus(h), CDDA_STATUS_NOT_READY);
  CDDA_TOC toc;
  EXPECT_EQ(lib_.cdda_ReadTOC(h, &toc), CDDA_E_NOTREADY);
  std::vector<char> buf(kSector);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 0, 1), CDDA_E_NOTREADY);
  EXPECT_EQ(lib_.cdda_InitSyncCopy(h, 10, 0, 1), CDDA_E_NOTREADY);
  EXPECT_EQ(lib_.cdda_OpenDevice(h, CDDA_OPEN_AUDIO), CDDA_E_NOTREADY);
  EXPECT_EQ(lib_.cdda_OpenDevice(h, 2), CDDA_E_PARAM);
  // The disc "arrives": the same drive is ready now.
  auto img = WriteCdImage(dir_.path(), "nodisc", {{30}});
  EXPECT_EQ(lib_.cdda_GetDeviceReady(h), CDDA_OK);
  EXPECT_EQ(lib_.cdda_ReadTOC(h, &toc), CDDA_OK);
  EXPECT_EQ(toc.dwNumTracks, 1u);
}

TEST_F(Cdda, TrayLockAndSpeed) {
  auto img = WriteCdImage(dir_.path(), "tray", {{30}});
  uint32_t h = Select(img.cue);
  ASSERT_EQ(lib_.cdda_OpenDevice(h, CDDA_OPEN_CONTROL), CDDA_OK);
  EXPECT_EQ(lib_.cdda_LockMedia(h, 1), CDDA_OK);
  EXPECT_EQ(lib_.cdda_LoadMedia(h, 0), CDDA_E_LOCKED);
  EXPECT_EQ(lib_.cdda_GetDeviceReady(h), CDDA_OK);
  EXPECT_EQ(lib_.cdda_LockMedia(h, 0), CDDA_OK);
  EXPECT_EQ(lib_.cdda_LoadMedia(h, 0), CDDA_OK);
  EXPECT_EQ(lib_.cdda_GetDeviceStatus(h), CDDA_STATUS_OPEN);
  EXPECT_EQ(lib_.cdda_GetDeviceReady(h), CDDA_E_DOOROPEN);
  std::vector<char> buf(kSector);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 0, 1), CDDA_E_DOOROPEN);
  EXPECT_EQ(lib_.cdda_LoadMedia(h, 1), CDDA_OK);
  EXPECT_EQ(lib_.cdda_GetDeviceStatus(h), CDDA_STATUS_STOPPED);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 0, 1), CDDA_OK);

  EXPECT_EQ(lib_.cdda_SetSpeed(h, CDDA_SPEED_MAX), CDDA_OK);
  EXPECT_EQ(lib_.cdda_SetSpeed(h, 8), CDDA_OK);
  EXPECT_EQ(lib_.cdda_SetSpeed(h, 0), CDDA_E_PARAM);
  // An image has no analog output: nothing plays, so stopping or pausing has nothing to do.
  EXPECT_EQ(lib_.cdda_PlayAudio(h, 0, 10), CDDA_E_NOTSUPPORTED);
  EXPECT_EQ(lib_.cdda_StopAudio(h), CDDA_OK);
  EXPECT_EQ(lib_.cdda_PauseAudio(h), CDDA_OK);
  EXPECT_EQ(lib_.cdda_ResumeAudio(h), CDDA_OK);
}

TEST_F(Cdda, CDTextFromTheCueSheet) {
  auto img = WriteCdImage(dir_.path(), "text", {{30, "First Song", "Somebody"}, {30, "Second", ""}},
                          false, "The Album", "The Band");
  uint32_t h = Select(img.cue);
  CDDA_CDTEXT text;
  ASSERT_EQ(lib_.cdda_ReadCDText(h, &text), CDDA_OK);
  ASSERT_NE(text.lpText, nullptr);
  std::string s(text.lpText, text.dwSize);
  EXPECT_NE(s.find("0\tTITLE\tThe Album\n"), std::string::npos) << s;
  EXPECT_NE(s.find("0\tPERFORMER\tThe Band\n"), std::string::npos) << s;
  EXPECT_NE(s.find("1\tTITLE\tFirst Song\n"), std::string::npos) << s;
  EXPECT_NE(s.find("1\tPERFORMER\tSomebody\n"), std::string::npos) << s;
  EXPECT_NE(s.find("2\tTITLE\tSecond\n"), std::string::npos) << s;
  EXPECT_EQ(text.dwFields, 5u);
  EXPECT_EQ(lib_.cdda_FreeCDText(h, text.lpText), CDDA_OK);

  auto plain = WriteCdImage(dir_.path(), "plain", {{30}});
  h = Select(plain.cue);
  ASSERT_EQ(lib_.cdda_ReadCDText(h, &text), CDDA_OK);
  EXPECT_EQ(text.dwFields, 0u);
  EXPECT_EQ(lib_.cdda_FreeCDText(h, text.lpText), CDDA_OK);
}

TEST_F(Cdda, AddedImagesJoinEveryHandle) {
  auto img = WriteCdImage(dir_.path(), "added", {{40}, {41}});
  uint32_t h = Open("");
  uint32_t before = lib_.cdda_GetNumDevices(h);
  EXPECT_EQ(lib_.cdda_AddImage((dir_ / "none.cue").c_str()), CDDA_E_NOFILE);
  EXPECT_EQ(lib_.cdda_AddImage(nullptr), CDDA_E_PARAM);
  ASSERT_EQ(lib_.cdda_AddImage(img.cue.c_str()), CDDA_OK);
  ASSERT_EQ(lib_.cdda_AddImage(img.cue.c_str()), CDDA_OK);  // listed once
  EXPECT_EQ(lib_.cdda_GetNumDevices(h), before + 1);
  EXPECT_EQ(IndexOf(h, img.cue), static_cast<int>(before));
  // A relative path is taken from the current folder.
  char* cwd = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  EXPECT_EQ(lib_.cdda_AddImage("added.cue"), CDDA_OK);
  ASSERT_EQ(chdir(cwd), 0);
  std::free(cwd);
  EXPECT_EQ(lib_.cdda_GetNumDevices(h), before + 1);
  uint32_t h2 = Select(img.cue);
  CDDA_TOC toc;
  ASSERT_EQ(lib_.cdda_ReadTOC(h2, &toc), CDDA_OK);
  EXPECT_EQ(toc.dwNumTracks, 2u);
}

// A cdrdao table of contents names its .bin relative to its own folder, whatever the
// current folder is.
TEST_F(Cdda, CdrdaoTocImage) {
  auto img = WriteCdImage(dir_.path(), "cdrdao", {{50}, {37}, {1}}, true);
  std::string bin = ReadFile(img.bin);
  uint32_t h = Select(img.toc);
  CDDA_TOC toc;
  ASSERT_EQ(lib_.cdda_ReadTOC(h, &toc), CDDA_OK);
  ASSERT_EQ(toc.dwNumTracks, 3u);
  EXPECT_EQ(MSFToFrames(toc.Tracks[1].dwStartMSF), 200u);
  EXPECT_EQ(MSFToFrames(toc.Tracks[2].dwLengthMSF), 1u);
  EXPECT_TRUE(Extract(h, "sync", 0, 88) == bin);
}

TEST_F(Cdda, NeroImage) {
  auto img = WriteCdImage(dir_.path(), "nero", {{64}, {157}, {1}, {30}});
  WriteNrgImage(img, dir_.path(), "nero");
  std::string bin = ReadFile(img.bin);
  uint32_t h = Select(img.nrg);
  CDDA_TOC toc;
  ASSERT_EQ(lib_.cdda_ReadTOC(h, &toc), CDDA_OK);
  ASSERT_EQ(toc.dwNumTracks, 4u);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(MSFToFrames(toc.Tracks[i].dwStartMSF), img.starts[i] + 150);
    EXPECT_EQ(MSFToFrames(toc.Tracks[i].dwLengthMSF), img.lengths[i]);
  }
  for (const char* mode : {"normal", "burst", "sync"})
    EXPECT_TRUE(Extract(h, mode, 0, img.sectors) == bin) << mode;
}

TEST_F(Cdda, ErrorTexts) {
  for (uint32_t code = 0; code <= CDDA_E_LAST; ++code)
    EXPECT_FALSE(lib_.ErrorText(code).empty()) << code;
  char buf[256] = "x";
  EXPECT_NE(lib_.cdda_GetErrorText(CDDA_E_LAST + 1, buf, sizeof buf), 0u);
  EXPECT_EQ(buf[0], 0);
  char small[8];
  ASSERT_EQ(lib_.cdda_GetErrorText(CDDA_E_READ, small, sizeof small), CDDA_OK);
  EXPECT_EQ(std::string(small), lib_.ErrorText(CDDA_E_READ).substr(0, 7));
}

// Two handles reading the same image at once, each with its own copy running.
TEST_F(Cdda, HandlesReadInParallel) {
  auto img = WriteCdImage(dir_.path(), "par", {{200}, {150}});
  std::string bin = ReadFile(img.bin);
  uint32_t a = Select(img.cue), b = Select(img.cue);
  std::string ra, rb;
  std::thread t([&] { ra = Extract(a, "sync", 0, 350, 7); });
  rb = Extract(b, "burst", 0, 350, 13);
  for (int i = 0; i < 20; ++i) lib_.cdda_GetDeviceStatus(a);
  t.join();
  EXPECT_TRUE(ra == bin);
  EXPECT_TRUE(rb == bin);
}

// The reference ripper reads the same image to the same samples as the sync copy.
TEST_F(Cdda, SameBytesAsTheReferenceRipper) {
  if (qltest::Run("command -v cd-paranoia >/dev/null") != 0) GTEST_SKIP() << "cd-paranoia missing";
  auto img = WriteCdImage(dir_.path(), "ref", {{120}, {77}});
  uint32_t h = Select(img.cue);
  std::string out = dir_ / "ref";
  ASSERT_EQ(qltest::Run("mkdir -p " + out + " && cd " + out + " && cd-paranoia -q -d " + img.cue +
                        " -B >/dev/null 2>&1"),
            0);
  for (uint32_t i = 0; i < 2; ++i) {
    std::string wav = ReadFile(out + "/track0" + std::to_string(i + 1) + ".cdda.wav");
    ASSERT_GT(wav.size(), 44u);
    std::string mine = Extract(h, "sync", img.starts[i], img.lengths[i]);
    EXPECT_TRUE(wav.substr(44) == mine) << "track " << i + 1;
  }
}

}  // namespace
