#pragma once
// The pieces of HTTP header handling that work on received text alone.
#include <cstddef>
#include <cstdint>
#include <string>

namespace ql::net {

// User and password come percent-decoded; an IPv6 literal host comes without its brackets.
struct TUrlParts {
  std::string Proto, User, Pass, Host, Port, Path;
};
TUrlParts ParseURL(const std::string& url);
std::string PercentDecode(const std::string& s);
// A host as it is written in a URL or a Host field: an IPv6 literal in brackets.
std::string UrlHost(const std::string& host);
// The target of a reference (a redirection's Location) seen from the absolute URL base, as
// RFC 3986 (section 5.2) resolves it; the fragment is dropped.
std::string ResolveURL(const std::string& base, const std::string& ref);

// The "chunked" transfer coding: Feed decodes what arrives into out, and is false once the
// coding is broken (a size that is no hexadecimal number, a chunk without its line end).
class THttpChunkDecoder {
 public:
  bool Feed(const char* data, std::size_t len, std::string& out);
  // The last (empty) chunk has been seen.
  bool Done() const { return FState == sDone; }

 private:
  enum { sSize, sSizeExt, sSizeLF, sData, sDataCR, sDataLF, sTrailer, sDone, sBad } FState = sSize;
  std::uint64_t FSize = 0;
  int FDigits = 0;
  std::size_t FTrailerLine = 0;
};
std::string EncodeBase64(const std::string& s);
// "If-Modified-Since" text of a date-time given as days since 1899-12-30 (fraction = time).
std::string RFC1123Date(double date_time);

// Lines of the header as they arrive: ended by LF, a CR before it removed.
class THttpLineBuffer {
 public:
  static constexpr std::size_t kLineMax = 8192;
  void Append(const char* data, std::size_t len) { FBuf.append(data, len); }
  // Takes the next complete line; false when none is complete (or it is too long).
  bool NextLine(std::string& line);
  // The first line, complete or not, is longer than kLineMax.
  bool Overflow() const;
  // The text after the last line taken (the start of the body).
  std::string TakeRest();
  // The text not taken yet starts with this (no case).
  bool StartsWithNoCase(const std::string& prefix) const;
  void Clear() { FBuf.clear(); }

 private:
  std::string FBuf;
};

// "HTTP/1.0 404 Not Found" -> 404, "Not Found". False for any other line: the version must be
// HTTP/1.x and the code three digits from 100 to 599.
bool HttpStatusLine(const std::string& line, int& code, std::string& reason);
// "Content-Type: text/html" -> "content-type", "text/html". False without ":".
bool HttpHeaderField(const std::string& line, std::string& name, std::string& value);

}  // namespace ql::net
