#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "MMWave.h"
#include "TestFiles.h"

using qltest::TempDir;

namespace {

std::string Trackwell(const std::string& args) {
  return std::string(TRACKWELL_PATH) + " " + args + " 2>/dev/null";
}

std::vector<std::int16_t> Audio(const std::string& path) {
  TMMWave w;
  w.SetFileName(path);
  w.OpenWave();
  std::vector<std::int16_t> v(static_cast<std::size_t>(w.DataSize() / 2));
  w.ReadWaveData(v.data(), static_cast<int>(v.size() * 2));
  return v;
}

std::string Samples(const std::vector<std::int16_t>& v) {
  return std::string(reinterpret_cast<const char*>(v.data()), v.size() * 2);
}

double Rms(const std::vector<std::int16_t>& v) {
  double s = 0;
  for (auto x : v) s += double(x) * x;
  return std::sqrt(s / double(v.size()));
}

int Status(int rc) {
  return rc;
}  // qltest::Run gives the exit status

std::string Listing(const std::string& dir) {
  std::string names;
  EXPECT_EQ(qltest::RunCapture("ls -A " + dir, &names), 0);
  return names;
}

// A 16-bit stereo wave file of bytes of silence; the audio is a hole in the file, so a large
// input costs no disk.
void WriteSparseWav(const std::string& path, std::uint32_t bytes) {
  auto le = [](std::uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
  };
  std::ofstream f(path, std::ios::binary);
  f << "RIFF" << le(36 + bytes, 4) << "WAVE"
    << "fmt " << le(16, 4) << le(1, 2) << le(2, 2) << le(44100, 4) << le(176400, 4) << le(4, 2)
    << le(16, 2) << "data" << le(bytes, 4);
  f.close();
  std::filesystem::resize_file(path, 44 + std::uintmax_t(bytes));
}

// Starts trackwell with args (stderr to /dev/null); its pid.
pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<std::string> all{TRACKWELL_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  posix_spawn(&pid, TRACKWELL_PATH, &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// Waits until a temporary appears in dir (true) or the process ends (false).
bool WaitForTemporary(const std::string& dir, pid_t pid) {
  for (int i = 0; i < 2000; ++i) {
    for (const auto& e : std::filesystem::directory_iterator(dir))
      if (e.path().extension() == ".qlpart") return true;
    if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

}  // namespace

TEST(Trackwell, ProcessWithoutStagesCopiesTheAudio) {
  TempDir dir;
  qltest::WriteToneWav(dir / "in.wav", 2.0);
  ASSERT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "out.wav"))), 0);
  EXPECT_EQ(Audio(dir / "in.wav"), Audio(dir / "out.wav"));
}

TEST(Trackwell, StagesChangeTheAudio) {
  TempDir dir;
  qltest::WriteToneWav(dir / "in.wav", 2.0, 1000);
  const auto in = Audio(dir / "in.wav");
  ASSERT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "eq.wav " +
                                         "--eq 0,0,0,0,0,0,-10,-10,0,0,0,0"))),
            0);
  auto eq = Audio(dir / "eq.wav");
  ASSERT_EQ(eq.size(), in.size());
  EXPECT_NEAR(20 * std::log10(Rms(eq) / Rms(in)), -10, 1.0);

  ASSERT_EQ(
      Status(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "hs.wav --half-speed"))),
      0);
  // Half speed: exactly twice the frames.
  EXPECT_EQ(Audio(dir / "hs.wav").size(), 2 * in.size());

  ASSERT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav " +
                                         dir / "v.wav --volume 8192 " + "--pitch -50"))),
            0);
  auto v = Audio(dir / "v.wav");
  EXPECT_EQ(v.size(), in.size() * 2);
  EXPECT_NEAR(Rms(v) / Rms(in), 0.5, 0.01);
}

