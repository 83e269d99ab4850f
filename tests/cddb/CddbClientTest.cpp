#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "CddbCommands.h"
#include "MMCDDB.h"
#include "NetTestSupport.h"
#include "TestFiles.h"

using namespace ql;

namespace {

std::vector<TMMTrackInfo> ExampleDisc() {
  return {{1, 150, 19850}, {2, 20000, 20000}, {3, 40000, 15000}};
}

// An xmcd entry for the tracks, with the given title lines.
std::string Entry(const std::vector<TMMTrackInfo>& tracks, const std::string& id,
                  const std::string& keys) {
  std::string s = "# xmcd\r\n#\r\n# Track frame offsets:\r\n";
  for (const auto& t : tracks) s += "#\t" + std::to_string(t.Start) + "\r\n";
  int leadout = tracks.back().Start + tracks.back().Length;
  s += "#\r\n# Disc length: " + std::to_string(leadout / 75) + " seconds\r\n#\r\n";
  s += "# Revision: 2\r\n# Submitted via: test 1.0\r\n#\r\nDISCID=" + id + "\r\n" + keys;
  return s;
}

class CddbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddEntry("rock", "1b02db03",
             "DTITLE=Artist / Name\r\nDYEAR=1999\r\nDGENRE=Rock\r\nTTITLE0=One\r\n"
             "TTITLE1=Two, a long\r\nTTITLE1= title\r\nTTITLE2=Three\r\nEXTD=\r\nEXTT0=e0\r\n"
             "EXTT1=\r\nEXTT2=\r\nPLAYORDER=\r\n");
    reader.SetTracks(ExampleDisc());
    cddb.SetCDReader(&reader);
    cddb.SetAppName("tests");
    cddb.SetEmail("user@example.org");
    cddb.SetServer("127.0.0.1");
    cddb.SetConnectTimeOut(5000);
    cddb.OnSendData = [this](TMMCDDB*, const std::string& m) { sent.push_back(m); };
    cddb.OnReceiveData = [this](TMMCDDB*, const std::string& m) { received.push_back(m); };
    cddb.OnState = [this](TMMCDDB*, const std::string& m) { states.push_back(m); };
  }
  void AddEntry(const std::string& cat, const std::string& id, const std::string& keys,
                const std::vector<TMMTrackInfo>& tracks = ExampleDisc()) {
    ::mkdir((dir / cat).c_str(), 0755);
    qltest::WriteFile(dir / (cat + "/" + id), Entry(tracks, id, keys));
  }
  void Start(const std::vector<std::string>& switches = {}) {
    server = qltest::StartCddbServer(dir.path(), switches);
    ASSERT_TRUE(server->running());
    cddb.SetPort(server->port());
  }
  std::string ErrorOf(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const EMMCDDBError& e) {
      return e.what();
    }
    return "";
  }

  qltest::TempDir dir;
  qltest::Loop loop;
  std::unique_ptr<qltest::ServerProcess> server;
  TMMTrackList reader;
  TMMCDDB cddb;
  std::vector<std::string> sent, received, states;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

TEST_F(CddbTest, ExactMatch) {
  Start();
  std::string result;
  cddb.QueryDisc(result);
  EXPECT_EQ(result, "Artist / Name\r\n3\r\nOne\r\nTwo, a long title\r\nThree");
  EXPECT_EQ(cddb.GetArtist(), "Artist");
  EXPECT_EQ(cddb.GetTitle(), "Name");
  EXPECT_EQ(cddb.GetEntryCategory(), "rock");
  EXPECT_EQ(cddb.GetEntryRevision(), 2);
  EXPECT_EQ(cddb.TrackExtras(), (std::vector<std::string>{"e0", "", ""}));
  EXPECT_EQ(cddb.GetQueryCategory(), "rock");
  EXPECT_EQ(cddb.GetQueryDiscID(), "1b02db03");
  EXPECT_EQ(cddb.GetQueryTitle(), "Artist / Name");
  EXPECT_FALSE(cddb.Connected());
  // The host field comes from the e-mail address and stays.
  EXPECT_EQ(cddb.GetHostName(), "example.org");
  std::vector<std::string> want = {
      "Connecting to: 127.0.0.1 Port: " + std::to_string(server->port()),
      "cddb hello user example.org tests 1.0",
      "proto 6",
      "cddb query 1B02DB03 3 150 20000 40000 733",
      "cddb read rock 1b02db03",
      "quit"};
  EXPECT_EQ(sent, want);
  std::vector<std::string> want_states = {"Finding Host...", "Logging in...",
                                          "Querying database...", "Retrieving data...",
                                          "Disconnecting..."};
  EXPECT_EQ(states, want_states);
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.front().substr(0, 4), "201 ");
  EXPECT_EQ(received.back().substr(0, 4), "230 ");
}

