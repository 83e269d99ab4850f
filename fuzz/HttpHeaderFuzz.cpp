// Received header text and URLs (addresses and Location values) through the HTTP parsers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "HttpHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t sink = 0;
  ql::net::TUrlParts u = ql::net::ParseURL(text);
  sink += u.Proto.size() + u.User.size() + u.Pass.size() + u.Host.size() + u.Port.size() +
          u.Path.size();
  ql::net::THttpLineBuffer lines;
  // Feed in two pieces, as a network read might deliver it.
  lines.Append(text.data(), size / 2);
  lines.Append(text.data() + size / 2, size - size / 2);
  std::string line, name, value, reason;
  int code = 0;
  sink += lines.StartsWithNoCase("<html>");
  while (lines.NextLine(line)) {
    if (ql::net::HttpStatusLine(line, code, reason))
      sink += static_cast<std::size_t>(code) + reason.size();
    else if (ql::net::HttpHeaderField(line, name, value))
      sink += name.size() + value.size();
  }
  sink += lines.Overflow() + lines.TakeRest().size();
  sink += ql::net::EncodeBase64(text).size();
  // The first half as a base address, the second as a reference from it.
  sink += ql::net::ResolveURL(text.substr(0, size / 2), text.substr(size / 2)).size();
  sink += ql::net::PercentDecode(text).size() + ql::net::UrlHost(u.Host).size();
  ql::net::THttpChunkDecoder chunks;
  std::string decoded;
  for (std::size_t i = 0; i < size; i += 7)
    if (!chunks.Feed(text.data() + i, std::min<std::size_t>(7, size - i), decoded)) break;
  sink += decoded.size() + chunks.Done();
  return sink == 0xFFFFFFFF ? 1 : 0;
}
