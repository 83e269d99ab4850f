// The window's rules as plain state: commands, batch advance, output kinds, the drive watch
// and the stored wave-format record.
#include "RipperState.h"

#include <gtest/gtest.h>

#include <cstring>

using ripper::TRecordCommand;
using ripper::TRipperFlags;
using ripper::TTrackEnd;

namespace {
std::string Flags(const TRipperFlags& f) {
  std::string s;
  for (bool b : {f.Mp3Output, f.EncodeAll, f.ExternalAll, f.ExternalOutput, f.BatchMode})
    s += b ? '1' : '0';
  return s;
}
}  // namespace

TEST(RipperState, EachRecordCommandSetsItsOutputFlags) {
  TRipperFlags f;
  f.BatchMode = true;
  f.SetEncodeOne();
  EXPECT_EQ(Flags(f), "10000");
  f.SetEncodeAll();
  f.StartBatch();
  EXPECT_EQ(Flags(f), "11001");
  EXPECT_EQ(f.BatchIndex, 0);
  f.SetExternalOne();  // the batch continuation keeps the batch
  EXPECT_EQ(Flags(f), "00011");
  f.SetExternalAll();
  EXPECT_EQ(Flags(f), "00111");
  f.SetRecordAll();
  EXPECT_EQ(Flags(f), "00001");
  f.SetRecordOne();
  EXPECT_EQ(Flags(f), "00000");
}

TEST(RipperState, ABatchAdvancesToItsLastRowAndStopEndsItAsASingleTrack) {
  // Five tracks: rows 1-5, six rows with the header.
  TRipperFlags f;
  f.SetEncodeAll();
  f.StartBatch();
  f.BatchIndex = 1;  // track 2 recorded
  f.Recording = true;
  EXPECT_EQ(f.TrackEnded(6), TTrackEnd::kNextOfBatch);
  EXPECT_EQ(f.BatchIndex, 2);
  EXPECT_FALSE(f.Recording);
  EXPECT_TRUE(f.BatchMode && f.Mp3Output && f.EncodeAll);
  f.BatchIndex = 4;  // the last track
  EXPECT_EQ(f.TrackEnded(6), TTrackEnd::kLastOfBatch);
  EXPECT_FALSE(f.BatchMode || f.Mp3Output);
  // Stop during a batch: the track ends as a single one and nothing follows.
  f.SetExternalAll();
  f.StartBatch();
  f.Recording = true;
  f.StopRecording();
  EXPECT_EQ(Flags(f), "00010");  // the stopped wave still goes to the encoder
  EXPECT_EQ(f.TrackEnded(6), TTrackEnd::kSingle);
  // A failed recording hands nothing on.
  f.SetExternalAll();
  f.StartBatch();
  f.Recording = true;
  f.AbortRecording();
  EXPECT_EQ(Flags(f), "00000");
  EXPECT_FALSE(f.Recording);
}

TEST(RipperState, TheBatchPlanFindsTheNextSelectedTrack) {
  std::vector<bool> sel = {false, true, false, true, false};
  EXPECT_EQ(ripper::NextSelected(sel, 0), 1);
  EXPECT_EQ(ripper::NextSelected(sel, 1), 1);
  EXPECT_EQ(ripper::NextSelected(sel, 2), 3);
  EXPECT_EQ(ripper::NextSelected(sel, 4), -1);
  EXPECT_EQ(ripper::NextSelected(sel, -3), 1);
  EXPECT_EQ(ripper::NextSelected({}, 0), -1);
}

TEST(RipperState, OutputKindsBindTheirCommands) {
  auto wave = ripper::OutputBinding(ripper::kOutWave);
  EXPECT_STREQ(wave.label, "Wave");
  EXPECT_EQ(wave.record, TRecordCommand::kRecordOne);
  EXPECT_EQ(wave.recordAll, TRecordCommand::kRecordAll);
  for (auto kind : {ripper::kOutBladeEnc, ripper::kOutLameEnc}) {
    auto b = ripper::OutputBinding(kind);
    EXPECT_EQ(b.record, TRecordCommand::kEncodeOne);
    EXPECT_EQ(b.recordAll, TRecordCommand::kEncodeAll);
  }
  EXPECT_STREQ(ripper::OutputBinding(ripper::kOutLameEnc).label, "Lame MP3 Encoder");
  auto ext = ripper::OutputBinding(ripper::kOutExternal);
  EXPECT_STREQ(ext.label, "External MP3 Encoder");
  EXPECT_EQ(ext.recordAll, TRecordCommand::kExternalAll);
}