TEST_F(CddbTest, RepliesDeliveredInPiecesAreNotCutShort) {
  Start({"--split", "--slow", "20"});
  std::string result;
  cddb.QueryDisc(result);
  EXPECT_EQ(cddb.TrackTitles().size(), 3u);
  EXPECT_EQ(received.front().substr(0, 10), "201 localh");
  EXPECT_NE(std::find_if(received.begin(), received.end(),
                         [](const std::string& l) { return l.rfind("200 Hello and", 0) == 0; }),
            received.end());
}

TEST_F(CddbTest, InexactMatches) {
  AddEntry("jazz", "1b02db03", "DTITLE=Other / Disc\r\nTTITLE0=J1\r\nTTITLE1=J2\r\nTTITLE2=J3\r\n");
  Start();
  std::string result;
  cddb.SetUseFirstMatch(true);
  cddb.QueryDisc(result);
  EXPECT_EQ(cddb.GetEntryCategory(), "jazz");  // the first match line
  EXPECT_TRUE(cddb.Matches().empty());

  cddb.SetUseFirstMatch(false);
  std::vector<std::string> offered;
  cddb.OnSelectMatch = [&](TMMCDDB*, TMMCDDBMatches& matches, int& match) {
    for (auto& m : matches) offered.push_back(m.Category + " " + m.Artist + "|" + m.Title);
    EXPECT_EQ(match, -1);
    match = 1;
  };
  cddb.QueryDisc(result);
  EXPECT_EQ(offered, (std::vector<std::string>{"jazz Other|Disc", "rock Artist|Name"}));
  EXPECT_EQ(cddb.GetEntryCategory(), "rock");
  EXPECT_EQ(cddb.TrackTitles()[0], "One");

  cddb.OnSelectMatch = [](TMMCDDB*, TMMCDDBMatches&, int& match) { match = -1; };
  cddb.QueryDisc(result);
  EXPECT_EQ(result, "");
  EXPECT_TRUE(cddb.TrackTitles().empty());
  EXPECT_EQ(cddb.Matches().size(), 2u);
}

TEST_F(CddbTest, FuzzyMatchAndNoMatch) {
  Start();
  // A disc of three tracks whose length is within a minute of the entry's: not exact.
  reader.SetTracks({{1, 150, 19850}, {2, 20000, 20000}, {3, 40000, 15750}});
  std::string result;
  cddb.QueryDisc(result);
  EXPECT_EQ(cddb.GetArtist(), "Artist");
  reader.SetTracks({{1, 150, 30000}});
  EXPECT_EQ(ErrorOf([&] { cddb.QueryDisc(result); }), "202 No match for disc ID 02019001.");
  bool seen = false;
  cddb.OnError = [&](TMMCDDB*, const std::string&, bool& handled) { seen = handled = true; };
  cddb.QueryDisc(result);
  EXPECT_TRUE(seen);
  EXPECT_EQ(result, "202 No exact match");
}

TEST_F(CddbTest, InexactReplyWithoutMatchLines) {
  Start({"--force", "query=211 Found inexact matches, list follows (until terminating `.')\r\n."});
  bool errors = false;
  cddb.OnError = [&](TMMCDDB*, const std::string&, bool&) { errors = true; };
  std::string result;
  cddb.QueryDisc(result);
  EXPECT_EQ(result, "202 No exact match");
  EXPECT_FALSE(errors);
}

// Every refusal reaches the caller with the server's own line, and leaves no results behind.
TEST_F(CddbTest, ServerRefusals) {
  const std::vector<std::vector<std::string>> refusals = {
      {"--force", "query=403 Database entry is corrupt."},
      {"--force", "query=409 No handshake."},
      {"--force", "query=500 Command syntax error."},
      {"--force", "query=530 Server error, server timeout."},
      {"--force", "query=402 Server busy."},
      {"--force", "read=401 rock 1b02db03 No such CD entry in database."},
      {"--force", "read=402 Server error."},
      {"--force", "read=403 Database entry is corrupt."},
      {"--force", "hello=500 Unknown developer email"},
      {"--force", "hello=431 Handshake not successful, closing connection."},
      {"--greeting", "432 No connections allowed: permission denied."},
      {"--greeting", "433 No connections allowed: X users allowed, Y currently active."},
      {"--greeting", "434 No connections allowed: system load too high."},
  };
  for (const auto& r : refusals) {
    Start(r);
    std::string result = "untouched";
    std::string want = r[1].substr(r[1].find('=') + 1);
    EXPECT_EQ(ErrorOf([&] { cddb.QueryDisc(result); }), want) << r[1];
    EXPECT_TRUE(cddb.TrackTitles().empty());
    EXPECT_EQ(cddb.GetArtist(), "");
    EXPECT_FALSE(cddb.Connected());
  }
}

