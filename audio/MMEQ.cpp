#include "MMEQ.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "MMFFT.h"

struct TEQEngine {
  int rate = 0, channels = 0;
  int n = 0, half = 0;
  TMMFFTWindow window = fwHamming;
  std::vector<float> gain;               // G[0..N/2]
  std::vector<double> cosTab, sinTab;    // cos and sin of 2 pi j / N, for the design
  std::vector<float> hre, him;           // active filter spectrum H
  std::vector<float> zre, zim;           // transform work area
  std::vector<std::vector<float>> tail;  // per channel overlap tail of N/2 values
  std::vector<char> inq, outq;
  std::size_t inFill = 0, outFill = 0;
  int maxBuf = 0;
  std::mutex lock;
  TMMFFT fft;
  explicit TEQEngine(int size) : fft(size) {}
};

namespace {

double WindowValue(TMMFFTWindow w, int n, int L) {
  const double d = (2.0 * n - L) / (L + 1.0);
  switch (w) {
    case fwRectangular:
      return 1.0;
    case fwHamming:
      return 0.54 - 0.46 * std::cos(2 * M_PI * n / L);
    case fwHanning:
      return 0.5 - 0.5 * std::cos(2 * M_PI * n / L);
    case fwBlackman:
      return 0.42 - 0.5 * std::cos(2 * M_PI * n / L) + 0.08 * std::cos(4 * M_PI * n / L);
    case fwGaussian: {
      const double t = 2.0 * n - L;
      return std::exp(-5.0 * t * t / (double(L) * L));
    }
    case fwWelch:
      return 1 - d * d;
    case fwParzen:
      return 1 - std::abs(d);
  }
  return 1.0;
}

// Frequency-sampling design of the N/2 + 1 taps, centred at tap N/4, and their spectrum H.
void Design(TEQEngine& e) {
  const int n = e.n, half = e.half;
  std::vector<std::complex<double>> w(n);
  for (int k = 0; k <= half; ++k) w[k] = e.gain[k];
  w[0] *= 0.5;
  w[half] *= 0.5;
  // Linear phase: the response is centred at tap N / 4.
  for (int k = 0; k <= half; ++k)
    w[k] *= std::complex<double>(e.cosTab[k * (n / 4) % n], -e.sinTab[k * (n / 4) % n]);
  // Inverse transform, real part: the impulse response, windowed and cut to N/2 + 1 taps.
  std::vector<double> h(half + 1, 0.0);
  for (int t = 0; t <= half; ++t) {
    double acc = 0;
    for (int k = 0; k <= half; ++k) {
      const int j = k * t % n;
      acc += w[k].real() * e.cosTab[j] - w[k].imag() * e.sinTab[j];
    }
    h[t] = acc / n * WindowValue(e.window, t, half);
  }
  // H: the forward transform of the taps, zero-padded to N.
  for (int k = 0; k < n; ++k) {
    double re = 0, im = 0;
    for (int t = 0; t <= half; ++t) {
      const int j = k * t % n;
      re += h[t] * e.cosTab[j];
      im -= h[t] * e.sinTab[j];
    }
    // Kept in the transform's bit-reversed order, with the inverse's 1/N folded in.
    const int at = e.fft.BitReversed(k);
    e.hre[at] = static_cast<float>(re / n);
    e.him[at] = static_cast<float>(im / n);
  }
}

void SetBins(TEQEngine& e, float gainDb, float upper, float lower) {
  if (!std::isfinite(gainDb)) gainDb = 0;
  if (!std::isfinite(upper)) upper = 0;
  if (!std::isfinite(lower)) lower = 0;
  const int nyq = e.rate / 2;
  if (lower >= nyq) lower = static_cast<float>(nyq - 1);
  if (upper > nyq) upper = static_cast<float>(nyq);
  if (lower > upper) std::swap(lower, upper);
  const double delta = static_cast<double>(e.rate) / e.n;
  double first = std::nearbyint(lower / delta);
  double last =
      upper == lower ? std::nearbyint((upper + 1.0) / delta) : std::nearbyint(upper / delta);
  first = std::clamp(first, 0.0, double(e.half));
  last = std::clamp(last, 0.0, double(e.half));
  // A band at 0 dB has unity gain: the design halves the one-sided spectrum, so bins hold twice
  // the band's linear factor.
  const float g =
      static_cast<float>(2.0 * std::pow(10.0, std::clamp(gainDb, -200.0f, 200.0f) / 20.0));
  for (int k = static_cast<int>(first); k <= static_cast<int>(last); ++k) e.gain[k] = g;
}

inline std::int16_t Clip(float v, bool& clipped) {
  long r = std::lrint(v);
  if (r > 32767) return clipped = true, 32767;
  if (r < -32768) return clipped = true, -32768;
  return static_cast<std::int16_t>(r);
}

// Filters one block of N samples of channel c, read from in (stride ch) and written to out.
bool FilterBlock(TEQEngine& e, int c, const std::int16_t* in, std::int16_t* out, int ch) {
  const int n = e.n, half = e.half;
  float* zr = e.zre.data();
  float* zi = e.zim.data();
  for (int i = 0; i < half; ++i) {
    zr[i] = in[i * ch];
    zi[i] = in[(half + i) * ch];
  }
  {
    std::lock_guard guard(e.lock);
    e.fft.ForwardToBitReversed(zr, zi, true);
    const float* hr = e.hre.data();
    const float* hi = e.him.data();
    for (int k = 0; k < n; ++k) {
      const float r = zr[k] * hr[k] - zi[k] * hi[k];
      const float i = zr[k] * hi[k] + zi[k] * hr[k];
      zr[k] = r;
      zi[k] = i;
    }
    e.fft.InverseFromBitReversed(zr, zi);
  }
  bool clipped = false;
  float* tail = e.tail[c].data();
  for (int i = 0; i < half; ++i) {
    out[i * ch] = Clip(zr[i] + tail[i], clipped);
    out[(half + i) * ch] = Clip(zr[half + i] + zi[i], clipped);
    tail[i] = zi[half + i];
  }
  return clipped;
}

bool ProcessChunk(TEQEngine& e, TMMChannel channel, char* data, int count) {
  const int ch = e.channels;
  const int frameBytes = 2 * ch;
  std::memcpy(e.inq.data() + e.inFill, data, static_cast<std::size_t>(count));
  e.inFill += static_cast<std::size_t>(count);
  const std::size_t blockBytes = static_cast<std::size_t>(e.n) * frameBytes;
  const std::size_t blocks = e.inFill / blockBytes;
  int first = 0, lastCh = ch - 1;
  if (channel == chLeft) first = lastCh = 0;
  if (channel == chRight) first = lastCh = ch == 2 ? 1 : 0;
  bool clipped = false;
  const auto* in = reinterpret_cast<const std::int16_t*>(e.inq.data());
  auto* out = reinterpret_cast<std::int16_t*>(e.outq.data() + e.outFill);
  for (int c = first; c <= lastCh; ++c)
    for (std::size_t b = 0; b < blocks; ++b)
      clipped |= FilterBlock(e, c, in + b * e.n * ch + c, out + b * e.n * ch + c, ch);
  const std::size_t consumed = blocks * blockBytes;
  e.outFill += consumed;
  std::memmove(e.inq.data(), e.inq.data() + consumed, e.inFill - consumed);
  e.inFill -= consumed;

  const std::size_t available = std::min<std::size_t>(count, e.outFill);
  const std::size_t lead = static_cast<std::size_t>(count) - available;
  const bool whole = ch == 1 || (first == 0 && lastCh == ch - 1);
  if (whole) {
    std::memset(data, 0, lead);
    std::memcpy(data + lead, e.outq.data(), available);
  } else {
    // Only the processed channel changes; the other keeps its incoming samples.
    auto* d = reinterpret_cast<std::int16_t*>(data);
    const auto* q = reinterpret_cast<const std::int16_t*>(e.outq.data());
    const std::size_t leadFrames = lead / frameBytes, frames = available / frameBytes;
    for (std::size_t f = 0; f < leadFrames; ++f) d[f * ch + first] = 0;
    for (std::size_t f = 0; f < frames; ++f) d[(leadFrames + f) * ch + first] = q[f * ch + first];
  }
  std::memmove(e.outq.data(), e.outq.data() + available, e.outFill - available);
  e.outFill -= available;
  return clipped;
}

}  // namespace

