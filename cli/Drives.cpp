#include "Drives.h"

#include <memory>

#include "CDImages.h"
#include "MMCDRead.h"
#include "ReaderTrackTable.h"

namespace trackwell {

ql::TMMTrackTable* OpenTrackTable(int device, std::ostream& err) {
  static std::unique_ptr<TMMCDReader> reader;
  static std::unique_ptr<ql::TMMCDReaderTrackTable> table;
  try {
    if (!reader) {
      reader = std::make_unique<TMMCDReader>();
      table = std::make_unique<ql::TMMCDReaderTrackTable>(*reader);
    }
    SelectDevice(*reader, device);
    if (!table->ReadTOC()) {
      std::string why = reader->ImageError();
      err << (why.empty() ? "no readable disc in " + reader->GetDeviceName() : why) << "\n";
      return nullptr;
    }
    return table.get();
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return nullptr;
  }
}

}  // namespace trackwell
