#include "AcmCodecs.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace acm {

namespace {

int Clamp16(int v) {
  return std::clamp(v, -32768, 32767);
}

}  // namespace

// ---- G.711 ----

uint8_t LinearToAlaw(int16_t s) {
  static const int segEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
  int v = s >> 3, mask;
  if (v >= 0) {
    mask = 0xD5;
  } else {
    mask = 0x55;
    v = -v - 1;
  }
  int seg = 0;
  while (seg < 8 && v > segEnd[seg]) ++seg;
  if (seg >= 8) return uint8_t(0x7F ^ mask);
  int a = seg << 4;
  a |= seg < 2 ? (v >> 1) & 0x0F : (v >> seg) & 0x0F;
  return uint8_t(a ^ mask);
}

int16_t AlawToLinear(uint8_t a) {
  a ^= 0x55;
  int t = (a & 0x0F) << 4;
  const int seg = (a & 0x70) >> 4;
  if (seg == 0)
    t += 8;
  else
    t = (t + 0x108) << (seg - 1);
  return int16_t((a & 0x80) ? t : -t);
}

uint8_t LinearToMulaw(int16_t s) {
  static const int segEnd[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
  int v = s >> 2, mask;
  if (v < 0) {
    v = -v;
    mask = 0x7F;
  } else {
    mask = 0xFF;
  }
  v = std::min(v, 8159) + 0x21;
  int seg = 0;
  while (seg < 8 && v > segEnd[seg]) ++seg;
  if (seg >= 8) return uint8_t(0x7F ^ mask);
  return uint8_t(((seg << 4) | ((v >> (seg + 1)) & 0x0F)) ^ mask);
}

int16_t MulawToLinear(uint8_t u) {
  u = uint8_t(~u);
  int t = ((u & 0x0F) << 3) + 0x84;
  t <<= (u & 0x70) >> 4;
  return int16_t((u & 0x80) ? 0x84 - t : t - 0x84);
}

// ---- IMA ADPCM ----

namespace {

const int kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int kImaIndex[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

struct ImaChannel {
  int pred = 0;
  int index = 0;

  int Decode(int nib) {
    const int step = kImaSteps[index];
    int diff = step >> 3;
    if (nib & 4) diff += step;
    if (nib & 2) diff += step >> 1;
    if (nib & 1) diff += step >> 2;
    pred = Clamp16(nib & 8 ? pred - diff : pred + diff);
    index = std::clamp(index + kImaIndex[nib & 7], 0, 88);
    return pred;
  }

  int Encode(int sample) {
    int diff = sample - pred, nib = 0;
    if (diff < 0) {
      nib = 8;
      diff = -diff;
    }
    int step = kImaSteps[index];
    if (diff >= step) {
      nib |= 4;
      diff -= step;
    }
    step >>= 1;
    if (diff >= step) {
      nib |= 2;
      diff -= step;
    }
    step >>= 1;
    if (diff >= step) nib |= 1;
    Decode(nib);  // follow the decoder exactly
    return nib;
  }
};

void PutLe16(uint8_t* p, int v) {
  p[0] = uint8_t(v & 0xFF);
  p[1] = uint8_t((v >> 8) & 0xFF);
}
int GetLe16(const uint8_t* p) {
  return int16_t(uint16_t(p[0] | (p[1] << 8)));
}

}  // namespace

void ImaEncodeBlock(const int16_t* in, unsigned ch, unsigned spb, unsigned blockAlign, uint8_t* out,
                    ImaState& state) {
  std::memset(out, 0, blockAlign);
  ImaChannel c[2];
  for (unsigned k = 0; k < ch; ++k) {
    c[k].pred = in[k];
    c[k].index = std::clamp(state.index[k], 0, 88);
    PutLe16(out + 4 * k, c[k].pred);
    out[4 * k + 2] = uint8_t(c[k].index);
  }
  // Groups of 8 samples per channel; mono is the same layout with one channel.
  const unsigned dataBytes = blockAlign - 4 * ch;
  for (unsigned i = 1; i < spb; ++i) {
    const unsigned n = i - 1, group = n / 8, within = n % 8;
    for (unsigned k = 0; k < ch; ++k) {
      const unsigned byte = group * 4 * ch + k * 4 + within / 2;
      if (byte >= dataBytes) continue;
      const int nib = c[k].Encode(in[i * ch + k]);
      out[4 * ch + byte] |= uint8_t(within & 1 ? nib << 4 : nib);
    }
  }
  for (unsigned k = 0; k < ch; ++k) state.index[k] = c[k].index;
}

void ImaDecodeBlock(const uint8_t* in, unsigned ch, unsigned spb, unsigned blockAlign,
                    int16_t* out) {
  ImaChannel c[2];
  for (unsigned k = 0; k < ch; ++k) {
    c[k].pred = GetLe16(in + 4 * k);
    c[k].index = std::min<int>(in[4 * k + 2], 88);
    out[k] = int16_t(c[k].pred);
  }
  const unsigned dataBytes = blockAlign - 4 * ch;
  for (unsigned i = 1; i < spb; ++i) {
    const unsigned n = i - 1, group = n / 8, within = n % 8;
    for (unsigned k = 0; k < ch; ++k) {
      const unsigned byte = group * 4 * ch + k * 4 + within / 2;
      int v = c[k].pred;
      if (byte < dataBytes) {
        const uint8_t b = in[4 * ch + byte];
        v = c[k].Decode(within & 1 ? b >> 4 : b & 0x0F);
      }
      out[i * ch + k] = int16_t(v);
    }
  }
}

// ---- Microsoft ADPCM ----

namespace {

const int kMsAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                          768, 614, 512, 409, 307, 230, 230, 230};

struct MsChannel {
  int coef1 = 0, coef2 = 0, delta = 16, s1 = 0, s2 = 0;

  int Predict() const { return (s1 * coef1 + s2 * coef2) / 256; }
  int Step(int nib) {  // nib: 4-bit code
    const int signedNib = nib & 8 ? nib - 16 : nib;
    // delta is kept far below overflow by the clamp below
    int v = Clamp16(Predict() + signedNib * delta);
    s2 = s1;
    s1 = v;
    delta = std::clamp((kMsAdapt[nib] * delta) / 256, 16, INT_MAX / 768);
    return v;
  }
  int Encode(int sample) {
    const int err = sample - Predict();
    int q = (err + (err >= 0 ? delta / 2 : -delta / 2)) / delta;
    q = std::clamp(q, -8, 7);
    const int nib = q & 0x0F;
    Step(nib);
    return nib;
  }
};

// Squared error of one channel of a block encoded with the given predictor and first delta;
// gives up (returns more than limit) once the error passes limit.
int64_t MsTrial(const int16_t* in, unsigned ch, unsigned k, unsigned spb, const ADPCMCOEFSET& c,
                int delta, int64_t limit) {
  MsChannel m;
  m.coef1 = c.iCoef1;
  m.coef2 = c.iCoef2;
  m.delta = delta;
  m.s2 = in[k];
  m.s1 = in[ch + k];
  int64_t err = 0;
  for (unsigned i = 2; i < spb; ++i) {
    m.Encode(in[i * ch + k]);
    const int64_t e = int64_t(in[i * ch + k]) - m.s1;
    err += e * e;
    if (err > limit) break;
  }
  return err;
}

// A first delta that suits the start of the block: half the mean prediction error of its
// first samples.
int FirstDelta(const int16_t* in, unsigned ch, unsigned k, unsigned spb, const ADPCMCOEFSET& c) {
  int64_t sum = 0;
  unsigned n = 0;
  for (unsigned i = 2; i < spb && n < 16; ++i, ++n) {
    const int pred = (in[(i - 1) * ch + k] * c.iCoef1 + in[(i - 2) * ch + k] * c.iCoef2) / 256;
    sum += std::abs(in[i * ch + k] - pred);
  }
  return n ? std::clamp(int(sum / n / 2), 16, 32767) : 16;
}

}  // namespace

void MsAdpcmEncodeBlock(const int16_t* in, unsigned ch, unsigned spb, unsigned blockAlign,
                        const ADPCMCOEFSET* coefs, unsigned numCoef, uint8_t* out) {
  std::memset(out, 0, blockAlign);
  MsChannel m[2];
  for (unsigned k = 0; k < ch; ++k) {
    // Try every predictor with first deltas around the one its start suggests, and keep the
    // closest block.
    int64_t best = INT64_MAX;
    unsigned bestCoef = 0;
    int bestDelta = 16;
    for (unsigned p = 0; p < numCoef; ++p) {
      const int d0 = FirstDelta(in, ch, k, spb, coefs[p]);
      for (int d : {d0, std::max(16, d0 / 4), std::min(32767, d0 * 4)}) {
        const int64_t e = MsTrial(in, ch, k, spb, coefs[p], d, best);
        if (e < best) {
          best = e;
          bestCoef = p;
          bestDelta = d;
        }
      }
    }
    m[k].coef1 = coefs[bestCoef].iCoef1;
    m[k].coef2 = coefs[bestCoef].iCoef2;
    m[k].delta = bestDelta;
    m[k].s2 = in[k];
    m[k].s1 = in[ch + k];
    out[k] = uint8_t(bestCoef);
    PutLe16(out + ch + 2 * k, bestDelta);
    PutLe16(out + 3 * ch + 2 * k, m[k].s1);
    PutLe16(out + 5 * ch + 2 * k, m[k].s2);
  }
  unsigned nibble = 0;  // index of the nibble after the header
  for (unsigned i = 2; i < spb; ++i) {
    for (unsigned k = 0; k < ch; ++k, ++nibble) {
      const unsigned byte = 7 * ch + nibble / 2;
      if (byte >= blockAlign) return;
      const int nib = m[k].Encode(in[i * ch + k]);
      out[byte] |= uint8_t(nibble & 1 ? nib : nib << 4);
    }
  }
}

void MsAdpcmDecodeBlock(const uint8_t* in, unsigned ch, unsigned spb, unsigned blockAlign,
                        const ADPCMCOEFSET* coefs, unsigned numCoef, int16_t* out) {
  MsChannel m[2];
  for (unsigned k = 0; k < ch; ++k) {
    const unsigned p = std::min<unsigned>(in[k], numCoef - 1);
    m[k].coef1 = coefs[p].iCoef1;
    m[k].coef2 = coefs[p].iCoef2;
    m[k].delta = std::max(GetLe16(in + ch + 2 * k), 16);
    m[k].s1 = GetLe16(in + 3 * ch + 2 * k);
    m[k].s2 = GetLe16(in + 5 * ch + 2 * k);
    out[k] = int16_t(m[k].s2);
    if (spb > 1) out[ch + k] = int16_t(m[k].s1);
  }
  unsigned nibble = 0;
  for (unsigned i = 2; i < spb; ++i) {
    for (unsigned k = 0; k < ch; ++k, ++nibble) {
      const unsigned byte = 7 * ch + nibble / 2;
      int v = m[k].s1;
      if (byte < blockAlign) v = m[k].Step(nibble & 1 ? in[byte] & 0x0F : in[byte] >> 4);
      out[i * ch + k] = int16_t(v);
    }
  }
}

}  // namespace acm
