#pragma once
// TMMCDReader: the head of a chain that reads digital audio from a CD drive (or a disc image
// offered as one) through the CD digital-audio library "MMCDDA32.DLL", loaded at run time. It
// delivers 44100 Hz, 16-bit stereo PCM and manages the drive: device list, table of contents,
// readiness, status, tray, lock and read speed.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "MMErrors.h"
#include "MMObjects.h"
#include "mmcdda32.h"

class EMMCDDAError : public Exception {
 public:
  using Exception::Exception;
};

enum TMMCDCopyMode { cmNormal, cmBurst, cmSync };

enum TCDDeviceType {
  dtAUTO,
  dtATAPI,
  dtCYBER,
  dtDEC,
  dtGRUNDIG,
  dtHITACHI,
  dtHP,
  dtIBM,
  dtIMS,
  dtKODAK,
  dtMATSHITA,
  dtMITSUMI,
  dtMP,
  dtMS,
  dtNEC,
  dtPHILIPS,
  dtPIONEER,
  dtPLASMON,
  dtPLEXTOR,
  dtRICOH,
  dtSONY,
  dtTOSHIBA,
  dtTEAC,
  dtYAMAHA
};

enum TMMCDStatus { cdsNotReady, cdsStopped, cdsPlaying, cdsSeeking, cdsPaused, cdsDoorOpen };

using TMMDeviceId = int;

struct TMMCDDeviceInfo {
  std::string Name;
  char DriveLetter = 0;
  TCDDeviceType DeviceType = dtAUTO;
};
using TMMCDDeviceList = std::vector<TMMCDDeviceInfo>;

// The table of contents as the library writes it (count, then 100 packed 21-byte entries).
using TMMCDTrackList = CDDA_TOC;

// One track in frames, for clients that identify the disc (CDDB).
struct TMMCDTrackInfo {
  int Number = 0;
  int Start = 0;   // absolute frames, the 150-frame lead-in included
  int Length = 0;  // frames
};

constexpr int kCDSectorBytes = 2352;
constexpr int kCDCacheSectorBytes = 2352 + 16;

// Packed MSF: minute in bits 0-7, second in 8-15, frame in 16-23.
std::uint32_t MSFToFrames(std::uint32_t msf);
std::uint32_t FramesToMSF(std::uint32_t frames);

// The remove-first-second and remove-last-second options applied to a track's packed-MSF start
// and length: one second later and one second shorter for the first, one second shorter for the
// last. Seconds carry into and borrow from the minutes; a length shorter than what is removed
// becomes 0.
void TrimTrackRange(std::uint32_t& startMSF, std::uint32_t& lengthMSF, bool removeFirst,
                    bool removeLast);

// Where the library is looked for (default "MMCDDA32.DLL"). Only takes effect while the
// library is not bound; tests use it to play a missing or foreign library.
void SetCDDALibraryName(const std::string& name);

class TMMCDReader : public TMMDSPComponent {
 public:
  TMMCDReader();
  ~TMMCDReader() override;

  bool HasPublishedProperty(const std::string& name) const override;