TEST_F(CddbTest, ServerThatNeverGreetsTimesOut) {
  Start({"--never-greet"});
  auto t0 = std::chrono::steady_clock::now();
  std::string result;
  EXPECT_EQ(ErrorOf([&] { cddb.QueryDisc(result); }), "000 Failure to Connect");
  EXPECT_GE(Seconds(t0), 4.9);
  EXPECT_LT(Seconds(t0), 8.0);
  EXPECT_TRUE(cddb.GetTimedOut());
}

TEST_F(CddbTest, RefusedConnectionFailsWithoutWaiting) {
  cddb.SetPort(qltest::FreePort());
  auto t0 = std::chrono::steady_clock::now();
  std::string result;
  EXPECT_EQ(ErrorOf([&] { cddb.QueryDisc(result); }), "000 Failure to Connect");
  EXPECT_LT(Seconds(t0), 2.0);
}

TEST_F(CddbTest, AbortDuringHandshakeAndDuringRead) {
  Start({"--slow", "300"});
  // The greeting arrives after 300 ms; abort while the hello is on its way.
  bool greeted = false;
  cddb.OnReceiveData = [&](TMMCDDB* c, const std::string& line) {
    if (line.rfind("201", 0) == 0) {
      greeted = true;
      loop.dispatcher().SetTimer(
          50, [c] { c->SetAborted(true); }, true);
    }
  };
  std::string result;
  cddb.QueryDisc(result);
  EXPECT_TRUE(greeted);
  EXPECT_EQ(result, "700 User Abort");

  cddb.OnReceiveData = nullptr;
  cddb.OnState = [&](TMMCDDB* c, const std::string& s) {
    if (s == "Retrieving data...")
      loop.dispatcher().SetTimer(
          50, [c] { c->SetAborted(true); }, true);
  };
  bool errors = false;
  cddb.OnError = [&](TMMCDDB*, const std::string&, bool&) { errors = true; };
  cddb.QueryDisc(result);
  EXPECT_EQ(result, "");
  EXPECT_FALSE(errors);
  EXPECT_TRUE(cddb.TrackTitles().empty());
}

TEST_F(CddbTest, HostileServersEndTheRequest) {
  std::string result;
  Start({"--close-mid-reply"});
  EXPECT_EQ(ErrorOf([&] { cddb.QueryDisc(result); }), "Connection closed by server");
  EXPECT_TRUE(cddb.TrackTitles().empty());

  Start({"--endless-line", "read"});
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { cddb.QueryDisc(result); }), "Reply too long (more than 1048576 bytes)");
  EXPECT_LT(Seconds(t0), 5.0);

  Start({"--endless-line", "greet"});
  EXPECT_EQ(ErrorOf([&] { cddb.QueryDisc(result); }), "000 Failure to Connect");

  // One error line where text was expected: the request ends with it, not at the time-out.
  Start({"--error-line"});
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { cddb.QueryDisc(result); }),
            "401 rock 1b02db03 No such CD entry in database.");
  EXPECT_LT(Seconds(t0), 2.0);
  EXPECT_TRUE(cddb.TrackTitles().empty());
  std::vector<std::string> errors;
  cddb.OnError = [&](TMMCDDB*, const std::string& m, bool& h) {
    errors.push_back(m);
    h = true;
  };
  EXPECT_EQ(cddb.GetSites(), 0);
  EXPECT_EQ(cddb.GetCategories(), 0);
  EXPECT_EQ(errors, (std::vector<std::string>{"401 No site information available.",
                                              "500 Command syntax error."}));
}

TEST_F(CddbTest, SitesAndCategories) {
  Start();
  // Level 6: sites carry their protocol, port and CGI path.
  EXPECT_EQ(cddb.GetSites(), 3);
  ASSERT_EQ(cddb.Sites().size(), 3u);
  EXPECT_EQ(cddb.Sites()[1].Protocol, "http");
  EXPECT_EQ(cddb.Sites()[1].Port, 80);
  EXPECT_EQ(cddb.Sites()[1].Path, "/~cddb/cddb.cgi");
  EXPECT_EQ(cddb.Sites()[2].Host, "mirror.example.net");
  EXPECT_EQ(cddb.Sites()[2].Port, 888);
  EXPECT_EQ(cddb.Sites()[2].Location, "Mirror Site, Berlin");
  EXPECT_EQ(cddb.GetCategories(), 1);
  EXPECT_EQ(cddb.Categories(), std::vector<std::string>{"rock"});
  EXPECT_EQ(cddb.ListSites(), "210 Ok, site information follows.");  // connects on its own
  cddb.Disconnect();
  // Level 1: the older site lines.
  cddb.SetMaxProtoLevel(1);
  EXPECT_EQ(cddb.GetSites(), 2);
  EXPECT_EQ(cddb.Sites()[1].Port, 888);
  EXPECT_EQ(cddb.Sites()[1].Location, "Mirror Site, Berlin");
  Start({"--no-sites"});
  EXPECT_EQ(ErrorOf([&] { cddb.GetSites(); }), "401 No site information available.");
  EXPECT_FALSE(cddb.Connected());
}

