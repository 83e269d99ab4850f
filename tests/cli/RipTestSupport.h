#pragma once
// Running trackwell as a whole process over generated CD images, for the rip tests.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "CdImage.h"
#include "TestFiles.h"

namespace riptest {

struct Result {
  int status = -1;
  std::string out, err;
};

// Runs `trackwell ARGS` in folder cwd with QL_WINDOWS_DIR=windows, the CDDB cache in
// windows/cache and the environment assignments env (shell text, may be empty); ARGS is shell
// text.
Result Trackwell(const std::string& cwd, const std::string& windows, const std::string& args,
                 const std::string& env = {});

// One track of the --json summary, as python's json module reads it.
struct JsonTrack {
  int number = 0;
  std::string name, file, status, crc32, reason;
  std::string testAndCopy, testCrc, copyCrc;  // --test-and-copy: "match" or "mismatch"
  long long bytes = 0, audioBytes = 0, skipped = 0;
};
struct Summary {
  bool parsed = false, ok = false;
  std::vector<JsonTrack> tracks;
};
Summary ParseSummary(const std::string& json);

// The audio of a wave file ("data" chunk), empty when it is none.
std::string WaveAudio(const std::string& path);
// The sectors [first, first + count) of the image.
std::string ImageAudio(const qltest::CdImage& img, std::uint32_t first, std::uint32_t count);
// CRC-32 as python's zlib computes it, "%08x".
std::string PythonCrc32(const std::string& file, long long offset, long long size);

// The log, cue sheet and playlist a rip leaves beside its files.
bool IsSideFile(const std::string& name);
// Files of a folder (names), sorted; hidden ones too, but no side files of a rip unless all.
std::vector<std::string> ListDir(const std::string& dir, bool all = false);

// A loopback CDDB server over dir (category/discid files); port empty when it did not start.
// It ends when the test process ends. options go to the server's command line (misbehaviour).
std::string StartCddbServer(const std::string& dir, const std::string& portFile,
                            const std::string& options = "");

// The signal-to-noise ratio (dB) of decoded 16-bit stereo audio against the original, at the
// best alignment within the first 4000 frames (an MP3 decoder adds a delay).
double BestSnr(const std::string& original, const std::string& decoded);

}  // namespace riptest