TEST(Trackwell, ErrorsExitNonZero) {
  TempDir dir;
  qltest::WriteToneWav(dir / "in.wav", 0.5);
  qltest::WriteFile(dir / "junk.wav", "RIFF1234WAVEjunk");
  EXPECT_EQ(Status(qltest::Run(Trackwell("process " + dir / "missing.wav " + dir / "o.wav"))), 1);
  EXPECT_EQ(Status(qltest::Run(Trackwell("process " + dir / "junk.wav " + dir / "o.wav"))), 1);
  EXPECT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "no/o.wav"))), 1);
  EXPECT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav"))), 2);
  EXPECT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "o.wav --eq 1,2"))),
            2);
  EXPECT_EQ(Status(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "o.wav --odas"))), 2);
  EXPECT_EQ(Status(qltest::Run(Trackwell("frobnicate"))), 2);
  // Messages are the components' own.
  const std::string log = dir / "err.txt";
  qltest::Run(std::string(TRACKWELL_PATH) + " process " + dir / "junk.wav " + dir / "o.wav 2>" +
              log);
  EXPECT_NE(qltest::ReadFile(log).find("Invalid wave file..."), std::string::npos);
}

// The output is never the input, also not through a symbolic or a hard link: refused, and the
// input is left as it was.
TEST(Trackwell, ProcessRefusesToWriteOverItsInput) {
  TempDir dir;
  qltest::WriteToneWav(dir / "in.wav", 0.5);
  const std::string before = qltest::ReadFile(dir / "in.wav");
  ASSERT_EQ(symlink("in.wav", (dir / "sym.wav").c_str()), 0);
  ASSERT_EQ(link((dir / "in.wav").c_str(), (dir / "hard.wav").c_str()), 0);
  std::filesystem::create_directory(dir / "sub");
  ASSERT_EQ(symlink("..", (dir / "sub/up").c_str()), 0);
  for (const std::string& out : {dir / "in.wav", dir / "sym.wav", dir / "hard.wav",
                                 dir / "sub/../in.wav", dir / "sub/up/in.wav"}) {
    const std::string log = dir / "err.txt";
    EXPECT_EQ(qltest::Run(std::string(TRACKWELL_PATH) + " process " + dir / "in.wav " + out +
                          " --volume 100 2>" + log),
              1)
        << out;
    EXPECT_NE(qltest::ReadFile(log).find("is the input file"), std::string::npos) << out;
    EXPECT_EQ(qltest::ReadFile(dir / "in.wav"), before) << out;
  }
  // The relative name of the input, from its own folder.
  EXPECT_EQ(qltest::Run("cd " + dir.path() + " && " + Trackwell("process in.wav ./in.wav")), 1);
  EXPECT_EQ(qltest::ReadFile(dir / "in.wav"), before);
  // Devices are refused by name.
  EXPECT_EQ(qltest::Run(Trackwell("process " + dir / "in.wav /dev/null")), 1);
}

// A write that fails (here the file-size limit: EFBIG, as ENOSPC would) exits 1 naming the
// file and the reason; the earlier output stays as it was and no temporary is left.
TEST(Trackwell, ProcessThatCannotWriteKeepsTheEarlierOutput) {
  TempDir dir;
  qltest::WriteToneWav(dir / "in.wav", 3.0);
  qltest::WriteToneWav(dir / "out.wav", 0.1, 1000);
  const std::string before = qltest::ReadFile(dir / "out.wav");
  const std::string log = dir / "err.txt";
  EXPECT_EQ(qltest::Run("trap '' XFSZ; ulimit -f 200; exec " + std::string(TRACKWELL_PATH) +
                        " process " + dir / "in.wav " + dir / "out.wav 2>" + log),
            1);
  const std::string err = qltest::ReadFile(log);
  EXPECT_NE(err.find("Cannot write " + dir / "out.wav" + ": "), std::string::npos) << err;
  EXPECT_NE(err.find("File too large"), std::string::npos) << err;
  EXPECT_EQ(qltest::ReadFile(dir / "out.wav"), before);
  EXPECT_EQ(Listing(dir.path()), "err.txt\nin.wav\nout.wav\n");
}

