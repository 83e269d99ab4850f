#pragma once
// One conversion as a driver runs it: the PCM converter (bits, channels, rate through libsoxr)
// and the block codecs (G.711, IMA ADPCM, Microsoft ADPCM, GSM 6.10 with WAV49 framing).
#include <cstdint>
#include <memory>

#include "AcmFormat.h"

namespace acm {

class Stream {
 public:
  virtual ~Stream() = default;
  // Forgets all history, as at the start of a new signal.
  virtual void Reset() = 0;
  // flags are the ACM_STREAMCONVERTF_* bits. used <= srcLen, written <= dstLen.
  virtual void Convert(const uint8_t* src, uint32_t srcLen, uint8_t* dst, uint32_t dstLen,
                       uint32_t flags, uint32_t& used, uint32_t& written) = 0;
  // Destination bytes enough for srcBytes of source, and source bytes that fit dstBytes.
  virtual uint32_t DestSize(uint32_t srcBytes) const = 0;
  virtual uint32_t SourceSize(uint32_t dstBytes) const = 0;
};

// src and dst must already be known to be convertible by the driver.
std::unique_ptr<Stream> OpenPcmStream(const Format& src, const Format& dst, bool highQuality);
std::unique_ptr<Stream> OpenCodecStream(const Format& src, const Format& dst);

}  // namespace acm
