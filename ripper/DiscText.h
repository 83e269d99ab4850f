#pragma once
// The text a disc carries (CD-Text, or a cue sheet's TITLE/PERFORMER/CATALOG/ISRC), as the CD
// reader gives it (TMMCDReader::CDText), and the names it fills where the disc store has none.
#include <string>
#include <string_view>
#include <vector>

#include "DiscStore.h"

namespace ripper {

struct TTrackText {
  int number = 0;
  std::string title, performer, songwriter, isrc;
};

struct TDiscText {
  std::string artist, title, catalog, genre, songwriter;
  std::vector<TTrackText> tracks;  // those with any text, by number
  bool Empty() const {
    return artist.empty() && title.empty() && tracks.empty() && catalog.empty();
  }
  const TTrackText* Track(int number) const;
};

// From the reader's lines "<track>\t<FIELD>\t<value>\n" (track 0 the disc). Values go through
// SafeValue; unknown fields and malformed lines are skipped.
TDiscText ParseDiscText(std::string_view lines);

// Fills what `names` lacks (artist, title, the names of `trackNumbers` by position) from the
// disc's text; a track without a title of its own keeps its empty name. True when anything was
// filled. The window calls it when the disc store has no entry for the disc.
bool FillFromDiscText(TDiscNames& names, const TDiscText& text,
                      const std::vector<int>& trackNumbers);

}  // namespace ripper
