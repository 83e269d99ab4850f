// trackwell rip over a disc as pressed: a hidden track before track 1, pregaps, disc text. The
// files, the rip's cue sheet read back as the same disc, test and copy, and the tags players
// read.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "RipTestSupport.h"

using qltest::TempDir;
using namespace riptest;

namespace {

// One .bin of 4650 sectors: track 1 from sector 225 (the 225 before it a hidden track), track 2's
// pregap 1500-1660, track 3's 3000-3075.
const char kGapsCue[] =
    "REM GENRE \"Jazz\"\n"
    "CATALOG 1234567890123\n"
    "PERFORMER \"Trio\"\n"
    "TITLE \"Nights\"\n"
    "FILE \"disc.bin\" BINARY\n"
    "  TRACK 01 AUDIO\n"
    "    TITLE \"Opening\"\n"
    "    ISRC USABC8700001\n"
    "    INDEX 01 00:03:00\n"
    "  TRACK 02 AUDIO\n"
    "    TITLE \"Middle\"\n"
    "    INDEX 00 00:20:00\n"
    "    INDEX 01 00:22:10\n"
    "  TRACK 03 AUDIO\n"
    "    TITLE \"Closing\"\n"
    "    ISRC USABC8700003\n"
    "    INDEX 00 00:40:00\n"
    "    INDEX 01 00:41:00\n";

struct RipDisc : ::testing::Test {
  TempDir dir;
  qltest::CdImage img = qltest::WriteCdImage(dir.path(), "disc", {1500, 1500, 1650});
  std::string win = dir / "win", cue = dir / "gaps.cue";
  // Sectors of the hidden track and of tracks 1-3 as the disc holds them.
  const std::uint32_t first[4] = {0, 225, 1660, 3075}, end[4] = {225, 1660, 3075, 4650};

