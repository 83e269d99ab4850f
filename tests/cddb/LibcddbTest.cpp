// A real CDDB client against the test server: the server speaks the protocol as clients expect.
#include <cddb/cddb.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "NetTestSupport.h"
#include "TestFiles.h"

namespace {

// libcddb's query and read of the worked disc, over the line protocol or the CGI.
void LookUp(int port, bool http) {
  cddb_conn_t* conn = cddb_new();
  ASSERT_NE(conn, nullptr);
  cddb_set_server_name(conn, "127.0.0.1");
  cddb_set_server_port(conn, port);
  if (http) {
    cddb_http_enable(conn);
    cddb_set_http_path_query(conn, "/~cddb/cddb.cgi");
  } else {
    cddb_http_disable(conn);
  }
  cddb_cache_disable(conn);
  cddb_set_email_address(conn, "user@example.org");
  cddb_disc_t* disc = cddb_disc_new();
  int offsets[] = {150, 20000, 40000};
  for (int o : offsets) {
    cddb_track_t* t = cddb_track_new();
    cddb_track_set_frame_offset(t, o);
    cddb_disc_add_track(disc, t);
  }
  cddb_disc_set_length(disc, 55000 / 75);
  EXPECT_EQ(cddb_disc_calc_discid(disc), 1);
  EXPECT_EQ(cddb_disc_get_discid(disc), 0x1b02db03u);
  int matches = cddb_query(conn, disc);
  EXPECT_EQ(matches, 1) << cddb_error_str(cddb_errno(conn));
  EXPECT_EQ(cddb_read(conn, disc), 1) << cddb_error_str(cddb_errno(conn));
  EXPECT_STREQ(cddb_disc_get_artist(disc), "Artist");
  EXPECT_STREQ(cddb_disc_get_title(disc), "Name");
  cddb_track_t* second = cddb_disc_get_track(disc, 1);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(cddb_track_get_title(second), "Two");
  EXPECT_EQ(cddb_disc_get_year(disc), 1999u);
  cddb_disc_destroy(disc);
  cddb_destroy(conn);
}

}  // namespace

TEST(TestServer, LibcddbQueriesAndReads) {
  qltest::TempDir dir;
  ::mkdir((dir / "rock").c_str(), 0755);
  qltest::WriteFile(dir / "rock/1b02db03",
                    "# xmcd\r\n#\r\n# Track frame offsets:\r\n#\t150\r\n#\t20000\r\n#\t40000\r\n"
                    "#\r\n# Disc length: 733 seconds\r\n#\r\n# Revision: 1\r\n"
                    "DISCID=1b02db03\r\nDTITLE=Artist / Name\r\nDYEAR=1999\r\nDGENRE=Rock\r\n"
                    "TTITLE0=One\r\nTTITLE1=Two\r\nTTITLE2=Three\r\nEXTD=\r\nEXTT0=\r\n"
                    "EXTT1=\r\nEXTT2=\r\nPLAYORDER=\r\n");
  auto server = qltest::StartCddbServer(dir.path());
  ASSERT_TRUE(server->running());
  LookUp(server->port(), false);
  // The same server's CGI interface, as libcddb speaks it.
  auto http = qltest::StartCddbServer(dir.path(), {"--http"});
  ASSERT_TRUE(http->running());
  LookUp(http->port(), true);
}
