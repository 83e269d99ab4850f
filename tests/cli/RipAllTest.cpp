// trackwell rip --all / --tracks as a whole process, over generated CD images.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "RipTestSupport.h"

using qltest::TempDir;
using namespace riptest;

namespace {

bool Exists(const std::string& p) {
  return access(p.c_str(), F_OK) == 0;
}

struct RipAll : ::testing::Test {
  TempDir dir;
  qltest::CdImage img = qltest::WriteCdImage(dir.path(), "disc", {300, 37, 150});
  std::string out = dir / "out", win = dir / "win";
  std::string image = "--image " + img.cue + " ";

  void SetUp() override {
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(win.c_str(), 0755), 0);
  }
  Result Rip(const std::string& args) { return Trackwell(dir.path(), win, image + "rip " + args); }
  std::string Track(int n) const { return ImageAudio(img, img.starts[n - 1], img.lengths[n - 1]); }
  std::string DiscKey() {
    Result r = Trackwell(dir.path(), win, image + "toc");
    auto p = r.out.find("DiscKey\t");
    return p == std::string::npos ? "" : r.out.substr(p + 8, r.out.find('\n', p) - p - 8);
  }
};

TEST_F(RipAll, EveryTrackByteForByteWithItsChecksumAndSize) {
  Result r = Rip("--all --dir out --json");
  ASSERT_EQ(r.status, 0) << r.err;
  Summary s = ParseSummary(r.out);
  ASSERT_TRUE(s.parsed) << r.out;
  EXPECT_TRUE(s.ok);
  ASSERT_EQ(s.tracks.size(), 3u);
  for (int n = 1; n <= 3; ++n) {
    const JsonTrack& t = s.tracks[n - 1];
    const std::string file = out + "/0" + std::to_string(n) + ".wav";
    EXPECT_EQ(t.number, n);
    EXPECT_EQ(t.status, "ok");
    EXPECT_EQ(t.name, "0" + std::to_string(n));
    EXPECT_EQ(t.file, "0" + std::to_string(n) + ".wav");
    EXPECT_TRUE(WaveAudio(file) == Track(n)) << "track " << n;
    EXPECT_EQ(t.bytes, static_cast<long long>(qltest::ReadFile(file).size()));
    EXPECT_EQ(t.audioBytes, static_cast<long long>(Track(n).size()));
    EXPECT_EQ(t.crc32, PythonCrc32(img.bin, img.starts[n - 1] * 2352LL, Track(n).size()));
    EXPECT_EQ(t.skipped, 0);
  }
  // Nothing else in the folder: no temporaries left.
  EXPECT_EQ(ListDir(out), (std::vector<std::string>{"01.wav", "02.wav", "03.wav"}));
  // One progress line at least per track, the last one at 100 %.
  for (int n = 1; n <= 3; ++n)
    EXPECT_NE(r.err.find("track " + std::to_string(n) + ": 100% "), std::string::npos) << r.err;
}

TEST_F(RipAll, TheSameAudioAsCdParanoia) {
  if (system("command -v cd-paranoia >/dev/null") != 0) GTEST_SKIP() << "no cd-paranoia";
  std::string ref = dir / "ref";
  ASSERT_EQ(mkdir(ref.c_str(), 0755), 0);
  ASSERT_EQ(
      qltest::Run("cd '" + ref + "' && cd-paranoia -q -d '" + img.cue + "' -B >/dev/null 2>&1"), 0);
  for (const char* mode : {"burst", "sync"}) {
    Result r = Rip(std::string("--all --dir out --quiet --mode ") + mode);
    ASSERT_EQ(r.status, 0) << r.err;
    for (int n = 1; n <= 3; ++n)
      EXPECT_TRUE(WaveAudio(out + "/0" + std::to_string(n) + ".wav") ==
                  WaveAudio(ref + "/track0" + std::to_string(n) + ".cdda.wav"))
          << mode << " track " << n;
  }
}

