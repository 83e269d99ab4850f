// The media device on the real libmpv, with its outputs set to null.
#include "Mci.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "DynLib.h"
#include "TestFiles.h"

using namespace std::chrono_literals;

namespace {

MciSettings Quiet() {
  MciSettings s;
  s.ao = "null";
  s.vo = "null";
  return s;
}

bool WaitForMode(TMediaPlayer& p, TMPModes mode, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (p.Mode() == mode) return true;
    std::this_thread::sleep_for(10ms);
  }
  return p.Mode() == mode;
}

// True once the playing position moves.
bool SpinPosition(TMediaPlayer& p) {
  auto end = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < end) {
    if (p.Position() > 0) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

}  // namespace

TEST(Mci, ClosedDeviceIsNotReadyAndRefusesCommands) {
  TMediaPlayer p(Quiet());
  EXPECT_EQ(p.Mode(), mpNotReady);
  try {
    p.Play();
    FAIL();
  } catch (const EMCIDeviceError& e) {
    EXPECT_STREQ(e.what(), "No MCI device open");
  }
  EXPECT_THROW(p.Stop(), EMCIDeviceError);
  EXPECT_THROW(p.Pause(), EMCIDeviceError);
}

TEST(Mci, WavePlaysPausesResumesAndStopsAtItsEnd) {
  qltest::TempDir dir;
  qltest::WriteToneWav(dir / "tone.wav", 1.5);
  TMediaPlayer p(Quiet());
  p.FileName = dir / "tone.wav";
  p.Open();
  EXPECT_EQ(p.Mode(), mpStopped);
  EXPECT_NEAR(p.Length(), 1500, 30);
  p.Play();
  EXPECT_EQ(p.Mode(), mpPlaying);
  p.Pause();
  EXPECT_EQ(p.Mode(), mpPaused);
  p.Pause();  // pausing a paused device resumes it
  EXPECT_EQ(p.Mode(), mpPlaying);
  EXPECT_TRUE(WaitForMode(p, mpStopped, 5s));  // the end of the file
  p.Close();
  EXPECT_EQ(p.Mode(), mpNotReady);
}

TEST(Mci, Mp3PlaysToItsEnd) {
  qltest::TempDir dir;
  if (!qltest::WriteToneMp3(dir / "tone.mp3", 1.5)) GTEST_SKIP() << "ffmpeg missing";
  TMediaPlayer p(Quiet());
  p.FileName = dir / "tone.mp3";
  p.Open();
  p.Play();
  EXPECT_EQ(p.Mode(), mpPlaying);
  EXPECT_TRUE(WaitForMode(p, mpStopped, 5s));
}

TEST(Mci, VideoOpensAndPlaysWithNullVideoOutput) {
  qltest::TempDir dir;
  std::string avi = dir / "clip.avi", mov = dir / "clip.mov";
  std::string gen =
      "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=10:duration=0.5 "
      "-f lavfi -i sine=duration=0.5 -shortest ";
  if (qltest::Run(gen + "-c:v mpeg4 '" + avi + "'") != 0 ||
      qltest::Run(gen + "-c:v mpeg4 '" + mov + "'") != 0)
    GTEST_SKIP() << "ffmpeg missing";
  for (const std::string& file : {avi, mov}) {
    TMediaPlayer p(Quiet());
    p.FileName = file;
    p.Open();
    p.Play();
    EXPECT_TRUE(WaitForMode(p, mpStopped, 5s)) << file;
  }
}

TEST(Mci, StopKeepsTheDeviceOpenAndPlayGoesOn) {
  qltest::TempDir dir;
  qltest::WriteToneWav(dir / "tone.wav", 2.0);
  TMediaPlayer p(Quiet());
  p.FileName = dir / "tone.wav";
  p.Open();
  p.Play();
  std::this_thread::sleep_for(100ms);
  p.Stop();
  EXPECT_EQ(p.Mode(), mpStopped);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(p.Mode(), mpStopped);  // a stopped device stays where it is
  p.Resume();                      // not paused: plays instead
  EXPECT_EQ(p.Mode(), mpPlaying);
  p.Open();  // reopening closes the old device first
  EXPECT_EQ(p.Mode(), mpStopped);
}

TEST(Mci, MissingOrBrokenFilesFailToOpen) {
  qltest::TempDir dir;
  TMediaPlayer p(Quiet());
  p.FileName = dir / "missing.mp3";
  EXPECT_THROW(p.Open(), EMCIDeviceError);
  EXPECT_EQ(p.Mode(), mpNotReady);
  qltest::WriteFile(dir / "junk.wav", std::string(4096, 'j'));
  p.FileName = dir / "junk.wav";
  EXPECT_THROW(p.Open(), EMCIDeviceError);
  EXPECT_THROW(p.Play(), EMCIDeviceError);
}

