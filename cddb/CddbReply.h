#pragma once
// Parsing of CDDB server replies (levels 1 to 6). Pure functions over the reply text, shared by
// TMMCDDB and its tests and fuzzers. Texts handed to them are already UTF-8 (CddbDecodeText).
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
  // From level 3 on: "cddbp" or "http", and the CGI path of an HTTP site.
  std::string Protocol = "cddbp", Path;
};
using TMMCDDBSites = std::vector<TMMCDDBSite>;

// The first three characters as a decimal number, 0 for anything else.
int CddbReplyCode(const std::string& reply);
// A reply is complete at the end of its status line unless its code says text follows
// (second digit 1: 210, 211, ...), which ends with a lone "." line.
bool CddbReplyComplete(const std::string& reply);

// The first line of a reply, without its line end.
std::string CddbReplyLine(const std::string& reply);

// Reply bytes as UTF-8: at level 6 the server sends UTF-8, below it ISO-8859-1; a level-6 reply
// that is not valid UTF-8 is read as ISO-8859-1 too, so no byte is ever lost or replaced.
bool CddbIsUtf8(const std::string& bytes);
std::string CddbLatin1ToUtf8(const std::string& bytes);
std::string CddbDecodeText(const std::string& bytes, int level);
// The escapes of entry values: \n, \t and \\.
std::string CddbUnescape(const std::string& value);

// "Artist / Title" -> Artist, Title: split at the first " / ", else at the first "/", else at the
// first " - "; without any both are the whole text.
void CddbSplitTitle(const std::string& text, std::string& artist, std::string& title);
// True for the disc artists of compilations ("Various", "Various Artists").
bool CddbIsCompilation(const std::string& artist);

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
  std::string DiscTitle, Artist, Title, Year, Genre, Extended;
  std::vector<std::string> TrackTitles, TrackExtras;
  // On a compilation the artist of each track ("Artist / Title" track titles), else empty.
  std::vector<std::string> TrackArtists;
};
TCddbEntry CddbParseEntry(const std::string& reply);
// The summary text: disc title, the count of track titles, then each title, CR LF between.
std::string CddbEntrySummary(const TCddbEntry& entry);

// "200 category discid title..." of an exact query reply.
void CddbParseExact(const std::string& reply, std::string& category, std::string& disc_id,
                    std::string& title);
// The match lines of a 211 reply.
TMMCDDBMatches CddbParseMatches(const std::string& reply);
// The site lines of a 210 reply to "sites": "host port lat long place" (level 1, 2) or
// "host protocol port path lat long place" (level 3 on).
TMMCDDBSites CddbParseSites(const std::string& reply);
// The category lines of a 210 reply to "cddb lscat".
std::vector<std::string> CddbParseCategories(const std::string& reply);

}  // namespace ql
