// Server replies (status line, header, body in any coding) through the HTTP client's state
// machine, delivered by a loopback peer in the pieces the input gives.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "FuzzPeer.h"
#include "HttpProt.h"
#include "PollDispatcher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto* loop = [] {
    auto* p = new ql::PollDispatcher;
    ql::SetDispatcher(p);
    return p;
  }();
  (void)loop;
  static qlfuzz::FuzzPeer peer(true, false);
  // The whole input is one reply: NUL bytes become part of it rather than separators.
  std::string reply(reinterpret_cast<const char*>(data), size);
  for (char& c : reply)
    if (c == 0) c = '\x01';
  peer.SetInput(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size());
  std::size_t sink = 0;
  ql::net::THttpCli cli;
  cli.SetURL("http://127.0.0.1:" + std::to_string(peer.port()) + "/cddb.cgi?cmd=x");
  cli.SetTimeout(5000);
  // Redirections would lead anywhere: each one ends the request where it is seen.
  cli.OnLocationChange = [](ql::net::THttpCli* c) { c->Abort(); };
  std::ostringstream body;
  cli.SetRcvdStream(&body);
  try {
    cli.Get();
  } catch (const std::exception& e) {
    sink += std::string(e.what()).size();
  }
  sink += body.str().size() + static_cast<std::size_t>(cli.GetStatusCode()) +
          cli.GetRcvdHeader().size() + cli.GetLocation().size();
  return sink == 0xFFFFFFFF ? 1 : 0;
}
