#pragma once
// Verification of ripped tracks against the AccurateRip database: the two checksums of each
// track, the disc's identifiers and the address of its entry, and the entry's answer for each
// track. No I/O here: the caller fetches the entry. Any thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ripper {

// The checksums of one track, fed with its audio as read (16-bit stereo little-endian frames,
// in pieces of any size). Each frame is taken as one 32-bit word and multiplied by its
// position (1 for the first frame): v1 sums the low 32 bits of those products, v2 the low and
// the high halves. The disc's first track leaves out the frames before position 5 * 588 - 1
// and its last track the last 5 * 588 frames, as the drives' read offsets make them unsure.
class TAccurateRip {
 public:
  TAccurateRip() = default;
  TAccurateRip(std::uint32_t frames, bool firstTrack, bool lastTrack) {
    Reset(frames, firstTrack, lastTrack);
  }
  void Reset(std::uint32_t frames, bool firstTrack, bool lastTrack);
  void Update(const void* data, std::size_t bytes);
  std::uint32_t V1() const { return v1_; }
  std::uint32_t V2() const { return v2_; }
  // Frames fed so far.
  std::uint64_t Frames() const { return pos_; }

 private:
  std::uint64_t first_ = 1, last_ = 0;  // positions counted
  std::uint64_t pos_ = 0;               // frames fed
  std::uint32_t v1_ = 0, v2_ = 0;
  unsigned char carry_[4] = {};
  int carried_ = 0;
};

struct TAccurateRipDisc {
  std::uint32_t id1 = 0, id2 = 0, cddbId = 0;
  int tracks = 0;
  // "dBAR-NNN-ID1-ID2-CDDBID.bin" under its three folders, after the server's base address.
  std::string Path() const;
};

// The identifiers from the start sectors of the tracks (LBA: 0 is 00:02:00) and the lead-out.
TAccurateRipDisc AccurateRipDisc(const std::vector<std::uint32_t>& trackStarts,
                                 std::uint32_t leadOut, std::uint32_t cddbId);

// One track's answer: the highest confidence with which an entry of the disc holds either
// checksum (0: the entry has the track with other checksums).
struct TAccurateRipMatch {
  bool found = false;      // the entry holds the track
  int confidence = 0;      // matching submissions (0: no entry matched)
  bool v2 = false;         // it matched the v2 checksum
  std::uint32_t best = 0;  // the checksum with the most submissions, for the log
};

// Reads the entry (one or more blocks: a count byte, the three identifiers, then per track a
// confidence byte, the checksum and a checksum of part of the track) and answers for track
// number (1-based). Blocks of other discs are ignored. Returns false for data that is no entry.
bool AccurateRipLookup(const std::string& entry, const TAccurateRipDisc& disc, int track,
                       std::uint32_t v1, std::uint32_t v2, TAccurateRipMatch& match);

}  // namespace ripper
