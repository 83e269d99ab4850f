#include "MMVolume.h"

void TMMVolume::SetValue(int index, int value) {
  if (index < 0 || index > 1 || values_[index] == value) return;
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

void TMMVolume::Scale(PWaveHdr h) {
  if (Enabled && active_ &&
      pcmVolume(pwfx_, h->lpData, static_cast<std::int32_t>(h->dwBytesRecorded), left_, right_))
    clipped_ = true;
}

void TMMVolume::BufferReady(PWaveHdr h) {
  Scale(h);
  TMMDSPComponent::BufferReady(h);
}

void TMMVolume::BufferLoad(PWaveHdr h, bool& MoreBuffers) {
  TMMDSPComponent::BufferLoad(h, MoreBuffers);
  Scale(h);
}
