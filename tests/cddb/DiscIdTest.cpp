#include <discid/discid.h>
#include <gtest/gtest.h>

#include <random>

#include "CddbReply.h"
#include "DiscID.h"
#include "MMCDDB.h"
#include "PollDispatcher.h"

using namespace ql;

namespace {

std::vector<TMMTrackInfo> ExampleDisc() {
  return {{1, 150, 19850}, {2, 20000, 20000}, {3, 40000, 15000}};
}

std::string LibDiscId(const std::vector<TMMTrackInfo>& tracks) {
  DiscId* d = discid_new();
  std::vector<int> offsets(tracks.size() + 1);
  offsets[0] = tracks.back().Start + tracks.back().Length;
  for (size_t i = 0; i < tracks.size(); ++i) offsets[i + 1] = tracks[i].Start;
  if (!discid_put(d, 1, static_cast<int>(tracks.size()), offsets.data())) {
    ADD_FAILURE() << discid_get_error_msg(d);
    discid_free(d);
    return "";
  }
  std::string id = discid_get_freedb_id(d);
  discid_free(d);
  return id;
}

}  // namespace

TEST(DiscID, WorkedExample) {
  auto disc = ExampleDisc();
  EXPECT_EQ(DiscIDText(CddbDiscID(disc), true), "1B02DB03");
  EXPECT_EQ(DiscIDText(ClassicDiscID(disc), false), "1b02db03");
  // The seconds field is the lead-out (55000 frames = 733 s), lead-in included.
  EXPECT_EQ(CddbQueryLine("1B02DB03", disc), "cddb query 1B02DB03 3 150 20000 40000 733");
  EXPECT_EQ(LibDiscId(disc), "1b02db03");
  // A hidden first track of five minutes: the lead-out still says where the disc ends.
  std::vector<TMMTrackInfo> hidden = {{1, 22650, 20000}, {2, 42650, 30000}};
  EXPECT_EQ(CddbQuerySeconds(hidden), (42650 + 30000) / 75);
}

// Both IDs are what every CDDB server computes, also for discs whose tracks leave gaps, whose
// first track starts off a whole second, and whose lead-out falls on the last frame of a second.
TEST(DiscID, EqualsTheFreedbIdOfLibdiscid) {
  std::mt19937 rng(12345);
  for (int disc = 0; disc < 3000; ++disc) {
    int n = 1 + static_cast<int>(rng() % 99);
    int room = 330000 / n;  // discs of at most about 75 minutes
    int pos = 150 + static_cast<int>(rng() % (disc % 3 == 0 ? 4000 : 2));
    std::vector<TMMTrackInfo> tracks;
    for (int i = 0; i < n; ++i) {
      int len = 300 + static_cast<int>(rng() % static_cast<unsigned>(room / 2));
      int gap = disc % 4 == 1 ? static_cast<int>(rng() % static_cast<unsigned>(room / 3)) : 0;
      tracks.push_back({i + 1, pos, len});
      pos += len + gap;
    }
    if (disc % 5 == 2) {  // the lead-out on frame 74 of a second
      int leadout = tracks.back().Start + tracks.back().Length;
      tracks.back().Length += 74 - leadout % 75;
    }
    std::string want = LibDiscId(tracks);
    ASSERT_EQ(DiscIDText(CddbDiscID(tracks), false), want) << "disc " << disc;
    ASSERT_EQ(DiscIDText(ClassicDiscID(tracks), false), want) << "disc " << disc;
  }
}

