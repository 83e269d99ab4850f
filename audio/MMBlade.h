#pragma once
// TMMMP3Encoder: a sink of the chain. Every buffer pushed to it is encoded to MPEG-1 layer 3
// through the encoder library "BLADEENC.DLL" (bound at run time on first use and kept for the
// life of the process) and written to a file: a raw MP3 stream or a RIFF WAVE file with the
// MPEG layer-3 format. Buffers pass on unchanged.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MMErrors.h"
#include "MMObjects.h"
#include "MMWave.h"

enum TMMChannelMode { cmStereo, cmDualChannel, cmMono };

enum TMMBitrates {
  br32,
  br40,
  br48,
  br56,
  br64,
  br80,
  br96,
  br112,
  br128,
  br160,
  br192,
  br224,
  br256,
  br320
};

enum TMMFileType { ftWAV, ftRAW };

// kbit/s of a bit-rate step (32 ... 320).
int BitrateKbps(TMMBitrates b);
// The step of a kbit/s value; false when the value is not one of the fourteen.
bool BitrateFromKbps(int kbps, TMMBitrates& out);

// Where the encoder library is looked for (default "BLADEENC.DLL"). Only takes effect while the
// library is not bound; tests use it to play a missing or foreign library.
void SetBladeEncLibraryName(const std::string& name);

// The first line of the message raised when the library cannot be bound; the whole message is
// this, the line break and a line that tells where the library comes from.
extern const char* const kBladeLoadError;
extern const char* const kBladeLoadHint;

// The MPEG layer-3 format record of the "fmt " chunk (30 bytes).
#pragma pack(push, 1)
struct TMPEGLayer3WaveFormat {
  TWaveFormatEx wfx;
  std::uint16_t wID;
  std::uint32_t fdwFlags;
  std::uint16_t nBlockSize;
  std::uint16_t nFramesPerBlock;
  std::uint16_t nCodecDelay;
};
#pragma pack(pop)
static_assert(sizeof(TMPEGLayer3WaveFormat) == 30);

// The record for channels and rate of the input at kbps kbit/s.
TMPEGLayer3WaveFormat Mp3WaveFormat(int channels, int rate, int kbps);

// What the encoder writes into the file about the recording; empty fields are left out.
struct TMMMP3Tags {
  std::string Artist, Album, Title;
  std::string Year;    // four digits, else left out
  std::string Genre;   // the genre's name
  int Track = 0;       // 1 ...; 0 unknown
  int TrackCount = 0;  // tracks of the disc; 0 unknown
  std::string Isrc;    // the recording's ISRC (12 letters and digits), else left out
  bool Empty() const {
    return Artist.empty() && Album.empty() && Title.empty() && Year.empty() && Genre.empty() &&
           Track <= 0 && Isrc.empty();
  }
};

// An ID3 version 2.4 tag of the fields (TPE1, TALB, TIT2, TRCK "n/N", TDRC, TCON, TSRC), texts in
// UTF-8 or, for a text that is not valid UTF-8, as Latin-1; empty when no field is set.
std::string Id3v24Tag(const TMMMP3Tags& tags);
// The same fields as LIST INFO texts of a wave file (INAM, IART, IPRD, ITRK, ICRD, IGNR; INFO has
// no field for an ISRC, its "ISRC" being the source's name); call
// it after CreateWave, before the file is closed.
void SetWaveInfoTags(TMMWave& wave, const TMMMP3Tags& tags);

class TMMMP3Encoder : public TMMDSPComponent {
 public:
  TMMMP3Encoder();
  ~TMMMP3Encoder() override;

  bool HasPublishedProperty(const std::string& name) const override;
  // A sink: nothing follows it through a published Output.
  bool CanConnectOutput(TMMDSPComponent*) override { return false; }

  TMMChannelMode GetChannelMode() const { return channelMode_; }
  void SetChannelMode(TMMChannelMode m) { channelMode_ = m; }
  TMMBitrates GetBitrate() const { return bitrate_; }
  void SetBitrate(TMMBitrates b) { bitrate_ = b; }
  bool Copyright = false;
  bool Privat = false;
  bool CRC = false;
  bool Original = false;
  // The tags of the next file (set before the driver opens): a raw stream begins with an
  // ID3v2.4 tag of them, a wave container carries them as LIST INFO texts. WriteTags false
  // writes none.
  TMMMP3Tags Tags;
  bool WriteTags = true;
  // Neither may change while the encoder is open.
  const std::string& GetFileName() const { return fileName_; }
  void SetFileName(const std::string& name);
  TMMFileType GetFileType() const { return fileType_; }
  void SetFileType(TMMFileType t);

  // Whether the output file is open (false again after a full disk or a failed write). Any
  // thread.
  bool FileOpened() const { return encOpened_; }
  // Empty while and after a good encoding. Once writing failed and the encoder closed itself
  // (a full disk, an I/O error), a message naming the file and the reason; the unfinished file
  // is then removed and an earlier file of the name is left as it was. Cleared by the next open.
  // Set on the chain thread (or on the thread of the Stop whose flush failed): read it once the
  // driver has stopped.
  const std::string& FailureText() const { return failureText_; }
  // The next close removes the file instead of finishing it (the chain failed elsewhere, or
  // the caller drops the take); an earlier file of the name stays. FailureText() stays empty.
  // Cleared by the next open. Any thread.
  void DiscardOnClose() { discard_ = true; }

  // Opened creates the file and Started begins a stream, on the thread that called the driver's
  // Open and Start. Stopped flushes the last frames on the thread of the driver's Stop (the UI
  // thread when the run ended by itself), and on the caller's thread when a link or the format
  // changes. Closed finishes the file on the thread of the driver's Close (the UI thread).
  void Opened() override;
  void Started() override;
  void Stopped() override;
  void Closed() override;
  // Encodes and writes on the chain thread. A write that fails closes the encoder right there:
  // Closed (removing the unfinished file) then runs on the chain thread.
  void BufferReady(PWaveHdr lpWaveHdr) override;

 private:
  bool Encode(const std::uint8_t* data, std::uint32_t samples);
  bool WriteOutput(std::uint32_t bytes);
  // complete: the file takes its final name; otherwise it is removed.
  void ReleaseOutput(bool complete);
  bool WriteInfoFrame();
  void Fail(const std::string& reason);

  TMMChannelMode channelMode_ = cmStereo;
  TMMBitrates bitrate_ = br128;
  std::string fileName_;
  TMMFileType fileType_ = ftRAW;

  std::unique_ptr<TMMWave> wave_;
  std::unique_ptr<ql::PartialFile> rawPartial_;
  int rawFile_ = -1;
  std::atomic<bool> encOpened_{false};
  std::atomic<bool> encStarted_{false};
  std::uint32_t chunkSamples_ = 0;
  std::uint32_t chunkBytes_ = 0;
  std::uint32_t frameBytes_ = 4;  // one sample frame of the input
  std::vector<std::uint8_t> accu_;
  std::uint32_t fill_ = 0;
  std::vector<std::uint8_t> output_;
  std::uint32_t stream_ = 0;
  bool haveStream_ = false;
  bool infoStream_ = false;  // the stream begins with the placeholder of the info frame
  bool flushed_ = false;
  std::int64_t tagBytes_ = 0;     // the ID3 tag before the stream
  std::int64_t streamBytes_ = 0;  // of the stream written so far
  std::string failureText_;
  std::atomic<bool> discard_{false};
};
