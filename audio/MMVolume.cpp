#include "MMVolume.h"

#include <algorithm>

void TMMVolume::SetValue(int index, int value) {
  if (index < 0 || index > 1) return;
  // The stage's range: a gain of at most 4 (a 16-bit sample times the gain fits 32 bits), no
  // negative gain, and a balance that silences one channel at most.
  value = index == 0 ? std::clamp(value, 0, kMaxVolume) : std::clamp(value, -16384, 16384);
  if (values_[index] == value) return;
  values_[index] = value;
  const int v = values_[0], p = values_[1];
  if (p <= 0) {
    left_ = v;
    right_ = MulDiv(16384 + p, v, 16384);
  } else {
    left_ = MulDiv(16384 - p, v, 16384);
    right_ = v;
  }
}

void TMMVolume::SetWaveFormat(const TWaveFormatEx* format) {
  if (format && !(state_ & csDesigning) && !pcmIsValidFormat(format))
    throw EMMVolumeError("Invalid WaveFormat");
  TMMDSPComponent::SetWaveFormat(format);
}

void TMMVolume::Opened() {
  TMMDSPComponent::Opened();
  active_ = pcmIsValidFormat(pwfx_);
}

void TMMVolume::Closed() {
  active_ = false;
  TMMDSPComponent::Closed();
}

namespace {
// The samples of a buffer that the gains take out of range, counted before they are scaled.
std::int64_t CountClips(const TWaveFormatEx* f, const void* data, std::int32_t bytes,
                        std::int32_t left, std::int32_t right) {
  if (left <= 16384 && right <= 16384) return 0;
  const bool stereo = f->nChannels == 2;
  std::int64_t n = 0;
  if (f->wBitsPerSample == 16) {
    const auto* s = static_cast<const std::int16_t*>(data);
    for (std::int32_t i = 0; i < bytes / 2; ++i) {
      const std::int64_t v = (std::int64_t(s[i]) * ((stereo && (i & 1)) ? right : left)) >> 14;
      n += v > 32767 || v < -32768;
    }
  } else {
    const auto* s = static_cast<const std::uint8_t*>(data);
    for (std::int32_t i = 0; i < bytes; ++i) {
      const std::int64_t v =
          ((std::int64_t(s[i]) - 128) * ((stereo && (i & 1)) ? right : left)) >> 14;
      n += v > 127 || v < -128;
    }
  }
  return n;
}
}  // namespace

void TMMVolume::Scale(PWaveHdr h) {
  if (!Enabled || !active_) return;
  const std::int32_t bytes = static_cast<std::int32_t>(h->dwBytesRecorded);
  const std::int32_t l = left_, r = right_;
  const std::int64_t clips = CountClips(pwfx_, h->lpData, bytes, l, r);
  if (pcmVolume(pwfx_, h->lpData, bytes, l, r)) clipped_ = true;
  clippedSamples_ += clips;
}

void TMMVolume::BufferReady(PWaveHdr h) {
  Scale(h);
  TMMDSPComponent::BufferReady(h);
}

void TMMVolume::BufferLoad(PWaveHdr h, bool& MoreBuffers) {
  TMMDSPComponent::BufferLoad(h, MoreBuffers);
  Scale(h);
}
