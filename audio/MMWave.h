#pragma once
// TMMWave: one RIFF WAVE file. Parses an existing file, creates a new one, reads and writes its
// audio data through the buffered file layer and completes the chunk sizes on close.
// A new file is written under a temporary name beside the final one and takes the final name
// only when it is closed complete: a failed write leaves an earlier file of that name as it
// was and removes the unfinished one (FailureText() says why).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MMErrors.h"
#include "MMRIFF.h"
#include "MMUtils.h"
#include "PartialFile.h"

enum TMMMode { mMono, mStereo };

// RIFF sizes are 32-bit: the RIFF chunk's size (the file's size less 8) must fit.
constexpr std::int64_t kMaxRiffFileSize = 0xFFFFFFFFLL + 8;
extern const char* const kWaveTooLarge;  // "the file would exceed 4 GiB"

using TMMWaveProgress = std::function<void(void* Sender, int CurByte, int NumBytes, bool& Cancel)>;

struct TMMWaveInfoText {
  FOURCC id;
  std::string text;
};
struct TMMWaveDisplay {
  std::uint32_t type;  // 1 text, 8 data
  std::string data;    // text without its terminating zero, or the raw data
};

// Everything known about the file that is named or open.
struct TMMWaveIOInfo {
  TMMIOFile io;
  bool open = false, writing = false;
  TMMCKInfo riff, data;
  WfxPtr fmt;
  std::int64_t fileSize = 0;
  std::int64_t dataOffset = 0;
  std::int64_t dataSize = 0;
  std::int64_t length = 0;     // sample frames
  std::int64_t bytesLeft = 0;  // reading
  std::vector<TMMWaveInfoText> infos;
  std::vector<TMMWaveDisplay> displays;
};

// Reads the structure of an open file into info. 0: a wave file; 2: not a wave file.
int wioParseWave(TMMIOFile& io, TMMWaveIOInfo& info);
// Looks up the name of a format tag, "Unknown" for tags not in the table.
std::string wioFormatTagName(int tag);

class TMMWave {
 public:
  TMMWave();
  ~TMMWave();

  void SetFileName(const std::string& name);
  const std::string& GetFileName() const { return fileName_; }
  bool FileMustExist = true;
  // A created file is synced to the disk before it takes its name. False for a caller that
  // syncs and renames the finished file itself (trackwell rip does that beside the reading).
  bool SyncOnClose = true;
  // A created file that CloseWave completes keeps its temporary name: TakeFinished() hands it
  // over, for a caller that decides afterwards whether it takes its name (trackwell rip, once
  // the track proved whole and while the next one is read).
  bool HoldOnClose = false;
  // SetFileName neither reads nor checks a file the name already holds: the name is only ever
  // created (and what it holds replaced once the new file is complete).
  bool IgnoreExisting = false;
  TMMTimeFormats TimeFormat = tfSample;
  void SetIOBufferSize(int size) { ioBufferSize_ = size < 8192 ? 8192 : size; }
  int GetIOBufferSize() const { return ioBufferSize_; }

  int BitLength() const;
  TMMMode Mode() const;
  int FormatTag() const;
  std::string FormatString() const;
  int SampleRate() const;
  std::int64_t FileSize() const { return info_.fileSize; }
  std::int64_t DataSize() const { return info_.dataSize; }
  std::int64_t Length() const { return info_.length; }
  // The file being written holds frames sample frames: the fact chunk written at close says so
  // instead of the estimate from the byte rate (wrong for a compressed format whose last block
  // is padded). Call it after the last write.
  void SetSampleLength(std::int64_t frames) {
    if (info_.open && info_.writing && frames >= 0) info_.length = frames;
  }

  TMMWaveProgress OnProgress;
  std::function<void()> OnChange;  // the observer of the owning component

  // The largest file written; a write that would pass it fails with kWaveTooLarge.
  std::int64_t MaxFileSize = kMaxRiffFileSize;

  // Creates name (under a temporary name until CloseWave). A name that is a device, FIFO or
  // folder is refused with a message naming it.
  void CreateWave(const std::string& name, const TWaveFormatEx* format);
  void OpenWave();
  // Reopens the named file for writing more data after what it holds.
  void AppendWave();
  // Completes the file and, for a new one, gives it its final name. A failure (a write, the
  // flush, the rename) removes the new file instead and sets FailureText().
  void CloseWave();
  // Ends writing without completing: a new file is removed and an earlier file of the name is
  // left as it was. (Data appended to an existing file cannot be taken back: that file is
  // completed with what it holds.)
  void AbandonWave();
  // With HoldOnClose: the file the last CloseWave completed, still under its temporary name
  // (Commit gives it its name, the destructor removes it); null when there is none.
  std::unique_ptr<ql::PartialFile> TakeFinished() { return std::move(finished_); }
  // Empty, or the reason the last write, close or rename failed ("Disk full", an I/O error,
  // kWaveTooLarge). Cleared by CreateWave and AppendWave.
  const std::string& FailureText() const { return failure_; }
  int ReadWaveData(void* buffer, int bytes);
  int WriteWaveData(const void* buffer, int bytes);
  void SetWavePosition(std::int64_t pos);
  std::int64_t WavePosition() const;
  std::int64_t WaveBytesLeft() const { return info_.bytesLeft; }
  bool WaveIsEmpty() const { return info_.dataSize == 0; }
  const TWaveFormatEx* GetWaveFormat() const { return info_.fmt.get(); }
  bool IsOpen() const { return info_.open; }
  bool IsWriting() const { return info_.open && info_.writing; }

  void SetInfo(FOURCC id, const std::string& text);
  std::string GetInfo(FOURCC id) const;
  const std::vector<TMMWaveDisplay>& Displays() const { return info_.displays; }
  void AddDisplay(std::uint32_t type, const std::string& data);

 private:
  std::int64_t ToBytes(std::int64_t pos) const;
  std::int64_t FromBytes(std::int64_t bytes) const;
  void Release();
  bool FinishWrite();
  std::int64_t TrailerBytes() const;
  void SetFailure(const std::string& reason);

  std::string fileName_;
  int ioBufferSize_ = 32768;
  TMMWaveIOInfo info_;
  std::unique_ptr<ql::PartialFile> partial_;   // the new file until it is complete
  std::unique_ptr<ql::PartialFile> finished_;  // complete, held for the caller
  std::string failure_;
};
