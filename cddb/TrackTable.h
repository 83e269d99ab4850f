#pragma once
// The table of contents as the CDDB client reads it. The CD reader implements this interface;
// TMMTrackList is a plain table filled by hand (tests, the command line, disc images read
// elsewhere).
//
// Contract for implementers:
//  - GetDeviceReady(): a disc is present and readable.
//  - ReadTOC(): (re)reads the table; false when it cannot be read.
//  - GetTrackCount(): n, the number of tracks of the table last read.
//  - GetTrack(i), i = 0..n-1: the track's number, its start as an absolute disc address in
//    frames (75 a second, the 150-frame lead-in included: the first track of a normal disc
//    starts at 150) and its length in frames. The last track's start + length is the lead-out.
//    Data tracks are listed like audio tracks.
// A table that goes away tells its clients (free notification), which then drop their pointer.
#include <cstddef>
#include <vector>

namespace ql {

struct TMMTrackInfo {
  int Number = 0;
  int Start = 0;   // absolute frames
  int Length = 0;  // frames
};

class TMMTrackTable;

class TMMTrackTableClient {
 public:
  virtual ~TMMTrackTableClient() = default;
  virtual void TrackTableFreed(TMMTrackTable* table) = 0;
};

class TMMTrackTable {
 public:
  TMMTrackTable() = default;
  TMMTrackTable(const TMMTrackTable&) = delete;
  TMMTrackTable& operator=(const TMMTrackTable&) = delete;
  virtual ~TMMTrackTable();

  virtual bool GetDeviceReady() = 0;
  virtual bool ReadTOC() = 0;
  virtual int GetTrackCount() const = 0;
  virtual TMMTrackInfo GetTrack(int index) const = 0;

  std::vector<TMMTrackInfo> Tracks() const;

  void AddFreeNotification(TMMTrackTableClient* client);
  void RemoveFreeNotification(TMMTrackTableClient* client);

 private:
  std::vector<TMMTrackTableClient*> FClients;
};

// A table held in memory.
class TMMTrackList : public TMMTrackTable {
 public:
  TMMTrackList() = default;
  explicit TMMTrackList(std::vector<TMMTrackInfo> tracks) : FTracks(std::move(tracks)) {}
  // Tracks numbered from 1 with the given absolute starts; lengths run up to the next start,
  // the last one up to the lead-out.
  static std::vector<TMMTrackInfo> FromOffsets(const std::vector<int>& starts, int leadout);

  void SetTracks(std::vector<TMMTrackInfo> tracks) { FTracks = std::move(tracks); }
  void SetDeviceReady(bool v) { FReady = v; }
  void SetTOCReadable(bool v) { FReadable = v; }

  bool GetDeviceReady() override { return FReady; }
  bool ReadTOC() override { return FReadable; }
  int GetTrackCount() const override { return static_cast<int>(FTracks.size()); }
  TMMTrackInfo GetTrack(int index) const override {
    return FTracks.at(static_cast<std::size_t>(index));
  }

 private:
  std::vector<TMMTrackInfo> FTracks;
  bool FReady = true;
  bool FReadable = true;
};

}  // namespace ql
