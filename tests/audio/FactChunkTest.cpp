// Compressed waves from the format converter say in their fact chunk how many sample frames
// they hold: the frames the codec took, not what the padded last block suggests. Both rip
// paths (one track, and rip --all) as whole processes over a generated CD image.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "CdImage.h"
#include "TestFiles.h"

namespace {

std::uint32_t Le32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | std::uint8_t(s[at + std::size_t(i)]);
  return v;
}

// The fact chunk's frame count; -1 when the file has none.
long long Fact(const std::string& riff) {
  for (std::size_t p = 12; p + 8 <= riff.size();) {
    const std::uint32_t len = Le32(riff, p + 4);
    if (riff.compare(p, 4, "fact") == 0 && len >= 4) return Le32(riff, p + 8);
    p += 8 + std::size_t(len) + (len & 1);
  }
  return -1;
}

TEST(FactChunk, HoldsTheFramesTheCodecTook) {
  qltest::TempDir dir;
  // 40 seconds and an odd length of 301 sectors (177,000 / 32,106.7 frames at 44.1 / 8 kHz).
  const auto img = qltest::WriteCdImage(dir.path(), "disc", {3000, 301});
  const std::string trackwell = std::string(TRACKWELL_PATH) + " --image " + img.cue + " rip ";
  struct Want {
    const char* format;
    int rate;
  };
  // IMA ADPCM and MS ADPCM (whole blocks, the last one padded), with and without a rate change.
  for (const Want& w :
       {Want{"17,8000,4,1", 8000}, Want{"17,44100,4,2", 44100}, Want{"2,22050,4,2", 22050}}) {
    const std::string out = dir / "t.wav";
    ASSERT_EQ(
        qltest::Run(trackwell + "--track 1 -o " + out + " --format " + w.format + " 2>/dev/null"),
        0)
        << w.format;
    EXPECT_EQ(Fact(qltest::ReadFile(out)), 40LL * w.rate) << w.format;

    ASSERT_EQ(qltest::Run("rm -rf " + (dir / "all") + " && mkdir " + (dir / "all")), 0);
    ASSERT_EQ(
        qltest::Run("cd " + dir.path() + " && QL_WINDOWS_DIR=" + dir.path() + " " + trackwell +
                    "--all --quiet --dir all --format " + w.format + " 2>/dev/null"),
        0)
        << w.format;
    EXPECT_EQ(Fact(qltest::ReadFile(dir / "all/01.wav")), 40LL * w.rate) << w.format;
    // The rate change may round the odd length either way, by one frame at most.
    const double exact = 301.0 * 588 * w.rate / 44100;
    EXPECT_NEAR(double(Fact(qltest::ReadFile(dir / "all/02.wav"))), exact, 1.0) << w.format;
  }
}

}  // namespace
