#pragma once
// A rip's verification: the AccurateRip checksums of every track read whole, looked up in
// the disc's entry fetched from an AccurateRip server through the project's HTTP client.
#include <string>
#include <vector>

#include "AccurateRip.h"
#include "MMCDRead.h"
#include "RipResult.h"

namespace ql::net {
class THttpCli;
}

namespace ripper {

// The address under which the entries lie, the disc's folders and file name appended.
inline constexpr const char* kAccurateRipServer = "http://www.accuraterip.com/accuraterip/";

// The disc's identifiers from the reader's table of contents (every track and the lead-out).
TAccurateRipDisc AccurateRipDiscOf(TMMCDReader& reader);

// Fetches the disc's entry and fills each result's `accurateRip` ("accurate", "not accurate",
// "not in database") and confidence. A failed fetch leaves them "unverified" and returns its
// reason (empty on success, also when the disc is not in the database).
std::string VerifyAccurateRip(const TAccurateRipDisc& disc, const std::string& server,
                              std::vector<TrackResult>& results);
// The same through the caller's client, which it may Abort() while the request waits (an
// aborted fetch leaves the results "unverified" and returns its reason).
std::string VerifyAccurateRip(const TAccurateRipDisc& disc, const std::string& server,
                              std::vector<TrackResult>& results, ql::net::THttpCli& cli);

}  // namespace ripper
