#pragma once
// Which tracks `trackwell rip` takes and what their files are called: the track list of
// --tracks, the names from the disc store or a CDDB entry, and one distinct file name per track.
#include <string>
#include <vector>

#include "DiscText.h"

namespace trackwell {

// "1,3-5" -> 1, 3, 4, 5 (ascending, each once; 0 is the hidden track before track 1). False,
// with a message, for anything else: empty items, a range that runs backwards, numbers outside
// 0-99.
bool ParseTrackList(const std::string& text, std::vector<int>& tracks, std::string& error);

// The names of one disc: artist, title and one name per track of the table of contents.
struct DiscNames {
  std::string artist, title;
  std::vector<std::string> tracks;  // by position in the table of contents
  std::string year, genre;          // the CDDB entry's (DYEAR, DGENRE), the disc text's genre
  std::vector<std::string> isrcs;   // by position, as far as known
};

// The names the extraction window shows for the disc, from the disc store it uses: "artist",
// "title" and the track names "0" ... of the disc's section in "cdplayer.ini"; a track without
// a stored name is called by its number, "%.2d", as in the window's grid.
// With `text`, a disc the store has no entry for is named from the disc's own text (CD-Text or
// a cue sheet's TITLE/PERFORMER).
DiscNames StoredDiscNames(const std::string& section, const std::vector<int>& trackNumbers,
                          const ripper::TDiscText* text = nullptr);

struct NamingOptions {
  bool addArtist = false, addTitle = false, addNumber = false;
  bool external = false;  // a wave for an external encoder: spaces become "_"
};

// The file names (no folder) of the given tracks, in order: the window's naming rules on names
// made safe, and tracks that would share a name told apart by " (2)", " (3)", ... before the
// extension.
std::vector<std::string> TrackFileNames(const DiscNames& names, const std::vector<int>& positions,
                                        const std::vector<int>& numbers, const std::string& ext,
                                        const NamingOptions& options);

}  // namespace trackwell
