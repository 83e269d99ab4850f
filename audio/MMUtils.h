#pragma once
// The wave format record, the wave header that travels along a chain, and the helpers that
// convert between bytes, sample frames and milliseconds.
#include <cstddef>
#include <cstdint>
#include <memory>

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

#pragma pack(push, 1)
// The platform's WAVEFORMATEX layout: little-endian and packed, 18 bytes.
struct TWaveFormatEx {
  std::uint16_t wFormatTag;
  std::uint16_t nChannels;
  std::uint32_t nSamplesPerSec;
  std::uint32_t nAvgBytesPerSec;
  std::uint16_t nBlockAlign;
  std::uint16_t wBitsPerSample;
  std::uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatEx) == 18);
using PWaveFormatEx = TWaveFormatEx*;

// One buffer of a chain: the platform's wave header followed by the chain's link and loop fields,
// allocated in one zero-filled block with its data area directly behind it.
struct TMMWaveHdr {
  char* lpData;
  std::uint32_t dwBufferLength;   // capacity on entry to a pull; drivers set the bytes delivered
  std::uint32_t dwBytesRecorded;  // bytes filled by the pull
  std::uint32_t dwUser;
  std::uint32_t dwFlags;  // bit 0 done, bit 1 prepared
  std::uint32_t dwLoops;
  TMMWaveHdr* lpNext;
  std::uintptr_t reserved;
  std::uint8_t unused[8];
  TMMWaveHdr* lpNextHdr;   // the header a wave output device returns next
  std::int32_t Looping;    // -1 while the driver plays in a loop
  std::int32_t LoopCount;  // the driver's LoopCount
  std::int32_t LoopsLeft;  // carried from the driver to the source and back
  std::int32_t Looped;     // set by a source that wrapped to its start
};
using PWaveHdr = TMMWaveHdr*;

// Size of the header part of an allocation; lpData points this many bytes past its start.
constexpr std::size_t kWaveHdrSize = sizeof(TMMWaveHdr);

struct WaveHdrDeleter {
  void operator()(TMMWaveHdr* h) const;
};
using WaveHdrPtr = std::unique_ptr<TMMWaveHdr, WaveHdrDeleter>;

// A zero-filled header with dataBytes of data behind it; dwBufferLength = dataBytes.
WaveHdrPtr AllocWaveHdr(std::size_t dataBytes);

// Format record helpers. Copies are heap blocks owned by the caller (free with wfxFree).
int wfxSize(const TWaveFormatEx* pwfx);
PWaveFormatEx wfxCopy(const TWaveFormatEx* pwfx);
void wfxFree(PWaveFormatEx& pwfx);
void pcmBuildFormat(TWaveFormatEx* pwfx, int bits, int channels, int rate);
bool pcmIsValidFormat(const TWaveFormatEx* pwfx);

struct WfxDeleter {
  void operator()(TWaveFormatEx* p) const;
};
using WfxPtr = std::unique_ptr<TWaveFormatEx, WfxDeleter>;
inline WfxPtr WfxClone(const TWaveFormatEx* p) {
  return WfxPtr(wfxCopy(p));
}

// a * b / c rounded: a*b div c + (2*(a*b mod c)) div c, with a wide product.
std::int32_t MulDivRound(std::int32_t a, std::int32_t b, std::int32_t c);
std::int64_t MulDivRound64(std::int64_t a, std::int64_t b, std::int64_t c);
// a * b / c rounded to nearest (halves away from zero), 64-bit product.
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);

std::int32_t wfxBytesToSamples(const TWaveFormatEx* pwfx, std::int32_t bytes);
std::int32_t wfxBytesToMs(const TWaveFormatEx* pwfx, std::int32_t bytes);
std::int32_t wfxSamplesToBytes(const TWaveFormatEx* pwfx, std::int32_t samples);
std::int32_t wfxSamplesToMs(const TWaveFormatEx* pwfx, std::int32_t samples);
std::int32_t wfxMsToSamples(const TWaveFormatEx* pwfx, std::int32_t ms);
std::int64_t wfxSamplesToBytes64(const TWaveFormatEx* pwfx, std::int64_t samples);
std::int64_t wfxSamplesToMs64(const TWaveFormatEx* pwfx, std::int64_t samples);

enum TMMTimeFormats { tfMillisecond, tfByte, tfSample };

// Scales PCM samples by a left and a right gain (16384 = unity), clipping at the format's limits;
// mono uses the left gain. Returns true when a sample clipped.
bool pcmVolume(const TWaveFormatEx* pwfx, void* data, std::int32_t bytes, std::int32_t left,
               std::int32_t right);
