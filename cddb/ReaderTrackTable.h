#pragma once
// The CD reader's table of contents as the CDDB client reads it.
#include "MMCDRead.h"
#include "TrackTable.h"

namespace ql {

class TMMCDReaderTrackTable : public TMMTrackTable {
 public:
  explicit TMMCDReaderTrackTable(TMMCDReader& reader) : reader_(reader) {}
  bool GetDeviceReady() override { return reader_.GetDeviceReady(); }
  bool ReadTOC() override { return reader_.ReadTOC(); }
  int GetTrackCount() const override { return reader_.GetTrackCount(); }
  TMMTrackInfo GetTrack(int index) const override {
    TMMCDTrackInfo t = reader_.GetTrack(index);
    return {t.Number, t.Start, t.Length};
  }
  TMMCDReader& Reader() { return reader_; }

 private:
  TMMCDReader& reader_;
};

}  // namespace ql
