#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include "CdImage.h"
#include "MMWave.h"
#include "TestFiles.h"

using qltest::TempDir;

namespace {

// Runs trackwell through the shell; returns its exit status and what it printed.
int Trackwell(const std::string& args, std::string* out = nullptr) {
  return qltest::RunCapture(std::string(TRACKWELL_PATH) + " " + args + " 2>/dev/null", out);
}

std::string Audio(const std::string& path) {
  TMMWave w;
  w.SetFileName(path);
  w.OpenWave();
  std::string data(static_cast<std::size_t>(w.DataSize()), '\0');
  w.ReadWaveData(data.data(), static_cast<int>(data.size()));
  return data;
}

std::string Slice(const qltest::CdImage& img, std::uint32_t first, std::uint32_t count) {
  return qltest::ReadFile(img.bin).substr(std::size_t(first) * 2352, std::size_t(count) * 2352);
}

struct TrackwellCD : ::testing::Test {
  TempDir dir;
  qltest::CdImage img = qltest::WriteCdImage(dir.path(), "disc", {300, 37, 1});
  std::string image = " --image " + img.cue + " ";
};

}  // namespace

TEST_F(TrackwellCD, DevicesAndTableOfContents) {
  TempDir other;
  auto second = qltest::WriteCdImage(other.path(), "second", {75, 75, 75, 75});
  std::string out;
  ASSERT_EQ(Trackwell(image + "--image " + second.cue + " devices", &out), 0);
  // The two images come after any real drive, in order, with their letters.
  const auto a = out.find("\t" + img.cue + "\n"), b = out.find("\t" + second.cue + "\n");
  ASSERT_NE(a, std::string::npos) << out;
  ASSERT_NE(b, std::string::npos) << out;
  EXPECT_LT(a, b);

  ASSERT_EQ(Trackwell(image + "toc", &out), 0);
  EXPECT_EQ(
      out,
      "1\t150\t300\t00:02:00\t00:04:00\n"
      "2\t450\t37\t00:06:00\t00:00:37\n"
      "3\t487\t1\t00:06:37\t00:00:01\n"
      "leadout\t488\n"
      "DiscKey\t"
          // 0:02:00 + 0:06:00 + 0:06:37 packed, then 487 + 1 + 1
          +
          [] {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%x", (2 << 8) + (6 << 8) + (6 << 8 | 37 << 16) + 489);
            return std::string(buf);
          }() +
          "\n");
  EXPECT_EQ(Trackwell(image + "toc --device 7"), 1);
  EXPECT_EQ(Trackwell("--image " + dir / "none.cue devices"), 1);
}

TEST_F(TrackwellCD, RipsByteForByteInEveryMode) {
  for (const char* mode : {"normal", "burst", "sync"}) {
    for (int track = 1; track <= 3; ++track) {
      const std::string out = dir / (std::string(mode) + std::to_string(track) + ".wav");
      ASSERT_EQ(Trackwell(image + "rip --track " + std::to_string(track) + " -o " + out +
                          " --mode " + mode),
                0);
      EXPECT_TRUE(Audio(out) == Slice(img, img.starts[track - 1], img.lengths[track - 1]))
          << mode << " track " << track;
    }
  }
}

TEST_F(TrackwellCD, TrimsTheFirstAndLastSecond) {
  const std::string out = dir / "trim.wav";
  ASSERT_EQ(Trackwell(image + "rip --track 1 --trim-first --trim-last --mode burst -o " + out), 0);
  EXPECT_TRUE(Audio(out) == Slice(img, 75, 150));
  EXPECT_EQ(Trackwell(image + "rip --track 4 -o " + out), 1);
  EXPECT_EQ(Trackwell(image + "rip -o " + out), 2);
  EXPECT_EQ(Trackwell(image + "rip --track 1 --mode fast -o " + out), 2);
}

TEST_F(TrackwellCD, PlaysThroughEveryStageOnAlsaNull) {
  std::string out;
  ASSERT_EQ(Trackwell(image + "play --track 2 --alsa-device null --pitch 3 --volume 12000 "
                              "--half-speed --eq 1,2,3,4,5,6,-6,-5,-4,-3,-2,-1",
                      &out),
            0);
  EXPECT_EQ(out.rfind("played\t", 0), 0u) << out;
}

