#pragma once
// The disc store shared by the CD-extraction window and trackwell: a disc's names in
// "cdplayer.ini" (artist, title, one key per track) and the names its tracks were saved as in
// "QuillonTrackwell.ini" (keys "f0", "f1", ...), both in the section named after the disc key.
// Every value written goes through SafeValue or SafeName first, so no name can plant a key or
// a section; every file name read back is checked before it is used.
#include <optional>
#include <string>
#include <vector>

#include "Profile.h"

namespace ripper {

inline constexpr const char* kDiscFile = "cdplayer.ini";
inline constexpr const char* kSettingsFileName = "QuillonTrackwell.ini";

// Keys of a disc section.
std::string TrackNameKey(int index);  // "0", "1", ... in cdplayer.ini
std::string SavedAsKey(int index);    // "f0", "f1", ... in QuillonTrackwell.ini

struct TDiscNames {
  std::string artist, title;
  std::vector<std::string> names;    // one per track; empty: not stored
  std::vector<std::string> savedAs;  // one per track; empty: not stored
};

// Reads the names of a disc of `tracks` tracks: each file is read once. Values are returned
// as SafeValue gives them; a stored saved-as name that is no safe bare name reads as empty.
TDiscNames LoadDiscNames(const std::string& disc_file, const std::string& settings_file,
                         const std::string& section, int tracks);

// The writes of a disc save in order: (0 discs / 1 settings, key, value), every value safe.
struct TDiscWrite {
  int file;
  std::string key, value;
};
std::vector<TDiscWrite> DiscWrites(const TDiscNames& names);

// Adds the writes of a disc save to the two batches (artist, title, numtracks, numplay,
// EntryType, the track names and "order" to discs; the saved-as keys to settings). The
// caller commits them. Batch is TIniBatch or ql::profile::TIniWriteBatch.
template <typename Batch>
void AddDiscWrites(Batch& discs, Batch& settings, const std::string& section,
                   const TDiscNames& names) {
  for (const auto& [file, key, value] : DiscWrites(names))
    (file == 0 ? discs : settings).WriteString(section, key, value);
}

// Stores one track's saved-as name ("" clears it). Throws EInOutError when the file cannot
// be written; it then stays as it was.
void StoreSavedAs(const std::string& settings_file, const std::string& section, int index,
                  const std::string& file_name);

// The path of the stored file of a track that "Delete stored track" may remove: dir + "/" +
// name when name is a safe bare name, else nothing.
std::optional<std::string> StoredFileInside(const std::string& dir, const std::string& name);

}  // namespace ripper