TEST_F(RipAll, TrackListsAndTheirErrors) {
  Result r = Rip("--tracks 3,1 --dir out --json --mode sync");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ListDir(out), (std::vector<std::string>{"01.wav", "03.wav"}));
  EXPECT_TRUE(WaveAudio(out + "/03.wav") == Track(3));

  // A track the disc lacks fails alone; the others are written.
  r = Rip("--tracks 2-3,7 --dir out --json");
  EXPECT_EQ(r.status, 1);
  Summary s = ParseSummary(r.out);
  ASSERT_EQ(s.tracks.size(), 3u) << r.out;
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.tracks[0].status, "ok");
  EXPECT_EQ(s.tracks[2].number, 7);
  EXPECT_EQ(s.tracks[2].status, "failed");
  EXPECT_NE(s.tracks[2].reason.find("no track 7"), std::string::npos);
  EXPECT_NE(r.err.find("track 7 failed"), std::string::npos) << r.err;

  for (const char* bad :
       {"--tracks 3-1 --dir out", "--tracks 1,,2 --dir out", "--tracks -1 --dir out",
        "--tracks 100 --dir out", "--all", "--all --tracks 1 --dir out", "--all --dir out --cddb",
        "--all --dir out --email a@b", "--all --dir out --jobs 2",
        "--all --dir out --mp3 --encoder lame", "--all --dir out --bitrate 128"})
    EXPECT_EQ(Rip(bad).status, 2) << bad;
  // A folder that is missing is made; a name that holds a file is refused.
  EXPECT_EQ(Rip("--all --dir made/deeper --quiet").status, 0);
  EXPECT_EQ(ListDir(dir / "made/deeper").size(), 3u);
  qltest::WriteFile(dir / "afile", "x");
  Result r2 = Rip("--all --dir afile --quiet");
  EXPECT_EQ(r2.status, 1);
  EXPECT_NE(r2.err.find("afile"), std::string::npos) << r2.err;
}

