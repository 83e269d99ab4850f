// External encoder jobs with real programs: lame, a missing one, one that fails, one that
// writes nothing, and names that try to smuggle options in.
#include "EncoderJob.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "RipperText.h"
#include "TestFiles.h"

using ripper::EncoderArgv;
using ripper::RunEncoderJob;
using ripper::TEncodeStatus;
using V = std::vector<std::string>;

namespace {

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

// A script that writes each argument it got on a line of its own into $dir/args and then
// does what `body` says.
std::string Script(const qltest::TempDir& dir, const std::string& name, const std::string& body) {
  std::string path = dir / name;
  qltest::WriteFile(path, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                              (dir / "args") + "'\n" + body + "\n");
  chmod(path.c_str(), 0755);
  return path;
}

}  // namespace

TEST(EncoderJob, TheTemplateBecomesTheArgumentVectorWithThePathsAsWholeArguments) {
  EXPECT_EQ(EncoderArgv("/bin/enc", "-b 192 $1 $2", "/o/a b.wav", "/o/a b.mp3"),
            (V{"/bin/enc", "-b", "192", "/o/a b.wav", "/o/a b.mp3"}));
  // No placeholder: wave, then MP3, appended.
  EXPECT_EQ(EncoderArgv("enc", "--quiet", "w", "m"), (V{"enc", "--quiet", "w", "m"}));
  EXPECT_EQ(EncoderArgv("enc", "", "w", "m"), (V{"enc", "w", "m"}));
  // Reversed, repeated, glued to text, inside quotes.
  EXPECT_EQ(EncoderArgv("enc", "$2 $1", "w", "m"), (V{"enc", "m", "w"}));
  EXPECT_EQ(EncoderArgv("enc", "$1 $1 $2", "w", "m"), (V{"enc", "w", "$1", "m"}));
  EXPECT_EQ(EncoderArgv("enc", "-o$2 \"$1\" --preset \"fast standard\"", "w", "m"),
            (V{"enc", "-o", "m", "w", "--preset", "fast standard"}));
  // A path that holds a placeholder, quotes or blanks is never split or searched.
  EXPECT_EQ(EncoderArgv("enc", "$1 $2", "/o/x$2 \"y\"\t-z.wav", "/o/m.mp3"),
            (V{"enc", "/o/x$2 \"y\"\t-z.wav", "/o/m.mp3"}));
}

TEST(EncoderJob, ANameWithQuotesAndATabHandsTheEncoderNoExtraOption) {
  qltest::TempDir dir;
  std::string enc = Script(dir, "enc", "shift 2; cp \"$1\" \"$2\"");
  // The grid's name as a CDDB server sent it; the recording made the wave under the safe name.
  std::string name = ripper::MakeTrackFileName("", "", "1", "Song \"Live\"\t--delete-all", "",
                                               ripper::TNamingOptions{false, false, false, true});
  std::string wave = dir / (name + ".wav"), mp3 = dir / (name + ".mp3");
  qltest::WriteFile(wave, "RIFF....");
  auto r = RunEncoderJob({enc, "-b 128 $1 $2", wave, mp3});
  EXPECT_TRUE(r.ok()) << r.message;
  // The encoder writes a hidden temporary beside the MP3 that keeps its extension; the MP3
  // takes its name once the encoder succeeded.
  const std::string args = qltest::ReadFile(dir / "args");
  const std::string head = "-b\n128\n" + wave + "\n" + dir.path() + "/.";
  ASSERT_EQ(args.compare(0, head.size(), head), 0) << args;
  EXPECT_EQ(args.substr(args.size() - 5), ".mp3\n") << args;
  EXPECT_EQ(qltest::ReadFile(mp3), "RIFF....");
  EXPECT_FALSE(Exists(wave));
}

TEST(EncoderJob, RealLameEncodesAndTheWaveGoes) {
  if (qltest::Run("command -v lame >/dev/null") != 0) GTEST_SKIP() << "lame is not installed";
  qltest::TempDir dir;
  std::string wave = dir / "Track_1.wav", mp3 = dir / "Track_1.mp3";
  qltest::WriteToneWav(wave, 1.0);
  auto r = RunEncoderJob({"lame", "--quiet -b 128 $1 $2", wave, mp3});
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_TRUE(r.message.empty());
  EXPECT_FALSE(Exists(wave));
  struct stat st;
  ASSERT_EQ(stat(mp3.c_str(), &st), 0);
  EXPECT_GT(st.st_size, 10000);  // about 16 kB for one second at 128 kbit/s
}

TEST(EncoderJob, AFailingMissingOrSilentEncoderKeepsTheWaveAndSaysWhy) {
  qltest::TempDir dir;
  std::string wave = dir / "t.wav", mp3 = dir / "t.mp3";
  qltest::WriteFile(wave, "wave bytes");
  qltest::WriteFile(mp3, "an earlier MP3");

  auto missing = RunEncoderJob({dir / "no-such-encoder", "$1 $2", wave, mp3});
  EXPECT_EQ(missing.status, TEncodeStatus::kNotStarted);
  EXPECT_NE(missing.message.find("could not be started"), std::string::npos);
  EXPECT_NE(missing.message.find(wave), std::string::npos);

  // Exits non-zero after writing a partial MP3: still a failure.
  auto failing =
      RunEncoderJob({Script(dir, "fail", "echo x > \"$2\"; exit 3"), "$1 $2", wave, mp3});
  EXPECT_EQ(failing.status, TEncodeStatus::kFailed);
  EXPECT_EQ(failing.exitCode, 3);
  EXPECT_NE(failing.message.find("exited with code 3"), std::string::npos);

  // Killed by a signal.
  auto killed = RunEncoderJob({Script(dir, "killed", "kill -9 $$"), "$1 $2", wave, mp3});
  EXPECT_EQ(killed.status, TEncodeStatus::kFailed);
  EXPECT_NE(killed.message.find("ended abnormally"), std::string::npos);

  // Exit 0 without an MP3, or with an empty one.
  auto none = RunEncoderJob({Script(dir, "none", "exit 0"), "$1 $2", wave, mp3});
  EXPECT_EQ(none.status, TEncodeStatus::kNoOutput);
  auto empty = RunEncoderJob({Script(dir, "empty", ": > \"$2\""), "$1 $2", wave, mp3});
  EXPECT_EQ(empty.status, TEncodeStatus::kNoOutput);
  EXPECT_NE(empty.message.find("wrote no MP3 file"), std::string::npos);

  EXPECT_EQ(qltest::ReadFile(wave), "wave bytes");  // kept through all of them
  // The half-written MP3 of the failing encoder never replaced the earlier one, and no
  // temporary is left.
  EXPECT_EQ(qltest::ReadFile(mp3), "an earlier MP3");
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}
