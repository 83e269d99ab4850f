// Text of entries: the decoding by protocol level, the escapes, the extra keys, compilations,
// and the entry cache.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CddbCache.h"
#include "CddbReply.h"
#include "TestFiles.h"

using namespace ql;

TEST(CddbText, DecodingKeepsEveryByte) {
  const std::string latin1 = "Die \xC4rzte \xDF\xFF";
  const std::string utf8 = "Die \xC3\x84rzte \xC3\x9F\xC3\xBF";
  // Below level 6 the bytes are ISO-8859-1.
  EXPECT_EQ(CddbDecodeText(latin1, 1), utf8);
  EXPECT_EQ(CddbDecodeText(latin1, 5), utf8);
  // At level 6 UTF-8 stays as it is; bytes that are not UTF-8 are read as ISO-8859-1.
  EXPECT_EQ(CddbDecodeText(utf8, 6), utf8);
  EXPECT_EQ(CddbDecodeText(latin1, 6), utf8);
  // UTF-8 seen at a lower level is taken byte by byte, as that level defines.
  EXPECT_EQ(CddbDecodeText("\xC3\x84", 1), "\xC3\x83\xC2\x84");
  EXPECT_EQ(CddbDecodeText("plain", 6), "plain");
  // Never a replacement character for a byte that could be decoded.
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  std::string decoded = CddbDecodeText(all, 6);
  EXPECT_TRUE(CddbIsUtf8(decoded));
  EXPECT_EQ(decoded.find("\xEF\xBF\xBD"), std::string::npos);
  EXPECT_EQ(decoded.size(), 127u + 2 * 128u);
}

TEST(CddbText, Utf8Validation) {
  EXPECT_TRUE(CddbIsUtf8("\xE2\x82\xAC \xF0\x9F\x8E\xB5"));
  EXPECT_FALSE(CddbIsUtf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(CddbIsUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(CddbIsUtf8("\xE2\x82"));          // cut short
  EXPECT_FALSE(CddbIsUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
  EXPECT_FALSE(CddbIsUtf8("\x80"));
}

TEST(CddbText, EntryEscapesExtraKeysAndCompilations) {
  std::string reply =
      "210 misc 0a0b0c03 CD database entry follows (until terminating `.')\r\n"
      "# xmcd\r\nDISCID=0a0b0c03\r\nDTITLE=Various / Hits\\tof the year\r\nDYEAR= 1987 \r\n"
      "DGENRE=Pop\r\nTTITLE0=AC/DC / Back in Black\r\nTTITLE1=No artist here\r\n"
      "TTITLE2=Nena / 99 Luftballons\\nlive\r\nEXTD=a \\\\ b\\x\r\nEXTT0=\r\nPLAYORDER=\r\n.\r\n";
  TCddbEntry e = CddbParseEntry(reply);
  EXPECT_EQ(e.Artist, "Various");
  EXPECT_EQ(e.Title, "Hits\tof the year");
  EXPECT_EQ(e.Year, "1987");
  EXPECT_EQ(e.Genre, "Pop");
  EXPECT_EQ(e.Extended, "a \\ b\\x");  // an unknown escape stays as it is
  ASSERT_EQ(e.TrackTitles.size(), 3u);
  EXPECT_EQ(e.TrackTitles[2], "Nena / 99 Luftballons\nlive");
  EXPECT_EQ(e.TrackArtists, (std::vector<std::string>{"AC/DC", "", "Nena"}));
  // Not a compilation: no track artists.
  EXPECT_TRUE(
      CddbParseEntry("210 rock 1\r\nDTITLE=A / B\r\nTTITLE0=X / Y\r\n.\r\n").TrackArtists.empty());
  EXPECT_TRUE(CddbIsCompilation("Various Artists"));
  EXPECT_FALSE(CddbIsCompilation("Variousness"));
}

TEST(CddbText, CacheStoresAndFindsEntries) {
  qltest::TempDir dir;
  std::string cache = dir / "cache";
  std::string body = "# xmcd\r\nDTITLE=A / B\r\n.hidden dot line\r\nTTITLE0=x\r\n";
  std::string reply = CddbEntryReply("rock", "1b02db03", body);
  EXPECT_EQ(reply.substr(reply.size() - 5), "\r\n.\r\n");
  EXPECT_NE(reply.find("\r\n..hidden"), std::string::npos);  // dot-stuffed on the way out
  EXPECT_EQ(CddbEntryBody(reply), body);                     // and back
  EXPECT_TRUE(CddbCacheStore(cache, "rock", "1B02DB03", body));
  std::string cat, found;
  EXPECT_TRUE(CddbCacheFind(cache, "1B02DB03", cat, found));
  EXPECT_EQ(cat, "rock");
  EXPECT_EQ(found, body);
  EXPECT_FALSE(CddbCacheFind(cache, "1b02db04", cat, found));
  EXPECT_FALSE(CddbCacheFind("", "1b02db03", cat, found));
  // Names from a server never leave the cache folder.
  EXPECT_FALSE(CddbCacheStore(cache, "../etc", "1b02db03", body));
  EXPECT_FALSE(CddbCacheStore(cache, "rock", "../../x", body));
  EXPECT_FALSE(CddbCacheStore(cache, "rock", "1b02db0g", body));
  EXPECT_FALSE(CddbCacheStore("", "rock", "1b02db03", body));
  // A cache that cannot be written is no failure of the lookup, and leaves nothing behind.
  ::mkdir((dir / "ro").c_str(), 0555);
  if (::geteuid() != 0) {
    EXPECT_FALSE(CddbCacheStore(dir / "ro", "rock", "1b02db03", body));
  }
}
