#pragma once
// What a rip tells about each track, shared by the command line and the window: the file
// written, its checksums and the AccurateRip answer. Filled on the thread that runs the rip.
#include <cstdint>
#include <string>

namespace ripper {

struct TrackResult {
  int number = 0;          // 0: the hidden track before track 1
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
  // Test and copy: the CRC-32 of a first read that wrote nothing; `crc` is the copy's. Two
  // reads that differ mean one of them is wrong.
  bool tested = false;
  std::uint32_t testCrc = 0;
  bool TestAndCopyMatch() const { return tested && testCrc == crc; }
};

}  // namespace ripper
