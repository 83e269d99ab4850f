#pragma once
// Names that come from outside (CDDB replies, CD-Text, the grid, typed fields) before they
// become a file name or a stored value. A name from a server can hold anything: line breaks
// that would plant keys in an ini file, tabs and quotes meant for a command line, "../" or a
// leading dot, hundreds of bytes or broken UTF-8.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ripper {

// Longest file name the file systems take, in bytes.
inline constexpr std::size_t kMaxNameBytes = 255;

// A value fit to be stored in an ini file or shown: invalid UTF-8 repaired (each bad byte
// becomes U+FFFD), control characters (C0, DEL, C1) removed; nothing else changed.
std::string SafeValue(std::string_view text);

// A bare file name that stays inside its folder: SafeValue, then "/" and "\" become "-",
// leading dots and blanks and trailing blanks are dropped (no hidden file, never "." or ".."),
// and the name is cut to kMaxNameBytes on a character boundary. An empty result becomes the
// track's number ("%.2d"), or "track" without one (track <= 0).
std::string SafeName(std::string_view name, int track = 0);

// SafeName for a name that ends in an extension: the stem is cut, never the extension.
std::string SafeFileName(std::string_view stem, std::string_view ext, int track = 0);

// True when name is what SafeName leaves unchanged: a bare, visible name of one folder.
bool IsSafeName(std::string_view name);

// Makes the file names of one run distinct: a name that matches an earlier one (ignoring
// ASCII case, as a file system that folds case would) gets " (2)", " (3)", ... before its
// extension, still within kMaxNameBytes.
void MakeDistinct(std::vector<std::string>& names);

// Cuts text to at most max bytes without splitting a UTF-8 character.
std::string CutUtf8(std::string_view text, std::size_t max);

}  // namespace ripper
