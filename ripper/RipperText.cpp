#include "RipperText.h"

#include <cstdio>

#include "Exception.h"
#include "SafeName.h"

namespace ripper {

std::string FormatMinSec(std::uint32_t msf) {
  unsigned minutes = (msf & 0xFF) % 60, seconds = (msf >> 8) & 0xFF;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.2u:%.2u", minutes, seconds);
  return buf;
}

std::string DiscSectionName(std::uint32_t disc_key) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", disc_key);
  return buf;
}

std::string SizeKB(std::uint32_t frames) {
  return std::to_string(static_cast<std::uint64_t>(frames) * 2352 / 1024);
}

namespace {
// Integer text as the window's number conversion reads it: blanks around, an optional sign,
// decimal digits (or $hex); anything else is refused.
bool ParseTrackNumber(const std::string& text, int& value) {
  std::size_t i = 0, n = text.size();
  while (i < n && text[i] == ' ') ++i;
  while (n > i && text[n - 1] == ' ') --n;
  if (i == n) return false;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  if (i == n) return false;
  long long v = 0;
  bool hex = text[i] == '$';
  if (hex && ++i == n) return false;
  for (; i < n; ++i) {
    char c = text[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * (hex ? 16 : 10) + d;
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > 2147483647LL || v < -2147483648LL) return false;
  value = static_cast<int>(v);
  return true;
}
}  // namespace

std::string MakeTrackFileName(const std::string& artist, const std::string& title,
                              const std::string& track_cell, const std::string& name_cell,
                              const std::string& ext, const TNamingOptions& options) {
  int number = 0;
  bool numbered = ParseTrackNumber(track_cell, number);
  std::string name;
  if (options.addArtist) name = SafeValue(artist) + "-";
  if (options.addTitle) name += SafeValue(title) + "-";
  if (options.addNumber) {
    if (!numbered) throw Exception("'" + track_cell + "' is not a valid integer value");
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.2d", number);
    name += std::string(buf) + "-";
  }
  // A track without a name is named by its number.
  std::string track_name = SafeName(name_cell, numbered ? number : 0);
  name += track_name;
  for (char& c : name) {
    if (options.external && c == ' ') c = '_';
    switch (c) {
      case '!':
      case '/':
      case '<':
      case '>':
      case '?':
      case '[':
      case '\\':
      case ']':
      case '|':
        c = '-';
        break;
      default:
        break;
    }
  }
  std::string extension = ext;
  if (options.external)
    for (char& c : extension)
      if (c == ' ') c = '_';
  return SafeFileName(name, extension, numbered ? number : 0);
}

std::vector<std::string> HintsPage(const std::vector<std::pair<std::string, std::string>>& hints) {
  std::vector<std::string> lines = {"<html>", "<title>Quillon Trackwell: Functions</title>",
                                    "<body>"};
  for (const auto& [name, hint] : hints)
    if (!hint.empty()) lines.push_back("<B>" + name + "</B><br>" + hint + "<br><br>");
  lines.push_back("</body>");
  lines.push_back("</html>");
  return lines;
}

std::string TitleAfterSlash(const std::string& disc_title) {
  std::size_t slash = disc_title.find('/');
  if (slash == std::string::npos || slash + 2 > disc_title.size()) return {};
  return disc_title.substr(slash + 2);
}

}  // namespace ripper
