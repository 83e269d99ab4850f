#include "MMEQ.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "MMFFT.h"

namespace {

// Transform size of the convolution for a sample rate: the filter has F / 2 + 1 taps, about
// 0.37 s at 44.1 kHz, which resolves the lowest bands (10-30 Hz next to 31-60 Hz) to their own
// gains; the delay is F / 4 frames.
int TransformSizeFor(int rate) {
  int f = 4096;
  while (f < 65536 && static_cast<double>(f) / rate < 0.7) f *= 2;
  return f;
}

}  // namespace

struct TEQEngine {
  int rate = 0, channels = 0;
  int f = 0, block = 0, latency = 0;  // F, frames per block B = F / 2, delay L = F / 4
  TMMFFTWindow window = fwHamming;
  float baseGain = 0;  // dB outside every band
  std::vector<TEQBand> bands;
  struct Anchor {
    double hz, db;
  };
  std::vector<Anchor> anchors;
  std::vector<double> taps;           // the 2L + 1 taps
  std::vector<float> hre, him;        // their spectrum, bit-reversed, 1/F folded in
  std::vector<float> zre, zim;        // transform work area
  std::vector<float> tailRe, tailIm;  // overlap of the previous block
  std::vector<std::int16_t> held[2];  // delay lines of channels that are not filtered
  std::vector<std::int16_t> inq, outq;
  std::size_t inFill = 0, outHead = 0, outFill = 0;  // in samples
  std::int64_t inFrames = 0, outFrames = 0, clipped = 0;
  bool finished = false;
  std::int64_t pushLead = 0;  // frames of silence still to put before pushed buffers
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

// The points the response passes through: each band's gain at its geometric centre; 0 dB (the
// base gain) in gaps wider than a third of an octave and an octave beyond outer bands that end
// far from 0 Hz or from half the sample rate. Of bands with the same centre the later wins.
void BuildAnchors(TEQEngine& e) {
  const double nyq = e.rate / 2.0;
  struct B {
    double lo, hi, c, db;
  };
  std::vector<B> bs;
  for (const TEQBand& b : e.bands) {
    double lo = b.lower, hi = b.upper;
    if (lo >= nyq) lo = nyq - 1;
    if (hi > nyq) hi = nyq;
    if (lo > hi) std::swap(lo, hi);
    lo = std::max(lo, 0.0);
    hi = std::max(hi, 0.0);
    const double c = lo > 0 ? std::sqrt(lo * hi) : hi / 2;
    bs.push_back({lo, hi, std::max(c, 0.5), b.gain});
  }
  std::stable_sort(bs.begin(), bs.end(), [](const B& a, const B& b) { return a.c < b.c; });
  std::vector<B> uniq;
  for (const B& b : bs) {
    if (!uniq.empty() && uniq.back().c == b.c)
      uniq.back() = b;
    else
      uniq.push_back(b);
  }
  e.anchors.clear();
  if (uniq.empty()) {
    e.anchors.push_back({1.0, e.baseGain});
    return;
  }
  if (uniq.front().lo > 40) e.anchors.push_back({uniq.front().lo / 2, e.baseGain});
  for (std::size_t i = 0; i < uniq.size(); ++i) {
    e.anchors.push_back({uniq[i].c, uniq[i].db});
    if (i + 1 < uniq.size() && uniq[i + 1].lo > uniq[i].hi * 1.26 && uniq[i].hi > 0)
      e.anchors.push_back({std::sqrt(uniq[i].hi * uniq[i + 1].lo), e.baseGain});
  }
  if (uniq.back().hi < nyq / 2) e.anchors.push_back({uniq.back().hi * 2, e.baseGain});
}

double TargetDb(const TEQEngine& e, double hz) {
  const auto& a = e.anchors;
  if (hz <= a.front().hz) return a.front().db;
  if (hz >= a.back().hz) return a.back().db;
  std::size_t i = 1;
  while (a[i].hz <= hz) ++i;
  const TEQEngine::Anchor& p = a[i - 1];
  const TEQEngine::Anchor& q = a[i];
  const double t = std::log(hz / p.hz) / std::log(q.hz / p.hz);
  return p.db + (q.db - p.db) * (1 - std::cos(M_PI * t)) / 2;
}

// Windowed design of the zero-phase target sampled on a grid twice the transform size, made
// causal by the delay L.
void Design(TEQEngine& e) {
  BuildAnchors(e);
  const int g = 2 * e.f, L = e.latency;
  TMMFFT grid(g);
  std::vector<float> re(g), im(g, 0.0f);
  for (int k = 0; k <= g / 2; ++k) {
    const double db = std::clamp(TargetDb(e, static_cast<double>(k) * e.rate / g), -100.0, 60.0);
    re[k] = static_cast<float>(std::pow(10.0, db / 20));
    if (k > 0 && k < g / 2) re[g - k] = re[k];
  }
  grid.Inverse(re.data(), im.data());
  e.taps.assign(2 * L + 1, 0.0);
  for (int j = 0; j <= 2 * L; ++j)
    e.taps[j] = re[(j - L + g) % g] * WindowValue(e.window, j, 2 * L);
  std::vector<float> hr(e.f, 0.0f), hi(e.f, 0.0f);
  for (int j = 0; j <= 2 * L; ++j) hr[j] = static_cast<float>(e.taps[j]);
  e.fft.Forward(hr.data(), hi.data());
  const float scale = 1.0f / static_cast<float>(e.f);
  for (int k = 0; k < e.f; ++k) {
    const int at = e.fft.BitReversed(k);
    e.hre[at] = hr[k] * scale;
    e.him[at] = hi[k] * scale;
  }
}

inline std::int16_t Clip(float v, std::int64_t& clipped) {
  long r = std::lrint(v);
  if (r > 32767) return ++clipped, 32767;
  if (r < -32768) return ++clipped, -32768;
  return static_cast<std::int16_t>(r);
}

void ChannelRange(const TEQEngine& e, TMMChannel channel, int& first, int& last) {
  first = 0, last = e.channels - 1;
  if (channel == chLeft) first = last = 0;
  if (channel == chRight) first = last = e.channels == 2 ? 1 : 0;
}

// Filters one block of B frames from in to out (both interleaved).
void FilterBlock(TEQEngine& e, TMMChannel channel, const std::int16_t* in, std::int16_t* out) {
  const int ch = e.channels, b = e.block, n = e.f;
  int first, last;
  ChannelRange(e, channel, first, last);
  const bool left = first == 0, right = ch == 2 && last == 1;
  float* zr = e.zre.data();
  float* zi = e.zim.data();
  for (int j = 0; j < b; ++j) {
    zr[j] = left ? in[j * ch] : 0.0f;
    zi[j] = right ? in[j * ch + 1] : 0.0f;
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
  float* tr = e.tailRe.data();
  float* ti = e.tailIm.data();
  for (int j = 0; j < b; ++j) {
    if (left) out[j * ch] = Clip(zr[j] + tr[j], e.clipped);
    if (right) out[j * ch + 1] = Clip(zi[j] + ti[j], e.clipped);
    tr[j] = zr[b + j];
    ti[j] = zi[b + j];
  }
  // A channel that is not filtered is delayed as much as the filtered one.
  for (int c = 0; c < ch; ++c) {
    if ((c == 0 && left) || (c == 1 && right)) continue;
    std::vector<std::int16_t>& d = e.held[c];
    const int L = e.latency;
    for (int j = 0; j < b; ++j) {
      out[j * ch + c] = j < L ? d[static_cast<std::size_t>(j)] : in[(j - L) * ch + c];
    }
    for (int j = 0; j < L; ++j) d[static_cast<std::size_t>(j)] = in[(b - L + j) * ch + c];
  }
}

void ReserveOut(TEQEngine& e, std::size_t samples) {
  if (e.outHead > 0 && e.outHead + e.outFill + samples > e.outq.size()) {
    std::memmove(e.outq.data(), e.outq.data() + e.outHead, e.outFill * 2);
    e.outHead = 0;
  }
  if (e.outFill + samples > e.outq.size()) e.outq.resize(e.outFill + samples);
}

// Filters every whole block in the input queue.
void RunBlocks(TEQEngine& e, TMMChannel channel) {
  const std::size_t blockSamples = static_cast<std::size_t>(e.block) * e.channels;
  std::size_t used = 0;
  while (e.inFill - used >= blockSamples) {
    ReserveOut(e, blockSamples);
    FilterBlock(e, channel, e.inq.data() + used, e.outq.data() + e.outHead + e.outFill);
    e.outFill += blockSamples;
    e.outFrames += e.block;
    used += blockSamples;
  }
  if (used) {
    std::memmove(e.inq.data(), e.inq.data() + used, (e.inFill - used) * 2);
    e.inFill -= used;
  }
}

}  // namespace

PEQEngine eqCreate(const TWaveFormatEx* pwfx, int /*fftLength*/, int maxBufSize) {
  if (!pwfx || pwfx->nChannels < 1 || pwfx->nChannels > 2 || pwfx->nSamplesPerSec == 0)
    return nullptr;
  const int rate = static_cast<int>(std::min<std::uint32_t>(pwfx->nSamplesPerSec, 1000000));
  const int n = TransformSizeFor(rate);
  try {
    auto* e = new TEQEngine(n);
    e->rate = rate;
    e->channels = pwfx->nChannels;
    e->f = n;
    e->block = n / 2;
    e->latency = n / 4;
    e->hre.assign(n, 0.0f);
    e->him.assign(n, 0.0f);
    e->zre.assign(n, 0.0f);
    e->zim.assign(n, 0.0f);
    e->tailRe.assign(e->block, 0.0f);
    e->tailIm.assign(e->block, 0.0f);
    for (auto& h : e->held) h.assign(e->latency, 0);
    const std::size_t q = static_cast<std::size_t>(std::max(maxBufSize, 0)) / 2 +
                          static_cast<std::size_t>(e->block) * e->channels;
    e->inq.assign(q, 0);
    e->outq.assign(2 * q, 0);
    eqReset(e);
    Design(*e);
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
  if (!std::isfinite(gain)) gain = 0;
  if (!std::isfinite(upper)) upper = 0;
  if (!std::isfinite(lower)) lower = 0;
  std::lock_guard guard(eq->lock);
  const float nyq = static_cast<float>(eq->rate / 2.0);
  if (std::min(lower, upper) <= 0 && std::max(lower, upper) >= nyq) {
    eq->bands.clear();
    eq->baseGain = gain;
  } else {
    auto same = std::find_if(eq->bands.begin(), eq->bands.end(), [&](const TEQBand& b) {
      return std::min(b.lower, b.upper) == std::min(lower, upper) &&
             std::max(b.lower, b.upper) == std::max(lower, upper);
    });
    if (same != eq->bands.end()) eq->bands.erase(same);
    eq->bands.push_back({lower, upper, gain});
  }
  Design(*eq);
}

void eqSetBands(PEQEngine eq, const TEQBand* bands, int count) {
  if (!eq) return;
  std::lock_guard guard(eq->lock);
  eq->bands.clear();
  eq->baseGain = 0;
  for (int i = 0; i < count; ++i) {
    TEQBand b = bands[i];
    if (!std::isfinite(b.gain)) b.gain = 0;
    if (!std::isfinite(b.lower) || !std::isfinite(b.upper)) continue;
    eq->bands.push_back(b);
  }
  Design(*eq);
}

void eqReset(PEQEngine eq) {
  if (!eq) return;
  eq->inFill = eq->outHead = eq->outFill = 0;
  eq->inFrames = eq->outFrames = eq->clipped = 0;
  eq->finished = false;
  eq->pushLead = eq->block;
  std::fill(eq->tailRe.begin(), eq->tailRe.end(), 0.0f);
  std::fill(eq->tailIm.begin(), eq->tailIm.end(), 0.0f);
  for (auto& h : eq->held) std::fill(h.begin(), h.end(), 0);
}

bool eqWrite(PEQEngine eq, TMMChannel channel, const void* data, int bytes) {
  if (!eq || !data || bytes <= 0 || eq->finished) return false;
  const std::int64_t before = eq->clipped;
  const std::size_t samples = static_cast<std::size_t>(bytes / (2 * eq->channels)) * eq->channels;
  const auto* p = static_cast<const std::int16_t*>(data);
  const std::size_t blockSamples = static_cast<std::size_t>(eq->block) * eq->channels;
  std::size_t done = 0;
  // In pieces that fit the input queue (it never grows).
  while (done < samples) {
    const std::size_t room = eq->inq.size() - eq->inFill;
    const std::size_t n = std::min(room, samples - done);
    std::memcpy(eq->inq.data() + eq->inFill, p + done, n * 2);
    eq->inFill += n;
    done += n;
    if (eq->inFill >= blockSamples) RunBlocks(*eq, channel);
  }
  eq->inFrames += static_cast<std::int64_t>(samples / eq->channels);
  return eq->clipped != before;
}

bool eqFinish(PEQEngine eq, TMMChannel channel) {
  if (!eq || eq->finished) return false;
  const std::int64_t before = eq->clipped;
  const std::int64_t want = eq->inFrames + eq->latency;
  const std::size_t blockSamples = static_cast<std::size_t>(eq->block) * eq->channels;
  while (eq->outFrames < want) {
    std::fill(eq->inq.begin() + static_cast<std::ptrdiff_t>(eq->inFill),
              eq->inq.begin() + static_cast<std::ptrdiff_t>(blockSamples), 0);
    eq->inFill = blockSamples;
    RunBlocks(*eq, channel);
  }
  // The zeros that completed the last block are no output.
  const std::size_t extra = static_cast<std::size_t>(eq->outFrames - want) * eq->channels;
  eq->outFill -= std::min(extra, eq->outFill);
  eq->outFrames = want;
  eq->inFill = 0;
  eq->finished = true;
  return eq->clipped != before;
}

int eqRead(PEQEngine eq, void* data, int bytes) {
  if (!eq || !data || bytes <= 0) return 0;
  const std::size_t n =
      std::min(eq->outFill, static_cast<std::size_t>(bytes / (2 * eq->channels)) * eq->channels);
  std::memcpy(data, eq->outq.data() + eq->outHead, n * 2);
  eq->outHead += n;
  eq->outFill -= n;
  if (eq->outFill == 0) eq->outHead = 0;
  return static_cast<int>(n * 2);
}

int eqAvailable(PEQEngine eq) {
  return eq ? static_cast<int>(std::min<std::size_t>(eq->outFill * 2, 1u << 30)) : 0;
}

bool eqProcess(PEQEngine eq, TMMChannel channel, void* data, int bytes) {
  if (!eq || !data || bytes <= 0) return false;
  bytes -= bytes % (2 * eq->channels);
  const bool clipped = eqWrite(eq, channel, data, bytes);
  // The stream is held back by one block: after that every buffer finds its filtered samples
  // ready, whatever its size, so silence comes only at the start.
  const int frameBytes = 2 * eq->channels;
  const std::int64_t leadBytes = std::min<std::int64_t>(bytes, eq->pushLead * frameBytes);
  const int lead = static_cast<int>(leadBytes);
  eq->pushLead -= lead / frameBytes;
  auto* p = static_cast<char*>(data);
  std::memset(p, 0, static_cast<std::size_t>(lead));
  const int got = eqRead(eq, p + lead, bytes - lead);
  std::memset(p + lead + got, 0, static_cast<std::size_t>(bytes - lead - got));
  return clipped;
}

int eqTransformSize(PEQEngine eq) {
  return eq ? eq->f : 0;
}

int eqLatency(PEQEngine eq) {
  return eq ? eq->latency : 0;
}

std::int64_t eqClippedSamples(PEQEngine eq) {
  return eq ? eq->clipped : 0;
}

double eqTargetGain(PEQEngine eq, double hz) {
  if (!eq) return 0;
  std::lock_guard guard(eq->lock);
  return std::pow(10.0, TargetDb(*eq, hz) / 20);
}

double eqResponse(PEQEngine eq, double hz) {
  if (!eq) return 0;
  std::lock_guard guard(eq->lock);
  std::complex<double> acc = 0;
  const double w = 2 * M_PI * hz / eq->rate;
  for (std::size_t j = 0; j < eq->taps.size(); ++j)
    acc += eq->taps[j] * std::polar(1.0, -w * static_cast<double>(j));
  return std::abs(acc);
}
