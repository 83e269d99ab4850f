#include "MMFFT.h"

#include <cmath>
#include <utility>

TMMFFT::TMMFFT(int n) : n_(n) {
  int bits = 0;
  while ((1 << bits) < n) ++bits;
  for (int i = 0; i < n; ++i) {
    int r = 0;
    for (int b = 0; b < bits; ++b)
      if (i & (1 << b)) r |= 1 << (bits - 1 - b);
    if (r > i) swaps_.emplace_back(i, r);
    rev_.push_back(r);
  }
  for (int len = 2; len <= n; len <<= 1) {
    for (int j = 0; j < len / 2; ++j) {
      const double a = -2.0 * M_PI * j / len;
      allr_.push_back(static_cast<float>(std::cos(a)));
      alli_.push_back(static_cast<float>(std::sin(a)));
    }
  }
  for (int len = 8; len <= n; len <<= 1) {
    const int half = len / 2;
    for (int j = 0; j < half; ++j) {
      const double a = -2.0 * M_PI * j / len;
      twr_.push_back(static_cast<float>(std::cos(a)));
      twi_.push_back(static_cast<float>(std::sin(a)));
    }
  }
}

void TMMFFT::Forward(float* __restrict re, float* __restrict im) const {
  const int n = n_;
  for (auto [a, b] : swaps_) {
    std::swap(re[a], re[b]);
    std::swap(im[a], im[b]);
  }
  // Lengths 2 and 4 have trivial twiddles (1 and -i).
  if (n >= 4) {
    for (int s = 0; s < n; s += 4) {
      float r0 = re[s] + re[s + 1], i0 = im[s] + im[s + 1];
      float r1 = re[s] - re[s + 1], i1 = im[s] - im[s + 1];
      float r2 = re[s + 2] + re[s + 3], i2 = im[s + 2] + im[s + 3];
      float r3 = re[s + 2] - re[s + 3], i3 = im[s + 2] - im[s + 3];
      re[s] = r0 + r2, im[s] = i0 + i2;
      re[s + 2] = r0 - r2, im[s + 2] = i0 - i2;
      // (r3 + i i3) * -i = i3 - i r3
      re[s + 1] = r1 + i3, im[s + 1] = i1 - r3;
      re[s + 3] = r1 - i3, im[s + 3] = i1 + r3;
    }
  } else if (n == 2) {
    float r = re[0] - re[1], i = im[0] - im[1];
    re[0] += re[1], im[0] += im[1];
    re[1] = r, im[1] = i;
    return;
  }
  const float* twr = twr_.data();
  const float* twi = twi_.data();
  for (int len = 8; len <= n; len <<= 1) {
    const int half = len / 2;
    for (int s = 0; s < n; s += len) {
      float* __restrict ar = re + s;
      float* __restrict ai = im + s;
      float* __restrict br = re + s + half;
      float* __restrict bi = im + s + half;
      for (int j = 0; j < half; ++j) {
        const float tr = br[j] * twr[j] - bi[j] * twi[j];
        const float ti = br[j] * twi[j] + bi[j] * twr[j];
        br[j] = ar[j] - tr;
        bi[j] = ai[j] - ti;
        ar[j] += tr;
        ai[j] += ti;
      }
    }
    twr += half;
    twi += half;
  }
}

void TMMFFT::Inverse(float* re, float* im) const {
  // The inverse is the forward transform with real and imaginary parts exchanged.
  Forward(im, re);
  const float scale = 1.0f / static_cast<float>(n_);
  for (int i = 0; i < n_; ++i) {
    re[i] *= scale;
    im[i] *= scale;
  }
}

