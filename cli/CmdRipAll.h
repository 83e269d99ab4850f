#pragma once
// trackwell rip (--all | --tracks LIST) --dir DIR ...: several tracks of a disc, each to a file
// named by the extraction window's naming rules, with a summary of what became of each.
#include <string>
#include <vector>

#include "MMUtils.h"

namespace trackwell {

extern const char* const kRipAllUsage;

// Whether the rip command line asks for several tracks (--all or --tracks).
bool IsRipAll(const std::vector<std::string>& args);
int RunRipAll(const std::vector<std::string>& args);

// "--format TAG,RATE,BITS,CHANNELS": the wave format a track is recorded in, complete with a
// codec's extra bytes. BITS 0 takes the codec's own (GSM samples have none). nullptr when the
// text names no format.
WfxPtr ParseWaveFormat(const std::string& s);

}  // namespace trackwell
