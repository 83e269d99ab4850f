#include "MMMetronome.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
// How far a S.O.L.A. grain may move from its place in the input, in frames.
constexpr int kSearch = 512;
// Frames pulled from the input at a time.
constexpr int kPullFrames = 16384;
}  // namespace

void TMMMetronome::SetWaveFormat(const TWaveFormatEx* format) {
  if (format && !pcmIsValidFormat(format)) throw EMMMetronomeError("Invalid WaveFormat");
  TMMDSPComponent::SetWaveFormat(format);
}

void TMMMetronome::Reset() {
  active_ = ended_ = false;
  in_.clear();
  inBase_ = inFrames_ = 0;
  tail_.clear();
  segment_ = prevSrc_ = 0;
  out_.clear();
  outHead_ = 0;
  outFrames_ = 0;
}

void TMMMetronome::Started() {
  Reset();
  TMMDSPComponent::Started();
}

void TMMMetronome::Repositioned() {
  Reset();
  TMMDSPComponent::Repositioned();
}

float TMMMetronome::At(std::int64_t frame, int c) const {
  if (frame < inBase_ || frame >= inBase_ + inFrames_) return 0.0f;
  return in_[static_cast<std::size_t>(frame - inBase_) * ch_ + c];
}

bool TMMMetronome::PullInput(PWaveHdr h) {
  const int align = pwfx_->nBlockAlign;
  if (!pull_) pull_ = AllocWaveHdr(static_cast<std::size_t>(kPullFrames) * align);
  TMMWaveHdr* p = pull_.get();
  const bool more = PullFor(h, p, static_cast<std::uint32_t>(kPullFrames * align));
  const int frames = static_cast<int>(std::min(p->dwBytesRecorded, p->dwBufferLength)) / align;
  const std::size_t at = in_.size();
  in_.resize(at + static_cast<std::size_t>(frames) * ch_);
  float* d = in_.data() + at;
  if (bits_ == 8) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(p->lpData);
    for (int i = 0; i < frames * ch_; ++i) d[i] = static_cast<float>(s[i]) - 128.0f;
  } else {
    const auto* s = reinterpret_cast<const std::int16_t*>(p->lpData);
    for (int i = 0; i < frames * ch_; ++i) d[i] = s[i];
  }
  inFrames_ += frames;
  return more && frames > 0;
}

// The position in [lo, hi] whose first x_ frames continue the previous grain best: the largest
// normalised cross-correlation of the channels' sum, coarse first, then to the frame.
int TMMMetronome::Search(std::int64_t nominal, std::int64_t lo, std::int64_t hi) const {
  const int x = static_cast<int>(tail_.size()) / ch_, n = static_cast<int>(hi - lo) + x;
  std::vector<float> ref(static_cast<std::size_t>(x)), mono(static_cast<std::size_t>(n));
  for (int j = 0; j < x; ++j) {
    float v = 0;
    for (int c = 0; c < ch_; ++c) v += tail_[static_cast<std::size_t>(j) * ch_ + c];
    ref[static_cast<std::size_t>(j)] = v;
  }
  for (int j = 0; j < n; ++j) {
    float v = 0;
    for (int c = 0; c < ch_; ++c) v += At(lo + j, c);
    mono[static_cast<std::size_t>(j)] = v;
  }
  auto score = [&](int off, int stride) {
    double xy = 0, yy = 1e-3;
    const float* q = mono.data() + off;
    for (int j = 0; j < x; j += stride) {
      xy += static_cast<double>(ref[static_cast<std::size_t>(j)]) * q[j];
      yy += static_cast<double>(q[j]) * q[j];
    }
    return xy / std::sqrt(yy);
  };
  const int span = static_cast<int>(hi - lo);
  const int coarse = x >= 64 ? 4 : 1;
  int best = static_cast<int>(std::clamp(nominal, lo, hi) - lo);
  double bestScore = score(best, coarse);
  for (int off = 0; off <= span; off += coarse) {
    const double s = score(off, coarse);
    if (s > bestScore) bestScore = s, best = off;
  }
  if (coarse > 1) {
    const int centre = best;
    bestScore = score(centre, 1);
    for (int off = std::max(0, centre - coarse + 1); off <= std::min(span, centre + coarse - 1);
         ++off) {
      const double s = score(off, 1);
      if (s > bestScore) bestScore = s, best = off;
    }
  }
  return best + static_cast<int>(lo - nominal);
}

