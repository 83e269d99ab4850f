#pragma once
// Texts of the CD-extraction window that need no widget: grid cells, the disc's section name,
// track file names and the hints page.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ripper {

// "%.2d:%.2d" of the minutes (modulo one hour) and seconds of a packed minute:second:frame value.
std::string FormatMinSec(std::uint32_t msf);

// The disc's section in both ini files: the key in lower-case hexadecimal, no leading zeros.
std::string DiscSectionName(std::uint32_t disc_key);

// Size column: frames x 2352 / 1024.
std::string SizeKB(std::uint32_t frames);

struct TNamingOptions {
  bool addArtist = true, addTitle = true, addNumber = false;
  bool external = false;  // external encoder output: spaces become "_"
};

// The file name of a track: [artist-][title-][NN-]name.ext, with ! / < > ? [ \ ] | made "-",
// made safe by SafeFileName (an empty name is the track's number; at most 255 bytes).
// With addNumber the Track cell must be an integer, else EConvertError-like Exception
// "'<text>' is not a valid integer value".
std::string MakeTrackFileName(const std::string& artist, const std::string& title,
                              const std::string& track_cell, const std::string& name_cell,
                              const std::string& ext, const TNamingOptions& options);

// The functions page of the hints export: name/hint pairs in order, those with an empty hint
// left out.
std::vector<std::string> HintsPage(const std::vector<std::pair<std::string, std::string>>& hints);

// The disc title part of a CDDB "artist / title" line: what follows the first "/", with the one
// character after it skipped; empty without a "/".
std::string TitleAfterSlash(const std::string& disc_title);

}  // namespace ripper
