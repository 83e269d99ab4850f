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
  int number = 0;                       // 0: the hidden track before track 1
  std::uint32_t start = 0, length = 0;  // sectors (start absolute, lead-in included)
  std::string isrc;
  // Sectors of the track's pregap (index 0) just before `start`; they end the previous
  // track's range, so they lie in that track's file.
  std::uint32_t pregap = 0;
  // The sectors the file holds when not [start, start + length) (a second left out at either
  // end): first absolute, 0 sectors meaning the whole range.
  std::uint32_t fileStart = 0, fileLength = 0;
};

struct RipLogInfo {
  std::string program;  // "trackwell 1.2.3"
  std::string source;   // the drive or the image
  std::string mode;     // read mode
  int offset = 0;       // read offset correction, samples
  std::string artist, title, catalog, genre, year;
  std::uint32_t cddbId = 0;
  std::string accurateRip;          // the disc's AccurateRip entry, when verified
  bool testAndCopy = false;         // every track read twice and the reads compared
  std::uint32_t hiddenSectors = 0;  // the disc's hidden track before track 1 (0: none)
  std::vector<RipLogTrack> tracks;  // by the results' order
};

// "Artist - Title" when either is known, else "disc " and the CDDB disc ID; a safe file name.
std::string RipSideFileBase(const RipLogInfo& info);

// Writes BASE.log, BASE.cue and BASE.m3u into dir (the cue and the playlist name the files of
// the tracks written whole). Returns the names written. Throws EInOutError naming the file.
// The cue sheet describes the files as they lie on the disc: a track's pregap is an INDEX 00
// in the file before it when that file ends where the track starts (the hidden track's file
// holds track 1's), else a PREGAP of silence; a file that does not start at its track's
// INDEX 01 (a second left out) is no longer the disc's layout.
std::vector<std::string> WriteRipSideFiles(const std::string& dir, const RipLogInfo& info,
                                           const std::vector<TrackResult>& results);

}  // namespace ripper
