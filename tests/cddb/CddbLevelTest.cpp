// The client against servers of each protocol level, over the line protocol and over HTTP:
// text decoding, the identity it sends, the cache and aborts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <sstream>

#include "CddbCommands.h"
#include "MMCDDB.h"
#include "NetTestSupport.h"
#include "TestFiles.h"

using namespace ql;

namespace {

const std::string kUtf8Artist = "Die \xC3\x84rzte";                  // "Die Ärzte"
const std::string kUtf8Track = "M\xC3\xA4\x64\x63hen \xE2\x82\xAC";  // with a euro sign

std::vector<TMMTrackInfo> Disc() {
  return {{1, 150, 19850}, {2, 20000, 20000}, {3, 40000, 15000}};
}

std::string Entry(const std::string& keys) {
  return "# xmcd\r\n#\r\n# Track frame offsets:\r\n#\t150\r\n#\t20000\r\n#\t40000\r\n#\r\n"
         "# Disc length: 733 seconds\r\n#\r\n# Revision: 1\r\n#\r\nDISCID=1b02db03\r\n" +
         keys;
}

class CddbLevelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir((dir / "rock").c_str(), 0755);
    qltest::WriteFile(dir / "rock/1b02db03",
                      Entry("DTITLE=" + kUtf8Artist +
                            " / Le Fr\xC3\xA9nch\r\nDYEAR=1998\r\n"
                            "DGENRE=Punk\r\nTTITLE0=" +
                            kUtf8Track + "\r\nTTITLE1=Zwei\r\nTTITLE2=Drei\\tvier\r\n"));
    reader.SetTracks(Disc());
    cddb.SetCDReader(&reader);
    cddb.SetAppName("tests");
    cddb.SetEmail("user@example.org");
    cddb.SetServer("127.0.0.1");
    cddb.SetConnectTimeOut(5000);
    cddb.OnSendData = [this](TMMCDDB*, const std::string& m) { sent.push_back(m); };
  }
  void Start(const std::vector<std::string>& switches = {}) {
    server = qltest::StartCddbServer(dir.path(), switches);
    ASSERT_TRUE(server->running());
    cddb.SetPort(server->port());
    sent.clear();
  }
  std::string ErrorOf(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const EMMCDDBError& e) {
      return e.what();
    }
    return "";
  }
  void ExpectNamed() {
    EXPECT_EQ(cddb.GetArtist(), kUtf8Artist);
    EXPECT_EQ(cddb.GetTitle(), "Le Fr\xC3\xA9nch");
    ASSERT_EQ(cddb.TrackTitles().size(), 3u);
    EXPECT_EQ(cddb.TrackTitles()[1], "Zwei");
    EXPECT_EQ(cddb.TrackTitles()[2], "Drei\tvier");
    EXPECT_EQ(cddb.GetYear(), "1998");
    EXPECT_EQ(cddb.GetGenre(), "Punk");
  }

  qltest::TempDir dir;
  qltest::Loop loop;
  std::unique_ptr<qltest::ServerProcess> server;
  TMMTrackList reader;
  TMMCDDB cddb;
  std::vector<std::string> sent;
};

}  // namespace

TEST_F(CddbLevelTest, Level6GivesUtf8) {
  Start();
  std::string result;
  cddb.QueryDisc(result);
  EXPECT_EQ(cddb.GetProtoLevel(), 6);
  ExpectNamed();
  EXPECT_EQ(cddb.TrackTitles()[0], kUtf8Track);
  EXPECT_EQ(sent[1], "cddb hello user example.org tests 1.0");
  EXPECT_EQ(sent[2], "proto 6");
}

