// The MP3 component's failure paths, on an encoder library that fails where it is told to. The
// library is bound once per process, so these tests live in a program of their own.
#include <gtest/gtest.h>

#include "DynLib.h"
#include "MMBlade.h"
#include "TestFiles.h"

namespace {

struct FakeLib : ::testing::Test {
  ql::DynLib lib;  // the same loaded instance as the component's binding
  void (*failAt)(const char*) = nullptr;
  int (*openStreams)() = nullptr;
  qltest::TempDir dir;
  TMMDSPComponent source;
  TMMMP3Encoder enc;

  void SetUp() override {
    SetBladeEncLibraryName(FAKE_BLADEENC_PATH);
    ASSERT_TRUE(lib.Load(FAKE_BLADEENC_PATH)) << lib.Error();
    failAt = reinterpret_cast<void (*)(const char*)>(lib.Symbol("fakeBladeFailAt"));
    openStreams = reinterpret_cast<int (*)()>(lib.Symbol("fakeBladeOpenStreams"));
    ASSERT_TRUE(failAt && openStreams);
    TWaveFormatEx fmt{};
    pcmBuildFormat(&fmt, 16, 2, 44100);
    source.SetWaveFormat(&fmt);
    enc.SetInput(&source);
    enc.SetFileName(dir / "out.mp3");
  }
  void TearDown() override { failAt(""); }
  // The message of what f raises, or "" when it raises nothing.
  template <class F>
  std::string Raised(F f) {
    try {
      f();
    } catch (const Exception& e) {
      return e.what();
    }
    return "";
  }
  void PushChunk() {
    auto h = AllocWaveHdr(4608);
    h->dwBufferLength = h->dwBytesRecorded = 4608;
    source.BufferReady(h.get());
  }
};

TEST_F(FakeLib, AStreamThatCannotStartLeavesNoFile) {
  failAt("init");
  EXPECT_EQ(Raised([&] { enc.Opened(); }), "Unable to initialize stream");
  EXPECT_FALSE(enc.FileOpened());
  EXPECT_NE(qltest::Run("test -e " + dir / "out.mp3"), 0);
  std::string names;
  EXPECT_EQ(qltest::RunCapture("ls -A " + dir.path(), &names), 0);
  EXPECT_EQ(names, "") << "no temporary is left";
}

TEST_F(FakeLib, AFailedEncodeIsReportedAndTheCloseStillReleasesAll) {
  enc.Opened();
  enc.Started();
  PushChunk();
  failAt("encode");
  EXPECT_EQ(Raised([&] { PushChunk(); }), "Unable to encode data");
  EXPECT_TRUE(enc.FileOpened());
  failAt("");
  enc.Closed();
  EXPECT_FALSE(enc.FileOpened());
  EXPECT_EQ(openStreams(), 0);
  EXPECT_EQ(qltest::ReadFile(dir / "out.mp3"), "encend");
}

// The file without its last frames is not kept: an earlier file of the name stays.
TEST_F(FakeLib, AFailedFlushIsReportedAfterTheFileAndStreamAreReleased) {
  qltest::WriteFile(dir / "out.mp3", "earlier");
  enc.Opened();
  enc.Started();
  PushChunk();
  failAt("deinit");
  EXPECT_EQ(Raised([&] { enc.Closed(); }), "Unable to deinitialize stream");
  EXPECT_FALSE(enc.FileOpened());
  EXPECT_EQ(openStreams(), 0);
  EXPECT_EQ(qltest::ReadFile(dir / "out.mp3"), "earlier");
  std::string names;
  EXPECT_EQ(qltest::RunCapture("ls -A " + dir.path(), &names), 0);
  EXPECT_EQ(names, "out.mp3\n");
}

}  // namespace
