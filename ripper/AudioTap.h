#pragma once
// A pass-through stage right behind the CD reader, shared by trackwell and the window: it sums
// the audio as read from the disc (before any conversion or encoding) for the progress, the
// summary, the log and the AccurateRip check.
#include <atomic>
#include <cstdint>

#include "AccurateRip.h"
#include "Checksums.h"
#include "MMObjects.h"

namespace ripper {

// Counts the bytes pulled through it and keeps their CRC-32 and, when asked, their AccurateRip
// checksums. It runs on the trigger's thread; Reset and the sums are used while the chain is
// stopped, the byte count may be read at any time.
class TAudioTap : public TMMDSPComponent {
 public:
  void Reset() {
    bytes_ = 0;
    crc_ = 0;
    accurateRip_ = false;
  }
  // Also the AccurateRip checksums of a track of `frames` frames.
  void SumAccurateRip(std::uint32_t frames, bool firstTrack, bool lastTrack) {
    ar_.Reset(frames, firstTrack, lastTrack);
    accurateRip_ = true;
  }
  bool SumsAccurateRip() const { return accurateRip_; }
  const TAccurateRip& AccurateRip() const { return ar_; }
  std::int64_t Bytes() const { return bytes_; }
  std::uint32_t Crc() const { return crc_; }

  void BufferLoad(PWaveHdr h, bool& MoreBuffers) override {
    TMMDSPComponent::BufferLoad(h, MoreBuffers);
    crc_ = Crc32(crc_, h->lpData, h->dwBytesRecorded);
    if (accurateRip_) ar_.Update(h->lpData, h->dwBytesRecorded);
    bytes_ += h->dwBytesRecorded;
  }

 private:
  std::atomic<std::int64_t> bytes_{0};
  std::atomic<std::uint32_t> crc_{0};
  bool accurateRip_ = false;
  TAccurateRip ar_;
};

}  // namespace ripper
