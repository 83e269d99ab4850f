#pragma once
// Play lists that other programs write (.m3u, .m3u8, .pls): the player adds their entries.
#include <string>
#include <vector>

namespace player {

// True for a name ending in ".m3u", ".m3u8" or ".pls" (any letter case).
bool IsPlaylistName(const std::string& path);

// The entries of the play list file at path, in its order. Relative entries are taken from
// the play list's folder, "file://" addresses become paths; other addresses stay as they are.
// Comment and blank lines are skipped. Throws EInOutError naming the file when it cannot be
// read (also when it is not a plain file, or too large to be a play list).
std::vector<std::string> ReadPlaylist(const std::string& path);

// The same, on the text of a play list that lies in folder dir.
std::vector<std::string> ParseM3u(const std::string& text, const std::string& dir);
std::vector<std::string> ParsePls(const std::string& text, const std::string& dir);

}  // namespace player