TEST_F(CddbLevelTest, LowerLevelsGiveLatin1) {
  // A server that offers level 5 at most: asked for 6, it refuses; the client asks what it
  // offers and takes that. ISO-8859-1 text arrives as the same letters.
  Start({"--max-level", "5"});
  std::string result;
  cddb.QueryDisc(result);
  EXPECT_EQ(cddb.GetProtoLevel(), 5);
  EXPECT_EQ((std::vector<std::string>(sent.begin() + 2, sent.begin() + 5)),
            (std::vector<std::string>{"proto 6", "proto", "proto 5"}));
  ExpectNamed();
  // The euro sign has no ISO-8859-1 form: the server sent "?" for it, nothing else is lost.
  EXPECT_EQ(cddb.TrackTitles()[0], "M\xC3\xA4\x64\x63hen ?");

  Start({"--no-proto"});  // an old server: level 1 throughout
  cddb.QueryDisc(result);
  EXPECT_EQ(cddb.GetProtoLevel(), 1);
  ExpectNamed();

  Start();
  cddb.SetMaxProtoLevel(1);  // asked for level 1: no "proto" at all
  cddb.QueryDisc(result);
  EXPECT_EQ(cddb.GetProtoLevel(), 1);
  EXPECT_EQ(sent[2].rfind("cddb query", 0), 0u);
  ExpectNamed();
}

TEST_F(CddbLevelTest, IdentityFollowsTheAddress) {
  Start();
  std::string result;
  cddb.SetEmail("first.last@mail.example.net");
  cddb.QueryDisc(result);
  EXPECT_EQ(sent[1], "cddb hello first.last mail.example.net tests 1.0");
  // A changed address brings its own host; an invalid one is refused and changes nothing.
  cddb.SetEmail("other@example.com");
  EXPECT_EQ(cddb.GetHostName(), "example.com");
  EXPECT_EQ(ErrorOf([&] { cddb.SetEmail("no address"); }), "No spaces allowed in Email");
  EXPECT_EQ(ErrorOf([&] { cddb.SetEmail("nobody"); }), "Invalid Email address");
  EXPECT_EQ(ErrorOf([&] { cddb.SetEmail("@example.com"); }), "Invalid Email address");
  EXPECT_EQ(cddb.GetEmail(), "other@example.com");
  sent.clear();
  cddb.QueryDisc(result);
  EXPECT_EQ(sent[1], "cddb hello other example.com tests 1.0");
}

TEST_F(CddbLevelTest, HttpInterface) {
  Start({"--http"});
  cddb.SetTransport(ctHttp);
  std::string result;
  cddb.QueryDisc(result);
  EXPECT_EQ(cddb.GetProtoLevel(), 6);
  ExpectNamed();
  EXPECT_EQ(cddb.TrackTitles()[0], kUtf8Track);
  EXPECT_EQ(sent, (std::vector<std::string>{"cddb query 1B02DB03 3 150 20000 40000 733",
                                            "cddb read rock 1b02db03"}));
  EXPECT_FALSE(cddb.Connected());
  EXPECT_EQ(cddb.GetSites(), 3);
  EXPECT_EQ(cddb.GetCategories(), 1);

  cddb.SetMaxProtoLevel(1);
  cddb.QueryDisc(result);
  ExpectNamed();
  EXPECT_EQ(cddb.TrackTitles()[0], "M\xC3\xA4\x64\x63hen ?");
  cddb.SetMaxProtoLevel(6);

  // Refusals come back as the server's line; a wrong CGI path as the HTTP status.
  Start({"--http", "--force", "query=500 Unknown developer email"});
  EXPECT_EQ(ErrorOf([&] { cddb.QueryDisc(result); }), "500 Unknown developer email");
  EXPECT_TRUE(cddb.TrackTitles().empty());
  Start({"--http", "--force", "read=402 Server busy."});
  EXPECT_EQ(ErrorOf([&] { cddb.QueryDisc(result); }), "402 Server busy.");
  Start({"--http", "--path", "/elsewhere.cgi"});
  EXPECT_EQ(ErrorOf([&] { cddb.QueryDisc(result); }), "HTTP 404 Not Found");
  cddb.SetPort(qltest::FreePort());
  EXPECT_NE(ErrorOf([&] { cddb.QueryDisc(result); }), "");
}

