// CDDB server replies through every parser of the client.
#include <cstddef>
#include <cstdint>
#include <string>

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
  ql::TCddbEntryText t(reply);
  sink += t.Value(reply.substr(0, size % 7)).size();
  return sink == 0xFFFFFFFF ? 1 : 0;
}
