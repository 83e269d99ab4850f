#include "HttpHeader.h"

#include <algorithm>
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
    u.User = PercentDecode(user.substr(0, c));
    if (c != std::string::npos) u.Pass = PercentDecode(user.substr(c + 1));
  }
  if (!hostpart.empty() && hostpart[0] == '[') {
    // An IPv6 literal: its colons are no port separators.
    size_t close = hostpart.find(']');
    if (close != std::string::npos) {
      u.Host = hostpart.substr(1, close - 1);
      if (close + 1 < hostpart.size() && hostpart[close + 1] == ':')
        u.Port = hostpart.substr(close + 2);
      return u;
    }
  }
  size_t colon = hostpart.rfind(':');
  if (colon != std::string::npos) {
    u.Port = hostpart.substr(colon + 1);
    hostpart = hostpart.substr(0, colon);
  }
  u.Host = hostpart;
  return u;
}

std::string PercentDecode(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string UrlHost(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

namespace {

// RFC 3986, 5.2.4.
std::string RemoveDotSegments(std::string in) {
  std::string out;
  while (!in.empty()) {
    if (in.rfind("../", 0) == 0) {
      in.erase(0, 3);
    } else if (in.rfind("./", 0) == 0) {  // NOLINT(bugprone-branch-clone): steps A and B apart
      in.erase(0, 2);
    } else if (in.rfind("/./", 0) == 0) {
      in.erase(0, 2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.rfind("/../", 0) == 0 || in == "/..") {
      in = in.size() == 3 ? "/" : in.substr(3);
      size_t last = out.rfind('/');
      out.erase(last == std::string::npos ? 0 : last);
    } else if (in == "." || in == "..") {
      in.clear();
    } else {
      size_t next = in.find('/', in[0] == '/' ? 1 : 0);
      out += in.substr(0, next);
      in = next == std::string::npos ? std::string() : in.substr(next);
    }
  }
  return out;
}

struct Ref {
  bool has_scheme = false, has_authority = false, has_query = false;
  std::string scheme, authority, path, query;
};

Ref SplitRef(std::string s) {
  Ref r;
  s = s.substr(0, s.find('#'));
  size_t colon = s.find(':');
  size_t delim = s.find_first_of("/?");
  if (colon != std::string::npos && colon > 0 && (delim == std::string::npos || colon < delim) &&
      std::isalpha(static_cast<unsigned char>(s[0]))) {
    bool ok = true;
    for (size_t i = 0; i < colon; ++i)
      ok = ok && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '+' || s[i] == '-' ||
                  s[i] == '.');
    if (ok) {
      r.has_scheme = true;
      r.scheme = Lower(s.substr(0, colon));
      s = s.substr(colon + 1);
    }
  }
  if (s.rfind("//", 0) == 0) {
    r.has_authority = true;
    size_t end = s.find_first_of("/?", 2);
    r.authority = s.substr(2, end == std::string::npos ? std::string::npos : end - 2);
    s = end == std::string::npos ? std::string() : s.substr(end);
  }
  size_t q = s.find('?');
  if (q != std::string::npos) {
    r.has_query = true;
    r.query = s.substr(q + 1);
    s = s.substr(0, q);
  }
  r.path = s;
  return r;
}

std::string Join(const Ref& r) {
  std::string s = r.scheme + ":";
  if (r.has_authority) s += "//" + r.authority;
  s += r.path;
  if (r.has_query) s += "?" + r.query;
  return s;
}

}  // namespace

std::string ResolveURL(const std::string& base, const std::string& ref) {
  Ref b = SplitRef(base), r = SplitRef(ref), t;
  if (r.has_scheme) {
    t = r;
    t.path = RemoveDotSegments(r.path);
  } else {
    t.has_scheme = true;
    t.scheme = b.scheme;
    if (r.has_authority) {
      t.has_authority = true;
      t.authority = r.authority;
      t.path = RemoveDotSegments(r.path);
      t.has_query = r.has_query;
      t.query = r.query;
    } else {
      t.has_authority = b.has_authority;
      t.authority = b.authority;
      if (r.path.empty()) {
        t.path = b.path;
        t.has_query = r.has_query || b.has_query;
        t.query = r.has_query ? r.query : b.query;
      } else {
        if (r.path[0] == '/') {
          t.path = RemoveDotSegments(r.path);
        } else {
          // Merge (5.2.3): the base path up to its last "/", or "/" under an authority.
          std::string merged;
          if (b.has_authority && b.path.empty())
            merged = "/" + r.path;
          else
            merged = b.path.substr(0, b.path.rfind('/') + 1) + r.path;
          t.path = RemoveDotSegments(merged);
        }
        t.has_query = r.has_query;
        t.query = r.query;
      }
    }
  }
  if (t.has_authority && t.path.empty()) t.path = "/";
  return Join(t);
}

bool THttpChunkDecoder::Feed(const char* data, std::size_t len, std::string& out) {
  for (std::size_t i = 0; i < len && FState != sBad && FState != sDone;) {
    char c = data[i];
    switch (FState) {
      case sSize:
        if (std::isxdigit(static_cast<unsigned char>(c))) {
          if (++FDigits > 15) {
            FState = sBad;  // no real chunk needs more than 2^60 bytes
            break;
          }
          FSize = FSize * 16 + static_cast<std::uint64_t>(
                                   std::isdigit(static_cast<unsigned char>(c))
                                       ? c - '0'
                                       : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
        } else if (FDigits > 0 && (c == ';' || c == ' ' || c == '\t')) {
          FState = sSizeExt;
        } else if (FDigits > 0 && c == '\r') {
          FState = sSizeLF;
        } else if (FDigits > 0 && c == '\n') {
          FState = FSize ? sData : sTrailer;
          FTrailerLine = 0;
        } else {
          FState = sBad;
        }
        ++i;
        break;
      case sSizeExt:
        if (c == '\n') {
          FState = FSize ? sData : sTrailer;
          FTrailerLine = 0;
        }
        ++i;
        break;
      case sSizeLF:
        if (c != '\n') {
          FState = sBad;
          break;
        }
        FState = FSize ? sData : sTrailer;
        FTrailerLine = 0;
        ++i;
        break;
      case sData: {
        std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(FSize, static_cast<std::uint64_t>(len - i)));
        out.append(data + i, n);
        FSize -= n;
        i += n;
        if (FSize == 0) FState = sDataCR;
        break;
      }
      case sDataCR:
        if (c == '\r') {
          FState = sDataLF;
        } else if (c == '\n') {
          FState = sSize;
          FDigits = 0;
        } else {
          FState = sBad;
          break;
        }
        ++i;
        break;
      case sDataLF:
        if (c != '\n') {
          FState = sBad;
          break;
        }
        FState = sSize;
        FDigits = 0;
        ++i;
        break;
      case sTrailer:
        // Trailer fields are skipped; an empty line ends the body.
        if (c == '\n') {
          if (FTrailerLine == 0) FState = sDone;
          FTrailerLine = 0;
        } else if (c != '\r') {
          ++FTrailerLine;
        }
        ++i;
        break;
      default:
        ++i;
        break;
    }
  }
  return FState != sBad;
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
  if (line.size() < 12 || line.rfind("HTTP/1.", 0) != 0 ||
      !std::isdigit(static_cast<unsigned char>(line[7])) || line[8] != ' ')
    return false;
  for (size_t i = 9; i < 12; ++i)
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) return false;
  if (line.size() > 12 && line[12] != ' ') return false;
  int c = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  if (c < 100 || c > 599) return false;
  code = c;
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
