#include "MediaSearch.h"

#include <algorithm>
#include <cctype>

#include "Fs.h"

namespace player {

namespace fs = ql::fs;

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
int Lower(char c) {
  return std::tolower(static_cast<unsigned char>(c));
}

// Compares a and b without the tie-break on letter case and leading zeros.
int NaturalCompareLoose(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t i0 = i, j0 = j;
      while (i0 < a.size() && a[i0] == '0') ++i0;
      while (j0 < b.size() && b[j0] == '0') ++j0;
      size_t i1 = i0, j1 = j0;
      while (i1 < a.size() && IsDigit(a[i1])) ++i1;
      while (j1 < b.size() && IsDigit(b[j1])) ++j1;
      // Numbers of any length: the longer run of significant digits is the larger number.
      if (i1 - i0 != j1 - j0) return i1 - i0 < j1 - j0 ? -1 : 1;
      if (int c = a.compare(i0, i1 - i0, b, j0, j1 - j0); c != 0) return c < 0 ? -1 : 1;
      i = i1;
      j = j1;
      continue;
    }
    int ca = Lower(a[i]), cb = Lower(b[j]);
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

// pattern may hold several masks separated by ';'.
bool MatchesAny(const std::string& name, const std::string& pattern) {
  size_t pos = 0;
  for (;;) {
    size_t semi = pattern.find(';', pos);
    if (fs::MatchesMask(name, pattern.substr(pos, semi == std::string::npos ? semi : semi - pos)))
      return true;
    if (semi == std::string::npos) return false;
    pos = semi + 1;
  }
}

}  // namespace

const char* const kMediaPatterns =
    "*.wav;*.mp3;*.avi;*.mov;*.ogg;*.oga;*.opus;*.flac;*.m4a;*.aac;*.wma;*.mp2;*.mpc;*.ape;"
    "*.mp4;*.m4v;*.mkv;*.webm;*.mpg;*.mpeg;*.wmv;*.flv;*.3gp";

bool NaturalLess(const std::string& a, const std::string& b) {
  int c = NaturalCompareLoose(a, b);
  if (c != 0) return c < 0;
  return a < b;  // "Track" and "track", "01" and "1": a fixed order all the same
}

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
  // By name, as file managers show a folder: "2 ..." before "10 ...", letter case aside.
  std::sort(entries.begin(), entries.end(), [](const fs::TSearchRec& x, const fs::TSearchRec& y) {
    return NaturalLess(x.Name, y.Name);
  });
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
    if (!MatchesAny(e.Name, pattern)) continue;
    found.push_back(CollapseSeparators(directory + "/" + "/" + e.Name));
  }
  return true;
}

}  // namespace player