TEST_F(RipAll, NamesFromTheDiscStoreWithTheWindowsNamingRules) {
  const std::string key = DiscKey();
  ASSERT_FALSE(key.empty());
  qltest::WriteFile(win + "/cdplayer.ini", "[" + key +
                                               "]\r\nartist=Band\r\ntitle=Live\r\n0=Intro\r\n"
                                               "1=A/B?\r\n2=\r\n");
  Result r = Rip("--all --dir out --add-artist --add-title --add-number --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ListDir(out),
            (std::vector<std::string>{"Band-Live-01-Intro.wav", "Band-Live-02-A-B-.wav",
                                      "Band-Live-03-03.wav"}));
  EXPECT_TRUE(WaveAudio(out + "/Band-Live-02-A-B-.wav") == Track(2));
  // Without the options only the name; the store is read, never written.
  const std::string before = qltest::ReadFile(win + "/cdplayer.ini");
  r = Rip("--tracks 1 --dir out --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Exists(out + "/Intro.wav"));
  EXPECT_EQ(qltest::ReadFile(win + "/cdplayer.ini"), before);
  EXPECT_FALSE(Exists(dir / "QuillonTrackwell.ini"));
}

TEST_F(RipAll, HostileCddbNamesStayInTheFolderAndApart) {
  std::string id = Trackwell(dir.path(), win, image + "discid").out;
  ASSERT_EQ(id.rfind("DiscID\t", 0), 0u) << id;
  id = id.substr(7, 8);
  std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::string db = dir / "db";
  ASSERT_EQ(qltest::Run("mkdir -p '" + db + "/rock'"), 0);
  const std::string longName(300, 'x');
  // A quote and a TAB, a step out of the folder, control and non-UTF-8 bytes, a name too long
  // for a file, and two tracks of one name.
  qltest::WriteFile(db + "/rock/" + id,
                    "# xmcd\r\n#\r\n# Track frame offsets:\r\n#\t150\r\n#\t450\r\n#\t487\r\n#\r\n"
                    "# Disc length: 10 seconds\r\n#\r\nDISCID=" +
                        id +
                        "\r\nDTITLE=Some \"One\"\t / ../..\r\n"
                        "TTITLE0=../../../escaped\x01\r\n"
                        "TTITLE1=" +
                        longName + "\xff\xfe\r\nTTITLE2=../../../escaped\x01\r\n");
  const std::string port = StartCddbServer(db, dir / "port");
  ASSERT_FALSE(port.empty());
  Result r =
      Rip("--all --dir out --add-artist --add-title --cddb --email me@example.org "
          "--server 127.0.0.1:" +
          port + " --json --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  Summary s = ParseSummary(r.out);
  ASSERT_TRUE(s.parsed) << r.out;
  ASSERT_EQ(s.tracks.size(), 3u);
  std::vector<std::string> files = ListDir(out);
  ASSERT_EQ(files.size(), 3u);
  for (const auto& t : s.tracks) {
    EXPECT_TRUE(std::find(files.begin(), files.end(), t.file) != files.end()) << t.file;
    EXPECT_LE(t.file.size(), 255u);
    EXPECT_EQ(t.file.find('/'), std::string::npos);
    EXPECT_NE(t.file[0], '.');
    for (unsigned char c : t.file) EXPECT_GE(c, 0x20) << t.file;
    for (unsigned char c : t.name) EXPECT_GE(c, 0x20) << t.name;
  }
  EXPECT_NE(s.tracks[0].file, s.tracks[2].file);
  EXPECT_TRUE(WaveAudio(out + "/" + s.tracks[2].file) == Track(3));
  EXPECT_EQ(s.tracks[1].file.substr(s.tracks[1].file.size() - 4), ".wav");
  // Nothing outside the output folder.
  EXPECT_FALSE(Exists(dir / "escaped.wav"));
  std::vector<std::string> top = ListDir(dir.path(), true);
  EXPECT_EQ(top, (std::vector<std::string>{"db", "disc.bin", "disc.cue", "out", "port", "win"}));
  // No server: the entry comes from the cache the first lookup filled; with --no-cache the
  // lookup fails and nothing is written.
  r =
      Rip("--all --dir cached --add-artist --add-title --cddb --email me@example.org --server "
          "127.0.0.1:1 --json --quiet");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ListDir(dir / "cached"), files);
  r = Rip("--all --dir out --cddb --email me@example.org --server 127.0.0.1:1 --no-cache --quiet");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ListDir(out).size(), 3u);
  // A server that refuses the query or the read, or sends a bare CR inside a title: each
  // refusal fails the run with a message and writes nothing; the CR never reaches a name.
  for (const char* refusal :
       {"--force query=\"500 Command syntax error\"", "--force read=\"402 Server error\"",
        "--force hello=\"431 Handshake not successful\""}) {
    const std::string port2 = StartCddbServer(db, dir / "port2", refusal);
    ASSERT_FALSE(port2.empty());
    r = Rip("--all --dir refused --cddb --email me@example.org --server 127.0.0.1:" + port2 +
            " --no-cache --quiet");
    EXPECT_EQ(r.status, 1) << refusal;
    EXPECT_FALSE(r.err.empty()) << refusal;
    EXPECT_TRUE(ListDir(dir / "refused").empty()) << refusal;
  }
  qltest::WriteFile(db + "/rock/" + id,
                    "# xmcd\r\n#\r\nDISCID=" + id +
                        "\r\nDTITLE=Band / Live\r\nTTITLE0=Intro\rf2=victim.txt\r\n"
                        "TTITLE1=Two\r\nTTITLE2=Three\r\n");
  const std::string port3 = StartCddbServer(db, dir / "port3");
  r = Rip("--all --dir cr --cddb --email me@example.org --server 127.0.0.1:" + port3 +
          " --no-cache --json --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  s = ParseSummary(r.out);
  ASSERT_EQ(s.tracks.size(), 3u);
  for (const auto& t : s.tracks)
    for (unsigned char c : t.file) EXPECT_GE(c, 0x20) << t.file;
  EXPECT_EQ(ListDir(dir / "cr").size(), 3u);
}

TEST_F(RipAll, ExternalEncoderLameThenTheWaveGoes) {
  if (system("command -v lame >/dev/null && command -v mpg123 >/dev/null") != 0)
    GTEST_SKIP() << "no lame or mpg123";
  qltest::WriteFile(win + "/cdplayer.ini", "[" + DiscKey() + "]\r\n0=My Song\r\n");
  Result r =
      Rip("--all --dir out --encoder lame --encoder-args '--silent -b 128 $1 $2' --jobs 2 "
          "--json");
  ASSERT_EQ(r.status, 0) << r.err;
  // Spaces become "_" for an external encoder, as in the window.
  EXPECT_EQ(ListDir(out), (std::vector<std::string>{"02.mp3", "03.mp3", "My_Song.mp3"}));
  ASSERT_EQ(qltest::Run("mpg123 -q -w '" + dir / "dec.wav" + "' '" + out + "/My_Song.mp3'"), 0);
  EXPECT_GT(BestSnr(Track(1), WaveAudio(dir / "dec.wav")), 10.0);
}

TEST_F(RipAll, AFailingEncoderKeepsTheWaveAndAnEarlierFile) {
  // An earlier good file of the output's name stays as it was.
  qltest::WriteFile(out + "/01.mp3", "earlier");
  const std::string script = dir / "enc.sh";
  // Writes half an output, then fails; the arguments it got are kept.
  qltest::WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + dir / "args.txt" +
                                "\"\nhead -c 1000 \"$1\" > \"$2\"\nexit 3\n");
  chmod(script.c_str(), 0755);
  Result r = Rip("--tracks 1 --dir out --encoder " + script +
                 " --encoder-args '-x \"$2\" -y $1' --json --quiet");
  EXPECT_EQ(r.status, 1);
  Summary s = ParseSummary(r.out);
  ASSERT_EQ(s.tracks.size(), 1u) << r.out;
  EXPECT_EQ(s.tracks[0].status, "failed");
  EXPECT_EQ(s.tracks[0].file, "01.wav");
  EXPECT_NE(s.tracks[0].reason.find("status 3"), std::string::npos) << s.tracks[0].reason;
  EXPECT_EQ(qltest::ReadFile(out + "/01.mp3"), "earlier");
  EXPECT_TRUE(WaveAudio(out + "/01.wav") == Track(1));
  EXPECT_EQ(ListDir(out), (std::vector<std::string>{"01.mp3", "01.wav"}));
  // The template's words, then the paths as single arguments.
  std::string args = qltest::ReadFile(dir / "args.txt");
  char real[PATH_MAX];
  ASSERT_TRUE(realpath(out.c_str(), real));
  const std::string abs = real;
  EXPECT_EQ(args.rfind("-x\n" + abs + "/.01.mp3.", 0), 0u) << args;
  EXPECT_NE(args.find("\n-y\n" + abs + "/01.wav\n"), std::string::npos) << args;

  // A program that is not there; one that exits 0 without output.
  r = Rip("--tracks 2 --dir out --encoder ./no-such-encoder --json --quiet");
  EXPECT_EQ(r.status, 1);
  s = ParseSummary(r.out);
  ASSERT_EQ(s.tracks.size(), 1u);
  EXPECT_NE(s.tracks[0].reason.find("could not be started"), std::string::npos);
  EXPECT_TRUE(WaveAudio(out + "/02.wav") == Track(2));
  r = Rip("--tracks 3 --dir out --encoder true --json --quiet");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Exists(out + "/03.wav"));
  EXPECT_FALSE(Exists(out + "/03.mp3"));
  EXPECT_EQ(ListDir(out), (std::vector<std::string>{"01.mp3", "01.wav", "02.wav", "03.wav"}));
}

