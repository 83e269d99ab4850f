// Outputs under real I/O faults: the fault injector (LD_PRELOAD) fails the Nth write, fsync,
// rename or open of the program under test with ENOSPC or EIO, or kills it before its Nth
// write; N walks until the fault is no longer reached. After every fault: an earlier file of
// the output's name is untouched, no temporary is left, and the exit is non-zero with a
// message. After a kill: no finished-looking file, and the next run removes the leftover.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>

#include "CdImage.h"
#include "NetTestSupport.h"
#include "TestFiles.h"

namespace {

namespace fs = std::filesystem;
using qltest::ReadFile;
using qltest::TempDir;

struct Fault {
  const char* variable;  // QL_FAULT_WRITE, ...
  const char* error;     // ENOSPC, EIO, SHORT
};
const Fault kFaults[] = {{"QL_FAULT_WRITE", "ENOSPC"},  {"QL_FAULT_WRITE", "EIO"},
                         {"QL_FAULT_WRITE", "SHORT"},   {"QL_FAULT_FSYNC", "EIO"},
                         {"QL_FAULT_RENAME", "ENOSPC"}, {"QL_FAULT_OPEN", "ENOSPC"}};

std::vector<std::string> Temporaries(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".qlpart") found.push_back(e.path().filename().string());
  return found;
}

struct Outcome {
  int status = 0;  // the raw wait status
  std::string err, log;
  bool reached() const { return !log.empty(); }
};

class OutputFaults : public ::testing::Test {
 protected:
  // Runs command (a program and its arguments, shell-quoted) with the injector on out's folder.
  Outcome RunWith(const std::string& program, const std::string& command,
                  const std::string& switches) {
    fs::remove(side / "fault.log");
    const std::string line = "env LD_PRELOAD=" QL_FAULTINJECT_PATH " QL_FAULT_DIR=" + dir.path() +
                             " QL_FAULT_PROGRAM=" + program +
                             " QL_FAULT_LOG=" + side / "fault.log " + switches + " " + command +
                             " 2>" + side / "err.txt";
    Outcome o;
    o.status = std::system(line.c_str());
    o.err = ReadFile(side / "err.txt");
    o.log = ReadFile(side / "fault.log");
    return o;
  }

  // Walks every fault over the command that writes out; earlier holds out's bytes before each
  // run; good is what a run without faults writes (checked when a run reports success).
  void Walk(const std::string& program, const std::string& command, const std::string& out,
            const std::function<void()>& restore, const std::function<bool()>& good) {
    for (const Fault& f : kFaults) {
      int n = 1;
      for (; n < 200; ++n) {
        restore();
        const std::string earlier = ReadFile(out);
        const std::string sw = std::string(f.variable) + "=" + std::to_string(n) + ":" + f.error;
        Outcome o = RunWith(program, command, sw);
        SCOPED_TRACE(sw + " " + command + "\n" + o.err + o.log);
        EXPECT_TRUE(Temporaries(dir.path()).empty());
        if (!o.reached()) {
          EXPECT_EQ(o.status, 0);
          break;
        }
        if (o.status == 0) {
          // Only a fault the output survives whole may end in success: a short write (the
          // rest is written by the next call) or the folder's flush after the rename.
          EXPECT_TRUE(std::string(f.error) == "SHORT" ||
                      std::string(f.variable) == "QL_FAULT_FSYNC");
          EXPECT_TRUE(good());
        } else {
          EXPECT_TRUE(WIFEXITED(o.status) && WEXITSTATUS(o.status) != 0) << o.status;
          EXPECT_FALSE(o.err.empty());
          EXPECT_EQ(ReadFile(out), earlier);
        }
      }
      EXPECT_GT(n, 1) << f.variable << " was never reached";
    }
  }

  // Kills the command before its Nth write for every N it reaches: the output's name keeps its
  // earlier bytes; a clean run afterwards leaves no temporary.
  void WalkKills(const std::string& program, const std::string& command, const std::string& out,
                 const std::function<void()>& restore) {
    int n = 1;
    for (; n < 200; ++n) {
      restore();
      const std::string earlier = ReadFile(out);
      Outcome o = RunWith(program, command, "QL_FAULT_KILL_WRITE=" + std::to_string(n));
      SCOPED_TRACE("kill at write " + std::to_string(n) + " " + command);
      if (!o.reached()) break;
      EXPECT_EQ(ReadFile(out), earlier);
      ASSERT_EQ(std::system((command + " 2>/dev/null").c_str()), 0);
      EXPECT_TRUE(Temporaries(dir.path()).empty());
    }
    EXPECT_GT(n, 1);
  }

  TempDir dir;   // the output's folder (the injector's scope)
  TempDir side;  // inputs, logs
};

TEST_F(OutputFaults, TrackwellProcess) {
  qltest::WriteToneWav(side / "in.wav", 0.4);
  const std::string out = dir / "out.wav";
  const std::string command =
      std::string(TRACKWELL_PATH) + " process " + side / "in.wav " + out + " --volume 8192";
  ASSERT_EQ(std::system((command + " 2>/dev/null").c_str()), 0);
  const std::string good = ReadFile(out);
  qltest::WriteToneWav(side / "earlier.wav", 0.1, 1000);
  auto restore = [&] {
    fs::copy_file(side / "earlier.wav", out, fs::copy_options::overwrite_existing);
  };
  Walk("trackwell", command, out, restore, [&] { return ReadFile(out) == good; });
  WalkKills("trackwell", command, out, restore);
}

TEST_F(OutputFaults, TrackwellRipTrack) {
  const auto img = qltest::WriteCdImage(side.path(), "disc", {150});
  const std::string out = dir / "track.wav";
  const std::string command =
      std::string(TRACKWELL_PATH) + " --image " + img.cue + " rip --track 1 -o " + out;
  ASSERT_EQ(std::system((command + " 2>/dev/null").c_str()), 0);
  const std::string good = ReadFile(out);
  qltest::WriteToneWav(side / "earlier.wav", 0.1, 1000);
  auto restore = [&] {
    fs::copy_file(side / "earlier.wav", out, fs::copy_options::overwrite_existing);
  };
  Walk("trackwell", command, out, restore, [&] { return ReadFile(out) == good; });
}

TEST_F(OutputFaults, TrackwellHttpGet) {
  std::string body(150000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 31 + i / 7);
  qltest::WriteFile(side / "doc.bin", body);
  auto server = qltest::StartHttpServer(side.path());
  ASSERT_TRUE(server->running());
  const std::string out = dir / "CDDBFile.txt";
  const std::string command = std::string(TRACKWELL_PATH) +
                              " http get http://127.0.0.1:" + std::to_string(server->port()) +
                              "/doc.bin -o " + out + " >/dev/null";
  auto restore = [&] { qltest::WriteFile(out, "earlier download"); };
  Walk("trackwell", command, out, restore, [&] { return ReadFile(out) == body; });
  WalkKills("trackwell", command, out, restore);
}

TEST_F(OutputFaults, ProfileWrite) {
  const std::string ini = dir / "QuillonTrackwell.ini";
  const std::string command = std::string(INI_WRITE_PROBE_PATH) + " " + ini + " Disc t1 Intro";
  const std::string before = "; the store\r\n[Disc]\r\nf1=Intro.wav\r\n";
  auto restore = [&] { qltest::WriteFile(ini, before); };
  Walk("ini_write_probe", command, ini, restore,
       [&] { return ReadFile(ini) == before + "t1=Intro\r\n"; });
}

}  // namespace
