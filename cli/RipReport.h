#pragma once
// What `trackwell rip` tells about each track: the progress lines on stderr and the summary
// (--json) on stdout.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace trackwell {

struct TrackResult {
  int number = 0;
  std::string name;        // the track's name (store, CDDB or its number)
  std::string file;        // the file written (no folder); for a failed encode, the wave kept
  std::int64_t bytes = 0;  // size of that file
  std::string status = "pending";  // "ok", "failed", "skipped"
  std::uint32_t crc = 0;           // CRC-32 of the audio read from the disc
  std::int64_t audioBytes = 0;     // bytes of audio read
  long skippedSectors = 0;
  std::string reason;  // why a track failed or was skipped
  // --verify: the AccurateRip checksums of a track read whole, and the database's answer
  bool arComputed = false;
  std::uint32_t arV1 = 0, arV2 = 0;
  std::string accurateRip;  // "accurate", "not accurate", "not in database", "unverified"
  int arConfidence = 0;
};

// A string as JSON: quotes, backslashes and control characters escaped, bytes that are no
// UTF-8 written as U+FFFD, so any name gives a valid document.
std::string JsonString(const std::string& s);

void WriteJsonSummary(std::FILE* out, const std::vector<TrackResult>& tracks, bool ok);

// "track 3: 45% 12.3x": one line per update.
void PrintProgress(int track, int percent, double speed);

}  // namespace trackwell
