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

 private:
  int n_;
  std::vector<std::pair<int, int>> swaps_;  // bit-reversal pairs
  std::vector<float> twr_, twi_;            // twiddles of every stage, one after another
};