TEST_F(CddbTest, HandshakeNeedsAnAddress) {
  Start();
  TMMCDDB bare;
  bare.SetServer("127.0.0.1");
  bare.SetPort(server->port());
  EXPECT_EQ(ErrorOf([&] { bare.Handshake(); }), "Need an email address");
  bare.OnError = [](TMMCDDB*, const std::string&, bool& h) { h = true; };
  bare.SetEmail("nobody");
  EXPECT_EQ(ErrorOf([&] { bare.Handshake(); }), "Invalid email address");
  EXPECT_EQ(bare.SendCommand(""), 0);
}

TEST_F(CddbTest, Commands) {
  Start();
  TTrackTableOpener open = [&](int device, std::ostream& err) -> TMMTrackTable* {
    if (device == 0) return &reader;
    err << "No drive " << device << "\n";
    return nullptr;
  };
  std::ostringstream out, err;
  EXPECT_EQ(RunDiscIdCommand({}, open, out, err), 0);
  EXPECT_EQ(
      out.str(),
      "DiscID\t1B02DB03\nclassic\t1b02db03\nquery\tcddb query 1B02DB03 3 150 20000 40000 733\n");
  EXPECT_EQ(RunDiscIdCommand({"--device", "1"}, open, out, err), 1);
  EXPECT_EQ(RunDiscIdCommand({"--bogus"}, open, out, err), 2);

  std::string port = std::to_string(server->port());
  qltest::TempDir cache;
  ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
  out.str("");
  EXPECT_EQ(
      RunCddbCommand({"query", "--server", "127.0.0.1", "--port", port, "--email", "u@example.org"},
                     open, out, err),
      0)
      << err.str();
  const std::string named =
      "artist\tArtist\ntitle\tName\ndisctitle\tArtist / Name\nyear\t1999\ngenre\tRock\n"
      "category\trock\ntrack\t1\tOne\ntrack\t2\tTwo, a long title\ntrack\t3\tThree\n";
  EXPECT_EQ(out.str(), named);
  // The entry is in the cache now: the same lookup needs no server.
  out.str("");
  EXPECT_EQ(RunCddbCommand({"query", "--server", "127.0.0.1", "--port",
                            std::to_string(qltest::FreePort()), "--email", "u@example.org"},
                           open, out, err),
            0)
      << err.str();
  EXPECT_EQ(out.str(), named);
  EXPECT_EQ(
      RunCddbCommand({"query", "--server", "127.0.0.1", "--port",
                      std::to_string(qltest::FreePort()), "--email", "u@example.org", "--no-cache"},
                     open, out, err),
      1);
  out.str("");
  EXPECT_EQ(
      RunCddbCommand({"sites", "--server", "127.0.0.1", "--port", port, "--email", "u@example.org"},
                     open, out, err),
      0);
  EXPECT_EQ(out.str(),
            "cddb.example.org\t8880\tLoopback test server\n"
            "cddb.example.org\t80\tLoopback test server\n"
            "mirror.example.net\t888\tMirror Site, Berlin\n");
  out.str("");
  EXPECT_EQ(RunCddbCommand(
                {"categories", "--server", "127.0.0.1", "--port", port, "--email", "u@example.org"},
                open, out, err),
            0);
  EXPECT_EQ(out.str(), "rock\n");
  EXPECT_EQ(RunCddbCommand({"query", "--server", "127.0.0.1"}, open, out, err), 2);

  AddEntry("jazz", "1b02db03", "DTITLE=Other / Disc\r\n");
  out.str("");
  err.str("");
  EXPECT_EQ(RunCddbCommand({"query", "--server", "127.0.0.1", "--port", port, "--email",
                            "u@example.org", "--no-cache"},
                           open, out, err),
            3);
  EXPECT_EQ(out.str(),
            "match\tjazz\t1b02db03\tOther / Disc\nmatch\trock\t1b02db03\tArtist / Name\n");
  reader.SetTracks({{1, 150, 30000}});
  err.str("");
  EXPECT_EQ(
      RunCddbCommand({"query", "--server", "127.0.0.1", "--port", port, "--email", "u@example.org"},
                     open, out, err),
      1);
  EXPECT_EQ(err.str(), "202 No match for disc ID 02019001.\n");
  ::unsetenv("XDG_CACHE_HOME");
}