TEST(RipperState, TheDriveWatchReloadsOnlyADiscThatCameOrWent) {
  const int stopped = 1, playing = 2, paused = 4;
  EXPECT_FALSE(ripper::ShouldReloadDisc(true, stopped, stopped));
  EXPECT_FALSE(ripper::ShouldReloadDisc(true, stopped, playing));
  EXPECT_FALSE(ripper::ShouldReloadDisc(true, playing, paused));
  EXPECT_TRUE(ripper::ShouldReloadDisc(true, ripper::kDriveDoorOpen, stopped));
  EXPECT_TRUE(ripper::ShouldReloadDisc(true, stopped, ripper::kDriveNotReady));
  EXPECT_TRUE(ripper::ShouldReloadDisc(false, stopped, playing));
  EXPECT_FALSE(ripper::ShouldReloadDisc(false, playing, playing));
}

TEST(RipperState, AStoredWaveFormatIsUsedOnlyWhenItIsAWholeRecord) {
  auto record = [](std::uint16_t tag, std::uint16_t ch, std::uint32_t rate, std::uint16_t align,
                   std::uint16_t bits, std::uint16_t extra, std::size_t extra_bytes) {
    std::string r(18 + extra_bytes, '\0');
    std::uint32_t avg = rate * align;
    std::memcpy(&r[0], &tag, 2);
    std::memcpy(&r[2], &ch, 2);
    std::memcpy(&r[4], &rate, 4);
    std::memcpy(&r[8], &avg, 4);
    std::memcpy(&r[12], &align, 2);
    std::memcpy(&r[14], &bits, 2);
    std::memcpy(&r[16], &extra, 2);
    return r;
  };
  // CD audio, also written as the 16-byte PCM record and with stray extra bytes.
  auto cd = ripper::ParseStoredWaveFormat(record(1, 2, 44100, 4, 16, 0, 0));
  ASSERT_TRUE(cd);
  EXPECT_EQ(cd->size(), 18u);
  EXPECT_TRUE(ripper::ParseStoredWaveFormat(record(1, 2, 44100, 4, 16, 0, 0).substr(0, 16)));
  auto padded = ripper::ParseStoredWaveFormat(record(1, 2, 44100, 4, 16, 7, 7));
  ASSERT_TRUE(padded);
  EXPECT_EQ(padded->size(), 18u);
  EXPECT_EQ((*padded)[16], 0);
  // IMA ADPCM with its two extra bytes; cut short it is refused.
  auto ima = record(17, 1, 22050, 512, 4, 2, 2);
  EXPECT_EQ(ripper::ParseStoredWaveFormat(ima)->size(), 20u);
  EXPECT_FALSE(ripper::ParseStoredWaveFormat(ima.substr(0, 19)));
  // Garbage: too short, no channels, no rate, no alignment, a PCM alignment that lies.
  EXPECT_FALSE(ripper::ParseStoredWaveFormat("short"));
  EXPECT_FALSE(ripper::ParseStoredWaveFormat(record(1, 0, 44100, 4, 16, 0, 0)));
  EXPECT_FALSE(ripper::ParseStoredWaveFormat(record(1, 2, 0, 4, 16, 0, 0)));
  EXPECT_FALSE(ripper::ParseStoredWaveFormat(record(2, 2, 44100, 0, 4, 0, 0)));
  EXPECT_FALSE(ripper::ParseStoredWaveFormat(record(1, 2, 44100, 3, 16, 0, 0)));
  // More than 1025 bytes: only the first 1025 are read.
  auto big = record(85, 2, 44100, 1, 0, 1100, 1100);
  EXPECT_FALSE(ripper::ParseStoredWaveFormat(big));
  EXPECT_TRUE(ripper::IsEmptyWaveFormatFile(""));
}