TEST_F(TrackwellCD, DiscIdsAndANameFromTheTestServerForAnImage) {
  // Tracks of 300, 37 and 1 sectors from sector 0: starts 150, 450, 487, lead-out 488 (the
  // query's seconds field: 6).
  std::string out;
  ASSERT_EQ(Trackwell(image + "discid", &out), 0);
  EXPECT_EQ(out,
            "DiscID\t0E000403\nclassic\t0e000403\nquery\tcddb query 0E000403 3 150 450 487 6\n");
  // The same table of contents named by the loopback CDDB server.
  std::string db = dir / "db";
  ASSERT_EQ(qltest::Run("mkdir -p '" + db + "/rock'"), 0);
  qltest::WriteFile(db + "/rock/0e000403",
                    "# xmcd\r\n#\r\n# Track frame offsets:\r\n#\t150\r\n#\t450\r\n#\t487\r\n#\r\n"
                    "# Disc length: 6 seconds\r\n#\r\nDISCID=0e000403\r\nDTITLE=Some One / A Disc"
                    "\r\nTTITLE0=First\r\nTTITLE1=Second\r\nTTITLE2=Third\r\nEXTD=\r\nEXTT0=\r\n"
                    "EXTT1=\r\nEXTT2=\r\nPLAYORDER=\r\n");
  std::string port_file = dir / "port";
  FILE* server = popen(("(sleep 20 | /usr/bin/python3 " QL_CDDB_SERVER " --dir '" + db + "') > '" +
                        port_file + "' 2>/dev/null &")
                           .c_str(),
                       "r");
  ASSERT_NE(server, nullptr);
  pclose(server);
  std::string port;
  for (int i = 0; i < 100 && port.empty(); ++i) {
    std::string text = qltest::ReadFile(port_file);
    if (text.rfind("PORT ", 0) == 0 && text.find('\n') != std::string::npos)
      port = text.substr(5, text.find('\n') - 5);
    else
      usleep(50000);
  }
  ASSERT_FALSE(port.empty());
  ASSERT_EQ(
      Trackwell(image + "cddb query --server 127.0.0.1 --port " + port + " --email me@example.org",
                &out),
      0);
  EXPECT_EQ(out,
            "artist\tSome One\ntitle\tA Disc\ndisctitle\tSome One / A Disc\ncategory\trock\n"
            "track\t1\tFirst\ntrack\t2\tSecond\ntrack\t3\tThird\n");
}

// A sector that cannot be read (an I/O error of the image file, under the fault injector) fails
// the rip in every mode, naming the sector; a data track is refused and no file is written.
TEST_F(TrackwellCD, AnUnreadableSectorOrADataTrackFailsTheRip) {
  const std::string fault =
      "env ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + std::string(QL_FAULTINJECT_PATH) +
      " QL_FAULT_DIR='" + dir.path() + "' QL_FAULT_READ_AT=" + std::to_string(250 * 2352 + 5) + " ";
  for (const char* mode : {"normal", "burst", "sync"}) {
    SCOPED_TRACE(mode);
    qltest::WriteToneWav(dir / "t1.wav", 0.1);
    const std::string earlier = qltest::ReadFile(dir / "t1.wav");
    std::string err;
    const int rc = qltest::RunCapture(fault + TRACKWELL_PATH + image + "rip --track 1 --mode " +
                                          mode + " -o '" + (dir / "t1.wav") + "' 2>&1 >/dev/null",
                                      &err);
    EXPECT_NE(rc, 0);
    EXPECT_NE(err.find("(track 1, 00:0"), std::string::npos) << err;
    EXPECT_NE(err.find("could not be read"), std::string::npos) << err;
    if (std::string(mode) != "sync") {
      EXPECT_NE(err.find("Sector 250 (track 1, 00:03:25)"), std::string::npos) << err;
    }
    // The shorter take never replaces the earlier file.
    EXPECT_TRUE(qltest::ReadFile(dir / "t1.wav") == earlier);
  }
  // Not one sector readable: the start fails, and no file is made either.
  std::string err;
  const std::string bad0 =
      "env ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + std::string(QL_FAULTINJECT_PATH) +
      " QL_FAULT_DIR='" + dir.path() + "' QL_FAULT_READ_AT=" + std::to_string(300 * 2352 + 5) + " ";
  EXPECT_NE(qltest::RunCapture(bad0 + TRACKWELL_PATH + image + "rip --track 2 -o '" +
                                   (dir / "t2.wav") + "' 2>&1 >/dev/null",
                               &err),
            0);
  EXPECT_NE(err.find("Sector 300 (track 2, 00:00:00) could not be read"), std::string::npos) << err;
  EXPECT_FALSE(access((dir / "t2.wav").c_str(), F_OK) == 0);

  TempDir other;
  auto mixed = qltest::WriteCdImage(other.path(), "mixed", {qltest::DataTrack(40), 30});
  for (const char* mode : {"normal", "burst", "sync"}) {
    std::string err;
    const int rc = qltest::RunCapture(std::string(TRACKWELL_PATH) + " --image " + mixed.cue +
                                          " rip --track 1 --mode " + mode + " -o '" +
                                          (other / "t1.wav") + "' 2>&1 >/dev/null",
                                      &err);
    EXPECT_NE(rc, 0) << mode;
    EXPECT_NE(err.find("Track 1 is a data track: it holds no audio"), std::string::npos) << err;
    EXPECT_FALSE(access((other / "t1.wav").c_str(), F_OK) == 0) << mode;
  }
  ASSERT_EQ(Trackwell(" --image " + mixed.cue + " rip --track 2 --mode sync -o '" +
                      (other / "t2.wav") + "'"),
            0);
  EXPECT_TRUE(Audio(other / "t2.wav") == Slice(mixed, 40, 30));
}

