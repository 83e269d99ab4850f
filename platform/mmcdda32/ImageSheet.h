#pragma once
// The disc an image describes: cue sheets (as rippers and burners write them) and cdrdao
// tables of contents read into one layout of tracks and of the byte ranges of the files that
// hold their audio. Parsing touches no file: a probe tells the size (and the audio data's place)
// of every file the sheet names.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace cdda {

constexpr uint32_t kSectorBytes = 2352;

// What the probe is asked for: the file as the sheet names it, resolved against the sheet.
enum class FileType { binary, motorola, wave };

struct FileInfo {
  std::string path;         // the name to open
  uint64_t dataOffset = 0;  // where the audio starts (a wave file's "data" chunk)
  uint64_t dataBytes = 0;   // how many bytes of audio follow it
};

// Fills info for `name` (as written in the sheet) of the given type; false with `why` set when
// the file cannot be used ("not found", "not 16-bit stereo 44100 Hz PCM", ...).
using FileProbe =
    std::function<bool(const std::string& name, FileType type, FileInfo* info, std::string* why)>;

// Disc bytes [first, first + bytes) (a sector being 2352 bytes) come from a file (swapped for
// big-endian sources), are silence the sheet adds, or belong to a data track (never audio).
struct Segment {
  enum Kind { file, silence, data };
  Kind kind = silence;
  uint64_t first = 0, bytes = 0;
  int fileIndex = -1;
  uint64_t fileOffset = 0;
  bool swap = false;
};

struct ImageTrack {
  int number = 0;
  bool audio = true;
  bool preEmphasis = false, copy = false, fourChannel = false;
  int32_t pregap = -1;  // first sector of the track's pregap (index 0), -1 when it has none
  int32_t start = 0;    // index 1
  int session = 1;
  std::string isrc, title, performer, songwriter, composer, arranger, message;
};

struct ImageLayout {
  std::vector<ImageTrack> tracks;
  int32_t leadout = 0;  // first sector after the disc
  std::string catalog, title, performer, songwriter, composer, arranger, message, genre;
  std::vector<FileInfo> files;
  std::vector<Segment> segments;  // in order, without gaps, covering [0, leadout)

  // Sectors [first, end) of track i as the reader rips it: up to the next track's start, or to
  // the pregap (or session gap) of a data track that follows an audio track.
  int32_t TrackEnd(size_t i) const;
};

// Both give false with `error` as "<line N>: <reason>" when the sheet cannot be used.
bool ParseCueSheet(std::string_view text, const FileProbe& probe, ImageLayout* out,
                   std::string* error);
bool ParseTocFile(std::string_view text, const FileProbe& probe, ImageLayout* out,
                  std::string* error);

// The sectors a session change leaves between the last track of a session and the first of
// the next (lead-out 6750, lead-in 4500, pregap 150).
constexpr int32_t kSessionGap = 11400;

}  // namespace cdda