TEST_F(RipAll, Mp3OnWorkersEqualsMp3InTheChainAndDecodesToTheTrack) {
  if (system("command -v mpg123 >/dev/null") != 0) GTEST_SKIP() << "no mpg123";
  std::string inChain = dir / "chain";
  ASSERT_EQ(mkdir(inChain.c_str(), 0755), 0);
  Result r = Rip("--all --dir chain --mp3 --bitrate 128 --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  r = Rip("--all --dir out --mp3 --bitrate 128 --jobs 2 --json --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ListDir(out), (std::vector<std::string>{"01.mp3", "02.mp3", "03.mp3"}));
  Summary s = ParseSummary(r.out);
  ASSERT_EQ(s.tracks.size(), 3u);
  for (int n = 1; n <= 3; ++n) {
    const std::string name = "0" + std::to_string(n) + ".mp3";
    EXPECT_TRUE(qltest::ReadFile(out + "/" + name) == qltest::ReadFile(inChain + "/" + name));
    EXPECT_EQ(s.tracks[n - 1].crc32,
              PythonCrc32(img.bin, img.starts[n - 1] * 2352LL, Track(n).size()));
  }
  ASSERT_EQ(qltest::Run("mpg123 -q -w '" + dir / "dec.wav" + "' '" + out + "/01.mp3'"), 0);
  EXPECT_GT(BestSnr(Track(1), WaveAudio(dir / "dec.wav")), 10.0);
}

