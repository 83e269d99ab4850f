// A whole lookup (connect, hello, proto, query, read, quit) against the loopback test server,
// over the line protocol and over HTTP: the CDDB component side by side with libcddb's query
// and read, in the same run.
#include <benchmark/benchmark.h>
#include <cddb/cddb.h>
#include <sys/stat.h>

#include "MMCDDB.h"
#include "NetTestSupport.h"
#include "TestFiles.h"

namespace {

struct Fixture {
  Fixture() {
    ::mkdir((dir / "rock").c_str(), 0755);
    std::string entry =
        "# xmcd\r\n#\r\n# Track frame offsets:\r\n#\t150\r\n#\t20000\r\n#\t40000\r\n#\r\n"
        "# Disc length: 733 seconds\r\n#\r\n# Revision: 1\r\nDISCID=1b02db03\r\n"
        "DTITLE=Artist / Name\r\nDYEAR=1999\r\nDGENRE=Rock\r\n";
    for (int i = 0; i < 3; ++i)
      entry += "TTITLE" + std::to_string(i) + "=Track " + std::to_string(i) + "\r\n";
    entry += "EXTD=\r\nEXTT0=\r\nEXTT1=\r\nEXTT2=\r\nPLAYORDER=\r\n";
    qltest::WriteFile(dir / "rock/1b02db03", entry);
    server = qltest::StartCddbServer(dir.path());
    http = qltest::StartCddbServer(dir.path(), {"--http"});
  }
  qltest::TempDir dir;
  std::unique_ptr<qltest::ServerProcess> server, http;
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void QueryDisc(benchmark::State& state, bool http) {
  Fixture& f = Shared();
  qltest::Loop loop;
  ql::TMMTrackList reader({{1, 150, 19850}, {2, 20000, 20000}, {3, 40000, 15000}});
  for (auto _ : state) {
    ql::TMMCDDB cddb;
    cddb.SetCDReader(&reader);
    cddb.SetServer("127.0.0.1");
    cddb.SetTransport(http ? ql::ctHttp : ql::ctLine);
    cddb.SetPort((http ? f.http : f.server)->port());
    cddb.SetAppName("bench");
    cddb.SetEmail("bench@example.org");
    std::string result;
    cddb.QueryDisc(result);
    if (cddb.TrackTitles().size() != 3) state.SkipWithError("lookup failed");
  }
}

void Libcddb(benchmark::State& state, bool http) {
  Fixture& f = Shared();
  for (auto _ : state) {
    cddb_conn_t* conn = cddb_new();
    cddb_set_server_name(conn, "127.0.0.1");
    cddb_set_server_port(conn, (http ? f.http : f.server)->port());
    if (http) {
      cddb_http_enable(conn);
      cddb_set_http_path_query(conn, "/~cddb/cddb.cgi");
    } else {
      cddb_http_disable(conn);
    }
    cddb_cache_disable(conn);
    cddb_set_email_address(conn, "bench@example.org");
    cddb_disc_t* disc = cddb_disc_new();
    for (int o : {150, 20000, 40000}) {
      cddb_track_t* t = cddb_track_new();
      cddb_track_set_frame_offset(t, o);
      cddb_disc_add_track(disc, t);
    }
    cddb_disc_set_length(disc, 733);
    if (cddb_query(conn, disc) != 1 || cddb_read(conn, disc) != 1)
      state.SkipWithError("libcddb lookup failed");
    cddb_disc_destroy(disc);
    cddb_destroy(conn);
  }
}

void BM_QueryDisc(benchmark::State& state) {
  QueryDisc(state, false);
}
void BM_Libcddb(benchmark::State& state) {
  Libcddb(state, false);
}
void BM_QueryDiscHttp(benchmark::State& state) {
  QueryDisc(state, true);
}
void BM_LibcddbHttp(benchmark::State& state) {
  Libcddb(state, true);
}

}  // namespace

BENCHMARK(BM_QueryDisc)
    ->Iterations(1)
    ->Repetitions(100)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Libcddb)
    ->Iterations(1)
    ->Repetitions(100)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_QueryDiscHttp)
    ->Iterations(1)
    ->Repetitions(100)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_LibcddbHttp)
    ->Iterations(1)
    ->Repetitions(100)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_MAIN();
