#include <gtest/gtest.h>

#include <cstring>

#include "AudioTestUtil.h"
#include "MMConnect.h"
#include "MMMetronome.h"
#include "MMPitch.h"
#include "MMVolume.h"

using namespace qlaudio;

namespace {

// Frame i of 16-bit stereo carries i in the left and -i in the right channel.
std::string Frames(int n) {
  std::vector<std::int16_t> v;
  for (int i = 0; i < n; ++i) v.push_back(static_cast<std::int16_t>(i)), v.push_back(-i);
  return Samples16(v);
}
std::vector<int> LeftValues(const std::string& bytes) {
  std::vector<int> out;
  auto s = ToSamples16(bytes);
  for (std::size_t i = 0; i < s.size(); i += 2) out.push_back(s[i]);
  return out;
}

}  // namespace

TEST(Volume, GainsPanningAndClipping) {
  TMMVolume vol;
  EXPECT_EQ(vol.LeftGain(), 16384);
  vol.SetPanning(-16384);
  EXPECT_EQ(vol.LeftGain(), 16384);
  EXPECT_EQ(vol.RightGain(), 0);
  vol.SetPanning(16384);
  EXPECT_EQ(vol.LeftGain(), 0);
  EXPECT_EQ(vol.RightGain(), 16384);
  vol.SetPanning(8192);
  vol.SetVolume(10000);
  EXPECT_EQ(vol.LeftGain(), 5000);
  EXPECT_EQ(vol.RightGain(), 10000);

  std::vector<std::int16_t> in = {100, -100, 20000, -20000, 32767, -32768};
  TMemorySource src(Samples16(in), Pcm());
  TMMVolume v2;
  src.SetOutput(&v2);
  v2.Opened();
  EXPECT_EQ(PullAll(v2, 1024), Samples16(in));  // unity leaves every byte
  EXPECT_FALSE(v2.Clipped());
  src.Rewind();
  v2.SetVolume(32768);
  EXPECT_EQ(ToSamples16(PullAll(v2, 1024)),
            (std::vector<std::int16_t>{200, -200, 32767, -32768, 32767, -32768}));
  EXPECT_TRUE(v2.Clipped());

  TMemorySource src8(std::string("\x80\xC0\x40\xFF", 4), Pcm(8, 1, 8000));
  TMMVolume v8;
  src8.SetOutput(&v8);
  v8.SetVolume(32768);
  v8.Opened();
  EXPECT_EQ(PullAll(v8, 16), std::string("\x80\xFF\x00\xFF", 4));
}

TEST(Volume, RefusesCompressedFormats) {
  TMMVolume vol;
  TWaveFormatEx f = Pcm();
  f.wFormatTag = 2;
  try {
    vol.SetWaveFormat(&f);
    ADD_FAILURE();
  } catch (const EMMVolumeError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }
  TMMPitch pitch;
  EXPECT_THROW(pitch.SetWaveFormat(&f), EMMPitchError);
}

TEST(Pitch, StepsAndClamping) {
  TMMPitch p;
  EXPECT_EQ(p.Step(), 65536u);
  p.SetPitch(-50);
  EXPECT_EQ(p.Step(), 32768u);
  p.SetPitch(50);
  EXPECT_EQ(p.Step(), 98304u);
  p.SetPitch(70);
  EXPECT_EQ(p.GetPitch(), 50);
  p.SetPitch(-80);
  EXPECT_EQ(p.GetPitch(), -50);
}

TEST(Pitch, FramePatterns) {
  // Small pulls from the source make the pitch stage cross many input buffers.
  TMemorySource src(Frames(600), Pcm());
  src.maxChunk = 28;
  TMMPitch p;
  src.SetOutput(&p);
  p.SetPitch(-50);
  p.Opened();
  p.Started();
  std::vector<int> got = LeftValues(PullAll(p, 1000));
  ASSERT_EQ(got.size(), 1200u);
  for (int i = 0; i < 1200; ++i) ASSERT_EQ(got[i], i / 2) << i;

  src.Rewind();
  p.SetPitch(50);
  p.Repositioned();
  got = LeftValues(PullAll(p, 1000));
  ASSERT_EQ(got.size(), 400u);
  for (int i = 0; i < 400; ++i) ASSERT_EQ(got[i], i / 2 * 3 + i % 2) << i;
}

