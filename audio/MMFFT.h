#pragma once
// Complex radix-2 FFT of a power-of-two length, on separate real and imaginary arrays.
#include <vector>

class TMMFFT {
 public:
  explicit TMMFFT(int n);
  int Size() const { return n_; }
  // In place, unscaled: X[k] = sum x[n] e^(-2 pi i k n / N).
  void Forward(float* re, float* im) const;
  // In place, scaled by 1/N.
  void Inverse(float* re, float* im) const;

  // The pair used for fast convolution, which never needs natural order in between:
  // natural order in, bit-reversed order out, unscaled; with upperZero the second half of the
  // input is taken as zero (and not read).
  void ForwardToBitReversed(float* re, float* im, bool upperZero) const;
  // Bit-reversed order in, natural order out, unscaled: N times the inverse.
  void InverseFromBitReversed(float* re, float* im) const;
  // The bit-reversed position of index k.
  int BitReversed(int k) const { return rev_[k]; }

 private:
  int n_;
  std::vector<std::pair<int, int>> swaps_;  // bit-reversal pairs
  std::vector<float> twr_, twi_;            // twiddles of every stage from 8, one after another
  std::vector<float> allr_, alli_;          // twiddles of every stage from 2
  std::vector<int> rev_;
};
