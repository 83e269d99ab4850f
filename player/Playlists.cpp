#include "Playlists.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

#include "Exception.h"
#include "TextFile.h"

namespace player {

namespace {

constexpr long long kMaxPlaylistBytes = 64LL << 20;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string PercentDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    int h, l;
    if (s[i] == '%' && i + 2 < s.size() && (h = Hex(s[i + 1])) >= 0 && (l = Hex(s[i + 2])) >= 0) {
      out += static_cast<char>(h * 16 + l);
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// One entry of a play list lying in dir, as a path (or an address other than file://).
std::string Resolve(std::string entry, const std::string& dir) {
  if (entry.size() >= 3 && static_cast<unsigned char>(entry[0]) == 0xEF &&
      static_cast<unsigned char>(entry[1]) == 0xBB && static_cast<unsigned char>(entry[2]) == 0xBF)
    entry.erase(0, 3);
  if (Lower(entry.substr(0, 7)) == "file://") {
    entry = PercentDecode(entry.substr(7));
    // "file://host/path": only the local host's paths are files here.
    if (!entry.empty() && entry[0] != '/') {
      size_t slash = entry.find('/');
      entry = slash == std::string::npos ? "" : entry.substr(slash);
    }
    return entry;
  }
  if (entry.empty() || entry.find("://") != std::string::npos) return entry;
  // Play lists written on Windows separate folders with backslashes.
  if (entry.find('/') == std::string::npos && entry.find('\\') != std::string::npos &&
      !(entry.size() > 1 && entry[1] == ':'))
    std::replace(entry.begin(), entry.end(), '\\', '/');
  if (entry[0] == '/' || dir.empty()) return entry;
  return dir + "/" + entry;
}

std::string Folder(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool IsPlaylistName(const std::string& path) {
  std::string l = Lower(path);
  return EndsWith(l, ".m3u") || EndsWith(l, ".m3u8") || EndsWith(l, ".pls");
}

std::vector<std::string> ParseM3u(const std::string& text, const std::string& dir) {
  std::vector<std::string> out;
  for (const std::string& raw : ql::SplitLines(text)) {
    std::string line = Trim(raw);
    if (line.size() >= 3 && static_cast<unsigned char>(line[0]) == 0xEF)
      line = Trim(line.substr(3));
    if (line.empty() || line[0] == '#') continue;
    std::string entry = Resolve(line, dir);
    if (!entry.empty()) out.push_back(entry);
  }
  return out;
}

std::vector<std::string> ParsePls(const std::string& text, const std::string& dir) {
  // "FileN=..." lines, in the order of N (files written by hand may list them out of order).
  std::map<long, std::string> files;
  for (const std::string& raw : ql::SplitLines(text)) {
    std::string line = Trim(raw);
    size_t eq = line.find('=');
    if (eq == std::string::npos || Lower(line.substr(0, 4)) != "file") continue;
    std::string number = line.substr(4, eq - 4);
    if (number.empty() || number.size() > 9 ||
        !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    std::string value = Trim(line.substr(eq + 1));
    if (value.empty()) continue;
    files.emplace(std::strtol(number.c_str(), nullptr, 10), Resolve(value, dir));
  }
  std::vector<std::string> out;
  for (auto& [n, path] : files)
    if (!path.empty()) out.push_back(std::move(path));
  return out;
}

std::vector<std::string> ReadPlaylist(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) ql::ThrowInOutError(errno);
  if (!S_ISREG(st.st_mode)) throw EInOutError(0, path + " is not a regular file");
  if (st.st_size > kMaxPlaylistBytes) throw EInOutError(0, path + " is too large for a play list");
  std::string text = ql::ReadFileBytes(path);
  std::string dir = Folder(path);
  if (EndsWith(Lower(path), ".pls")) return ParsePls(text, dir);
  return ParseM3u(text, dir);
}

}  // namespace player
