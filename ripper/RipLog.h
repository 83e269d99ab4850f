#pragma once
// What a rip (trackwell's or the window's) leaves beside the ripped files: a log of the run
// (source, read mode, offset, and per track its range, CRC-32, AccurateRip answer, retries and
// skips, file), a cue sheet of the files (one FILE per track, with the disc's and tracks' text) and
// an .m3u playlist. Each is written whole under a temporary name and then renamed.
#include <cstdint>
#include <string>
#include <vector>

#include "RipResult.h"

namespace ripper {

struct RipLogTrack {
  int number = 0;
  std::uint32_t start = 0, length = 0;  // sectors (start absolute, lead-in included)
  std::string isrc;
};

struct RipLogInfo {
  std::string program;  // "trackwell 1.2.3"
  std::string source;   // the drive or the image
  std::string mode;     // read mode
  int offset = 0;       // read offset correction, samples
  std::string artist, title, catalog, genre, year;
  std::uint32_t cddbId = 0;
  std::string accurateRip;          // the disc's AccurateRip entry, when verified
  std::vector<RipLogTrack> tracks;  // by the results' order
};

// "Artist - Title" when either is known, else "disc " and the CDDB disc ID; a safe file name.
std::string RipSideFileBase(const RipLogInfo& info);

// Writes BASE.log, BASE.cue and BASE.m3u into dir (the cue and the playlist name the files of
// the tracks written whole). Returns the names written. Throws EInOutError naming the file.
std::vector<std::string> WriteRipSideFiles(const std::string& dir, const RipLogInfo& info,
                                           const std::vector<TrackResult>& results);

}  // namespace ripper
