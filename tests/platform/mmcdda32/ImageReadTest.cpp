// Images read by the CD library from the files their sheets name: byte order, wave files made
// by other programs, several files, images that cannot be used, and the read offset.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "CdImage.h"
#include "CddaLib.h"
#include "TestFiles.h"

using namespace qltest;

namespace {

constexpr uint32_t kSector = CDDA_SECTOR_BYTES;

class ImageRead : public ::testing::Test {
 protected:
  void SetUp() override {
    // 300 sectors of distinct audio: track 1's sectors of a generated disc.
    std::vector<uint8_t> sector(kSector);
    for (uint32_t s = 0; s < 300; ++s) {
      CdImageSector(1 + s / 100, s, sector.data());
      audio_.append(reinterpret_cast<char*>(sector.data()), kSector);
    }
  }
  void TearDown() override {
    for (uint32_t h : handles_) lib_.cdda_Done(&h);
    unsetenv("QL_CD_IMAGES");
  }

  // A handle with the sheet's drive selected.
  uint32_t Select(const std::string& sheet) {
    setenv("QL_CD_IMAGES", sheet.c_str(), 1);
    uint32_t h = lib_.Init();
    handles_.push_back(h);
    char name[512];
    for (uint32_t i = 0; i < lib_.cdda_GetNumDevices(h); ++i)
      if (lib_.cdda_GetDeviceName(h, i, name, sizeof name) == 0 && sheet == name) {
        EXPECT_EQ(lib_.cdda_SetDeviceID(h, i), CDDA_OK);
      }
    return h;
  }

  std::string ImageError(uint32_t h) {
    char buf[512];
    EXPECT_EQ(lib_.cdda_GetImageError(h, buf, sizeof buf), CDDA_OK);
    return buf;
  }

  // Sectors [first, first + count) in one of the three read modes, blocks of `blocks`.
  std::string Read(uint32_t h, const std::string& mode, uint32_t first, uint32_t count,
                   uint32_t blocks = 7) {
    std::string out;
    std::vector<char> buf(static_cast<size_t>(blocks) * kSector);
    if (mode == "normal") {
      for (uint32_t s = first; s < first + count; s += blocks) {
        uint32_t n = std::min(blocks, first + count - s);
        EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), s, n), CDDA_OK) << s;
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
    EXPECT_EQ((sync ? lib_.cdda_DoneSyncCopy : lib_.cdda_DoneBurstCopy)(h), CDDA_OK);
    return out;
  }

  CDDA_TOC Toc(uint32_t h) {
    CDDA_TOC toc{};
    EXPECT_EQ(lib_.cdda_ReadTOC(h, &toc), CDDA_OK) << ImageError(h);
    return toc;
  }

  static std::string Swapped(std::string s) {
    for (size_t i = 0; i + 1 < s.size(); i += 2) std::swap(s[i], s[i + 1]);
    return s;
  }

  CddaLib lib_;
  TempDir dir_;
  std::vector<uint32_t> handles_;
  std::string audio_;
};

const char* const kModes[] = {"normal", "burst", "sync"};

// Big-endian sources (MOTOROLA in a cue, raw files of a .toc) come out as the disc's
// little-endian samples; a .bin named otherwise than the sheet is the one read.
TEST_F(ImageRead, MotorolaAndCdrdaoRawFilesAreByteSwapped) {
  WriteFile(dir_ / "be.raw", Swapped(audio_));
  WriteFile(dir_ / "disc.bin", std::string(audio_.size(), '\x55'));  // a decoy beside the cue
  WriteFile(dir_ / "disc.cue",
            "FILE \"be.raw\" MOTOROLA\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
            "TRACK 02 AUDIO\nINDEX 01 00:01:25\n");
  WriteFile(dir_ / "disc.toc",
            "CD_DA\nTRACK AUDIO\nFILE \"be.raw\" 0 00:01:25\n"
            "TRACK AUDIO\nAUDIOFILE \"be.raw\" 00:01:25\n");
  for (const char* sheet : {"disc.cue", "disc.toc"}) {
    uint32_t h = Select(dir_ / sheet);
    CDDA_TOC toc = Toc(h);
    ASSERT_EQ(toc.dwNumTracks, 2u) << sheet;
    EXPECT_EQ(MSFToFrames(toc.Tracks[1].dwStartMSF), 250u);
    for (const char* mode : kModes)
      EXPECT_TRUE(Read(h, mode, 0, 300) == audio_) << sheet << " " << mode;
  }
}

