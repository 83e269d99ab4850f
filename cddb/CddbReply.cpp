#include "CddbReply.h"

#include <cctype>
#include <cstdlib>
#include <string_view>

namespace ql {

namespace {

const std::string kCrLf = "\r\n";

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

// A read position over a reply: words end at a blank, lines at CR LF.
struct Cursor {
  std::string_view s;
  std::string_view TakeWord() {
    size_t p = s.find(' ');
    std::string_view w = s.substr(0, p);
    s = p == std::string_view::npos ? std::string_view() : s.substr(p + 1);
    return w;
  }
  std::string_view TakeLine() {
    size_t p = s.find(kCrLf);
    std::string_view line = s.substr(0, p);
    s = p == std::string_view::npos ? std::string_view() : s.substr(p + 2);
    return line;
  }
};

int ToInt(std::string_view v) {
  std::string t = Trim(std::string(v));
  if (t.empty() || t.size() > 9) return 0;
  for (char c : t)
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
  return std::atoi(t.c_str());
}

}  // namespace

int CddbReplyCode(const std::string& reply) {
  if (reply.size() < 3) return 0;
  for (int i = 0; i < 3; ++i)
    if (!std::isdigit(static_cast<unsigned char>(reply[i]))) return 0;
  return std::atoi(reply.substr(0, 3).c_str());
}

bool CddbReplyComplete(const std::string& reply) {
  if (reply.find(kCrLf) == std::string::npos) return false;
  bool text_follows = CddbReplyCode(reply) / 10 % 10 == 1;
  if (!text_follows) return true;
  return reply.size() >= 5 && reply.compare(reply.size() - 5, 5, "\r\n.\r\n") == 0;
}

void CddbSplitTitle(const std::string& text, std::string& artist, std::string& title) {
  size_t sep = text.find('/');
  if (sep == std::string::npos) sep = text.find(" - ");
  if (sep == std::string::npos) {
    artist = title = text;
    return;
  }
  artist = Trim(text.substr(0, sep));
  title = sep + 2 <= text.size() ? Trim(text.substr(sep + 2)) : std::string();
}

std::string TCddbEntryText::Value(const std::string& key) {
  std::string value;
  if (key.empty()) return value;
  for (size_t p = FWork.find(key, FPos); p != std::string::npos; p = FWork.find(key, FPos)) {
    size_t start = p + key.size();
    size_t end = FWork.find(kCrLf, start);
    value.append(FWork, start, end == std::string::npos ? std::string::npos : end - start);
    FPos = end == std::string::npos ? FWork.size() : end + 2;
  }
  return value;
}

TCddbEntry CddbParseEntry(const std::string& reply) {
  TCddbEntry e;
  if (reply.size() > 4) {
    std::string rest = reply.substr(4);
    e.Category = rest.substr(0, rest.find_first_of(" \r\n"));
  }
  TCddbEntryText work(reply);
  e.Revision = ToInt(work.Value("# Revision:"));
  e.DiscTitle = work.Value("DTITLE=");
  CddbSplitTitle(e.DiscTitle, e.Artist, e.Title);
  for (int k = 0;; ++k) {
    std::string key = "TTITLE" + std::to_string(k) + "=";
    if (!work.Contains(key)) break;
    e.TrackTitles.push_back(work.Value(key));
  }
  work.Value("EXTD=");
  for (int k = 0;; ++k) {
    std::string key = "EXTT" + std::to_string(k) + "=";
    if (!work.Contains(key)) break;
    e.TrackExtras.push_back(work.Value(key));
  }
  return e;
}

std::string CddbEntrySummary(const TCddbEntry& entry) {
  std::string s = entry.DiscTitle + kCrLf + std::to_string(entry.TrackTitles.size());
  for (const auto& t : entry.TrackTitles) s += kCrLf + t;
  return s;
}

void CddbParseExact(const std::string& reply, std::string& category, std::string& disc_id,
                    std::string& title) {
  Cursor c{std::string_view(reply).substr(0, reply.find(kCrLf))};
  c.TakeWord();
  category = c.TakeWord();
  disc_id = c.TakeWord();
  title = c.s;
}

TMMCDDBMatches CddbParseMatches(const std::string& reply) {
  TMMCDDBMatches matches;
  Cursor c{reply};
  c.TakeLine();
  while (c.s.size() > 3) {
    Cursor line{c.TakeLine()};
    TMMCDDBMatch m;
    m.Category = line.TakeWord();
    m.DiscID = line.TakeWord();
    m.DiscTitle = line.s;
    CddbSplitTitle(m.DiscTitle, m.Artist, m.Title);
    matches.push_back(std::move(m));
  }
  return matches;
}

TMMCDDBSites CddbParseSites(const std::string& reply) {
  TMMCDDBSites sites;
  Cursor c{reply};
  c.TakeLine();
  while (!c.s.empty() && c.s[0] != '.') {
    Cursor line{c.TakeLine()};
    TMMCDDBSite site;
    site.Host = line.TakeWord();
    Cursor port = line;
    site.Port = ToInt(port.TakeWord());
    for (int i = 0; i < 3; ++i) line.TakeWord();
    site.Location = line.s;
    sites.push_back(std::move(site));
  }
  return sites;
}

std::vector<std::string> CddbParseCategories(const std::string& reply) {
  std::vector<std::string> cats;
  Cursor c{reply};
  c.TakeLine();
  while (!c.s.empty() && c.s[0] != '.') cats.emplace_back(c.TakeLine());
  return cats;
}

}  // namespace ql
