#pragma once
// A pass-through stage behind the CD reader that counts the audio bytes pulled through it and
// keeps their CRC-32 (the zip polynomial) and, when asked, their AccurateRip checksums, for the
// progress lines and the rip summary. It runs
// on the trigger's thread; the counters are read from the main thread.
#include <atomic>
#include <cstdint>

#include "AccurateRip.h"
#include "MMObjects.h"

namespace trackwell {

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size);

class TAudioTap : public TMMDSPComponent {
 public:
  void Reset() {
    bytes_ = 0;
    crc_ = 0;
    accurateRip_ = false;
  }
  // Also the AccurateRip checksums of a track of frames frames (--verify).
  void SumAccurateRip(std::uint32_t frames, bool firstTrack, bool lastTrack) {
    ar_.Reset(frames, firstTrack, lastTrack);
    accurateRip_ = true;
  }
  // Read once the chain stopped.
  const ripper::TAccurateRip& AccurateRip() const { return ar_; }
  std::int64_t Bytes() const { return bytes_; }
  std::uint32_t Crc() const { return crc_; }

  void BufferLoad(PWaveHdr h, bool& MoreBuffers) override {
    TMMDSPComponent::BufferLoad(h, MoreBuffers);
    crc_ = Crc32Update(crc_, h->lpData, h->dwBytesRecorded);
    if (accurateRip_) ar_.Update(h->lpData, h->dwBytesRecorded);
    bytes_ += h->dwBytesRecorded;
  }

 private:
  std::atomic<std::int64_t> bytes_{0};
  std::atomic<std::uint32_t> crc_{0};
  bool accurateRip_ = false;
  ripper::TAccurateRip ar_;
};

}  // namespace trackwell
