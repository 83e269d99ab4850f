#pragma once
// The equalizer's filter engine: one linear-phase FIR filter designed by frequency sampling from
// the band gains, applied by FFT fast convolution with overlap-add, channel by channel.
#include "MMUtils.h"

enum TMMFFTWindow {
  fwRectangular,
  fwHamming,
  fwHanning,
  fwBlackman,
  fwGaussian,
  fwWelch,
  fwParzen
};
enum TMMChannel { chBoth, chLeft, chRight };

struct TEQEngine;
using PEQEngine = TEQEngine*;

// Returns none when memory runs out. The transform size is the largest power of two not above
// min(fftLength, 1024).
PEQEngine eqCreate(const TWaveFormatEx* pwfx, int fftLength, int maxBufSize);
void eqFree(PEQEngine eq);
void eqSetWindow(PEQEngine eq, TMMFFTWindow window);
void eqSetBand(PEQEngine eq, float gain, float upper, float lower);
void eqReset(PEQEngine eq);
// Filters 16-bit samples in place; true when an output sample was clipped.
bool eqProcess(PEQEngine eq, TMMChannel channel, void* data, int bytes);
// Transform size N; the filter delays the signal by N / 4 frames.
int eqTransformSize(PEQEngine eq);
// The linear gain of bin k (for tests and displays).
float eqBinGain(PEQEngine eq, int k);
