#pragma once
// What `trackwell rip` tells about each track: the progress lines on stderr and the summary
// (--json) on stdout.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "RipResult.h"

namespace trackwell {

using ripper::TrackResult;

// A string as JSON: quotes, backslashes and control characters escaped, bytes that are no
// UTF-8 written as U+FFFD, so any name gives a valid document.
std::string JsonString(const std::string& s);

void WriteJsonSummary(std::FILE* out, const std::vector<TrackResult>& tracks, bool ok);

// "track 3: 45% 12.3x": one line per update; the test read of test and copy is
// "track 3 test: 45% 12.3x".
void PrintProgress(int track, int percent, double speed, bool test = false);

}  // namespace trackwell
