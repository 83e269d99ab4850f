#pragma once
// The directory walk of the player's Search: depth first, a directory's subdirectories before
// its own files, each in name order (NaturalLess). Only directories of attribute 16 or 17 are
// entered; only files of attribute 1, 32 or 33 that match the pattern are found.
#include <string>
#include <vector>

namespace player {

// The pattern of a search kind: 1 "*.wav", 2 "*.mp3", 3 "*.avi", 4 "*.mov"; "" otherwise.
std::string SearchPattern(int search_kind);

// The masks (separated by ';') of the media files a dropped folder is searched for.
extern const char* const kMediaPatterns;

// Name order of file managers: runs of digits compare as numbers ("track2" before
// "track10"), letters without case; names equal that way fall back to byte order.
bool NaturalLess(const std::string& a, const std::string& b);

// Walks directory (made the current directory while it is walked, as each subdirectory is in
// turn) and appends every file found (pattern: one mask, or several separated by ';') to found as
// directory + "/" + name with runs of '/' collapsed. Returns false when an error ended the walk
// early; found keeps what was found.
bool Walk(const std::string& directory, const std::string& pattern,
          std::vector<std::string>& found);

// Collapses every run of consecutive '/' to one.
std::string CollapseSeparators(const std::string& path);

}  // namespace player
