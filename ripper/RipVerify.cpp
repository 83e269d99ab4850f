#include "RipVerify.h"

#include <sstream>

#include "DiscID.h"
#include "HttpProt.h"
#include "ReaderTrackTable.h"

namespace ripper {

TAccurateRipDisc AccurateRipDiscOf(TMMCDReader& reader) {
  ql::TMMCDReaderTrackTable table(reader);
  std::vector<ql::TMMTrackInfo> tracks;
  std::vector<std::uint32_t> starts;
  for (int i = 0; i < table.GetTrackCount(); ++i) {
    tracks.push_back(table.GetTrack(i));
    starts.push_back(static_cast<std::uint32_t>(tracks.back().Start - 150));
  }
  const std::uint32_t leadOut =
      tracks.empty() ? 0
                     : static_cast<std::uint32_t>(tracks.back().Start + tracks.back().Length - 150);
  return ripper::AccurateRipDisc(starts, leadOut, ql::CddbDiscID(tracks));
}

std::string VerifyAccurateRip(const TAccurateRipDisc& disc, const std::string& server,
                              std::vector<TrackResult>& results) {
  ql::net::THttpCli cli;
  return VerifyAccurateRip(disc, server, results, cli);
}

std::string VerifyAccurateRip(const TAccurateRipDisc& disc, const std::string& server,
                              std::vector<TrackResult>& results, ql::net::THttpCli& cli) {
  for (auto& r : results)
    if (r.arComputed) r.accurateRip = "unverified";
  std::string url = server;
  if (url.empty() || url.back() != '/') url += '/';
  url += disc.Path();
  std::ostringstream body;
  cli.SetURL(url);
  cli.SetTimeout(15000);
  cli.SetRcvdStream(&body);
  int status = 0;
  try {
    cli.Get();
    status = cli.GetStatusCode();
  } catch (const std::exception& e) {
    // The client throws on an error status too: a 404 is the database's "no such disc".
    // (The client also says 404 for failures of its own: those come without the server's
    // header.)
    status = cli.GetStatusCode();
    if (status != 404 || cli.GetRequestDoneError() != 0 || cli.GetRcvdHeader().empty()) {
      cli.SetRcvdStream(nullptr);
      return std::string("AccurateRip: ") + e.what() + " (" + url + ")";
    }
  }
  cli.SetRcvdStream(nullptr);
  if (status == 404) {
    for (auto& r : results)
      if (r.arComputed) r.accurateRip = "not in database";
    return {};
  }
  if (status != 200)
    return "AccurateRip: the server answered " + std::to_string(status) + " for " + url;
  const std::string entry = body.str();
  for (auto& r : results) {
    if (!r.arComputed) continue;
    ripper::TAccurateRipMatch m;
    if (!ripper::AccurateRipLookup(entry, disc, r.number, r.arV1, r.arV2, m))
      return "AccurateRip: the server's entry for " + url + " is damaged";
    r.arConfidence = m.confidence;
    r.accurateRip = !m.found ? "not in database" : m.confidence > 0 ? "accurate" : "not accurate";
  }
  return {};
}

}  // namespace ripper
