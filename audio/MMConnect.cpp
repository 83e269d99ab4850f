#include "MMConnect.h"

#include <cstdlib>

namespace {
void Raise(std::atomic<int>& a, int v) {
  int cur = a.load();
  while (v > cur && !a.compare_exchange_weak(cur, v)) {
  }
}
}  // namespace

void TMMConnector::Measure(PWaveHdr h) {
  const TWaveFormatEx* f = pwfx_;
  if (!f || f->wFormatTag != WAVE_FORMAT_PCM || !h->dwBytesRecorded) return;
  const bool stereo = f->nChannels == 2;
  int l = 0, r = 0;
  if (f->wBitsPerSample == 16) {
    const auto* s = reinterpret_cast<const std::int16_t*>(h->lpData);
    const int n = static_cast<int>(h->dwBytesRecorded / 2);
    for (int i = 0; i < n; ++i) {
      int v = std::abs(static_cast<int>(s[i]));
      int& p = (stereo && (i & 1)) ? r : l;
      if (v > p) p = v;
    }
  } else if (f->wBitsPerSample == 8) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(h->lpData);
    for (std::uint32_t i = 0; i < h->dwBytesRecorded; ++i) {
      int v = std::abs(static_cast<int>(s[i]) - 128) * 256;
      int& p = (stereo && (i & 1)) ? r : l;
      if (v > p) p = v;
    }
  }
  if (!stereo) r = l;
  peakLeft_ = l;
  peakRight_ = r;
  Raise(holdLeft_, l);
  Raise(holdRight_, r);
  if (OnLevel) OnLevel(this, h);
}

void TMMConnector::TakePeaks(int& left, int& right) {
  left = holdLeft_.exchange(0);
  right = holdRight_.exchange(0);
}

void TMMConnector::BufferReady(PWaveHdr h) {
  Measure(h);
  TMMDSPComponent::BufferReady(h);
}

void TMMConnector::BufferLoad(PWaveHdr h, bool& MoreBuffers) {
  TMMDSPComponent::BufferLoad(h, MoreBuffers);
  Measure(h);
}