TEST_F(CddbLevelTest, AbortDuringAnHttpRequest) {
  Start({"--http", "--slow", "3000"});
  cddb.SetTransport(ctHttp);
  cddb.OnState = [&](TMMCDDB* c, const std::string& s) {
    if (s == "Querying database...")
      loop.dispatcher().SetTimer(
          100, [c] { c->SetAborted(true); }, true);
  };
  bool errors = false;
  cddb.OnError = [&](TMMCDDB*, const std::string&, bool&) { errors = true; };
  auto t0 = std::chrono::steady_clock::now();
  std::string result;
  cddb.QueryDisc(result);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2.0);
  EXPECT_EQ(result, "");
  EXPECT_FALSE(errors);
  EXPECT_TRUE(cddb.TrackTitles().empty());
}

TEST_F(CddbLevelTest, CacheAnswersWithoutTheNetwork) {
  qltest::TempDir cache;
  cddb.SetCacheDir(cache / "cddb");
  Start({"--force", "read=402 Server busy."});
  std::string result;
  EXPECT_EQ(ErrorOf([&] { cddb.QueryDisc(result); }), "402 Server busy.");
  struct stat st;
  EXPECT_NE(::stat((cache / "cddb/rock/1b02db03").c_str(), &st), 0);  // nothing kept

  Start();
  cddb.QueryDisc(result);
  EXPECT_FALSE(cddb.GetFromCache());
  ASSERT_EQ(::stat((cache / "cddb/rock/1b02db03").c_str(), &st), 0);
  server.reset();
  sent.clear();
  cddb.QueryDisc(result);
  EXPECT_TRUE(cddb.GetFromCache());
  EXPECT_TRUE(sent.empty());
  ExpectNamed();
  EXPECT_EQ(cddb.TrackTitles()[0], kUtf8Track);
  EXPECT_EQ(cddb.GetEntryCategory(), "rock");
}

TEST_F(CddbLevelTest, ServersOnIPv6) {
  for (bool http : {false, true}) {
    std::vector<std::string> sw = {"--ipv6"};
    if (http) sw.push_back("--http");
    server = qltest::StartCddbServer(dir.path(), sw);
    if (!server->running()) GTEST_SKIP() << "no IPv6 loopback";
    cddb.SetServer("::1");
    cddb.SetPort(server->port());
    cddb.SetTransport(http ? ctHttp : ctLine);
    std::string result;
    cddb.QueryDisc(result);
    ExpectNamed();
  }
}

TEST_F(CddbLevelTest, CommandOverHttpAndItsRefusals) {
  TTrackTableOpener open = [&](int, std::ostream&) -> TMMTrackTable* { return &reader; };
  Start({"--http"});
  std::string port = std::to_string(server->port());
  std::ostringstream out, err;
  EXPECT_EQ(RunCddbCommand({"query", "--http", "--server", "127.0.0.1", "--port", port, "--email",
                            "u@example.org", "--no-cache"},
                           open, out, err),
            0)
      << err.str();
  // UTF-8 as it came, and the escaped tab a blank in the tab-separated output.
  EXPECT_EQ(out.str().substr(0, out.str().find('\n')), "artist\t" + kUtf8Artist);
  EXPECT_NE(out.str().find("track\t3\tDrei vier\n"), std::string::npos) << out.str();
  Start({"--http", "--force", "query=500 Unknown developer email"});
  out.str("");
  EXPECT_EQ(
      RunCddbCommand({"query", "--http", "--server", "127.0.0.1", "--port",
                      std::to_string(server->port()), "--email", "u@example.org", "--no-cache"},
                     open, out, err),
      1);
  EXPECT_EQ(err.str(), "500 Unknown developer email\n");
  EXPECT_EQ(out.str(), "");
}