// Ctrl-C or a kill in the middle: the process dies of the signal, its temporary is gone and
// the earlier output stays. After a SIGKILL (no cleanup possible) the next run removes the
// leftover.
TEST(Trackwell, ProcessInterruptedLeavesNoUnfinishedOutput) {
  TempDir dir;
  WriteSparseWav(dir / "in.wav", 200u << 20);
  qltest::WriteToneWav(dir / "out.wav", 0.1, 1000);
  const std::string before = qltest::ReadFile(dir / "out.wav");
  for (int sig : {SIGINT, SIGTERM, SIGKILL}) {
    pid_t pid = Spawn({"process", dir / "in.wav", dir / "out.wav", "--half-speed"});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForTemporary(dir.path(), pid)) << "finished before the signal";
    kill(pid, sig);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(qltest::ReadFile(dir / "out.wav"), before);
    if (sig != SIGKILL) {
      EXPECT_EQ(Listing(dir.path()), "in.wav\nout.wav\n");
    }
  }
  ASSERT_NE(Listing(dir.path()), "in.wav\nout.wav\n") << "a SIGKILL leaves its temporary";
  qltest::WriteToneWav(dir / "small.wav", 0.2);
  ASSERT_EQ(qltest::Run(Trackwell("process " + dir / "small.wav " + dir / "new.wav")), 0);
  EXPECT_EQ(Listing(dir.path()), "in.wav\nnew.wav\nout.wav\nsmall.wav\n");
}

namespace {

std::string Le(std::uint32_t v, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i));
  return s;
}

// A wave file with the given "fmt " chunk and data.
void WriteWav(const std::string& path, const std::string& fmt, const std::string& data) {
  qltest::WriteFile(path, "RIFF" +
                              Le(static_cast<std::uint32_t>(20 + fmt.size() + data.size()), 4) +
                              "WAVEfmt " + Le(static_cast<std::uint32_t>(fmt.size()), 4) + fmt +
                              "data" + Le(static_cast<std::uint32_t>(data.size()), 4) + data);
}

std::string PcmFmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, int bits) {
  const std::uint32_t align = channels * bits / 8;
  return Le(tag, 2) + Le(channels, 2) + Le(rate, 4) + Le(rate * align, 4) + Le(align, 2) +
         Le(bits, 2);
}

std::string Stderr(const std::string& args, int* status) {
  std::string out;
  *status = qltest::RunCapture(std::string(TRACKWELL_PATH) + " " + args + " 2>&1", &out);
  return out;
}

}  // namespace

TEST(Trackwell, FlatEqualizerGivesTheInputBackAligned) {
  TempDir dir;
  qltest::WriteToneWav(dir / "in.wav", 3.3, 997);
  ASSERT_EQ(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "out.wav --eq " +
                                  "0,0,0,0,0,0,0,0,0,0,0,0")),
            0);
  EXPECT_TRUE(Audio(dir / "in.wav") == Audio(dir / "out.wav"));
}

TEST(Trackwell, ValuesOutsideTheWindowsRangesAreRefused) {
  TempDir dir;
  qltest::WriteToneWav(dir / "in.wav", 0.2);
  for (const char* opt : {"--volume 40000", "--volume 65537", "--pitch 70", "--pitch -51",
                          "--eq 0,0,0,0,0,0,0,0,0,0,0,11", "--panning 20000"}) {
    int status = 0;
    const std::string err = Stderr("process " + dir / "in.wav " + dir / "o.wav " + opt, &status);
    EXPECT_EQ(status, 2) << opt;
    EXPECT_NE(err.find("from "), std::string::npos) << err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "o.wav"));
}