void TMMFFT::ForwardToBitReversed(float* __restrict re, float* __restrict im,
                                  bool upperZero) const {
  const int n = n_;
  // Stage offsets into the tables: the stage of length len starts at len / 2 - 1.
  for (int len = n; len >= 8; len >>= 1) {
    const int half = len / 2;
    const float* wr = allr_.data() + half - 1;
    const float* wi = alli_.data() + half - 1;
    if (len == n && upperZero) {
      for (int j = 0; j < half; ++j) {
        const float ar = re[j], ai = im[j];
        re[j + half] = ar * wr[j] - ai * wi[j];
        im[j + half] = ar * wi[j] + ai * wr[j];
      }
      continue;
    }
    for (int s = 0; s < n; s += len) {
      float* __restrict ar = re + s;
      float* __restrict ai = im + s;
      float* __restrict br = re + s + half;
      float* __restrict bi = im + s + half;
      for (int j = 0; j < half; ++j) {
        const float dr = ar[j] - br[j], di = ai[j] - bi[j];
        ar[j] += br[j];
        ai[j] += bi[j];
        br[j] = dr * wr[j] - di * wi[j];
        bi[j] = dr * wi[j] + di * wr[j];
      }
    }
  }
  if (n < 4) {
    if (n == 2) {
      const float dr = re[0] - re[1], di = im[0] - im[1];
      re[0] += re[1], im[0] += im[1];
      re[1] = dr, im[1] = di;
    }
    return;
  }
  // The last two stages together: twiddles 1 and -i.
  for (int s = 0; s < n; s += 4) {
    if (n == 4 && upperZero) re[s + 2] = re[s + 3] = im[s + 2] = im[s + 3] = 0;
    const float y0r = re[s] + re[s + 2], y0i = im[s] + im[s + 2];
    const float y2r = re[s] - re[s + 2], y2i = im[s] - im[s + 2];
    const float y1r = re[s + 1] + re[s + 3], y1i = im[s + 1] + im[s + 3];
    const float y3r = im[s + 1] - im[s + 3], y3i = re[s + 3] - re[s + 1];
    re[s] = y0r + y1r, im[s] = y0i + y1i;
    re[s + 1] = y0r - y1r, im[s + 1] = y0i - y1i;
    re[s + 2] = y2r + y3r, im[s + 2] = y2i + y3i;
    re[s + 3] = y2r - y3r, im[s + 3] = y2i - y3i;
  }
}

void TMMFFT::InverseFromBitReversed(float* __restrict re, float* __restrict im) const {
  const int n = n_;
  if (n == 2) {
    const float dr = re[0] - re[1], di = im[0] - im[1];
    re[0] += re[1], im[0] += im[1];
    re[1] = dr, im[1] = di;
    return;
  }
  // The first two stages together: twiddles 1 and +i.
  for (int s = 0; s < n; s += 4) {
    const float y0r = re[s] + re[s + 1], y0i = im[s] + im[s + 1];
    const float y1r = re[s] - re[s + 1], y1i = im[s] - im[s + 1];
    const float y2r = re[s + 2] + re[s + 3], y2i = im[s + 2] + im[s + 3];
    const float t3r = im[s + 3] - im[s + 2], t3i = re[s + 2] - re[s + 3];
    re[s] = y0r + y2r, im[s] = y0i + y2i;
    re[s + 2] = y0r - y2r, im[s + 2] = y0i - y2i;
    re[s + 1] = y1r + t3r, im[s + 1] = y1i + t3i;
    re[s + 3] = y1r - t3r, im[s + 3] = y1i - t3i;
  }
  for (int len = 8; len <= n; len <<= 1) {
    const int half = len / 2;
    const float* wr = allr_.data() + half - 1;
    const float* wi = alli_.data() + half - 1;
    for (int s = 0; s < n; s += len) {
      float* __restrict ar = re + s;
      float* __restrict ai = im + s;
      float* __restrict br = re + s + half;
      float* __restrict bi = im + s + half;
      for (int j = 0; j < half; ++j) {
        // Conjugate twiddles.
        const float tr = br[j] * wr[j] + bi[j] * wi[j];
        const float ti = bi[j] * wr[j] - br[j] * wi[j];
        br[j] = ar[j] - tr;
        bi[j] = ai[j] - ti;
        ar[j] += tr;
        ai[j] += ti;
      }
    }
  }
}
