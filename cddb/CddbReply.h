#pragma once
// Parsing of CDDB server replies (initial protocol level). Pure functions over the reply text,
// shared by TMMCDDB and its tests and fuzzers.
#include <string>
#include <vector>

namespace ql {

struct TMMCDDBMatch {
  std::string Category, DiscTitle, Title, Artist, DiscID;
};
using TMMCDDBMatches = std::vector<TMMCDDBMatch>;

struct TMMCDDBSite {
  std::string Host;
  int Port = 0;
  std::string Location;
};
using TMMCDDBSites = std::vector<TMMCDDBSite>;

// The first three characters as a decimal number, 0 for anything else.
int CddbReplyCode(const std::string& reply);
// A reply is complete at the end of its status line unless its code says text follows
// (second digit 1: 210, 211, ...), which ends with a lone "." line.
bool CddbReplyComplete(const std::string& reply);

// "Artist / Title" -> Artist, Title (see the title split rules in TMMCDDB).
void CddbSplitTitle(const std::string& text, std::string& artist, std::string& title);

// Key lookups over a working copy of an entry, consumed in file order.
class TCddbEntryText {
 public:
  explicit TCddbEntryText(std::string text) : FWork(std::move(text)) {}
  bool Contains(const std::string& key) const { return FWork.find(key, FPos) != std::string::npos; }
  // Every line holding key contributes the rest of its line; the values are joined.
  std::string Value(const std::string& key);

 private:
  std::string FWork;
  size_t FPos = 0;  // the text before it has been consumed
};

struct TCddbEntry {
  std::string Category;
  int Revision = 0;
  std::string DiscTitle, Artist, Title;
  std::vector<std::string> TrackTitles, TrackExtras;
};
TCddbEntry CddbParseEntry(const std::string& reply);
// The summary text: disc title, the count of track titles, then each title, CR LF between.
std::string CddbEntrySummary(const TCddbEntry& entry);

// "200 category discid title..." of an exact query reply.
void CddbParseExact(const std::string& reply, std::string& category, std::string& disc_id,
                    std::string& title);
// The match lines of a 211 reply.
TMMCDDBMatches CddbParseMatches(const std::string& reply);
// The site lines of a 210 reply to "sites".
TMMCDDBSites CddbParseSites(const std::string& reply);
// The category lines of a 210 reply to "cddb lscat".
std::vector<std::string> CddbParseCategories(const std::string& reply);

}  // namespace ql