TEST(Trackwell, ClippedSamplesAreReported) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 44100; ++i) data += Le(static_cast<std::uint16_t>(i % 2 ? 30000 : -30000), 2);
  WriteWav(dir / "in.wav", PcmFmt(1, 1, 44100, 16), data);
  int status = 0;
  std::string err = Stderr("process " + dir / "in.wav " + dir / "o.wav --volume 32000", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(err.find("44100 samples clipped"), std::string::npos) << err;
  err = Stderr("process " + dir / "in.wav " + dir / "o.wav --volume 16000", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(err.find("clipped"), std::string::npos) << err;
}

// Inputs as other programs write them, and inputs that are not wave files at all.
TEST(Trackwell, ProcessReadsExtensiblePcmAndRefusesBadInputsWithTheReason) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 20000; ++i) data += Le(static_cast<std::uint16_t>(i * 37), 2);
  // WAVE_FORMAT_EXTENSIBLE: 22 more bytes, valid bits, channel mask, the PCM sub-format.
  const std::string ext =
      PcmFmt(0xFFFE, 2, 44100, 16) + Le(22, 2) + Le(16, 2) + Le(3, 4) +
      std::string("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71", 16);
  WriteWav(dir / "ext.wav", ext, data);
  ASSERT_EQ(qltest::Run(Trackwell("process " + dir / "ext.wav " + dir / "o.wav --volume 16384")),
            0);
  const auto out = Audio(dir / "o.wav");
  EXPECT_EQ(Samples(out), data);

  struct Bad {
    std::string fmt, reason;
  };
  for (const Bad& b :
       {Bad{PcmFmt(1, 0, 44100, 16), "no channels"}, Bad{PcmFmt(1, 2, 0, 16), "sample rate is 0"},
        Bad{PcmFmt(1, 2, 44100, 12), "8, 16, 24 or 32 bits"},
        Bad{PcmFmt(1, 2, 4000000000u, 16), "sample rate"}}) {
    WriteWav(dir / "bad.wav", b.fmt, data);
    int status = 0;
    const std::string err = Stderr("process " + dir / "bad.wav " + dir / "o2.wav", &status);
    EXPECT_EQ(status, 1) << b.reason;
    EXPECT_NE(err.find(b.reason), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(dir / "o2.wav"));
  }

  // A FIFO with no writer is refused at once, not waited on.
  ASSERT_EQ(mkfifo((dir / "fifo.wav").c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  const std::string err = Stderr("process " + dir / "fifo.wav " + dir / "o3.wav", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("not a regular file"), std::string::npos) << err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// Extensible files as sox writes them (24-bit): copied without stages, sample for sample, and
// read back by sox.
TEST(Trackwell, ProcessCopiesAnExtensibleFileSoxWrote) {
  if (qltest::Run("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sox";
  TempDir dir;
  ASSERT_EQ(qltest::Run("sox -n -r 44100 -c 2 -b 24 " + dir / "in.wav" +
                        " synth 0.7 sine 440 sine 660 2>/dev/null"),
            0);
  // sox marks a 24-bit file as extensible (format tag 0xFFFE at byte 20).
  const std::string raw = qltest::ReadFile(dir / "in.wav");
  ASSERT_GT(raw.size(), 22u);
  ASSERT_EQ(static_cast<unsigned char>(raw[20]), 0xFE);
  ASSERT_EQ(qltest::Run(Trackwell("process " + dir / "in.wav " + dir / "out.wav")), 0);
  auto data = [](const std::string& path) {
    TMMWave w;
    w.SetFileName(path);
    w.OpenWave();
    std::string d(static_cast<std::size_t>(w.DataSize()), '\0');
    w.ReadWaveData(d.data(), static_cast<int>(d.size()));
    return d;
  };
  const std::string in = data(dir / "in.wav");
  EXPECT_EQ(in.size(), 30870u * 6);
  EXPECT_TRUE(data(dir / "out.wav") == in);
  EXPECT_EQ(qltest::Run("sox " + dir / "out.wav -n stat 2>/dev/null"), 0);
}