TEST(Pitch, PassesStraightThroughAtZeroAndOnPush) {
  TMemorySource src(Frames(300), Pcm());
  TMMPitch p;
  src.SetOutput(&p);
  p.Opened();
  EXPECT_EQ(PullAll(p, 400), Frames(300));
  EXPECT_GT(src.pulls, 2);  // pulled in the caller's buffer sizes
  TMemorySink sink;
  p.SetOutput(&sink);
  p.SetPitch(-50);
  auto h = AllocWaveHdr(400);
  std::memcpy(h->lpData, Frames(100).data(), 400);
  h->dwBytesRecorded = 400;
  p.BufferReady(h.get());
  EXPECT_EQ(sink.data, Frames(100));
}

TEST(Pitch, LastPullEndsOnceTheBufferIsUsedUp) {
  TMemorySource src(Frames(100), Pcm());
  TMMPitch p;
  src.SetOutput(&p);
  p.SetPitch(-50);
  p.Opened();
  auto h = AllocWaveHdr(320);
  std::vector<bool> mores;
  std::string all;
  for (int i = 0; i < 10; ++i) {
    bool more = false;
    h->dwBufferLength = 320;
    p.BufferLoad(h.get(), more);
    all.append(h->lpData, h->dwBytesRecorded);
    mores.push_back(more);
    if (!more) break;
  }
  EXPECT_EQ(all.size(), 800u);
  EXPECT_EQ(mores, (std::vector<bool>{true, true, false}));
}

TEST(Metronome, IgnoresValuesOutOfRange) {
  TMMMetronome m;
  EXPECT_EQ(m.GetStretch(), 2);
  m.SetStretch(3);
  EXPECT_EQ(m.GetStretch(), 2);
  m.SetDivSize(9);
  m.SetDivSize(5000);
  EXPECT_EQ(m.GetDivSize(), 516);
  m.SetDivSize(4096);
  EXPECT_EQ(m.GetDivSize(), 4096);
}

TEST(Connector, KeepsPeaksAndPassesOn) {
  std::vector<std::int16_t> in = {100, -3000, -20000, 5};
  TMemorySource src(Samples16(in), Pcm());
  TMMConnector conn;
  TMemorySink sink;
  src.SetOutput(&conn);
  conn.SetOutput(&sink);
  EXPECT_EQ(PullAll(conn, 64), Samples16(in));
  EXPECT_EQ(conn.PeakLeft(), 20000);
  EXPECT_EQ(conn.PeakRight(), 3000);
  auto h = AllocWaveHdr(4);
  std::memset(h->lpData, 0, 4);
  h->dwBytesRecorded = 4;
  conn.BufferReady(h.get());
  EXPECT_EQ(sink.data.size(), 4u);
  EXPECT_EQ(conn.PeakLeft(), 0);
  int l, r;
  conn.TakePeaks(l, r);
  EXPECT_EQ(l, 20000);
  conn.TakePeaks(l, r);
  EXPECT_EQ(l, 0);
}

TEST(Volume, GainsBeyondTheRangeAreClampedAndClipsCounted) {
  TMMVolume v;
  v.SetVolume(100000);
  EXPECT_EQ(v.GetVolume(), TMMVolume::kMaxVolume);
  v.SetVolume(-5);
  EXPECT_EQ(v.GetVolume(), 0);
  v.SetPanning(-20000);
  EXPECT_EQ(v.GetPanning(), -16384);
  v.SetPanning(0);
  v.SetVolume(1 << 30);
  // Full-scale samples at the largest gain saturate on their own side, never flip.
  std::vector<std::int16_t> in = {32767, -32768, 30000, -30000, 100, -100, 0, 1};
  TMemorySource src(Samples16(in), Pcm());
  src.SetOutput(&v);
  v.Opened();
  auto out = ToSamples16(PullAll(v, 64));
  EXPECT_EQ(out, (std::vector<std::int16_t>{32767, -32768, 32767, -32768, 400, -400, 0, 4}));
  EXPECT_EQ(v.ClippedSamples(), 4);
  v.Closed();
}
