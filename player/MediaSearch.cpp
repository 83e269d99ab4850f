#include "MediaSearch.h"

#include "Fs.h"

namespace player {

namespace fs = ql::fs;

std::string SearchPattern(int search_kind) {
  switch (search_kind) {
    case 1:
      return "*.wav";
    case 2:
      return "*.mp3";
    case 3:
      return "*.avi";
    case 4:
      return "*.mov";
    default:
      return "";
  }
}

std::string CollapseSeparators(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path)
    if (c != '/' || out.empty() || out.back() != '/') out += c;
  return out;
}

bool Walk(const std::string& directory, const std::string& pattern,
          std::vector<std::string>& found) {
  // One listing serves both passes: the entries come in the same order either way, and the
  // read-only bit is not needed, since 16/17 and 1/32/33 are treated alike.
  std::vector<fs::TSearchRec> entries = fs::FindFiles(directory, "*", fs::kNoReadOnlyBit);
  for (const auto& e : entries) {
    if ((e.Attr & ~fs::faReadOnly) != fs::faDirectory) continue;
    std::string sub = directory + "/" + e.Name;
    if (!fs::SetCurrentDir(sub)) return false;
    if (!Walk(sub, pattern, found)) return false;
  }
  if (!fs::SetCurrentDir(directory)) return false;
  for (const auto& e : entries) {
    int a = e.Attr & ~fs::faReadOnly;
    if (a != fs::faArchive && e.Attr != fs::faReadOnly) continue;
    if (!fs::MatchesMask(e.Name, pattern)) continue;
    found.push_back(CollapseSeparators(directory + "/" + "/" + e.Name));
  }
  return true;
}

}  // namespace player