TEST_F(RipAll, DataTracksSkippedInAllFailedWhenNamed) {
  // Track 2 is a data track.
  TempDir other;
  img = qltest::WriteCdImage(other.path(), "mixed", {300, qltest::DataTrack(40), 150});
  image = "--image " + img.cue + " ";
  Result r = Rip("--all --dir out --json --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  Summary s = ParseSummary(r.out);
  ASSERT_EQ(s.tracks.size(), 3u) << r.out;
  EXPECT_EQ(s.tracks[1].status, "skipped");
  EXPECT_NE(s.tracks[1].reason.find("data track"), std::string::npos);
  EXPECT_EQ(ListDir(out), (std::vector<std::string>{"01.wav", "03.wav"}));
  r = Rip("--tracks 2 --dir out --json --quiet");
  EXPECT_EQ(r.status, 1);
  s = ParseSummary(r.out);
  ASSERT_EQ(s.tracks.size(), 1u);
  EXPECT_EQ(s.tracks[0].status, "failed");
  EXPECT_EQ(ListDir(out).size(), 2u);
}

TEST_F(RipAll, AWriteErrorFailsTheTrackAndLeavesNoPartialFile) {
  // Files may not grow past 2 MB: the write fails with EFBIG (the signal ignored), as an I/O
  // error would.
  TempDir big;
  auto disc = qltest::WriteCdImage(big.path(), "big", {300, 1500, 300});
  qltest::WriteFile(out + "/02.wav", "earlier");
  std::string text;
  const int rc = qltest::RunCapture("cd '" + dir.path() +
                                        "' && trap '' XFSZ && ulimit -f 2048 && "
                                        "QL_WINDOWS_DIR='" +
                                        win + "' " TRACKWELL_PATH " --image " + disc.cue +
                                        " rip --all --dir out --json --quiet 2>/dev/null",
                                    &text);
  EXPECT_EQ(rc, 1);
  Summary s = ParseSummary(text);
  ASSERT_EQ(s.tracks.size(), 3u) << text;
  EXPECT_EQ(s.tracks[0].status, "ok");
  EXPECT_EQ(s.tracks[1].status, "failed");
  EXPECT_FALSE(s.tracks[1].reason.empty());
  EXPECT_EQ(s.tracks[2].status, "ok");
  EXPECT_EQ(qltest::ReadFile(out + "/02.wav"), "earlier");
  EXPECT_EQ(ListDir(out), (std::vector<std::string>{"01.wav", "02.wav", "03.wav"}));
}

TEST_F(RipAll, AnInterruptedRunLeavesNothingHalfWrittenAndItsLeftoversGoNextTime) {
  TempDir big;
  auto disc =
      qltest::WriteCdImage(big.path(), "big", {9000, 9000, 9000, 9000, 9000, 9000, 9000, 9000});
  qltest::WriteFile(out + "/03.wav", "earlier");
  // A leftover of a run that died without cleaning up (no process has that id).
  qltest::WriteFile(out + "/.04.wav.999999999-1.qlpart", "junk");
  for (int signal : {SIGINT, SIGTERM}) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (chdir(dir.path().c_str()) != 0) _exit(127);
      setenv("QL_WINDOWS_DIR", win.c_str(), 1);
      execl(TRACKWELL_PATH, "trackwell", "--image", disc.cue.c_str(), "rip", "--all", "--dir",
            "out", "--quiet", "--mode", "sync", static_cast<char*>(nullptr));
      _exit(127);
    }
    usleep(150000);
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before the signal";
    EXPECT_EQ(WTERMSIG(status), signal);
    // Every file under a final name is complete; the earlier one is untouched or complete.
    for (const auto& f : ListDir(out)) {
      if (f[0] == '.') {
        EXPECT_EQ(f, ".04.wav.999999999-1.qlpart");
        continue;
      }
      const int n = f[1] - '0';
      if (f == "03.wav" && qltest::ReadFile(out + "/" + f) == "earlier") continue;
      EXPECT_TRUE(WaveAudio(out + "/" + f) ==
                  ImageAudio(disc, disc.starts[n - 1], disc.lengths[n - 1]))
          << f;
    }
  }
  Result r =
      Trackwell(dir.path(), win, "--image " + disc.cue + " rip --tracks 1 --dir out --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Exists(out + "/.04.wav.999999999-1.qlpart"));
}

}  // namespace

