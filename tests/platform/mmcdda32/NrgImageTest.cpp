// Damaged Nero images: the library refuses them with a reason naming the file, where reading
// them used to crash the program (the footer's offset and the chunk sizes were trusted).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "CdImage.h"
#include "CddaLib.h"
#include "TestFiles.h"

using namespace qltest;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

void PutBe(std::string& s, std::size_t at, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i, v >>= 8) s[at + i] = static_cast<char>(v & 0xFF);
}

class NrgImage : public ::testing::Test {
 protected:
  void TearDown() override {
    for (uint32_t h : handles_) lib_.cdda_Done(&h);
  }

  // A handle with the image's drive selected, through cdda_AddImage as the windows add one.
  uint32_t Select(const std::string& image) {
    EXPECT_EQ(lib_.cdda_AddImage(image.c_str()), CDDA_OK);
    uint32_t h = lib_.Init();
    handles_.push_back(h);
    char name[512];
    for (uint32_t i = 0; i < lib_.cdda_GetNumDevices(h); ++i) {
      if (lib_.cdda_GetDeviceName(h, i, name, sizeof name) == 0 && image == name) {
        EXPECT_EQ(lib_.cdda_SetDeviceID(h, i), CDDA_OK);
      }
    }
    return h;
  }

  std::string ImageError(uint32_t h) {
    char buf[512];
    EXPECT_EQ(lib_.cdda_GetImageError(h, buf, sizeof buf), CDDA_OK);
    return buf;
  }

  TempDir dir_;
  CddaLib lib_;
  std::vector<uint32_t> handles_;
};

TEST_F(NrgImage, DamagedLayoutsAreRefusedWithTheirReason) {
  auto img = WriteCdImage(dir_.path(), "disc", {{20}, {12}, {8}});
  WriteNrgImage(img, dir_.path(), "disc");
  const std::string good = Slurp(img.nrg);
  const std::size_t chunks = (150 + img.sectors) * CDDA_SECTOR_BYTES;
  ASSERT_EQ(good.compare(chunks, 4, "CUEX"), 0);
  const std::size_t cue_len = 8 * (2 + 2 * 3), dao = chunks + 8 + cue_len;
  ASSERT_EQ(good.compare(dao, 4, "DAOX"), 0);

  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
    const char* reason;
  };
  const Case cases[] = {
      {"footer-far", [&](std::string& s) { PutBe(s, s.size() - 8, 0xFFFFFFFF0000ull, 8); },
       "the footer points outside the file"},
      {"footer-at-footer", [&](std::string& s) { PutBe(s, s.size() - 8, s.size() - 12, 8); },
       "the footer points outside the file"},
      {"cut", [&](std::string& s) { s.resize(s.size() - 40); }, "no Nero footer"},
      {"cue-too-long", [&](std::string& s) { PutBe(s, chunks + 4, 0x7FFFFFF0, 4); },
       "chunk \"CUEX\" runs past the end"},
      {"cue-renamed", [&](std::string& s) { s.replace(chunks, 4, "SINF"); },
       "chunk \"SINF\" of the wrong size"},
      {"dao-many-tracks", [&](std::string& s) { s[dao + 8 + 21] = 99; },
       "a track table of the wrong size"},
      {"track-past-chunks",
       [&](std::string& s) { PutBe(s, dao + 8 + 22 + 42 * 2 + 34, 0xFFFFFFFFFFull, 8); },
       "a track outside the file"},
      {"no-end", [&](std::string& s) { s.replace(s.size() - 20, 4, "XXXX"); }, "an unknown chunk"},
  };
  for (const Case& c : cases) {
    std::string bad = good;
    c.damage(bad);
    const std::string path = dir_.path() + "/" + c.name + ".nrg";
    Spit(path, bad);
    uint32_t h = Select(path);
    CDDA_TOC toc;
    EXPECT_EQ(lib_.cdda_ReadTOC(h, &toc), CDDA_E_IMAGE) << c.name;
    EXPECT_EQ(ImageError(h), std::string(c.name) + ".nrg: " + c.reason);
    std::vector<char> buf(CDDA_SECTOR_BYTES);
    EXPECT_EQ(lib_.cdda_ReadAudio(h, buf.data(), 0, 1), CDDA_E_IMAGE) << c.name;
  }

  // The image as written still reads, sector for sector.
  uint32_t h = Select(img.nrg);
  CDDA_TOC toc;
  ASSERT_EQ(lib_.cdda_ReadTOC(h, &toc), CDDA_OK) << ImageError(h);
  EXPECT_EQ(toc.dwNumTracks, 3u);
  EXPECT_EQ(ImageError(h), "");
  std::string bin = Slurp(img.bin), read(img.sectors * CDDA_SECTOR_BYTES, '\0');
  ASSERT_EQ(lib_.cdda_ReadAudio(h, read.data(), 0, img.sectors), CDDA_OK);
  EXPECT_TRUE(read == bin);
}

}  // namespace
