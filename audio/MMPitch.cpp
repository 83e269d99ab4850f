#include "MMPitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
template <int F>
int Resample(const char* src, char* dst, std::uint32_t step, std::uint32_t& phase, int& dstLeft,
             int& srcLeft) {
  if (dstLeft < F || srcLeft <= 0) return 0;
  int written = 0;
  std::uint32_t ph = phase;
  int sl = srcLeft, dl = dstLeft;
  for (;;) {
    std::memcpy(dst + written, src, F);
    ph += step;
    if (ph >= 65535) {
      const int advance = static_cast<int>(ph >> 16);
      ph &= 0xFFFF;
      src += advance * F;
      sl -= advance * F;
    }
    written += F;
    dl -= F;
    if (sl <= 0 || dl < F) break;
  }
  phase = ph;
  srcLeft = sl;
  dstLeft = dl;
  return written;
}
}  // namespace

int pcmResample(const TWaveFormatEx* f, const char* src, char* dst, std::uint32_t step,
                std::uint32_t& phase, int& dstLeft, int& srcLeft) {
  if (!f || f->wFormatTag != WAVE_FORMAT_PCM || dstLeft == 0 || srcLeft == 0) return 0;
  const bool stereo = f->nChannels == 2;
  if (f->wBitsPerSample == 8)
    return stereo ? Resample<2>(src, dst, step, phase, dstLeft, srcLeft)
                  : Resample<1>(src, dst, step, phase, dstLeft, srcLeft);
  if (f->wBitsPerSample == 16)
    return stereo ? Resample<4>(src, dst, step, phase, dstLeft, srcLeft)
                  : Resample<2>(src, dst, step, phase, dstLeft, srcLeft);
  return 0;
}

TMMPitch::TMMPitch() = default;
TMMPitch::~TMMPitch() = default;

void TMMPitch::SetPitch(float pitch) {
  pitch_ = std::clamp(pitch, -50.0f, 50.0f);
  step_ = static_cast<std::uint32_t>(std::lround((pitch_ + 50.0) * 65536.0 / 100.0 + 32768.0));
}

void TMMPitch::SetEnabled(bool on) {
  enabled_ = on;
  if (on && prepared_) Reset();
}

void TMMPitch::SetWaveFormat(const TWaveFormatEx* format) {
  if (format && !pcmIsValidFormat(format)) throw EMMPitchError("Invalid WaveFormat");
  TMMDSPComponent::SetWaveFormat(format);
}

void TMMPitch::Reset() {
  fill_ = readPos_ = skip_ = 0;
  phase_ = 0;
  end_ = false;
  if (ih_) ih_->Looped = 0;
}

void TMMPitch::Opened() {
  if (!prepared_) {
    workSize_ = std::max(65536, EffectiveSize(bufferSize_));
    ih_ = AllocWaveHdr(static_cast<std::size_t>(workSize_) * 2);
    prepared_ = true;
    Reset();
  }
  TMMDSPComponent::Opened();
}

void TMMPitch::Closed() {
  ih_.reset();
  prepared_ = false;
  TMMDSPComponent::Closed();
}

void TMMPitch::Started() {
  Reset();
  TMMDSPComponent::Started();
}

void TMMPitch::Repositioned() {
  Reset();
  TMMDSPComponent::Repositioned();
}

void TMMPitch::BufferLoad(PWaveHdr h, bool& more) {
  const std::uint32_t step = step_;
  if (!enabled_ || !prepared_ || (step == 65536 && Pending() == 0)) {
    TMMDSPComponent::BufferLoad(h, more);
    return;
  }
  h->dwBytesRecorded = 0;
  if (!input_) return;
  int dstLeft = static_cast<int>(h->dwBufferLength);
  int written = 0;
  TMMWaveHdr* ih = ih_.get();
  for (;;) {
    if (Pending() > 0) {
      int srcLeft = Pending();
      written += pcmResample(pwfx_, ih->lpData + readPos_, h->lpData + written, step, phase_,
                             dstLeft, srcLeft);
      readPos_ = fill_ - srcLeft;
      // An advance past the end of the data carries into the next input buffer.
      skip_ = srcLeft < 0 ? -srcLeft : 0;
    }
    if (dstLeft < (pwfx_ ? pwfx_->nBlockAlign : 1) || end_) break;
    fill_ = 0;
    if (ih->Looped) {
      h->Looped = -1;
      h->LoopsLeft = ih->LoopsLeft;
      ih->Looped = 0;
    }
    ih->Looping = h->Looping;
    if (h->Looping) {
      ih->LoopCount = h->LoopCount;
      ih->LoopsLeft = h->LoopsLeft;
      ih->Looped = 0;
    }
    more_ = false;
    ih->dwBufferLength = static_cast<std::uint32_t>(workSize_) * 2;
    ih->dwBytesRecorded = 0;
    TMMDSPComponent::BufferLoad(ih, more_);
    fill_ = static_cast<int>(ih->dwBytesRecorded);
    if (!more_ || fill_ == 0) end_ = true;
    readPos_ = std::min(skip_, fill_);
    skip_ -= readPos_;
    if (fill_ == 0) break;
  }
  h->dwBytesRecorded = static_cast<std::uint32_t>(written);
  more = more_ || Pending() > 0;
}
