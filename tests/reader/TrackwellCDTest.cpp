#include <gtest/gtest.h>

#include <cstdio>

#include "CdImage.h"
#include "MMWave.h"
#include "TestFiles.h"

using qltest::TempDir;

namespace {

// Runs trackwell through the shell; returns its exit status and what it printed.
int Trackwell(const std::string& args, std::string* out = nullptr) {
  const std::string cmd = std::string(TRACKWELL_PATH) + " " + args + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  const int rc = pclose(p);
  if (out) *out = text;
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
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