TEST(Mci, MpvKeysDoNothingAndAShutdownLeavesAStoppedDeviceThatPlaysAgain) {
  qltest::TempDir dir;
  qltest::WriteToneWav(dir / "tone.wav", 3.0);
  TMediaPlayer p(Quiet());
  p.FileName = dir / "tone.wav";
  p.Open();
  p.Play();
  // The keys of mpv's own bindings (quit, stop, seek to the end, pause) are not bound.
  for (const char* key : {"q", "Q", "ESC", "ENTER", "p", "SPACE", "END", "RIGHT", "MBTN_LEFT_DBL"})
    p.Command({"keypress", key});
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(p.TakeLost());
  EXPECT_EQ(p.Mode(), mpPlaying);
  EXPECT_GT(p.Position(), 0);

  // Closing mpv's window shuts it down whatever the bindings: the device reports it once, the
  // file counts as stopped, and the next Play starts it on a new mpv.
  EXPECT_GE(p.Command({"keypress", "CLOSE_WIN"}), 0);
  auto end = std::chrono::steady_clock::now() + 5s;
  bool lost = false;
  while (!(lost = p.TakeLost()) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(lost);
  EXPECT_FALSE(p.TakeLost());
  EXPECT_EQ(p.Mode(), mpStopped);
  EXPECT_EQ(p.Position(), 0);
  auto start = std::chrono::steady_clock::now();
  p.Play();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(p.Mode(), mpPlaying);
  EXPECT_TRUE(SpinPosition(p));
  // Reopening after a shutdown works too.
  p.Command({"quit"});
  std::this_thread::sleep_for(200ms);
  p.Open();
  p.Play();
  EXPECT_EQ(p.Mode(), mpPlaying);
  EXPECT_FALSE(p.TakeLost());
}

TEST(Mci, ClosingTheVideoWindowOnARealDisplayLeavesTheProgramRunning) {
  // Run under xvfb-run (ctest mci_x11_tests): mpv's own window on an X server.
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no X display";
  qltest::TempDir dir;
  std::string clip = dir / "clip.avi";
  if (qltest::Run("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=6 "
                  "-f lavfi -i sine=duration=6 -shortest -c:v mpeg4 '" +
                  clip + "'") != 0)
    GTEST_SKIP() << "ffmpeg missing";
  MciSettings s;
  s.ao = "null";
  s.vo = "x11";
  TMediaPlayer p(s);
  p.FileName = clip;
  p.Open();
  p.Play();
  std::this_thread::sleep_for(500ms);
  for (const char* key : {"q", "ESC", "f", "SPACE"}) p.Command({"keypress", key});
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(p.Mode(), mpPlaying);
  EXPECT_FALSE(p.TakeLost());
  p.Command({"keypress", "CLOSE_WIN"});
  auto end = std::chrono::steady_clock::now() + 5s;
  bool lost = false;
  while (!(lost = p.TakeLost()) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(lost);
  EXPECT_EQ(p.Mode(), mpStopped);
  p.Play();  // a new window
  EXPECT_EQ(p.Mode(), mpPlaying);
  std::this_thread::sleep_for(300ms);
  p.Close();
  EXPECT_EQ(p.Mode(), mpNotReady);
}

TEST(Mci, FifosAndDevicesAreRefusedAtOnce) {
  qltest::TempDir dir;
  std::string fifo = dir / "pipe.mp3";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  TMediaPlayer p(Quiet());
  for (const std::string& name : {fifo, std::string("/dev/null"), std::string("/dev/zero")}) {
    p.FileName = name;
    auto start = std::chrono::steady_clock::now();
    try {
      p.Open();
      ADD_FAILURE() << name << " opened";
    } catch (const EMCIDeviceError& e) {
      EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms) << name;
    EXPECT_EQ(p.Mode(), mpNotReady);
  }
}

TEST(Mci, ALoadThatOutlastsTheWaitGoesOnInTheBackground) {
  // No wait at all: every load finishes (or fails) after Open has returned.
  MciSettings s = Quiet();
  s.open_wait = std::chrono::milliseconds(0);
  qltest::TempDir dir;
  qltest::WriteToneWav(dir / "tone.wav", 1.0);
  TMediaPlayer p(s);
  p.FileName = dir / "tone.wav";
  p.Open();
  EXPECT_EQ(p.Mode(), mpStopped);
  p.Play();  // starts once loaded
  EXPECT_EQ(p.Mode(), mpPlaying);
  EXPECT_TRUE(SpinPosition(p));
  EXPECT_TRUE(WaitForMode(p, mpStopped, 5s));
  // A file that turns out not to play: the device stops, and Play says why.
  qltest::WriteFile(dir / "junk.wav", std::string(4096, 'j'));
  p.FileName = dir / "junk.wav";
  p.Open();
  p.Play();
  EXPECT_TRUE(WaitForMode(p, mpStopped, 5s));
  EXPECT_THROW(p.Play(), EMCIDeviceError);
  // The next file plays again.
  p.FileName = dir / "tone.wav";
  p.Open();
  p.Play();
  EXPECT_EQ(p.Mode(), mpPlaying);
}

TEST(DynLib, DllNamesMapToSharedObjects) {
  EXPECT_EQ(ql::DynLib::MapName("MMCDDA32.DLL"), "libmmcdda32.so");
  EXPECT_EQ(ql::DynLib::MapName("BladeEnc.dll"), "libbladeenc.so");
  EXPECT_EQ(ql::DynLib::MapName("/opt/x/Tarvex.dll"), "/opt/x/Tarvex.dll");
  ql::DynLib lib;
  EXPECT_FALSE(lib.Load("NoSuchLibrary.dll"));
  EXPECT_FALSE(lib.Error().empty());
  EXPECT_TRUE(lib.Load("libm.so.6"));
  EXPECT_NE(lib.Symbol("cos"), nullptr);
}