// Wave files as sox and ffmpeg write them (ffmpeg puts a LIST chunk before the data), one
// per track, with the gaps in the previous file: every byte as the raw audio holds it.
TEST_F(ImageRead, WaveFilesFromOtherPrograms) {
  WriteFile(dir_ / "all.raw", audio_);
  const std::string raw = "-t raw -r 44100 -e signed -b 16 -c 2 -L";
  std::string cut = dir_ / "all.raw";
  int sox = qltest::Run("sox " + raw + " " + cut + " " + (dir_ / "01.wav") +
                        " trim 0s 58800s 2>/dev/null");
  int ffmpeg = qltest::Run("ffmpeg -v quiet -f s16le -ar 44100 -ac 2 -i " + cut +
                           " -af atrim=start_sample=58800 " + (dir_ / "02.wav") + " 2>/dev/null");
  if (sox != 0 || ffmpeg != 0) GTEST_SKIP() << "sox or ffmpeg missing";
  WriteFile(dir_ / "w.cue",
            "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 00 00:01:20\n"
            "FILE \"02.wav\" WAVE\n    INDEX 01 00:00:00\n");
  uint32_t h = Select(dir_ / "w.cue");
  CDDA_TOC toc = Toc(h);
  ASSERT_EQ(toc.dwNumTracks, 2u);
  EXPECT_EQ(MSFToFrames(toc.Tracks[1].dwStartMSF), 150u + 100);
  for (const char* mode : kModes) EXPECT_TRUE(Read(h, mode, 0, 300) == audio_) << mode;
  // A wave of another format is refused, naming the file and the line.
  qltest::Run("sox " + raw + " " + cut + " -r 48000 " + (dir_ / "48k.wav") + " 2>/dev/null");
  WriteFile(dir_ / "48.cue", "REM\nFILE \"48k.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
  h = Select(dir_ / "48.cue");
  EXPECT_EQ(lib_.cdda_GetDeviceReady(h), CDDA_E_IMAGE);
  EXPECT_EQ(ImageError(h),
            "48.cue: line 2: FILE \"48k.wav\": holds no 16-bit stereo 44100 Hz PCM (2 channels, "
            "48000 Hz, 16 bits, format 1)");
}

// A sheet that cannot be used is no readable disc, with its reason; nothing is read from it.
TEST_F(ImageRead, UnusableSheetsSayWhy) {
  WriteFile(dir_ / "a.bin", audio_);
  WriteFile(dir_ / "bad.cue",
            "FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
            "TRACK 02 AUDIO\nINDEX 01 09:00:00\n");
  uint32_t h = Select(dir_ / "bad.cue");
  EXPECT_EQ(lib_.cdda_GetDeviceReady(h), CDDA_E_IMAGE);
  CDDA_TOC toc;
  EXPECT_EQ(lib_.cdda_ReadTOC(h, &toc), CDDA_E_IMAGE);
  std::vector<char> buf(kSector);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 0, 1), CDDA_E_IMAGE);
  EXPECT_EQ(ImageError(h), "bad.cue: line 5: INDEX lies beyond the end of the FILE");
  EXPECT_EQ(lib_.ErrorText(CDDA_E_IMAGE), "The image cannot be used");
  // Mended, the same drive reads.
  WriteFile(dir_ / "bad.cue", "FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
  EXPECT_EQ(lib_.cdda_GetDeviceReady(h), CDDA_OK);
  EXPECT_EQ(ImageError(h), "");
}