TEST(DiscID, ComponentUsesItsReader) {
  PollDispatcher d;
  SetDispatcher(&d);
  {
    TMMCDDB cddb;
    EXPECT_THROW(cddb.CalcDiscID(), EMMCDDBError);
    auto reader = std::make_unique<TMMTrackList>(ExampleDisc());
    cddb.SetCDReader(reader.get());
    EXPECT_EQ(cddb.CalcDiscID(), 0x1B02DB03u);
    EXPECT_EQ(cddb.GetDiscID(), "1B02DB03");
    EXPECT_EQ(cddb.QueryText(), "cddb query 1B02DB03 3 150 20000 40000 733\r\n");

    reader->SetDeviceReady(false);
    try {
      cddb.CalcDiscID();
      FAIL();
    } catch (const EMMCDDBError& e) {
      EXPECT_STREQ(e.what(), "Device is not ready");
    }
    std::vector<std::string> errors;
    cddb.OnError = [&](TMMCDDB*, const std::string& m, bool& handled) {
      errors.push_back(m);
      handled = true;
    };
    EXPECT_EQ(cddb.CalcDiscID(), 0x1B02DB03u);  // goes on with the table it has
    reader->SetDeviceReady(true);
    reader->SetTOCReadable(false);
    cddb.CalcDiscID();
    EXPECT_EQ(errors,
              (std::vector<std::string>{"Device is not ready", "Unable to read CD directory"}));

    reader.reset();  // the free notification clears the link
    EXPECT_EQ(cddb.GetCDReader(), nullptr);
    cddb.OnError = nullptr;
    try {
      cddb.CalcDiscID();
      FAIL();
    } catch (const EMMCDDBError& e) {
      EXPECT_STREQ(e.what(), "Not connected to CDReader");
    }
  }
  SetDispatcher(nullptr);
}

TEST(CddbReply, TitleSplit) {
  std::string a, t;
  CddbSplitTitle("Artist / Name", a, t);
  EXPECT_EQ(a, "Artist");
  EXPECT_EQ(t, "Name");
  CddbSplitTitle("Artist/Name", a, t);
  EXPECT_EQ(t, "Name");  // nothing after the "/" is dropped
  // " / " is the separator of the format; a "/" inside a name stays in it.
  CddbSplitTitle("AC/DC / Back in Black", a, t);
  EXPECT_EQ(a, "AC/DC");
  EXPECT_EQ(t, "Back in Black");
  CddbSplitTitle("Artist / Title / Part 2", a, t);
  EXPECT_EQ(a, "Artist");
  EXPECT_EQ(t, "Title / Part 2");
  CddbSplitTitle("Artist /", a, t);
  EXPECT_EQ(a, "Artist");
  EXPECT_EQ(t, "");
  CddbSplitTitle("Some Band - The Album", a, t);
  EXPECT_EQ(a, "Some Band");
  EXPECT_EQ(t, "The Album");
  CddbSplitTitle("Just a title", a, t);
  EXPECT_EQ(a, "Just a title");
  EXPECT_EQ(t, "Just a title");
}

TEST(CddbReply, EntryParsing) {
  std::string reply =
      "210 rock 1b02db03 CD database entry follows (until terminating `.')\r\n"
      "# xmcd\r\n#\r\n# Revision: 7\r\nDISCID=1b02db03\r\n"
      "DTITLE=Artist / A very long\r\nDTITLE= title\r\n"
      "TTITLE0=First part\r\nTTITLE0= and the rest\r\nTTITLE2=Third\r\n"
      "EXTD=extended\r\nEXTT0=x0\r\nEXTT1=x1\r\nPLAYORDER=\r\n.\r\n";
  TCddbEntry e = CddbParseEntry(reply);
  EXPECT_EQ(e.Category, "rock");
  EXPECT_EQ(e.Revision, 7);
  EXPECT_EQ(e.DiscTitle, "Artist / A very long title");
  EXPECT_EQ(e.Artist, "Artist");
  EXPECT_EQ(e.Title, "A very long title");
  // Split lines join without a separator; the missing index 1 ends the scan.
  EXPECT_EQ(e.TrackTitles, std::vector<std::string>{"First part and the rest"});
  EXPECT_EQ(e.TrackExtras, (std::vector<std::string>{"x0", "x1"}));
  EXPECT_EQ(CddbEntrySummary(e), "Artist / A very long title\r\n1\r\nFirst part and the rest");
  EXPECT_EQ(CddbParseEntry("210 misc x\r\n# Revision: abc\r\n.\r\n").Revision, 0);
}

