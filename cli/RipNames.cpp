#include "RipNames.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "DiscStore.h"
#include "Fs.h"
#include "RipperText.h"
#include "SafeName.h"

namespace trackwell {

namespace {

std::string TwoDigits(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.2d", n);
  return buf;
}

}  // namespace

bool ParseTrackList(const std::string& text, std::vector<int>& tracks, std::string& error) {
  std::set<int> seen;
  auto number = [](const std::string& s, int& v) {
    if (s.empty() || s.size() > 3 || s.find_first_not_of("0123456789") != std::string::npos)
      return false;
    v = static_cast<int>(std::strtol(s.c_str(), nullptr, 10));
    return v >= 0 && v <= 99;
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
      error = "--tracks: '" + item +
              "' is no track number (1-99, 0 the hidden track before track 1) or range like 3-5";
      return false;
    }
    for (int t = a; t <= b; ++t) seen.insert(t);
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  tracks.assign(seen.begin(), seen.end());
  return true;
}

DiscNames StoredDiscNames(const std::string& section, const std::vector<int>& trackNumbers,
                          const ripper::TDiscText* text) {
  // The window's work folder is the one it was started in; for trackwell the current one.
  const std::string settings = ql::fs::GetCurrentDir() + "/" + ripper::kSettingsFileName;
  ripper::TDiscNames stored = ripper::LoadDiscNames(ripper::kDiscFile, settings, section,
                                                    static_cast<int>(trackNumbers.size()));
  const bool noEntry = stored.artist.empty() && stored.title.empty() &&
                       std::all_of(stored.names.begin(), stored.names.end(),
                                   [](const std::string& s) { return s.empty(); });
  if (noEntry && text) ripper::FillFromDiscText(stored, *text, trackNumbers);
  DiscNames n;
  n.artist = stored.artist;
  n.title = stored.title;
  for (std::size_t i = 0; i < trackNumbers.size(); ++i) {
    const std::string name = i < stored.names.size() ? stored.names[i] : std::string();
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
  std::vector<std::string> files;
  for (std::size_t k = 0; k < positions.size(); ++k) {
    const auto pos = static_cast<std::size_t>(positions[k]);
    const std::string name = pos < names.tracks.size() ? names.tracks[pos] : std::string();
    files.push_back(ripper::MakeTrackFileName(names.artist, names.title, std::to_string(numbers[k]),
                                              name, ext, o));
  }
  ripper::MakeDistinct(files);
  return files;
}

}  // namespace trackwell