// A cue sheet as a ripper writes it (its own name for the image file, lower-case keywords, a
// byte order mark, the gaps as INDEX 00, the disc's text): the file it names is ripped, never
// the .bin named like the sheet; its text is printed; a sheet that cannot be used says where.
TEST_F(TrackwellCD, CueSheetsAsRippersWriteThem) {
  TempDir d;
  const std::string audio = Slice(img, 0, 338);
  qltest::WriteFile(d / "The Band - The Album.bin", audio);
  qltest::WriteFile(d / "album.bin", std::string(audio.size(), '\x11'));  // not named by the cue
  qltest::WriteFile(d / "album.cue",
                    "\xEF\xBB\xBFREM GENRE Rock\r\nREM DATE 1999\r\nperformer \"The Band\"\r\n"
                    "title \"The Album\"\r\ncatalog 0123456789012\r\n"
                    "file \"The Band - The Album.bin\" binary\r\n  track 01 audio\r\n"
                    "    title \"First Song\"\r\n    isrc GBAAA9900001\r\n    index 01 00:00:00\r\n"
                    "  track 02 audio\r\n    title \"Second Song\"\r\n    index 00 00:03:50\r\n"
                    "    index 01 00:04:00\r\n");
  const std::string cue = " --image '" + (d / "album.cue") + "' ";
  std::string out;
  ASSERT_EQ(Trackwell(cue + "toc", &out), 0);
  EXPECT_EQ(out.substr(0, out.find("leadout")),
            "1\t150\t300\t00:02:00\t00:04:00\n2\t450\t38\t00:06:00\t00:00:38\n");
  ASSERT_EQ(Trackwell(cue + "cdtext", &out), 0);
  EXPECT_EQ(out,
            "0\tTITLE\tThe Album\n0\tPERFORMER\tThe Band\n0\tUPC_EAN\t0123456789012\n"
            "0\tGENRE\tRock\n1\tTITLE\tFirst Song\n1\tISRC\tGBAAA9900001\n2\tTITLE\tSecond Song\n");
  for (const char* mode : {"normal", "burst", "sync"}) {
    ASSERT_EQ(Trackwell(cue + "rip --track 2 --mode " + mode + " -o " + (d / "t2.wav")), 0);
    EXPECT_TRUE(Audio(d / "t2.wav") == audio.substr(300 * 2352)) << mode;
  }
  // With no entry in the disc store, rip --all names the files from the disc's text.
  ASSERT_EQ(qltest::Run("mkdir '" + (d / "out") + "'"), 0);
  ASSERT_EQ(qltest::Run("cd '" + d.path() + "' && QL_WINDOWS_DIR='" + d.path() + "' " +
                        TRACKWELL_PATH + cue + "rip --all --quiet --dir out 2>/dev/null"),
            0);
  EXPECT_TRUE(Audio(d / "out/First Song.wav") == audio.substr(0, 300 * 2352));
  EXPECT_TRUE(Audio(d / "out/Second Song.wav") == audio.substr(300 * 2352));

  qltest::WriteFile(d / "broken.cue",
                    "FILE \"The Band - The Album.bin\" BINARY\n"
                    "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                    "  TRACK 02 AUDIO\n    INDEX 01 07:00:00\n");
  std::string err;
  EXPECT_EQ(qltest::RunCapture(std::string(TRACKWELL_PATH) + " --image '" + (d / "broken.cue") +
                                   "' rip --track 1 -o '" + (d / "b.wav") + "' 2>&1 >/dev/null",
                               &err),
            1);
  EXPECT_EQ(err, "trackwell rip: broken.cue: line 5: INDEX lies beyond the end of the FILE\n");
  EXPECT_NE(access((d / "b.wav").c_str(), F_OK), 0);
  EXPECT_EQ(qltest::RunCapture(std::string(TRACKWELL_PATH) + " --image '" + (d / "broken.cue") +
                                   "' toc 2>&1 >/dev/null",
                               &err),
            1);
  EXPECT_NE(err.find("broken.cue: line 5:"), std::string::npos) << err;
}

// The hidden track before track 1 is track 0; an image written N samples late and ripped with
// --offset N gives back the original samples (zeros past the end of the disc).
TEST_F(TrackwellCD, HiddenTrackAndReadOffset) {
  TempDir d;
  const std::string audio = Slice(img, 0, 338);
  qltest::WriteFile(d / "h.bin", audio);
  qltest::WriteFile(d / "h.cue",
                    "FILE \"h.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\n"
                    "INDEX 01 00:01:30\nTRACK 02 AUDIO\nINDEX 01 00:04:00\n");
  const std::string cue = " --image '" + (d / "h.cue") + "' ";
  for (const char* mode : {"normal", "burst", "sync"}) {
    ASSERT_EQ(Trackwell(cue + "rip --track 0 --mode " + mode + " -o " + (d / "t0.wav")), 0);
    EXPECT_TRUE(Audio(d / "t0.wav") == audio.substr(0, 105 * 2352)) << mode;
  }
  std::string err;
  EXPECT_EQ(qltest::RunCapture(std::string(TRACKWELL_PATH) + image + "rip --track 0 -o '" +
                                   (d / "none.wav") + "' 2>&1 >/dev/null",
                               &err),
            1);
  EXPECT_NE(err.find("no hidden track before track 1"), std::string::npos) << err;

  const int n = 1234;  // samples: two sectors and some
  qltest::WriteFile(d / "late.bin",
                    std::string(n * 4, '\0') + audio.substr(0, audio.size() - n * 4));
  qltest::WriteFile(d / "late.cue",
                    "FILE \"late.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                    "TRACK 02 AUDIO\nINDEX 01 00:04:00\n");
  const std::string late = " --image '" + (d / "late.cue") + "' ";
  for (const char* mode : {"normal", "burst", "sync"}) {
    ASSERT_EQ(Trackwell(late + "rip --track 1 --offset " + std::to_string(n) + " --mode " + mode +
                        " -o " + (d / "o1.wav")),
              0);
    EXPECT_TRUE(Audio(d / "o1.wav") == audio.substr(0, 300 * 2352)) << mode;
    ASSERT_EQ(Trackwell(late + "rip --track 2 --offset " + std::to_string(n) + " --mode " + mode +
                        " -o " + (d / "o2.wav")),
              0);
    EXPECT_TRUE(Audio(d / "o2.wav") ==
                audio.substr(300 * 2352, 38 * 2352 - n * 4) + std::string(n * 4, '\0'))
        << mode;
  }
  ASSERT_EQ(qltest::Run("mkdir '" + (d / "all") + "'"), 0);
  ASSERT_EQ(qltest::Run("cd '" + d.path() + "' && QL_WINDOWS_DIR='" + d.path() + "' " +
                        TRACKWELL_PATH + late + "rip --all --offset " + std::to_string(n) +
                        " --quiet --dir all 2>/dev/null"),
            0);
  EXPECT_TRUE(Audio(d / "all/01.wav") == audio.substr(0, 300 * 2352));
  EXPECT_EQ(Trackwell(late + "rip --track 1 --offset x -o " + (d / "x.wav")), 2);
}