  // The reader is always the head of a chain.
  bool CanConnectInput(TMMDSPComponent*) override { return false; }
  void SetInput(TMMDSPComponent* value) override;
  void InputFormatChanged(const TWaveFormatEx* format) override;
  void SetWaveFormat(const TWaveFormatEx* format) override;

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  // Properties
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool v) { enabled_ = v; }
  int GetBlockCount() const { return blockCount_; }
  void SetBlockCount(int n);
  TMMCDCopyMode GetCopyMode() const { return copyMode_; }
  void SetCopyMode(TMMCDCopyMode mode);
  TMMDeviceId GetDeviceID() const { return deviceId_; }
  void SetDeviceID(TMMDeviceId id);
  std::string GetDeviceName() const { return DeviceName(deviceId_); }
  std::string GetDriveLetter() const { return DriveLetter(deviceId_); }
  std::string DeviceName(int index) const;
  std::string DriveLetter(int index) const;
  TCDDeviceType GetDeviceType() const;
  void SetDeviceType(TCDDeviceType type);
  int GetCopyVolume() const { return copyVolume_; }
  void SetCopyVolume(int v) { copyVolume_ = std::clamp(v, 0, 32768); }
  bool GetIgnoreSpeed() const { return ignoreSpeed_; }
  void SetIgnoreSpeed(bool v);
  std::uint16_t GetSpeed() const { return speed_; }
  const TMMCDDeviceList& Devices() const { return devices_; }
  int NumDevices() const { return static_cast<int>(devices_.size()); }
  std::vector<std::pair<std::string, int>>& SpeedList() { return speedList_; }

  TNotifyEvent OnDataRead, OnDataReadEnd;

  // Device operations
  void OpenDevice();
  void CloseDevice();
  bool DeviceReady();
  TMMCDStatus DeviceStatus();
  void LockMedia(bool lock);
  void LoadMedia(bool load);
  void StopAudio();
  void PauseAudio();
  void ResumeAudio();
  bool ReadTOC();
  std::uint32_t DiscKey() const;
  void SetRange(std::uint32_t startMSF, std::uint32_t lengthMSF);
  bool SetSpeed(std::uint16_t speed);
  std::string ErrorText(std::uint32_t code) const;
  int ReadData(void* buffer, int bytes);

  // The table of contents last read.
  const TMMCDTrackList& TrackList() const { return toc_; }
  bool TOCValid() const { return tocValid_; }
  // The same table in frames, for the disc identification.
  bool GetDeviceReady() { return DeviceReady(); }
  int GetTrackCount() const { return static_cast<int>(toc_.dwNumTracks); }
  TMMCDTrackInfo GetTrack(int index) const;

  // Sectors of the pregap (index 0) before the start of the track at `index` of the table, as
  // the library tells them (0: none, or the library cannot tell). The previous track's range
  // holds them (see CDDA_TRACK).
  std::uint32_t TrackPregap(int index) const;

  // The hidden track before track 1 (its pregap when that holds more than the usual two
  // seconds of the lead-in: the audio before index 1 of an audio track 1), as a packed-MSF
  // start and length for SetRange; false when the disc has none (or no table was read).
  bool HiddenTrackRange(std::uint32_t& startMSF, std::uint32_t& lengthMSF) const;

  // Read offset correction in samples (a drive that reads N samples early is corrected with
  // +N): every copy mode delivers the range shifted by that many samples, with zeros where the
  // shifted range lies beyond the disc's ends. Applied when the chain opens; not while open for
  // reading ("Change to property while device was open"). A library without the correction
  // fails the open with "The CD library cannot correct a read offset" (0 always works).
  int GetReadOffset() const { return readOffset_; }
  void SetReadOffset(int samples);

  // The disc's text: one line per field, "<track>\t<field>\t<value>\n", track 0 the disc
  // (CD-Text, a cue sheet's TITLE/PERFORMER/..., CATALOG as UPC_EAN and ISRCs). Empty when
  // the library has none or the drive is not ready.
  std::string CDText();
  // Why the selected image cannot be used ("<sheet>: line N: reason"), or empty.
  std::string ImageError() const;

  // The read range: first sector (inclusive), current, end (exclusive).
  std::uint32_t FirstSector() const { return firstSector_; }
  std::uint32_t CurrentSector() const { return curSector_; }
  std::uint32_t EndSector() const { return endSector_; }
  bool IsReading() const { return reading_; }
  bool IsOpenForReading() const { return openRead_; }

  // ---- What went wrong with the range ----
  // A sector that cannot be read is never delivered as silence or noise, in any copy mode. The
  // reader ends its range at the first such sector: the sectors before it are delivered, then
  // BufferLoad reports no more buffers, so the chain's driver stops as at the end of the range;
  // CurrentSector() is the bad sector and FailureText() says
  //   "Sector S (track T, MM:SS:FF) could not be read: <the library's reason>"
  // with S counted from 0 as the library counts and MM:SS:FF the place within track T. Normal
  // and burst mode read a failed block again sector by sector (three tries each) to find the
  // sector; sync mode fails a sector that jitter correction gave up on after its 20 tries.
  // The driver looks at FailureText() when the chain stops (the trigger's OnStop fires before
  // the chain closes) and treats a non-empty text as a failed recording or playback. When not
  // one sector of the range could be read, BufferLoad throws EMMCDDAError with that text
  // instead (a chain that gets nothing cannot start: the trigger's Start fails with it).
  //
  // Data tracks: a range that touches a track the table of contents flags as data is refused
  // when the chain opens: Opened() (so the trigger's Open or Start) throws EMMCDDAError
  //   "Track T is a data track: it holds no audio"
  // and FailureText() holds the same text, in every copy mode. (The library refuses such
  // reads too.)
  //
  // FailureText(), Retries() and SkippedSectors() are cleared when the chain opens and at every
  // start; they may be read from any thread (the chain's thread writes them).
  std::string FailureText() const;
  // Reads made again in the current range: sync mode, paranoia's repeated reads after read
  // errors; normal and burst mode, the reader's extra tries of single sectors.
  std::uint32_t Retries() const { return retries_; }
  // Sectors of the current range that could not be read: 0, or 1 as the range ends there.
  std::uint32_t SkippedSectors() const { return skipped_; }
  // "Track T is a data track: it holds no audio" when [first, end) touches a data track of
  // `toc`, else empty.
  static std::string DataTrackText(const TMMCDTrackList& toc, std::uint32_t first,
                                   std::uint32_t end);

 private:
  void CheckInit() const;
  void Check(std::uint32_t code) const;
  void CheckNotReading() const;
  // The sectors of the block delivered (fewer than n after a failure, see FailureText), or -1
  // when the read failed after a stop (nothing delivered).
  int ReadBlock(std::uint32_t sector, int n, char* dest);
  // After a failed normal read of a block: reads it sector by sector; returns how many were
  // read and sets *code to the error of the one that could not be (0 when all were).
  int ReadSingly(std::uint32_t sector, int n, char* dest, std::uint32_t* code);
  void Fail(const std::string& text);
  std::string SectorText(std::uint32_t sector) const;
  void OpenReading();
  void StartReading();
  void StopReading();
  void CloseReading();
  void FreeCDText();

  std::uint32_t handle_ = 0;
  std::uint32_t initResult_ = 0;
  std::uint32_t cmdFlag_ = 0;
  TMMCDDeviceList devices_;
  TMMCDTrackList toc_{};
  std::array<std::uint32_t, CDDA_MAX_TRACKS> pregaps_{};
  char* cdText_ = nullptr;
  std::vector<std::pair<std::string, int>> speedList_;
  std::uint16_t speed_ = 65535;
  bool ignoreSpeed_ = false;
  bool openControl_ = false, lockedAtStart_ = false;
  std::atomic<bool> openRead_{false}, reading_{false};
  bool locked_ = false, tocValid_ = false;
  int blockCount_ = 10;
  TMMCDCopyMode copyMode_ = cmNormal;
  std::atomic<int> copyVolume_{16384};
  std::atomic<bool> enabled_{true};
  TMMDeviceId deviceId_ = -1;
  int readOffset_ = 0;
  std::uint32_t firstSector_ = 0, curSector_ = 0, endSector_ = 0;
  std::vector<char> cache_;
  TMMCDTrackList rangeToc_{};  // the table the chain was opened with, for the messages
  mutable std::mutex failMutex_;
  std::string failure_;
  std::atomic<bool> failed_{false};
  std::atomic<std::uint32_t> retries_{0}, skipped_{0};
  int cacheFilled_ = 0, cachePos_ = 0;
  TWaveFormatEx own_{};
};
