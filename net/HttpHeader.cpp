#include "HttpHeader.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace ql::net {

namespace {
std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}
std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool StartsNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && Lower(s.substr(0, prefix.size())) == prefix;
}
}  // namespace

TUrlParts ParseURL(const std::string& url) {
  TUrlParts u;
  std::string rest;
  size_t p = url.find("://");
  if (p != std::string::npos) {
    u.Proto = url.substr(0, p);
    rest = url.substr(p + 3);
  } else if (!url.empty() && url[0] == '/') {
    u.Proto = "http";
    if (url.size() < 2 || url[1] != '/') {
      u.Path = url;
      return u;
    }
    rest = url.substr(2);
  } else if (StartsNoCase(url, "mailto:")) {
    u.Proto = "mailto";
    rest = url.substr(url.find(':') + 1);
  } else if (StartsNoCase(url, "http:")) {
    u.Proto = "http";
    if (url.size() > 6 && url[6] != '/') {
      u.Path = url.substr(5);
      return u;
    }
    rest = url.size() > 6 ? url.substr(6) : std::string();
  } else {
    rest = url;
  }
  size_t slash = rest.find('/');
  std::string hostpart = rest.substr(0, slash);
  if (slash != std::string::npos) u.Path = rest.substr(slash);
  size_t at = hostpart.rfind('@');
  if (at != std::string::npos) {
    std::string user = hostpart.substr(0, at);
    hostpart = hostpart.substr(at + 1);
    size_t c = user.find(':');
    u.User = user.substr(0, c);
    if (c != std::string::npos) u.Pass = user.substr(c + 1);
  }
  size_t colon = hostpart.rfind(':');
  if (colon != std::string::npos) {
    u.Port = hostpart.substr(colon + 1);
    hostpart = hostpart.substr(0, colon);
  }
  u.Host = hostpart;
  return u;
}

std::string EncodeBase64(const std::string& s) {
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < s.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(s[i]) << 16) |
                 (static_cast<unsigned char>(s[i + 1]) << 8) | static_cast<unsigned char>(s[i + 2]);
    out += abc[(v >> 18) & 63];
    out += abc[(v >> 12) & 63];
    out += abc[(v >> 6) & 63];
    out += abc[v & 63];
  }
  if (i < s.size()) {
    unsigned v = static_cast<unsigned char>(s[i]) << 16;
    if (i + 1 < s.size()) v |= static_cast<unsigned char>(s[i + 1]) << 8;
    out += abc[(v >> 18) & 63];
    out += abc[(v >> 12) & 63];
    out += i + 1 < s.size() ? abc[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string RFC1123Date(double date_time) {
  static const char* days = "MonTueWedThuFriSatSun";
  static const char* months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  double whole = std::floor(date_time);
  long long secs = std::llround((date_time - whole) * 86400.0);
  long long z = static_cast<long long>(whole) - 25569 + 719468;  // days since 0000-03-01
  if (secs >= 86400) {
    secs -= 86400;
    ++z;
  }
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long d = doy - (153 * mp + 2) / 5 + 1;
  long long m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  // 1970-01-01 (unix day 0) was a Thursday, index 3 of the day names.
  long long unix_day = static_cast<long long>(whole) - 25569;
  int wd = static_cast<int>(((unix_day % 7) + 7 + 3) % 7);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3s, %2.2d %.3s %4.4d %2.2d:%2.2d:%2.2d", days + wd * 3,
                static_cast<int>(d), months + (m - 1) * 3, static_cast<int>(y),
                static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60));
  return buf;
}

bool THttpLineBuffer::NextLine(std::string& line) {
  size_t lf = FBuf.find('\n');
  if (lf == std::string::npos || lf > kLineMax) return false;
  line = FBuf.substr(0, lf);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  FBuf.erase(0, lf + 1);
  return true;
}

bool THttpLineBuffer::Overflow() const {
  size_t lf = FBuf.find('\n');
  return (lf == std::string::npos ? FBuf.size() : lf) > kLineMax;
}

std::string THttpLineBuffer::TakeRest() {
  std::string rest;
  rest.swap(FBuf);
  return rest;
}

bool THttpLineBuffer::StartsWithNoCase(const std::string& prefix) const {
  if (FBuf.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(FBuf[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

bool HttpStatusLine(const std::string& line, int& code, std::string& reason) {
  if (line.rfind("HTTP/1.0", 0) != 0 && line.rfind("HTTP/1.1", 0) != 0) return false;
  code = 0;
  if (line.size() >= 12) {
    bool digits = true;
    for (size_t i = 9; i < 12; ++i)
      digits = digits && std::isdigit(static_cast<unsigned char>(line[i]));
    if (digits) code = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  }
  reason = line.size() > 13 ? line.substr(13) : "";
  return true;
}

bool HttpHeaderField(const std::string& line, std::string& name, std::string& value) {
  size_t colon = line.find(':');
  if (colon == std::string::npos) return false;
  name = Trim(line.substr(0, colon));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  value = Trim(line.substr(colon + 1));
  return true;
}

}  // namespace ql::net
