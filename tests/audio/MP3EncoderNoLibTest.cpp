#include <gtest/gtest.h>

#include "MMBlade.h"
#include "TestFiles.h"

// The library is bound by the first encoder that opens and kept; these encoders find no usable
// one first, so they live in a program of their own.
namespace {

std::string OpenEncoder(const std::string& file) {
  TWaveFormatEx fmt{};
  pcmBuildFormat(&fmt, 16, 2, 44100);
  TMMDSPComponent source;
  source.SetWaveFormat(&fmt);
  TMMMP3Encoder enc;
  enc.SetInput(&source);
  enc.SetFileName(file);
  try {
    enc.Opened();
  } catch (const Exception& e) {
    return e.what();
  }
  return enc.FileOpened() ? "opened" : "not opened";
}

const std::string kMessage = std::string("Unable to load Blade Encoder DLL") + "\n\r" +
                             "libbladeenc.so is built with this program and is looked for "
                             "beside it; it needs the package libmp3lame0 (apt install "
                             "libmp3lame0).";

}  // namespace

TEST(MP3EncoderNoLib, MissingOrForeignLibraryThenTheRealOne) {
  qltest::TempDir dir;
  SetBladeEncLibraryName("/nonexistent/libbladeenc.so");
  EXPECT_EQ(OpenEncoder(dir / "a.mp3"), kMessage);
  EXPECT_NE(qltest::Run("test -e " + dir / "a.mp3"), 0) << "a file was made";
  // A library without the encoder's entry points is no encoder library.
  SetBladeEncLibraryName("libm.so.6");
  EXPECT_EQ(OpenEncoder(dir / "a.mp3"), kMessage);
  // The next open tries again.
  SetBladeEncLibraryName("BLADEENC.DLL");
  EXPECT_EQ(OpenEncoder(dir / "a.mp3"), "opened");
}
