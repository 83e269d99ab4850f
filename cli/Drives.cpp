#include "Drives.h"

#include "CDImages.h"
#include "MMCDRead.h"
#include "ReaderTrackTable.h"

namespace trackwell {

ql::TMMTrackTable* OpenTrackTable(int device, std::ostream& err) {
  // Kept to the end of the process and never destroyed: a reader destroyed among the static
  // objects at exit would unregister itself from the component list already gone.
  static TMMCDReader* reader = nullptr;
  static ql::TMMCDReaderTrackTable* table = nullptr;
  try {
    if (!reader) {
      reader = new TMMCDReader();
      table = new ql::TMMCDReaderTrackTable(*reader);
    }
    SelectDevice(*reader, device);
    if (!table->ReadTOC()) {
      std::string why = reader->ImageError();
      err << (why.empty() ? "no readable disc in " + reader->GetDeviceName() : why) << "\n";
      return nullptr;
    }
    return table;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return nullptr;
  }
}

}  // namespace trackwell
