#include "MMMetronome.h"

#include <algorithm>
#include <cmath>
#include <cstring>

TMMMetronome::TMMMetronome() {
  ProcessHook = [this](TMMDSPComponent*, PWaveHdr h) { Process(h); };
}

namespace {
std::int16_t Clip(int v) {
  return static_cast<std::int16_t>(std::clamp(v, -32768, 32767));
}
}  // namespace

void TMMMetronome::Process(PWaveHdr h) {
  const TWaveFormatEx* f = pwfx_;
  if (!f || f->wFormatTag != WAVE_FORMAT_PCM || f->wBitsPerSample != 16 || f->nChannels != 2)
    return;
  const int stretch = stretch_;
  try {
    auto* s = reinterpret_cast<std::int16_t*>(h->lpData);
    const int n = static_cast<int>(h->dwBytesRecorded / 4);
    const int k = n / 2;
    kept_.resize(static_cast<std::size_t>(k) * 2);
    for (int i = 0; i < k; ++i) {
      kept_[2 * i] = s[4 * i];
      kept_[2 * i + 1] = s[4 * i + 1];
    }
    if (stretch == 1) {
      std::memcpy(s, kept_.data(), static_cast<std::size_t>(k) * 4);
      h->dwBytesRecorded = static_cast<std::uint32_t>(k) * 4;
      return;
    }
    const int d = std::min(divSize_ / 4, k);
    if (overlap_ == otSOLA) {
      // First copy up to the seam, a cross-fade of its end into the start of the second copy,
      // then the rest of the second copy: 2k - d frames.
      std::memcpy(s, kept_.data(), static_cast<std::size_t>(k - d) * 4);
      for (int i = 0; i < d; ++i) {
        const double w = (i + 0.5) / d;
        for (int c = 0; c < 2; ++c) {
          double a = kept_[2 * (k - d + i) + c], b = kept_[2 * i + c];
          s[2 * (k - d + i) + c] = Clip(static_cast<int>(std::lround(a * (1 - w) + b * w)));
        }
      }
      std::memcpy(s + 2 * k, kept_.data() + 2 * d, static_cast<std::size_t>(k - d) * 4);
      h->dwBytesRecorded = static_cast<std::uint32_t>(2 * k - d) * 4;
    } else {
      // Both copies whole; the end of the first is bent linearly towards the start of the
      // second so the seam does not jump: 2k frames.
      std::memcpy(s, kept_.data(), static_cast<std::size_t>(k) * 4);
      std::memcpy(s + 2 * k, kept_.data(), static_cast<std::size_t>(k) * 4);
      if (k > 0) {
        for (int c = 0; c < 2; ++c) {
          const int jump = kept_[c] - kept_[2 * (k - 1) + c];
          for (int i = 1; i <= d; ++i) {
            int at = k - d + i - 1;
            s[2 * at + c] = Clip(s[2 * at + c] + jump * i / (d + 1));
          }
        }
      }
      h->dwBytesRecorded = static_cast<std::uint32_t>(2 * k) * 4;
    }
  } catch (...) {
    if (stretch == 1) throw EMMMetronomeError("Error in while time stretching = 1");
  }
}
