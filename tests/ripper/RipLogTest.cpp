// The cue sheet a rip leaves beside its files, read back by the CD library's own sheet parser:
// whatever was ripped, failed or trimmed, the sheet is one the parser takes and its tracks lie
// where the files put them.
#include <gtest/gtest.h>

#include <map>

#include "ImageSheet.h"
#include "RipLog.h"
#include "TestFiles.h"

namespace {

using ripper::RipLogInfo;
using ripper::RipLogTrack;
using ripper::TrackResult;

// A disc of a 225-sector hidden track and four tracks (absolute sectors, lead-in included).
struct Disc {
  RipLogInfo info;
  std::vector<TrackResult> results;
  std::map<std::string, std::uint64_t> sizes;  // bytes of audio per file

  void Add(int number, std::uint32_t start, std::uint32_t length, std::uint32_t pregap,
           const std::string& file, const std::string& status = "ok") {
    RipLogTrack t;
    t.number = number;
    t.start = start;
    t.length = length;
    t.pregap = pregap;
    info.tracks.push_back(t);
    TrackResult r;
    r.number = number;
    r.name = "T" + std::to_string(number);
    r.status = status;
    if (status == "ok") r.file = file;
    results.push_back(r);
    sizes[file] = std::uint64_t(length) * 2352;
  }
  // The files hold a second less at both ends.
  void Trim() {
    for (RipLogTrack& t : info.tracks) {
      t.fileStart = t.start + 75;
      t.fileLength = t.length - 150;
      for (const TrackResult& r : results)
        if (r.number == t.number) sizes[r.file] = std::uint64_t(t.fileLength) * 2352;
    }
  }
  Disc(bool hidden = true) {
    info.artist = "A";
    info.title = "B";
    if (hidden) Add(0, 150, 225, 0, "00.wav");
    Add(1, 375, 1435, hidden ? 225 : 0, "01.wav");
    Add(2, 1810, 1415, 160, "02.wav");
    Add(3, 3225, 775, 75, "03.wav");
    Add(4, 4000, 800, 150, "04.wav");
  }

  // Writes the side files and parses the cue sheet; the sheet's text in `text`.
  cdda::ImageLayout ReadBack(std::string* text = nullptr) {
    qltest::TempDir dir;
    ripper::WriteRipSideFiles(dir.path(), info, results);
    const std::string cue = qltest::ReadFile(dir / "A - B.cue");
    if (text) *text = cue;
    cdda::ImageLayout layout;
    std::string error;
    auto probe = [&](const std::string& name, cdda::FileType type, cdda::FileInfo* f,
                     std::string* why) {
      if (type != cdda::FileType::wave || !sizes.count(name)) return *why = "unknown", false;
      f->path = name;
      f->dataBytes = sizes[name];
      return true;
    };
    EXPECT_TRUE(cdda::ParseCueSheet(cue, probe, &layout, &error)) << error << "\n" << cue;
    return layout;
  }
};

std::vector<int> Numbers(const cdda::ImageLayout& l) {
  std::vector<int> n;
  for (const auto& t : l.tracks) n.push_back(t.number);
  return n;
}

TEST(RipCueSheet, AWholeRipIsTheDiscsLayout) {
  Disc d;
  const cdda::ImageLayout l = d.ReadBack();
  ASSERT_EQ(Numbers(l), (std::vector<int>{1, 2, 3, 4}));
  for (std::size_t i = 0; i < 4; ++i) {
    const RipLogTrack& t = d.info.tracks[i + 1];
    EXPECT_EQ(l.tracks[i].start, std::int32_t(t.start - 150)) << i;
    EXPECT_EQ(l.tracks[i].pregap, std::int32_t(t.start - 150 - t.pregap)) << i;
  }
  EXPECT_EQ(l.leadout, 4800 - 150);
  // Without the hidden track's file, its sectors are a PREGAP of silence before track 1.
  Disc plain;
  plain.results.erase(plain.results.begin());
  plain.info.tracks.erase(plain.info.tracks.begin());
  std::string text;
  const cdda::ImageLayout p = plain.ReadBack(&text);
  EXPECT_NE(text.find("PREGAP 00:03:00"), std::string::npos) << text;
  ASSERT_EQ(p.tracks.size(), 4u);
  EXPECT_EQ(p.tracks[0].start, 225);
  EXPECT_EQ(p.tracks[3].start, 4000 - 150);
}

TEST(RipCueSheet, FailedAndTrimmedTracksKeepTheSheetReadable) {
  // Track 2 failed: track 3's pregap has no file before it and becomes silence; track 4's
  // still lies in track 3's file.
  Disc d;
  d.results[2].status = "failed";
  d.results[2].file.clear();
  std::string text;
  cdda::ImageLayout l = d.ReadBack(&text);
  ASSERT_EQ(Numbers(l), (std::vector<int>{1, 3, 4})) << text;
  EXPECT_EQ(l.tracks[1].start - l.tracks[1].pregap, 75);
  EXPECT_EQ(l.tracks[2].start - l.tracks[2].pregap, 150);
  EXPECT_EQ(l.tracks[2].start - l.tracks[1].start, 775);
  EXPECT_EQ(l.leadout - l.tracks[2].start, 800);

  // Track 1 failed: the hidden track's file has no track to belong to and stays out of the
  // sheet (the playlist still has it).
  Disc h;
  h.results[1].status = "failed";
  h.results[1].file.clear();
  l = h.ReadBack(&text);
  EXPECT_EQ(text.find("00.wav"), std::string::npos) << text;
  EXPECT_EQ(Numbers(l), (std::vector<int>{2, 3, 4}));

  // Files without their first and last second: no file ends where the next track starts, so
  // every pregap is silence and every track starts at its file.
  Disc t;
  t.Trim();
  l = t.ReadBack(&text);
  EXPECT_EQ(text.find("INDEX 00"), std::string::npos) << text;
  ASSERT_EQ(Numbers(l), (std::vector<int>{1, 2, 3, 4})) << text;
  EXPECT_EQ(l.tracks[1].start - l.tracks[1].pregap, 160);
  EXPECT_EQ(l.tracks[1].start - l.tracks[0].start, 1435 - 150 + 160);
}

TEST(RipLog, TestAndCopyResultsAndTheHiddenTrack) {
  Disc d;
  d.info.testAndCopy = true;
  d.info.hiddenSectors = 225;
  for (TrackResult& r : d.results) {
    r.tested = true;
    r.audioBytes = 1;
    r.crc = r.testCrc = 0x1234abcd;
  }
  d.results[3].crc = 0x1234abce;
  qltest::TempDir dir;
  ripper::WriteRipSideFiles(dir.path(), d.info, d.results);
  const std::string log = qltest::ReadFile(dir / "A - B.log");
  EXPECT_NE(log.find("Track  0  T0 (hidden track before track 1)"), std::string::npos) << log;
  EXPECT_EQ(log.find("not ripped"), std::string::npos) << log;
  EXPECT_NE(log.find("Test CRC-32: 1234abcd, copy CRC-32: 1234abce: THE READS DIFFER"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Test and copy: 1 track(s) read differently"), std::string::npos) << log;
  EXPECT_NE(qltest::ReadFile(dir / "A - B.m3u").find("\n00.wav\n"), std::string::npos);
}

}  // namespace
