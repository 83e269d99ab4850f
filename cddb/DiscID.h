#pragma once
// Disc identification from a table of contents.
#include <cstdint>
#include <string>
#include <vector>

#include "TrackTable.h"

namespace ql {

// The CDDB disc ID: top byte the digit sums of the start seconds mod 255, the middle 16 bits the
// playing time in seconds from the first track's start to the lead-out, the low byte n.
std::uint32_t CddbDiscID(const std::vector<TMMTrackInfo>& tracks);
// The same ID as the "Disc ID Calculator" computes it.
std::uint32_t ClassicDiscID(const std::vector<TMMTrackInfo>& tracks);
// The seconds field of the query: the lead-out address in whole seconds.
int CddbQuerySeconds(const std::vector<TMMTrackInfo>& tracks);
// "cddb query <id> <n> <offsets...> <seconds>" without the line end.
std::string CddbQueryLine(const std::string& disc_id, const std::vector<TMMTrackInfo>& tracks);
// 8 hexadecimal digits with leading zeros.
std::string DiscIDText(std::uint32_t id, bool upper);

}  // namespace ql