// A disc image written N samples late, read with an offset of N: the original samples in every
// mode and block size, zeros where the shifted range leaves the disc.
TEST_F(ImageRead, ReadOffsetGivesTheOriginalSamples) {
  for (int n : {1, 100, 588, 1000, -30, -700}) {
    SCOPED_TRACE(n);
    const size_t shift = static_cast<size_t>(std::abs(n)) * 4;
    // Late: n samples of zeros in front. Early (negative): the first samples lost.
    std::string image = n > 0 ? std::string(shift, '\0') + audio_.substr(0, audio_.size() - shift)
                              : audio_.substr(shift) + std::string(shift, '\0');
    WriteFile(dir_ / "late.bin", image);
    WriteFile(dir_ / "late.cue",
              "FILE \"late.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
              "TRACK 02 AUDIO\nINDEX 01 00:02:00\n");
    uint32_t h = Select(dir_ / "late.cue");
    ASSERT_EQ(lib_.cdda_SetReadOffset(h, n), CDDA_OK);
    std::string want = n > 0 ? audio_.substr(0, audio_.size() - shift) + std::string(shift, '\0')
                             : std::string(shift, '\0') + audio_.substr(shift);
    for (const char* mode : kModes)
      for (uint32_t blocks : {1u, 7u, 300u}) {
        EXPECT_TRUE(Read(h, mode, 0, 300, blocks) == want) << mode << " " << blocks;
        // Track 2 alone, as the reader asks for it.
        EXPECT_TRUE(Read(h, mode, 150, 150, blocks) == want.substr(150 * kSector))
            << mode << " " << blocks;
      }
  }
}

TEST_F(ImageRead, ReadOffsetLimitsAndDataTracks) {
  auto img = WriteCdImage(dir_.path(), "mixed", {{50}, DataTrack(40)});
  uint32_t h = Select(img.cue);
  EXPECT_EQ(lib_.cdda_SetReadOffset(h, CDDA_MAX_OFFSET + 1), CDDA_E_PARAM);
  // A range that the offset moves into the data track is refused.
  ASSERT_EQ(lib_.cdda_SetReadOffset(h, 588), CDDA_OK);
  std::vector<char> buf(50 * kSector);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 49, 1), CDDA_E_DATA);
  EXPECT_EQ(lib_.cdda_InitBurstCopy(h, 10, 0, 50), CDDA_E_DATA);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 0, 48), CDDA_OK);
  // Not while a copy runs.
  ASSERT_EQ(lib_.cdda_SetReadOffset(h, 0), CDDA_OK);
  ASSERT_EQ(lib_.cdda_InitBurstCopy(h, 10, 0, 50), CDDA_OK);
  EXPECT_EQ(lib_.cdda_SetReadOffset(h, 5), CDDA_E_BUSY);
  EXPECT_EQ(lib_.cdda_DoneBurstCopy(h), CDDA_OK);
  // The audio track ends where the data track's two-second pregap begins when the cue says so.
  WriteFile(dir_ / "enh.cue",
            "FILE \"mixed.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
            "TRACK 02 MODE1/2352\nINDEX 00 00:00:30\nINDEX 01 00:00:50\n");
  h = Select(dir_ / "enh.cue");
  CDDA_TOC toc = Toc(h);
  EXPECT_EQ(MSFToFrames(toc.Tracks[0].dwLengthMSF), 30u);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 0, 30), CDDA_OK);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 0, 31), CDDA_E_DATA);
}

// Several files: a read that spans them, and a file cut short while it is read.
TEST_F(ImageRead, ReadsAcrossFilesAndFailsOnACutOne) {
  WriteFile(dir_ / "1.bin", audio_.substr(0, 120 * kSector));
  WriteFile(dir_ / "2.bin", audio_.substr(120 * kSector));
  WriteFile(dir_ / "two.cue",
            "FILE \"1.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
            "FILE \"2.bin\" BINARY\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n");
  uint32_t h = Select(dir_ / "two.cue");
  for (const char* mode : kModes) EXPECT_TRUE(Read(h, mode, 0, 300, 13) == audio_) << mode;
  ASSERT_EQ(truncate((dir_ / "2.bin").c_str(), 10 * kSector), 0);
  std::vector<char> buf(20 * kSector);
  EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 125, 10), CDDA_E_READ);
  ASSERT_EQ(lib_.cdda_InitSyncCopy(h, 20, 120, 40), CDDA_OK);
  EXPECT_EQ(lib_.cdda_ReadAudioSync(h, buf.data()), CDDA_E_READ);
  CDDA_COPYSTATE st{};
  ASSERT_EQ(lib_.cdda_GetCopyState(h, &st), CDDA_OK);
  EXPECT_EQ(st.dwNextSector, 130u);
  EXPECT_TRUE(std::string(buf.data(), 10 * kSector) == audio_.substr(120 * kSector, 10 * kSector));
  EXPECT_EQ(lib_.cdda_DoneSyncCopy(h), CDDA_OK);
}

}  // namespace

