// Server replies through the whole CDDB client, over the line protocol and over HTTP: the
// greeting, hello, proto, query (exact, inexact, refusals), read, sites and categories, as a
// loopback peer answers each command with the next piece of the input.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzPeer.h"
#include "MMCDDB.h"
#include "PollDispatcher.h"

namespace {

ql::PollDispatcher* Loop() {
  static auto* d = [] {
    auto* p = new ql::PollDispatcher;
    ql::SetDispatcher(p);
    return p;
  }();
  return d;
}

void Exercise(ql::TMMCDDB& cddb, std::size_t& sink) {
  std::string result;
  auto guarded = [&](auto fn) {
    try {
      fn();
    } catch (const std::exception& e) {
      sink += std::string(e.what()).size();
    }
  };
  guarded([&] { cddb.QueryDisc(result); });
  sink += result.size() + cddb.GetArtist().size() + cddb.GetTitle().size() + cddb.GetYear().size() +
          cddb.TrackTitles().size() + cddb.TrackArtists().size();
  for (const auto& t : cddb.TrackTitles()) sink += t.size();
  guarded([&] { sink += static_cast<std::size_t>(cddb.GetSites()); });
  guarded([&] { sink += static_cast<std::size_t>(cddb.GetCategories()); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Loop();
  static qlfuzz::FuzzPeer line(false, true), http(true, false);
  static ql::TMMTrackList disc({{1, 150, 19850}, {2, 20000, 20000}, {3, 40000, 15000}});
  std::size_t sink = 0;
  for (bool over_http : {false, true}) {
    qlfuzz::FuzzPeer& peer = over_http ? http : line;
    peer.SetInput(data, size);
    ql::TMMCDDB cddb;
    cddb.SetCDReader(&disc);
    cddb.SetServer("127.0.0.1");
    cddb.SetPort(peer.port());
    cddb.SetAppName("fuzz");
    cddb.SetEmail("fuzz@example.org");
    cddb.SetTransport(over_http ? ql::ctHttp : ql::ctLine);
    cddb.SetConnectTimeOut(5000);
    // Every second input picks the first match, the others choose the last one offered.
    cddb.SetUseFirstMatch(size % 2 == 0);
    cddb.OnSelectMatch = [](ql::TMMCDDB*, ql::TMMCDDBMatches& m, int& match) {
      match = static_cast<int>(m.size()) - 1;
    };
    Exercise(cddb, sink);
  }
  return sink == 0xFFFFFFFF ? 1 : 0;
}
