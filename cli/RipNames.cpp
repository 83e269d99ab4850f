#include "RipNames.h"

#include <cstdio>
#include <cstdlib>
#include <set>

#include "Profile.h"
#include "RipperText.h"

namespace trackwell {

namespace {

std::string TwoDigits(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.2d", n);
  return buf;
}

// Length of the UTF-8 sequence at s[i], 0 when it is not a valid one.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n;
  unsigned min;
  unsigned cp;
  if (b < 0x80) return 1;
  if ((b & 0xe0) == 0xc0)
    n = 2, min = 0x80, cp = b & 0x1f;
  else if ((b & 0xf0) == 0xe0)
    n = 3, min = 0x800, cp = b & 0x0f;
  else if ((b & 0xf8) == 0xf0)
    n = 4, min = 0x10000, cp = b & 0x07;
  else
    return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xc0) != 0x80) return 0;
    cp = cp << 6 | (c & 0x3f);
  }
  if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
  return n;
}

// A name from outside (the store, a CDDB server, the command line) made fit for a file name:
// control characters removed, bytes that are no UTF-8 replaced by "_".
std::string CleanName(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x20 || b == 0x7f) {
      ++i;
      continue;
    }
    std::size_t n = Utf8Length(s, i);
    if (n == 0) {
      out += '_';
      ++i;
      continue;
    }
    out.append(s, i, n);
    i += n;
  }
  return out;
}

// The longest start of s of at most max bytes that ends on a character boundary.
std::string CutUtf8(const std::string& s, std::size_t max) {
  std::size_t cut = 0;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = Utf8Length(s, i);
    if (n == 0) n = 1;
    if (i + n > max) break;
    i += n;
    cut = i;
  }
  return s.substr(0, cut);
}

// At most 255 bytes with the extension, cut on a character boundary; no leading dots or
// blanks (no hidden files, and nothing that reads as a folder step).
std::string FitFileName(std::string stem, const std::string& ext, int number) {
  std::size_t first = stem.find_first_not_of(". ");
  stem = first == std::string::npos ? std::string() : stem.substr(first);
  if (stem.empty()) stem = TwoDigits(number);
  return CutUtf8(stem, 255 - (ext.size() + 1)) + "." + ext;
}

}  // namespace

bool ParseTrackList(const std::string& text, std::vector<int>& tracks, std::string& error) {
  std::set<int> seen;
  auto number = [](const std::string& s, int& v) {
    char* end = nullptr;
    if (s.empty() || s.size() > 3 || s.find_first_not_of("0123456789") != std::string::npos)
      return false;
    v = static_cast<int>(std::strtol(s.c_str(), &end, 10));
    return v >= 1 && v <= 99;
  };
  std::size_t pos = 0;
  while (true) {
    std::size_t comma = text.find(',', pos);
    std::string item =
        text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    std::size_t dash = item.find('-');
    int a = 0, b = 0;
    bool ok = dash == std::string::npos
                  ? number(item, a) && (b = a, true)
                  : number(item.substr(0, dash), a) && number(item.substr(dash + 1), b) && a <= b;
    if (!ok) {
      error = "--tracks: '" + item + "' is no track number (1-99) or range like 3-5";
      return false;
    }
    for (int t = a; t <= b; ++t) seen.insert(t);
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  tracks.assign(seen.begin(), seen.end());
  return true;
}

DiscNames StoredDiscNames(const std::string& section, const std::vector<int>& trackNumbers) {
  TIniFile discs("cdplayer.ini");
  DiscNames n;
  n.artist = discs.ReadString(section, "artist", "");
  n.title = discs.ReadString(section, "title", "");
  for (std::size_t i = 0; i < trackNumbers.size(); ++i) {
    std::string name = discs.ReadString(section, std::to_string(i), "");
    n.tracks.push_back(name.empty() ? TwoDigits(trackNumbers[i]) : name);
  }
  return n;
}

std::vector<std::string> TrackFileNames(const DiscNames& names, const std::vector<int>& positions,
                                        const std::vector<int>& numbers, const std::string& ext,
                                        const NamingOptions& options) {
  ripper::TNamingOptions o;
  o.addArtist = options.addArtist;
  o.addTitle = options.addTitle;
  o.addNumber = options.addNumber;
  o.external = options.external;
  const std::string artist = CleanName(names.artist), title = CleanName(names.title);
  std::vector<std::string> files;
  std::set<std::string> taken;
  for (std::size_t k = 0; k < positions.size(); ++k) {
    const int number = numbers[k];
    const auto pos = static_cast<std::size_t>(positions[k]);
    std::string name = pos < names.tracks.size() ? CleanName(names.tracks[pos]) : std::string();
    if (name.find_first_not_of(". ") == std::string::npos) name = TwoDigits(number);
    std::string file =
        ripper::MakeTrackFileName(artist, title, std::to_string(number), name, "x", o);
    std::string stem = file.substr(0, file.size() - 2);
    std::string candidate = FitFileName(stem, ext, number);
    const std::string base = candidate.substr(0, candidate.size() - ext.size() - 1);
    for (int n = 2; taken.count(candidate); ++n)
      candidate = CutUtf8(base, 240 - ext.size()) + "-" + std::to_string(n) + "." + ext;
    taken.insert(candidate);
    files.push_back(candidate);
  }
  return files;
}

}  // namespace trackwell