TEST(CddbReply, QueryAndListReplies) {
  std::string cat, id, title;
  CddbParseExact("200 rock 1b02db03 Artist / Name\r\n", cat, id, title);
  EXPECT_EQ(cat, "rock");
  EXPECT_EQ(id, "1b02db03");
  EXPECT_EQ(title, "Artist / Name");
  auto m = CddbParseMatches(
      "211 Found inexact matches, list follows (until terminating `.')\r\n"
      "rock 1b02db03 A / B\r\njazz 1b02db04 C - D\r\n.\r\n");
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[1].Category, "jazz");
  EXPECT_EQ(m[1].DiscID, "1b02db04");
  EXPECT_EQ(m[1].DiscTitle, "C - D");
  EXPECT_EQ(m[1].Artist, "C");
  EXPECT_EQ(m[1].Title, "D");
  EXPECT_TRUE(CddbParseMatches("211 Found inexact matches\r\n.\r\n").empty());
  auto sites = CddbParseSites(
      "210 OK, site information follows (until terminating `.')\r\n"
      "cddb.example.org 8880 N000.00 W000.00 Loopback test server\r\n"
      "m.example.net xx N052.30 E013.25 Berlin\r\n.\r\n");
  ASSERT_EQ(sites.size(), 2u);
  EXPECT_EQ(sites[0].Host, "cddb.example.org");
  EXPECT_EQ(sites[0].Port, 8880);
  EXPECT_EQ(sites[0].Location, "Loopback test server");
  EXPECT_EQ(sites[1].Port, 0);
  EXPECT_EQ(CddbParseCategories("210 OK\r\nblues\r\nrock\r\n.\r\n"),
            (std::vector<std::string>{"blues", "rock"}));
  EXPECT_EQ(CddbReplyCode("20x"), 0);
  EXPECT_EQ(CddbReplyCode("403 corrupt"), 403);
}

TEST(CddbReply, CompletenessFollowsTheCode) {
  EXPECT_FALSE(CddbReplyComplete("201 localhost CDDBP ser"));
  EXPECT_TRUE(CddbReplyComplete("201 localhost CDDBP server ready\r\n"));
  EXPECT_FALSE(CddbReplyComplete("210 rock 1 entry follows\r\nDTITLE=x\r\n"));
  EXPECT_TRUE(CddbReplyComplete("210 rock 1 entry follows\r\nDTITLE=x\r\n.\r\n"));
  EXPECT_FALSE(CddbReplyComplete("211 inexact\r\nrock 1 a\r\n"));
  EXPECT_TRUE(CddbReplyComplete("401 rock 1 No such CD entry in database.\r\n"));
}

TEST(CddbSetters, ChecksAndClamping) {
  PollDispatcher d;
  SetDispatcher(&d);
  {
    TMMCDDB cddb;
    cddb.SetConnectTimeOut(1000);
    EXPECT_EQ(cddb.GetConnectTimeOut(), 5000);
    cddb.SetConnectTimeOut(100000);
    EXPECT_EQ(cddb.GetConnectTimeOut(), 65535);
    EXPECT_EQ(cddb.GetRevision(), "1.0");
    EXPECT_EQ(cddb.GetPort(), 8880);
    EXPECT_EQ(cddb.GetServer(), "gnudb.gnudb.org");
    auto expect_error = [&](auto fn, const char* text) {
      try {
        fn();
        ADD_FAILURE() << "no error for " << text;
      } catch (const EMMCDDBError& e) {
        EXPECT_STREQ(e.what(), text);
      }
    };
    expect_error([&] { cddb.SetEmail("a b@c"); }, "No spaces allowed in Email");
    expect_error([&] { cddb.SetEmail("nobody"); }, "Invalid Email address");
    expect_error([&] { cddb.SetHostName("a b"); }, "No spaces allowed in HostName");
    expect_error([&] { cddb.SetAppName("a b"); }, "No spaces allowed in AppName");
    expect_error([&] { cddb.SetRevision("1 0"); }, "No spaces allowed in Revision");
    EXPECT_EQ(cddb.GetEmail(), "");
    cddb.OnError = [](TMMCDDB*, const std::string&, bool& handled) { handled = true; };
    cddb.SetEmail("nobody");
    EXPECT_EQ(cddb.GetEmail(), "nobody");  // stored once the error is handled
  }
  SetDispatcher(nullptr);
}