// Lays out the next grain: output frames [segment * hs, (segment + 1) * hs) from the input at
// about segment * hs / 2, its first x_ frames cross-faded with the previous grain's
// continuation.
void TMMMetronome::Segment(bool ended) {
  const std::int64_t ha = hs_ / 2, nominal = segment_ * ha, end = inBase_ + inFrames_;
  const int xf = static_cast<int>(tail_.size()) / ch_;  // this seam's cross-fade
  std::int64_t a = nominal;
  if (xf > 0 && overlap_ == otSOLA) {
    const std::int64_t lo = std::max(nominal - kSearch, inBase_);
    std::int64_t hi = nominal + kSearch;
    if (ended) hi = std::min(hi, end - hs_ - x_);
    if (hi > lo) a = nominal + Search(nominal, lo, hi);
  }
  const std::size_t at = out_.size();
  out_.resize(at + static_cast<std::size_t>(hs_) * ch_);
  float* o = out_.data() + at;
  for (int j = 0; j < hs_; ++j) {
    for (int c = 0; c < ch_; ++c) {
      float v = At(a + j, c);
      if (j < xf) {
        const float w = (static_cast<float>(j) + 0.5f) / static_cast<float>(xf);
        v = tail_[static_cast<std::size_t>(j) * ch_ + c] * (1 - w) + v * w;
      }
      o[static_cast<std::size_t>(j) * ch_ + c] = v;
    }
  }
  // The overlap slider takes effect at the next seam.
  x_ = std::clamp(divSize_.load(), 10, hs_);
  tail_.resize(static_cast<std::size_t>(x_) * ch_);
  for (int j = 0; j < x_; ++j)
    for (int c = 0; c < ch_; ++c) tail_[static_cast<std::size_t>(j) * ch_ + c] = At(a + hs_ + j, c);
  prevSrc_ = a;
  ++segment_;
  outFrames_ += hs_;
  // Input before the next grain's earliest position is no longer needed.
  const std::int64_t keep = std::min(segment_ * ha - kSearch, end);
  if (keep > inBase_ + 65536) {
    const std::size_t drop = static_cast<std::size_t>(keep - inBase_) * ch_;
    in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(drop));
    inFrames_ -= keep - inBase_;
    inBase_ = keep;
  }
  if (ended && outFrames_ > 2 * end) {
    const std::int64_t extra = outFrames_ - 2 * end;
    out_.resize(out_.size() - static_cast<std::size_t>(extra) * ch_);
    outFrames_ = 2 * end;
  }
}

int TMMMetronome::Serve(PWaveHdr h, int wantFrames) {
  const std::size_t pending = (out_.size() - outHead_) / ch_;
  const int n = static_cast<int>(std::min<std::size_t>(pending, wantFrames));
  const float* s = out_.data() + outHead_;
  if (bits_ == 8) {
    auto* d = reinterpret_cast<std::uint8_t*>(h->lpData);
    for (int i = 0; i < n * ch_; ++i)
      d[i] = static_cast<std::uint8_t>(std::clamp(std::lrint(s[i]), -128L, 127L) + 128);
  } else {
    auto* d = reinterpret_cast<std::int16_t*>(h->lpData);
    for (int i = 0; i < n * ch_; ++i)
      d[i] = static_cast<std::int16_t>(std::clamp(std::lrint(s[i]), -32768L, 32767L));
  }
  outHead_ += static_cast<std::size_t>(n) * ch_;
  if (outHead_ == out_.size()) {
    out_.clear();
    outHead_ = 0;
  } else if (outHead_ > (1u << 20)) {
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outHead_));
    outHead_ = 0;
  }
  return n * pwfx_->nBlockAlign;
}

void TMMMetronome::BufferLoad(PWaveHdr h, bool& MoreBuffers) {
  if (!pwfx_ || !pcmIsValidFormat(pwfx_) || (stretch_ != 2 && !active_)) {
    TMMDSPComponent::BufferLoad(h, MoreBuffers);
    return;
  }
  const int align = pwfx_->nBlockAlign;
  const int wantFrames = static_cast<int>(h->dwBufferLength) / align;
  if (stretch_ != 2) {
    // Half speed was turned off: what is stretched already plays, then the input again.
    if (out_.size() > outHead_) {
      h->dwBytesRecorded = static_cast<std::uint32_t>(Serve(h, wantFrames));
      MoreBuffers = true;
      return;
    }
    const bool ended = ended_;
    Reset();
    if (ended) {
      h->dwBytesRecorded = 0;
      MoreBuffers = false;
      return;
    }
    TMMDSPComponent::BufferLoad(h, MoreBuffers);
    return;
  }
  if (!active_) {
    active_ = true;
    ch_ = pwfx_->nChannels;
    bits_ = pwfx_->wBitsPerSample;
    hs_ = 2048;
    x_ = std::clamp(divSize_.load(), 10, hs_);
  }
  auto done = [&] { return ended_ && outFrames_ >= 2 * (inBase_ + inFrames_); };
  while ((out_.size() - outHead_) / ch_ < static_cast<std::size_t>(wantFrames) && !done()) {
    const std::int64_t need = segment_ * (hs_ / 2) + kSearch + hs_ + x_;
    if (!ended_ && inBase_ + inFrames_ < need)
      ended_ = !PullInput(h);
    else
      Segment(ended_);
  }
  h->dwBytesRecorded = static_cast<std::uint32_t>(Serve(h, wantFrames));
  MoreBuffers = !done() || out_.size() > outHead_;
}