  void SetUp() override {
    ASSERT_EQ(mkdir(win.c_str(), 0755), 0);
    qltest::WriteFile(cue, kGapsCue);
  }
  Result Run(const std::string& sheet, const std::string& args) {
    return Trackwell(dir.path(), win, "--image '" + sheet + "' " + args);
  }
  Result Rip(const std::string& args) { return Run(cue, "rip " + args); }
  std::string Audio(int n) const { return ImageAudio(img, first[n], end[n] - first[n]); }
  std::string Side(const std::string& folder, const std::string& ext) {
    for (const auto& e : std::filesystem::directory_iterator(folder))
      if (e.path().extension() == ext) return e.path().string();
    return {};
  }
};

TEST_F(RipDisc, HiddenTrackAndPregapsReadBackAsTheSameDisc) {
  Result r = Rip("--tracks 0-3 --dir out --json --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  Summary s = ParseSummary(r.out);
  ASSERT_EQ(s.tracks.size(), 4u) << r.out;
  const char* files[] = {"00.wav", "Opening.wav", "Middle.wav", "Closing.wav"};
  for (int n = 0; n < 4; ++n) {
    EXPECT_EQ(s.tracks[n].number, n);
    EXPECT_EQ(s.tracks[n].status, "ok");
    EXPECT_EQ(s.tracks[n].file, files[n]);
    // Each file holds its track up to the next one's INDEX 01, the pregap included.
    EXPECT_TRUE(WaveAudio(dir / ("out/" + std::string(files[n]))) == Audio(n)) << files[n];
  }
  const std::string sheet = Side(dir / "out", ".cue");
  const std::string text = qltest::ReadFile(sheet);
  EXPECT_NE(text.find("FILE \"00.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Opening\"\n"
                      "    ISRC USABC8700001\n    INDEX 00 00:00:00\nFILE \"Opening.wav\" WAVE\n"
                      "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    TITLE \"Middle\"\n"
                      "    INDEX 00 00:17:00\nFILE \"Middle.wav\" WAVE\n    INDEX 01 00:00:00\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("CATALOG 1234567890123\n"), std::string::npos) << text;
  const std::string log = qltest::ReadFile(Side(dir / "out", ".log"));
  for (const char* line : {"Track  0  00 (hidden track before track 1)",
                           "Range:      00:02:00 - 00:05:00 (225 sectors)", "Pregap:     00:02:10",
                           "ISRC:       USABC8700003"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

  // Our own reader takes the rip's sheet for the disc it came from: the same table, and the
  // same audio wherever it is read, the hidden track and the pregaps included.
  const std::string original = Run(cue, "toc").out;
  ASSERT_FALSE(original.empty());
  Result back = Run(sheet, "toc");
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(back.out, original);
  for (int n : {0, 2}) {
    const std::string wav = dir / ("back" + std::to_string(n) + ".wav");
    back = Run(sheet, "rip --track " + std::to_string(n) + " -o " + wav);
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(WaveAudio(wav) == Audio(n)) << n;
  }
  EXPECT_NE(Run(sheet, "cdtext").out.find("3\tISRC\tUSABC8700003"), std::string::npos);

  // --all leaves the hidden track out and says so; track 1's pregap becomes silence before it,
  // so that the sheet still has the disc's layout.
  r = Rip("--all --dir all --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "all/00.wav"));
  EXPECT_NE(qltest::ReadFile(Side(dir / "all", ".cue")).find("    PREGAP 00:03:00\n"),
            std::string::npos);
  EXPECT_NE(qltest::ReadFile(Side(dir / "all", ".log"))
                .find("Hidden track: 225 sectors before track 1, not ripped"),
            std::string::npos);
  EXPECT_EQ(Run(Side(dir / "all", ".cue"), "toc").out, original);

  // Without track 2's file, track 3's pregap has no file to lie in: a PREGAP of silence.
  r = Rip("--tracks 1,3 --dir part --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string partial = qltest::ReadFile(Side(dir / "part", ".cue"));
  EXPECT_NE(partial.find("FILE \"Closing.wav\" WAVE\n  TRACK 03 AUDIO\n    TITLE \"Closing\"\n"
                         "    ISRC USABC8700003\n    PREGAP 00:01:00\n    INDEX 01 00:00:00\n"),
            std::string::npos)
      << partial;
  EXPECT_EQ(Run(Side(dir / "part", ".cue"), "toc").status, 0);

  // A disc without a hidden track: --tracks 0 fails that entry alone.
  r = Run(img.cue, "rip --tracks 0,2 --dir plain --json --quiet");
  EXPECT_EQ(r.status, 1);
  s = ParseSummary(r.out);
  ASSERT_EQ(s.tracks.size(), 2u) << r.out;
  EXPECT_EQ(s.tracks[0].number, 2);
  EXPECT_EQ(s.tracks[0].status, "ok");
  EXPECT_EQ(s.tracks[1].number, 0);
  EXPECT_EQ(s.tracks[1].reason, "no hidden track before track 1 on the disc");
}

TEST_F(RipDisc, TestAndCopyReadsEveryTrackTwice) {
  Result r = Rip("--tracks 0-3 --dir out --test-and-copy --json");
  ASSERT_EQ(r.status, 0) << r.err;
  Summary s = ParseSummary(r.out);
  ASSERT_TRUE(s.ok);
  ASSERT_EQ(s.tracks.size(), 4u);
  for (int n = 0; n < 4; ++n) {
    const JsonTrack& t = s.tracks[n];
    EXPECT_EQ(t.testAndCopy, "match");
    EXPECT_EQ(t.testCrc, t.crc32);
    EXPECT_EQ(t.copyCrc, t.crc32);
    EXPECT_EQ(t.crc32, PythonCrc32(img.bin, first[n] * 2352LL, (end[n] - first[n]) * 2352LL));
    EXPECT_TRUE(WaveAudio(dir / ("out/" + std::string(t.file))) == Audio(n));
    // The test read shows its progress apart from the copy's.
    EXPECT_NE(r.err.find("track " + std::to_string(n) + " test: 100% "), std::string::npos);
    EXPECT_NE(r.err.find("track " + std::to_string(n) + ": 100% "), std::string::npos);
  }
  const std::string log = qltest::ReadFile(Side(dir / "out", ".log"));
  EXPECT_NE(log.find("Test CRC-32: " + s.tracks[2].crc32 + ", copy CRC-32: " + s.tracks[2].crc32 +
                     ": the reads match"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Test and copy: every track read the same twice."), std::string::npos);
  // With an MP3 encoder on workers, the CRCs are still those of the disc's audio.
  r = Rip("--tracks 2 --dir mp3 --mp3 --jobs 1 --test-and-copy --json --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  s = ParseSummary(r.out);
  ASSERT_EQ(s.tracks.size(), 1u);
  EXPECT_EQ(s.tracks[0].testAndCopy, "match");
  EXPECT_EQ(s.tracks[0].testCrc, PythonCrc32(img.bin, 1660 * 2352LL, 1415 * 2352LL));
  // One track to a file.
  r = Rip("--track 3 --test-and-copy -o '" + (dir / "one.wav") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("track 3: test CRC " + PythonCrc32(img.bin, 3075 * 2352LL, 1575 * 2352LL) +
                       ", copy CRC "),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(WaveAudio(dir / "one.wav") == Audio(3));
}

TEST_F(RipDisc, YearGenreAndIsrcReachTheTags) {
  if (system("command -v ffprobe >/dev/null") != 0) GTEST_SKIP() << "no ffprobe";
  auto tags = [&](const std::string& file) {
    std::string out;
    qltest::RunCapture("ffprobe -v error -show_entries format_tags -of flat '" + file + "'", &out);
    return out;
  };
  // From the disc's text: the names, the genre of the sheet's REM GENRE, the ISRCs.
  Result r = Rip("--tracks 1,2 --dir mp3 --mp3 --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string t = tags(dir / "mp3/Opening.mp3");
  for (const char* want : {"title=\"Opening\"", "artist=\"Trio\"", "album=\"Nights\"",
                           "track=\"1/3\"", "genre=\"Jazz\"", "TSRC=\"USABC8700001\""})
    EXPECT_NE(t.find(want), std::string::npos) << want << "\n" << t;
  // A track without an ISRC has no TSRC frame.
  EXPECT_EQ(tags(dir / "mp3/Middle.mp3").find("TSRC"), std::string::npos);
  // Waves: LIST INFO has the genre (and no field for an ISRC).
  r = Rip("--tracks 3 --dir wav --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  t = tags(dir / "wav/Closing.wav");
  EXPECT_NE(t.find("genre=\"Jazz\""), std::string::npos) << t;
  EXPECT_NE(t.find("title=\"Closing\""), std::string::npos) << t;

  // From a CDDB entry: its year and genre (through the server's CGI, as trackwell cddb asks).
  std::string id = Run(cue, "discid").out;
  ASSERT_EQ(id.rfind("DiscID\t", 0), 0u) << id;
  id = id.substr(7, 8);
  std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::string db = dir / "db";
  ASSERT_EQ(qltest::Run("mkdir -p '" + db + "/jazz'"), 0);
  qltest::WriteFile(db + "/jazz/" + id, "# xmcd\r\n#\r\nDISCID=" + id +
                                            "\r\nDTITLE=Quartet / Mornings\r\nDYEAR=1987\r\n"
                                            "DGENRE=Cool Jazz\r\nTTITLE0=One\r\nTTITLE1=Two\r\n"
                                            "TTITLE2=Three\r\n");
  const std::string port = StartCddbServer(db, dir / "port", "--http");
  ASSERT_FALSE(port.empty());
  for (const char* bad : {"--http", "--cddb --email me@example.org --proto 9", "--no-cache"})
    EXPECT_EQ(Rip(std::string("--tracks 3 --dir bad ") + bad).status, 2) << bad;
  r = Rip("--tracks 3 --dir cddb --mp3 --cddb --email me@example.org --server 127.0.0.1:" + port +
          " --http --path /~cddb/cddb.cgi --proto 6 --no-cache --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  t = tags(dir / "cddb/Three.mp3");
  for (const char* want : {"artist=\"Quartet\"", "album=\"Mornings\"", "date=\"1987\"",
                           "genre=\"Cool Jazz\"", "TSRC=\"USABC8700003\""})
    EXPECT_NE(t.find(want), std::string::npos) << want << "\n" << t;
  const std::string sheet = qltest::ReadFile(Side(dir / "cddb", ".cue"));
  EXPECT_NE(sheet.find("REM GENRE \"Cool Jazz\"\nREM DATE 1987\n"), std::string::npos) << sheet;
}

}  // namespace