namespace {

// AccurateRip's rule written out once more, over a whole track.
void PlainAccurateRip(const std::string& audio, bool first, bool last, std::uint32_t& v1,
                      std::uint32_t& v2) {
  v1 = v2 = 0;
  const std::uint64_t n = audio.size() / 4;
  for (std::uint64_t i = 0; i < n; ++i) {
    const auto* b = reinterpret_cast<const unsigned char*>(audio.data() + 4 * i);
    const std::uint64_t word = b[0] | b[1] << 8 | b[2] << 16 | std::uint64_t(b[3]) << 24;
    const std::uint64_t mult = i + 1;
    if ((first && mult < 2939) || (last && mult > n - 2940)) continue;
    v1 += static_cast<std::uint32_t>(word * mult);
    v2 += static_cast<std::uint32_t>(word * mult) + static_cast<std::uint32_t>(word * mult >> 32);
  }
}

std::string Le32(std::uint32_t v) {
  return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// A static HTTP server over dir on loopback for 60 s; its port, empty when it did not start.
std::string StartFileServer(const std::string& dir, const std::string& portFile) {
  FILE* p = popen(("timeout 60 python3 -u -m http.server 0 --bind 127.0.0.1 --directory '" + dir +
                   "' > '" + portFile + "' 2>/dev/null </dev/null &")
                      .c_str(),
                  "r");
  if (!p) return {};
  pclose(p);
  for (int i = 0; i < 200; ++i) {
    const std::string text = qltest::ReadFile(portFile);
    const auto at = text.find(" port ");
    if (at != std::string::npos) return text.substr(at + 6, text.find(' ', at + 6) - at - 6);
    usleep(50000);
  }
  return {};
}

}  // namespace

TEST_F(RipAll, VerifyComputesAccurateRipChecksumsAndReadsTheDatabasesAnswer) {
  std::string id = Trackwell(dir.path(), win, image + "discid").out;
  ASSERT_EQ(id.rfind("DiscID\t", 0), 0u) << id;
  const std::uint32_t cddb = static_cast<std::uint32_t>(std::stoul(id.substr(7, 8), nullptr, 16));
  // Tracks of 300, 37 and 150 sectors from sector 0.
  const std::uint32_t id1 = 0 + 300 + 337 + 487, id2 = 1 + 300 * 2 + 337 * 3 + 487 * 4;
  std::uint32_t v1[3], v2[3];
  for (int t = 1; t <= 3; ++t) PlainAccurateRip(Track(t), t == 1, t == 3, v1[t - 1], v2[t - 1]);
  char path[128];
  std::snprintf(path, sizeof path, "%x/%x/%x/dBAR-003-%08x-%08x-%08x.bin", id1 & 0xF,
                (id1 >> 4) & 0xF, (id1 >> 8) & 0xF, id1, id2, cddb);
  const std::string db = dir / "ar";
  ASSERT_EQ(qltest::Run("mkdir -p '" + db + "/" + std::string(path).substr(0, 5) + "'"), 0);
  // Track 1 by its v1 sum, track 3 by its v2 sum; track 2 holds another sum.
  std::string entry = std::string(1, 3) + Le32(id1) + Le32(id2) + Le32(cddb);
  entry += std::string(1, 12) + Le32(v1[0]) + Le32(0);
  entry += std::string(1, 4) + Le32(v1[1] ^ 1) + Le32(0);
  entry += std::string(1, 2) + Le32(v2[2]) + Le32(0);
  qltest::WriteFile(db + "/" + path, entry);
  const std::string port = StartFileServer(db, dir / "arport");
  ASSERT_FALSE(port.empty());

  Result r = Rip("--all --dir out --verify --accuraterip-server http://127.0.0.1:" + port +
                 "/ --json --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* text : {"track 1: AccurateRip", "accurate (confidence 12)", "not accurate",
                           "accurate (confidence 2)"})
    EXPECT_NE(r.err.find(text), std::string::npos) << text << "\n" << r.err;
  char sums[64];
  std::snprintf(sums, sizeof sums, "\"accuraterip_v1\": \"%08x\"", v1[1]);
  EXPECT_NE(r.out.find(sums), std::string::npos) << r.out;