PEQEngine eqCreate(const TWaveFormatEx* pwfx, int fftLength, int maxBufSize) {
  if (!pwfx || pwfx->nChannels < 1 || pwfx->nChannels > 2) return nullptr;
  int n = 8;
  while (n * 2 <= std::min(fftLength, 1024)) n *= 2;
  try {
    auto* e = new TEQEngine(n);
    e->rate = static_cast<int>(pwfx->nSamplesPerSec);
    e->channels = pwfx->nChannels;
    e->n = n;
    e->half = n / 2;
    e->window = fwHamming;
    e->gain.assign(e->half + 1, 2.0f);
    e->cosTab.resize(n);
    e->sinTab.resize(n);
    for (int j = 0; j < n; ++j) {
      e->cosTab[j] = std::cos(2 * M_PI * j / n);
      e->sinTab[j] = std::sin(2 * M_PI * j / n);
    }
    e->hre.assign(n, 0.0f);
    e->him.assign(n, 0.0f);
    e->zre.assign(n, 0.0f);
    e->zim.assign(n, 0.0f);
    e->tail.assign(e->channels, std::vector<float>(e->half, 0.0f));
    // Every call is filtered in pieces of at most maxBuf bytes (whole frames).
    const int frameBytes = 2 * e->channels;
    e->maxBuf = std::max(maxBufSize / frameBytes * frameBytes, frameBytes);
    const std::size_t q = 2 * static_cast<std::size_t>(e->maxBuf) + std::size_t(n) * frameBytes;
    e->inq.assign(q, 0);
    e->outq.assign(q, 0);
    eqReset(e);
    eqSetBand(e, 0, static_cast<float>(e->rate / 2), 0);
    return e;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void eqFree(PEQEngine eq) {
  delete eq;
}

void eqSetWindow(PEQEngine eq, TMMFFTWindow window) {
  if (!eq) return;
  std::lock_guard guard(eq->lock);
  eq->window = window;
  Design(*eq);
}

void eqSetBand(PEQEngine eq, float gain, float upper, float lower) {
  if (!eq) return;
  std::lock_guard guard(eq->lock);
  SetBins(*eq, gain, upper, lower);
  Design(*eq);
}

void eqReset(PEQEngine eq) {
  if (!eq) return;
  eq->inFill = eq->outFill = 0;
  for (auto& t : eq->tail) std::fill(t.begin(), t.end(), 0.0f);
}

bool eqProcess(PEQEngine eq, TMMChannel channel, void* data, int bytes) {
  if (!eq || !data || bytes <= 0) return false;
  const int frameBytes = 2 * eq->channels;
  bytes -= bytes % frameBytes;
  bool clipped = false;
  auto* p = static_cast<char*>(data);
  while (bytes > 0) {
    const int piece = std::min(bytes, eq->maxBuf);
    clipped |= ProcessChunk(*eq, channel, p, piece);
    p += piece;
    bytes -= piece;
  }
  return clipped;
}

int eqTransformSize(PEQEngine eq) {
  return eq ? eq->n : 0;
}

float eqBinGain(PEQEngine eq, int k) {
  if (!eq || k < 0 || k > eq->half) return 0;
  return eq->gain[k] / 2.0f;
}