namespace {

// START and END of every track as `cdrdao show-toc` prints them, in sectors.
std::vector<std::pair<uint32_t, uint32_t>> CdrdaoTracks(const std::string& dir,
                                                        const std::string& toc) {
  std::string out;
  if (RunCapture("cd '" + dir + "' && cdrdao show-toc '" + toc + "' 2>/dev/null", &out) != 0)
    return {};
  std::vector<std::pair<uint32_t, uint32_t>> tracks;
  auto sectors = [&](size_t at) {
    return static_cast<uint32_t>(std::stoul(out.substr(out.find('(', at) + 1)));
  };
  for (size_t at = out.find("START"); at != std::string::npos; at = out.find("START", at + 1))
    tracks.push_back({sectors(at), sectors(out.find("END", at))});
  return tracks;
}

}  // namespace

// Tables of contents with PREGAP, START, SILENCE and several files: the tracks start where
// cdrdao itself puts them, and the disc ends where it ends.
TEST_F(ImageRead, TocPositionsAsCdrdaoShowsThem) {
  if (qltest::Run("command -v cdrdao >/dev/null") != 0) GTEST_SKIP() << "cdrdao missing";
  WriteFile(dir_ / "a.bin", Swapped(audio_));
  WriteFile(dir_ / "a.cdr", Swapped(audio_.substr(0, 100 * kSector)));
  const char* const tocs[] = {
      "CD_DA\nTRACK AUDIO\nFILE \"a.bin\" 0 00:01:25\nTRACK AUDIO\nPREGAP 00:02:00\n"
      "FILE \"a.bin\" 00:01:25 00:02:00\nTRACK AUDIO\nFILE \"a.bin\" 00:03:25\nSTART 00:00:30\n",
      "CD_DA\nTRACK AUDIO\nSILENCE 00:00:40\nSTART\nFILE \"a.bin\" 0 00:02:00\n"
      "TRACK AUDIO\nSTART 00:00:10\nFILE \"a.cdr\" 0\nTRACK AUDIO\nPREGAP 00:01:00\n"
      "AUDIOFILE \"a.bin\" 00:02:00\n",
  };
  for (const char* text : tocs) {
    SCOPED_TRACE(text);
    WriteFile(dir_ / "d.toc", text);
    auto ref = CdrdaoTracks(dir_.path(), "d.toc");
    ASSERT_EQ(ref.size(), 3u);
    uint32_t h = Select(dir_ / "d.toc");
    CDDA_TOC toc = Toc(h);
    ASSERT_EQ(toc.dwNumTracks, 3u);
    for (uint32_t i = 0; i < 3; ++i)
      EXPECT_EQ(MSFToFrames(toc.Tracks[i].dwStartMSF) - 150, ref[i].first) << "track " << i + 1;
    EXPECT_EQ(MSFToFrames(toc.Tracks[2].dwStartMSF) - 150 + MSFToFrames(toc.Tracks[2].dwLengthMSF),
              ref[2].second);
  }
  // The audio of the first: track 2's pregap is silence, its samples those of the file.
  WriteFile(dir_ / "d.toc", tocs[0]);
  uint32_t h = Select(dir_ / "d.toc");
  EXPECT_TRUE(Read(h, "burst", 0, 100) == audio_.substr(0, 100 * kSector));
  EXPECT_TRUE(Read(h, "normal", 100, 150) == std::string(150 * kSector, '\0'));
  EXPECT_TRUE(Read(h, "sync", 250, 150) == audio_.substr(100 * kSector, 150 * kSector));
}