  // Another disc: not in the database. No server: unverified, and the files are still good.
  std::remove((db + "/" + path).c_str());
  r = Rip("--all --dir out --verify --accuraterip-server http://127.0.0.1:" + port + "/ --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("not in database"), std::string::npos) << r.err;
  r = Rip("--all --dir out --verify --accuraterip-server http://127.0.0.1:1/ --json --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("AccurateRip: "), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("\"accuraterip\": \"unverified\""), std::string::npos) << r.out;
  EXPECT_TRUE(WaveAudio(out + "/" + ListDir(out)[0]) == Track(1));
}

TEST_F(RipAll, ALogACueSheetAndAPlaylistBesideTheFiles) {
  // Names from the store; a quote in a title cannot break the cue sheet.
  const std::string section = DiscKey();
  ASSERT_FALSE(section.empty());
  qltest::WriteFile(win + "/cdplayer.ini", "[" + section +
                                               "]\r\nartist=Band\r\ntitle=Live \"at\" Home\r\n"
                                               "0=Intro\r\n1=Middle\r\n2=End\r\n");
  Result r = Rip("--tracks 1,3 --dir out --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> side;
  for (const auto& e : std::filesystem::directory_iterator(out))
    if (IsSideFile(e.path().filename().string())) side.push_back(e.path().filename().string());
  std::sort(side.begin(), side.end());
  ASSERT_EQ(side,
            (std::vector<std::string>{"Band - Live \"at\" Home.cue", "Band - Live \"at\" Home.log",
                                      "Band - Live \"at\" Home.m3u"}));
  const std::string log = qltest::ReadFile(out + "/" + side[1]);
  const std::string crc =
      PythonCrc32(img.bin, std::int64_t(img.starts[2]) * 2352, std::int64_t(img.lengths[2]) * 2352);
  for (const std::string& text : std::vector<std::string>{
           "Read mode:   normal", "Read offset: 0 samples", "Track  1  Intro",
           "00:02:00 - 00:06:00 (300 sectors)", std::string("CRC-32:     ") + crc,
           "File:       End.wav", "2 track(s) ripped, 0 failed."})
    EXPECT_NE(log.find(text), std::string::npos) << text << "\n" << log;
  const std::string cue = qltest::ReadFile(out + "/" + side[0]);
  EXPECT_NE(cue.find("TITLE \"Live 'at' Home\"\nFILE \"Intro.wav\" WAVE\n  TRACK 01 AUDIO\n"
                     "    TITLE \"Intro\"\n    INDEX 01 00:00:00\nFILE \"End.wav\" WAVE\n"
                     "  TRACK 03 AUDIO\n"),
            std::string::npos)
      << cue;
  EXPECT_EQ(qltest::ReadFile(out + "/" + side[2]),
            "#EXTM3U\n#EXTINF:4,Band - Intro\nIntro.wav\n#EXTINF:2,Band - End\nEnd.wav\n");
  // A log that cannot be written (its name holds a folder) fails the run with its name; the
  // tracks are written all the same, and the earlier cue sheet stays.
  const std::string cueBefore = qltest::ReadFile(out + "/" + side[0]);
  std::remove((out + "/" + side[1]).c_str());
  ASSERT_EQ(mkdir((out + "/" + side[1]).c_str(), 0755), 0);
  r = Rip("--tracks 2 --dir out --json --quiet");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Band - Live \"at\" Home"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("\"ok\": false"), std::string::npos) << r.out;
  EXPECT_TRUE(WaveAudio(out + "/Middle.wav") == Track(2));
  EXPECT_EQ(qltest::ReadFile(out + "/" + side[0]), cueBefore);
  // --no-log leaves them out.
  r = Rip("--all --dir plain --no-log --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const auto& e : std::filesystem::directory_iterator(dir / "plain"))
    EXPECT_FALSE(IsSideFile(e.path().filename().string())) << e.path();
}
