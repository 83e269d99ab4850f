#pragma once
// What the CD-extraction window keeps of the tracks it records, for the log, the cue sheet and
// the playlist beside the files and for the AccurateRip check: a pass-through stage right behind
// the reader that sums the audio as read from the disc (before any conversion or encoding), and
// the run of tracks recorded of one disc into one folder.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "AccurateRip.h"
#include "Checksums.h"
#include "MMObjects.h"
#include "RipLog.h"
#include "RipResult.h"

namespace ripper_window {

// Counts the bytes pulled through it and keeps their CRC-32 and, when asked, their AccurateRip
// checksums. It runs on the trigger's thread; Reset and the sums are used while the chain is
// stopped, the byte count may be read at any time.
class TRecordTap : public TMMDSPComponent {
 public:
  void Reset() {
    bytes_ = 0;
    crc_ = 0;
    accurateRip_ = false;
  }
  // Also the AccurateRip checksums of a track of `frames` frames.
  void SumAccurateRip(std::uint32_t frames, bool firstTrack, bool lastTrack) {
    ar_.Reset(frames, firstTrack, lastTrack);
    accurateRip_ = true;
  }
  bool SumsAccurateRip() const { return accurateRip_; }
  const ripper::TAccurateRip& AccurateRip() const { return ar_; }
  std::int64_t Bytes() const { return bytes_; }
  std::uint32_t Crc() const { return crc_; }

  void BufferLoad(PWaveHdr h, bool& MoreBuffers) override {
    TMMDSPComponent::BufferLoad(h, MoreBuffers);
    crc_ = ripper::Crc32(crc_, h->lpData, h->dwBytesRecorded);
    if (accurateRip_) ar_.Update(h->lpData, h->dwBytesRecorded);
    bytes_ += h->dwBytesRecorded;
  }

 private:
  std::atomic<std::int64_t> bytes_{0};
  std::atomic<std::uint32_t> crc_{0};
  bool accurateRip_ = false;
  ripper::TAccurateRip ar_;
};

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
