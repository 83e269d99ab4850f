#include "DiscText.h"

#include "SafeName.h"

namespace ripper {

const TTrackText* TDiscText::Track(int number) const {
  for (const TTrackText& t : tracks)
    if (t.number == number) return &t;
  return nullptr;
}

TDiscText ParseDiscText(std::string_view lines) {
  TDiscText out;
  while (!lines.empty()) {
    size_t end = lines.find('\n');
    std::string_view line = lines.substr(0, end);
    lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
    size_t a = line.find('\t');
    size_t b = a == std::string_view::npos ? a : line.find('\t', a + 1);
    if (b == std::string_view::npos || a == 0 || a > 2) continue;
    int track = 0;
    bool digits = true;
    for (char c : line.substr(0, a)) {
      if (c < '0' || c > '9') digits = false;
      track = track * 10 + (c - '0');
    }
    if (!digits || track > 99) continue;
    std::string_view field = line.substr(a + 1, b - a - 1);
    std::string value = SafeValue(line.substr(b + 1));
    if (value.empty()) continue;
    if (track == 0) {
      if (field == "TITLE")
        out.title = value;
      else if (field == "PERFORMER")
        out.artist = value;
      else if (field == "UPC_EAN")
        out.catalog = value;
      else if (field == "GENRE")
        out.genre = value;
      else if (field == "SONGWRITER")
        out.songwriter = value;
      continue;
    }
    TTrackText* t = const_cast<TTrackText*>(out.Track(track));
    if (!t) {
      out.tracks.push_back({});
      t = &out.tracks.back();
      t->number = track;
    }
    if (field == "TITLE")
      t->title = value;
    else if (field == "PERFORMER")
      t->performer = value;
    else if (field == "SONGWRITER")
      t->songwriter = value;
    else if (field == "ISRC")
      t->isrc = value;
  }
  return out;
}

bool FillFromDiscText(TDiscNames& names, const TDiscText& text,
                      const std::vector<int>& trackNumbers) {
  bool filled = false;
  auto fill = [&](std::string& to, const std::string& from) {
    if (to.empty() && !from.empty()) {
      to = from;
      filled = true;
    }
  };
  fill(names.artist, text.artist);
  fill(names.title, text.title);
  if (names.names.size() < trackNumbers.size()) names.names.resize(trackNumbers.size());
  for (size_t i = 0; i < trackNumbers.size(); ++i)
    if (const TTrackText* t = text.Track(trackNumbers[i])) fill(names.names[i], t->title);
  return filled;
}

}  // namespace ripper
