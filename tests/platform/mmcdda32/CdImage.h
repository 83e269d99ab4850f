#pragma once
// Audio CD images for the tests and benchmarks: a .bin of 2352-byte sectors and its .cue
// (optionally a cdrdao .toc over the same .bin). Every sector of every track is distinct:
// tone-like samples whose pitch depends on the track, plus a little deterministic noise.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qltest {

struct CdImageTrack {
  CdImageTrack(std::uint32_t n = 75, std::string t = {}, std::string p = {})  // NOLINT
      : sectors(n), title(std::move(t)), performer(std::move(p)) {}
  std::uint32_t sectors;
  std::string title;      // CD-Text title in the .cue when not empty
  std::string performer;  // CD-Text performer in the .cue when not empty
  bool data = false;      // a data track (MODE1/2352: raw mode-1 sectors), not audio
};

// A data track of n sectors, for mixed-mode and enhanced discs.
inline CdImageTrack DataTrack(std::uint32_t n) {
  CdImageTrack t(n);
  t.data = true;
  return t;
}

struct CdImage {
  std::string cue, bin, toc, nrg;
  std::vector<std::uint32_t> starts;   // first sector of each track
  std::vector<std::uint32_t> lengths;  // sectors of each track
  std::uint32_t sectors = 0;           // the whole disc
};

// Writes dir/name.bin and dir/name.cue (and dir/name.toc with `toc`, naming the .bin by its
// bare file name, as written beside it). The .cue names the .bin by its bare name too.
CdImage WriteCdImage(const std::string& dir, const std::string& name,
                     const std::vector<CdImageTrack>& tracks, bool toc = false,
                     const std::string& albumTitle = {}, const std::string& albumPerformer = {});

// The same disc as a Nero (version 2) image (audio tracks only), dir/name.nrg: the 2-second pregap
// of track 1, the audio, then the cue, disc-at-once, session and end chunks and the "NER5" footer.
void WriteNrgImage(CdImage& image, const std::string& dir, const std::string& name);

// The 2352 bytes of sector `sector` of track `track` (1-based) as the image holds them.
void CdImageSector(std::uint32_t track, std::uint32_t sector, std::uint8_t* out);
// A raw mode-1 data sector at disc sector `lsn`: sync pattern, header, then busy bytes that
// would play as full-scale noise.
void CdImageDataSector(std::uint32_t lsn, std::uint8_t* out);

}  // namespace qltest
