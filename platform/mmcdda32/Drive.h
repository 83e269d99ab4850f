#pragma once
// One handle of the CD library: the device list it sees, the selected drive and its open
// libcdio object, the tray model of image drives, and the running burst or sync copy.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ImageDisc.h"
#include "mmcdda32.h"

typedef struct _CdIo CdIo_t;
typedef struct cdrom_drive_s cdrom_drive_t;
typedef struct cdrom_paranoia_s cdrom_paranoia_t;

namespace cdda {

struct DeviceEntry {
  std::string path;  // device node or image file
  bool image = false;
};

// Real drives (scanned once per process), then $QL_CD_IMAGES, then the added images.
std::vector<DeviceEntry> ScanDevices();
// The images added by cdda_AddImage since `known` of them were seen.
std::vector<DeviceEntry> AddedImagesFrom(size_t known, size_t* total);
uint32_t AddImage(const char* path);
void SetDiagnostics(bool on);
// Opens a drive or image; a cdrdao .toc with relative file names is read as if the current
// folder were its own.
CdIo_t* OpenSource(const DeviceEntry& entry);

class Drive {
 public:
  explicit Drive(bool diagnostics);
  ~Drive();
  Drive(const Drive&) = delete;
  Drive& operator=(const Drive&) = delete;

  std::mutex mutex;  // serialises every call on the handle

  uint32_t NumDevices();
  uint32_t DeviceName(uint32_t index, char* buffer, uint32_t size);
  uint32_t DriveLetter(uint32_t index, char* letter);
  uint32_t SetDeviceID(uint32_t index);
  uint32_t SetDeviceType(uint32_t type);
  uint32_t Open(uint32_t mode);
  uint32_t Close();
  uint32_t Ready();
  uint32_t Status();
  uint32_t ReadTOC(CDDA_TOC* toc);
  uint32_t ReadCDText(CDDA_CDTEXT* text);
  uint32_t ReadPregaps(uint32_t* sectors);
  uint32_t SetSpeed(uint32_t speed);
  uint32_t Lock(bool lock);
  uint32_t Load(bool load);
  uint32_t Play(uint32_t first, uint32_t count);
  uint32_t StopAudio();
  uint32_t PauseAudio();
  uint32_t ResumeAudio();
  uint32_t Read(void* buffer, uint32_t first, uint32_t count);
  uint32_t InitCopy(bool sync, uint32_t blocks, uint32_t first, uint32_t count);
  uint32_t ReadCopy(bool sync, void* buffer);
  uint32_t DoneCopy(bool sync);
  uint32_t CopyState(CDDA_COPYSTATE* state);
  uint32_t ImageError(char* buffer, uint32_t size);
  uint32_t SetReadOffset(int32_t samples);

 private:
  enum class Copy { none, burst, sync };

  void Refresh();
  const DeviceEntry* Selected() const;
  // Opens the selected drive if it is not open; 0 or the error code.
  uint32_t Ensure();
  void CloseSource();
  void EndCopy();
  int32_t LeadOut();  // first sector after the disc, -1 if unknown
  // CDDA_E_DATA when [first, first + count) touches a data track, else 0.
  uint32_t CheckAudio(int32_t first, uint32_t count);
  uint32_t ReadSectors(uint8_t* out, int32_t first, uint32_t count);
  // After a failed read of [first, first + count): reads sector by sector into out until one
  // fails; *good is the number read. Returns that sector's error (or 0 when all were read).
  uint32_t ReadUntilBad(uint8_t* out, int32_t first, uint32_t count, uint32_t* good);
  // The copy's raw sectors from raw_ on (no offset applied).
  uint32_t ReadSync(uint8_t* out, uint32_t n);
  uint32_t ReadBurst(uint8_t* out, uint32_t n);
  uint32_t ReadRaw(uint8_t* out, uint32_t n) {
    return paranoia_ ? ReadSync(out, n) : ReadBurst(out, n);
  }
  // With a read offset: n sectors of the copy from next_ (DriveOffset.cpp).
  uint32_t ReadShifted(uint8_t* out, uint32_t n);
  // The disc sectors an offset read of [first, first + count) needs: [*rawFirst, +*rawCount).
  void RawSpan(int32_t first, uint32_t count, int64_t* rawFirst, uint32_t* rawCount) const;
  uint32_t ReadOffsetNormal(uint8_t* out, int32_t first, uint32_t count);
  void CDTextFromLayout(std::string* out, uint32_t* fields) const;

  bool diagnostics_;
  std::vector<DeviceEntry> devices_;
  size_t addedSeen_ = 0;
  std::vector<uint32_t> types_;
  int selected_ = -1;

  CdIo_t* cdio_ = nullptr;
  std::unique_ptr<ImageDisc> image_;  // a cue sheet or .toc read by the library itself
  std::string imageError_;
  // The data tracks of the open disc as sector spans [first, end), found once per open.
  struct Span {
    int32_t first, end;
  };
  std::vector<Span> dataSpans_;
  bool spansKnown_ = false;
  int openMode_ = -1;      // mode of cdda_OpenDevice, -1 when opened on demand or closed
  bool trayOpen_ = false;  // image drives: ejected and not loaded again
  bool locked_ = false;
  uint32_t speed_ = CDDA_SPEED_MAX;

  Copy copy_ = Copy::none;
  uint32_t blocks_ = 0;
  int32_t next_ = 0, end_ = 0;  // sectors of the copy still to deliver: [next_, end_)
  // Burst read-ahead: sectors [aheadFirst_, aheadFirst_ + aheadCount_) held in ahead_.
  std::vector<uint8_t> ahead_;
  int32_t aheadFirst_ = 0;
  uint32_t aheadCount_ = 0;
  cdrom_drive_t* cdda_ = nullptr;
  cdrom_paranoia_t* paranoia_ = nullptr;
  uint32_t retries_ = 0, skipped_ = 0;  // of the running copy
  int32_t raw_ = 0, rawEnd_ = 0;        // the disc sectors the copy reads: [raw_, rawEnd_)
  int32_t offset_ = 0;                  // read offset in samples
  std::vector<uint8_t> shifted_;        // raw sectors of one offset block
  std::vector<uint8_t> carry_;          // the last raw sector of the previous offset block
  int64_t carrySector_ = -1;            // its sector, -1 when none
};

}  // namespace cdda
