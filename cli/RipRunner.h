#pragma once
// The run of `trackwell rip --all | --tracks`: one recording chain reads the tracks one after
// the other (CD reader -> tap -> format converter -> trigger -> wave file or MP3 encoder);
// with --jobs the encoding of finished tracks (the MP3 encoder on a chain of its own, or an
// external program) runs on up to N workers while the next tracks are read. Everything is
// driven from the main loop; the chains run on their triggers' threads.
#include <memory>
#include <string>
#include <vector>

#include "MMCDRead.h"
#include "MMUtils.h"
#include "PollDispatcher.h"
#include "RipMp3.h"
#include "RipReport.h"

namespace trackwell {

struct RipTrackPlan {
  int tocIndex = 0;      // index in the table of contents; -1 the hidden track before track 1
  std::string waveName;  // file name of the wave (wave output, or input of an encoder)
  std::string outName;   // file name of the final output (== waveName for wave output)
  bool data = false;     // a data track
  bool named = false;    // asked for by number (--tracks): a data track fails
  bool firstAudio = false, lastAudio = false;  // the disc's first and last audio track
  TMMMP3Tags tags;                             // written into the MP3 (ID3) or the wave (LIST INFO)
};

struct RipSettings {
  std::string dir;
  TMMCDCopyMode mode = cmNormal;
  bool trimFirst = false, trimLast = false;
  Mp3Options mp3;
  const TWaveFormatEx* format = nullptr;  // --format, else the disc's own
  bool highQuality = false;
  std::string encoder, encoderArgs;  // an external encoder
  int jobs = 0;                      // 0: MP3 encoded in the recording chain
  bool progress = true;
  // Each finished wave is flushed to the disk before it takes its name (--no-sync: the system
  // writes it back in its own time; the name still appears only for a complete file).
  bool sync = true;
  bool accurateRip = false;  // --verify: AccurateRip checksums of every track read whole
  // --test-and-copy: each track is read once without writing anything (its CRC-32 only), then
  // copied; the result holds both CRCs.
  bool testAndCopy = false;
};

// Rips the planned tracks; results[i] belongs to plan[i] (number and name already set).
void RunRip(ql::PollDispatcher& loop, TMMCDReader& reader, const RipSettings& settings,
            const std::vector<RipTrackPlan>& plan, std::vector<TrackResult>& results);

}  // namespace trackwell
