#include "MMUtils.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

void WaveHdrDeleter::operator()(TMMWaveHdr* h) const {
  std::free(h);
}

WaveHdrPtr AllocWaveHdr(std::size_t dataBytes) {
  auto* h = static_cast<TMMWaveHdr*>(std::calloc(1, kWaveHdrSize + dataBytes));
  if (!h) throw std::bad_alloc();
  h->lpData = reinterpret_cast<char*>(h) + kWaveHdrSize;
  h->dwBufferLength = static_cast<std::uint32_t>(dataBytes);
  return WaveHdrPtr(h);
}

void WfxDeleter::operator()(TWaveFormatEx* p) const {
  std::free(p);
}

int wfxSize(const TWaveFormatEx* pwfx) {
  if (!pwfx) return 0;
  if (pwfx->wFormatTag == WAVE_FORMAT_PCM) return sizeof(TWaveFormatEx);
  return sizeof(TWaveFormatEx) + pwfx->cbSize;
}

PWaveFormatEx wfxCopy(const TWaveFormatEx* pwfx) {
  if (!pwfx) return nullptr;
  int size = wfxSize(pwfx);
  auto* copy = static_cast<TWaveFormatEx*>(std::malloc(size));
  if (!copy) throw std::bad_alloc();
  std::memcpy(copy, pwfx, size);
  if (copy->wFormatTag == WAVE_FORMAT_PCM) copy->cbSize = 0;
  return copy;
}

void wfxFree(PWaveFormatEx& pwfx) {
  std::free(pwfx);
  pwfx = nullptr;
}

void pcmBuildFormat(TWaveFormatEx* pwfx, int bits, int channels, int rate) {
  pwfx->wFormatTag = WAVE_FORMAT_PCM;
  pwfx->nChannels = static_cast<std::uint16_t>(channels);
  pwfx->nSamplesPerSec = static_cast<std::uint32_t>(rate);
  pwfx->wBitsPerSample = static_cast<std::uint16_t>(bits);
  pwfx->nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  pwfx->nAvgBytesPerSec = static_cast<std::uint32_t>(pwfx->nBlockAlign) * pwfx->nSamplesPerSec;
  pwfx->cbSize = 0;
}

bool pcmIsValidFormat(const TWaveFormatEx* pwfx) {
  return pwfx && pwfx->wFormatTag == WAVE_FORMAT_PCM &&
         (pwfx->wBitsPerSample == 8 || pwfx->wBitsPerSample == 16) &&
         (pwfx->nChannels == 1 || pwfx->nChannels == 2) && pwfx->nSamplesPerSec >= 4000 &&
         pwfx->nSamplesPerSec <= 100000;
}

std::int64_t MulDivRound64(std::int64_t a, std::int64_t b, std::int64_t c) {
  if (c == 0) return 0;
  __int128 p = static_cast<__int128>(a) * b;
  __int128 q = p / c, r = p % c;
  return static_cast<std::int64_t>(q + (2 * r) / c);
}

std::int32_t MulDivRound(std::int32_t a, std::int32_t b, std::int32_t c) {
  return static_cast<std::int32_t>(MulDivRound64(a, b, c));
}

std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return -1;
  std::int64_t p = static_cast<std::int64_t>(a) * b;
  std::int64_t half = (c < 0 ? -c : c) / 2;
  bool neg = (p < 0) != (c < 0);
  std::int64_t ap = p < 0 ? -p : p, ac = c < 0 ? -c : c;
  std::int64_t q = (ap + half) / ac;
  return static_cast<std::int32_t>(neg ? -q : q);
}

std::int32_t wfxBytesToSamples(const TWaveFormatEx* f, std::int32_t bytes) {
  if (!f || !f->nAvgBytesPerSec) return 0;
  return MulDivRound(bytes, f->nSamplesPerSec, f->nAvgBytesPerSec);
}

std::int32_t wfxBytesToMs(const TWaveFormatEx* f, std::int32_t bytes) {
  if (!f || !f->nAvgBytesPerSec) return 0;
  return MulDivRound(bytes, 1000, f->nAvgBytesPerSec);
}

std::int64_t wfxSamplesToBytes64(const TWaveFormatEx* f, std::int64_t samples) {
  if (!f || !f->nSamplesPerSec) return 0;
  std::int64_t bytes = MulDivRound64(samples, f->nAvgBytesPerSec, f->nSamplesPerSec);
  std::int64_t align = f->nBlockAlign ? f->nBlockAlign : 1;
  if (bytes % align) bytes += align - bytes % align;
  return bytes;
}

std::int32_t wfxSamplesToBytes(const TWaveFormatEx* f, std::int32_t samples) {
  return static_cast<std::int32_t>(wfxSamplesToBytes64(f, samples));
}

std::int64_t wfxSamplesToMs64(const TWaveFormatEx* f, std::int64_t samples) {
  if (!f || !f->nSamplesPerSec) return 0;
  return MulDivRound64(samples, 1000, f->nSamplesPerSec);
}

std::int32_t wfxSamplesToMs(const TWaveFormatEx* f, std::int32_t samples) {
  return static_cast<std::int32_t>(wfxSamplesToMs64(f, samples));
}

std::int32_t wfxMsToSamples(const TWaveFormatEx* f, std::int32_t ms) {
  if (!f) return 0;
  return MulDivRound(ms, f->nSamplesPerSec, 1000);
}

bool pcmVolume(const TWaveFormatEx* f, void* data, std::int32_t bytes, std::int32_t left,
               std::int32_t right) {
  if (!f || !data || bytes <= 0) return false;
  if (left == 16384 && right == 16384) return false;
  bool clipped = false;
  const bool stereo = f->nChannels == 2;
  if (f->wBitsPerSample == 16) {
    auto* s = static_cast<std::int16_t*>(data);
    const std::int32_t n = bytes / 2;
    auto scale = [&clipped](std::int16_t& x, std::int32_t g) {
      std::int32_t v = (static_cast<std::int32_t>(x) * g) >> 14;
      if (v > 32767) v = 32767, clipped = true;
      if (v < -32768) v = -32768, clipped = true;
      x = static_cast<std::int16_t>(v);
    };
    if (stereo) {
      std::int32_t i = 0;
      for (; i + 1 < n; i += 2) scale(s[i], left), scale(s[i + 1], right);
      if (i < n) scale(s[i], left);
    } else {
      for (std::int32_t i = 0; i < n; ++i) scale(s[i], left);
    }
  } else if (f->wBitsPerSample == 8) {
    auto* s = static_cast<std::uint8_t*>(data);
    for (std::int32_t i = 0; i < bytes; ++i) {
      std::int32_t g = (stereo && (i & 1)) ? right : left;
      std::int32_t v = ((static_cast<std::int32_t>(s[i]) - 128) * g) >> 14;
      if (v > 127) v = 127, clipped = true;
      if (v < -128) v = -128, clipped = true;
      s[i] = static_cast<std::uint8_t>(v + 128);
    }
  }
  return clipped;
}
