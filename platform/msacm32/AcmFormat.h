#pragma once
// Wave format records as the drivers see them: size, validity per tag, the standard records of
// each codec for a rate and channel count, and the names the format lists show.
#include <cstdint>
#include <string>
#include <vector>

#include "mmreg.h"

namespace acm {

// A format record with its extra bytes, owned.
class Format {
 public:
  Format() = default;
  explicit Format(const WAVEFORMATEX* p);
  const WAVEFORMATEX* get() const { return reinterpret_cast<const WAVEFORMATEX*>(bytes_.data()); }
  WAVEFORMATEX* get() { return reinterpret_cast<WAVEFORMATEX*>(bytes_.data()); }
  const WAVEFORMATEX* operator->() const { return get(); }
  uint32_t size() const { return uint32_t(bytes_.size()); }
  bool empty() const { return bytes_.empty(); }
  // Copies into a caller's buffer of cb bytes; false when it is too small.
  bool CopyTo(WAVEFORMATEX* out, uint32_t cb) const;

 private:
  std::vector<uint8_t> bytes_;
};

constexpr uint32_t kMinRate = 8000;
constexpr uint32_t kMaxRate = 48000;

// Bytes of a record including its extra bytes (PCM is 18 whatever cbSize says).
uint32_t FormatSize(const WAVEFORMATEX* p);

bool IsValidPcm(const WAVEFORMATEX* p);
bool IsValidG711(const WAVEFORMATEX* p);
bool IsValidImaAdpcm(const WAVEFORMATEX* p);
bool IsValidMsAdpcm(const WAVEFORMATEX* p);
bool IsValidGsm(const WAVEFORMATEX* p);
bool IsValidFormat(const WAVEFORMATEX* p);

Format Pcm(uint32_t rate, unsigned bits, unsigned channels);
Format G711(uint16_t tag, uint32_t rate, unsigned channels);
Format ImaAdpcm(uint32_t rate, unsigned channels);
Format MsAdpcm(uint32_t rate, unsigned channels);
Format Gsm(uint32_t rate);
// The standard record of a tag for a rate and channel count; empty when the tag has none.
Format Standard(uint16_t tag, uint32_t rate, unsigned channels, unsigned pcmBits = 16);

// Samples per block of the block codecs (read from the record's extension).
unsigned SamplesPerBlock(const WAVEFORMATEX* p);

// The standard formats a driver lists for a tag, in list order.
std::vector<Format> StandardFormats(uint16_t tag);

std::string TagName(uint16_t tag);
// "44.100 kHz, 16 Bit, Stereo"; GSM, whose samples have no bit size: "8.000 kHz, Mono".
std::string FormatName(const WAVEFORMATEX* p);

}  // namespace acm
