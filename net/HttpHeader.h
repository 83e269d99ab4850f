#pragma once
// The pieces of HTTP header handling that work on received text alone.
#include <cstddef>
#include <string>

namespace ql::net {

struct TUrlParts {
  std::string Proto, User, Pass, Host, Port, Path;
};
TUrlParts ParseURL(const std::string& url);
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

// "HTTP/1.0 404 Not Found" -> 404, "Not Found". False for any other line.
bool HttpStatusLine(const std::string& line, int& code, std::string& reason);
// "Content-Type: text/html" -> "content-type", "text/html". False without ":".
bool HttpHeaderField(const std::string& line, std::string& name, std::string& value);

}  // namespace ql::net
