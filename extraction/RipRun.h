#pragma once
// What the CD-extraction window keeps of the tracks it records, for the log, the cue sheet and
// the playlist beside the files and for the AccurateRip check: the run of tracks recorded of one
// disc into one folder (the audio as read is summed by ripper::TAudioTap).
#include <cstdint>
#include <string>
#include <vector>

#include "AccurateRip.h"
#include "RipLog.h"
#include "RipResult.h"

namespace ripper_window {

// The tracks recorded of one disc into one folder since the window showed that disc: recording
// a track again replaces its entry. Shared with the external encoder jobs of its tracks, which
// name their MP3 once it is made.
struct TRipRun {
  std::string section;  // the disc
  std::string dir;      // the output folder
  ripper::RipLogInfo info;
  std::vector<ripper::TrackResult> results;  // by track number, info.tracks alike
  ripper::TAccurateRipDisc disc;
  bool verify = false;
  std::string server;
  bool sideFiles = true;
  bool finished = false;  // no track of it is being recorded
  // The entry of track `number` (a new one, in track order, when there is none yet).
  std::size_t Entry(int number);
  // The entry of track `number`, or -1.
  int Find(int number) const;
};

// The size of a file, 0 when there is none.
std::int64_t FileBytes(const std::string& path);

// The lines that tell the user the AccurateRip answers: one per track checked, then why the
// database could not be asked (empty when it was).
std::string AccurateRipReport(const std::vector<ripper::TrackResult>& results,
                              const std::string& failure);

}  // namespace ripper_window
