// CDDB server replies through every parser of the client.
#include <cstddef>
#include <cstdint>
#include <string>

#include "CddbCache.h"
#include "CddbReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string reply(reinterpret_cast<const char*>(data), size);
  std::size_t sink = static_cast<std::size_t>(ql::CddbReplyCode(reply));
  sink += ql::CddbReplyComplete(reply);
  ql::TCddbEntry e = ql::CddbParseEntry(reply);
  sink += ql::CddbEntrySummary(e).size() + e.Category.size() + e.Artist.size() + e.Title.size();
  std::string cat, id, title;
  ql::CddbParseExact(reply, cat, id, title);
  sink += cat.size() + id.size() + title.size();
  for (const auto& m : ql::CddbParseMatches(reply))
    sink += m.Category.size() + m.DiscID.size() + m.Artist.size() + m.Title.size();
  for (const auto& s : ql::CddbParseSites(reply))
    sink += s.Host.size() + s.Location.size() + s.Port;
  for (const auto& c : ql::CddbParseCategories(reply)) sink += c.size();
  // Decoding at both kinds of level must give valid UTF-8 whatever the bytes.
  for (int level : {1, 6}) {
    std::string text = ql::CddbDecodeText(reply, level);
    if (!ql::CddbIsUtf8(text)) __builtin_trap();
    sink += ql::CddbUnescape(text).size();
  }
  std::string body = ql::CddbEntryBody(reply);
  // An entry taken apart and put together again (the cache's way) reads back the same.
  if (ql::CddbEntryBody(ql::CddbEntryReply("rock", "01020304", body)) != body &&
      body.find('\n') == std::string::npos && body.find('\r') == std::string::npos)
    __builtin_trap();
  sink += body.size() + e.TrackArtists.size() + e.Year.size() + e.Genre.size();
  ql::TCddbEntryText t(reply);
  sink += t.Value(reply.substr(0, size % 7)).size();
  return sink == 0xFFFFFFFF ? 1 : 0;
}
