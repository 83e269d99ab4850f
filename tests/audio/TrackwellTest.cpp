#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>

#include "MMWave.h"
#include "TestFiles.h"

using qltest::TempDir;

namespace {

std::string Trackwell(const std::string& args) {
  return std::string(TRACKWELL_PATH) + " " + args + " 2>/dev/null";
}

std::vector<std::int16_t> Audio(const std::string& path) {
  TMMWave w;
  w.SetFileName(path);
  w.OpenWave();
  std::vector<std::int16_t> v(static_cast<std::size_t>(w.DataSize() / 2));
  w.ReadWaveData(v.data(), static_cast<int>(v.size() * 2));
  return v;
}

double Rms(const std::vector<std::int16_t>& v) {
  double s = 0;
  for (auto x : v) s += double(x) * x;
  return std::sqrt(s / double(v.size()));
}

int Status(int rc) {
  return rc;
}  // qltest::Run gives the exit status

}  // namespace

TEST(Trackwell, ProcessWithoutStagesCopiesTheAudio) {
  TempDir dir;
  qltest::WriteToneWav(dir / "in.wav", 2.0);
  ASSERT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "out.wav"))), 0);
  EXPECT_EQ(Audio(dir / "in.wav"), Audio(dir / "out.wav"));
}

TEST(Trackwell, StagesChangeTheAudio) {
  TempDir dir;
  qltest::WriteToneWav(dir / "in.wav", 2.0, 1000);
  const auto in = Audio(dir / "in.wav");
  ASSERT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "eq.wav " +
                                         "--eq 0,0,0,0,0,0,-12,-12,0,0,0,0"))),
            0);
  auto eq = Audio(dir / "eq.wav");
  ASSERT_EQ(eq.size(), in.size());
  EXPECT_NEAR(20 * std::log10(Rms(eq) / Rms(in)), -12, 1.0);

  ASSERT_EQ(
      Status(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "hs.wav --half-speed"))),
      0);
  // Half speed: about twice the frames (S.O.L.A. seams take DivSize / 4 frames per buffer).
  const double ratio = double(Audio(dir / "hs.wav").size()) / double(in.size());
  EXPECT_GT(ratio, 1.9);
  EXPECT_LE(ratio, 2.0);

  ASSERT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav " +
                                         dir / "v.wav --volume 8192 " + "--pitch -50"))),
            0);
  auto v = Audio(dir / "v.wav");
  EXPECT_EQ(v.size(), in.size() * 2);
  EXPECT_NEAR(Rms(v) / Rms(in), 0.5, 0.01);
}

TEST(Trackwell, ErrorsExitNonZero) {
  TempDir dir;
  qltest::WriteToneWav(dir / "in.wav", 0.5);
  qltest::WriteFile(dir / "junk.wav", "RIFF1234WAVEjunk");
  EXPECT_EQ(Status(qltest::Run(Trackwell("process " + dir / "missing.wav " + dir / "o.wav"))), 1);
  EXPECT_EQ(Status(qltest::Run(Trackwell("process " + dir / "junk.wav " + dir / "o.wav"))), 1);
  EXPECT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "no/o.wav"))), 1);
  EXPECT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav"))), 2);
  EXPECT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "o.wav --eq 1,2"))),
            2);
  EXPECT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "o.wav --odas"))), 2);
  EXPECT_EQ(Status(qltest::Run(Trackwell("frobnicate"))), 2);
  // Messages are the components' own.
  const std::string log = dir / "err.txt";
  qltest::Run(std::string(TRACKWELL_PATH) + " process " + dir / "junk.wav " + dir / "o.wav 2>" +
              log);
  EXPECT_NE(qltest::ReadFile(log).find("Invalid wave file..."), std::string::npos);
}
