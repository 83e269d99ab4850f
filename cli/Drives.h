#pragma once
// The drives of the CD commands: real drives, then the images given with --image.
#include <ostream>

#include "TrackTable.h"

namespace trackwell {

// The table of contents of drive N (0 = the first drive; -1 = the first image, else the
// first drive), read now; nullptr with a message in err when there is none.
ql::TMMTrackTable* OpenTrackTable(int device, std::ostream& err);

}  // namespace trackwell
