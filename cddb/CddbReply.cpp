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

std::string CddbReplyLine(const std::string& reply) {
  size_t end = reply.find_first_of("\r\n");
  return reply.substr(0, end);
}

bool CddbIsUtf8(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size(), i = 0;
  while (i < n) {
    unsigned c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    unsigned min;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4, min = 0x10000;
    } else {
      return false;
    }
    if (i + len > n) return false;
    unsigned cp = c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

std::string CddbLatin1ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string CddbDecodeText(const std::string& bytes, int level) {
  if (level >= 6 && CddbIsUtf8(bytes)) return bytes;
  return CddbLatin1ToUtf8(bytes);
}

std::string CddbUnescape(const std::string& value) {
  if (value.find('\\') == std::string::npos) return value;
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c != '\\' || i + 1 == value.size()) {
      out += c;
      continue;
    }
    char e = value[++i];
    if (e == 'n')
      out += '\n';
    else if (e == 't')
      out += '\t';
    else if (e == '\\')
      out += '\\';
    else
      out.append({c, e});  // not an escape of the format: kept as it stands
  }
  return out;
}

void CddbSplitTitle(const std::string& text, std::string& artist, std::string& title) {
  size_t sep = text.find(" / ");
  size_t skip = 3;
  if (sep == std::string::npos) {
    sep = text.find('/');
    skip = 1;
  }
  if (sep == std::string::npos) {
    sep = text.find(" - ");
    skip = 3;
  }
  if (sep == std::string::npos) {
    artist = title = text;
    return;
  }
  artist = Trim(text.substr(0, sep));
  title = Trim(text.substr(sep + skip));
}

bool CddbIsCompilation(const std::string& artist) {
  std::string a;
  for (char c : artist) a += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return a == "various" || a == "various artists" || a == "va";
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
  // Keys are looked up in file order over one working copy; DYEAR and DGENRE follow DTITLE.
  TCddbEntryText work(reply);
  e.Revision = ToInt(work.Value("# Revision:"));
  e.DiscTitle = CddbUnescape(work.Value("DTITLE="));
  CddbSplitTitle(e.DiscTitle, e.Artist, e.Title);
  TCddbEntryText extra(reply);
  e.Year = Trim(CddbUnescape(extra.Value("DYEAR=")));
  e.Genre = Trim(CddbUnescape(extra.Value("DGENRE=")));
  bool compilation = CddbIsCompilation(e.Artist);
  for (int k = 0;; ++k) {
    std::string key = "TTITLE" + std::to_string(k) + "=";
    if (!work.Contains(key)) break;
    std::string t = CddbUnescape(work.Value(key));
    if (compilation) {
      std::string artist, name;
      size_t sep = t.find(" / ");
      if (sep != std::string::npos) CddbSplitTitle(t, artist, name);
      e.TrackArtists.push_back(artist);
    }
    e.TrackTitles.push_back(std::move(t));
  }
  e.Extended = CddbUnescape(work.Value("EXTD="));
  for (int k = 0;; ++k) {
    std::string key = "EXTT" + std::to_string(k) + "=";
    if (!work.Contains(key)) break;
    e.TrackExtras.push_back(CddbUnescape(work.Value(key)));
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
    Cursor peek = line;
    std::string_view second = peek.TakeWord();
    if (second == "cddbp" || second == "http") {
      // Level 3 on: protocol, port, path, then the position and the place.
      site.Protocol = line.TakeWord();
      site.Port = ToInt(line.TakeWord());
      site.Path = line.TakeWord();
      if (site.Path == "-") site.Path.clear();
      for (int i = 0; i < 2; ++i) line.TakeWord();
    } else {
      Cursor port = line;
      site.Port = ToInt(port.TakeWord());
      for (int i = 0; i < 3; ++i) line.TakeWord();
    }
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
