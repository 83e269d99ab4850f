#pragma once
// The equalizer's filter engine: one linear-phase FIR filter designed from the band gains,
// applied by FFT fast convolution with overlap-add. Stereo is filtered as one complex signal
// (left real, right imaginary): the filter is real, so the two never mix.
//
// The response is a smooth curve through the band gains: each band's gain holds at its
// geometric centre, the curve bends between neighbouring centres in logarithmic frequency,
// and the outermost bands hold to 0 Hz and to half the sample rate. The filter is long
// enough (see eqLatency) that bands a few tens of hertz apart reach their own gains.
#include <cstdint>

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

struct TEQBand {
  float lower, upper, gain;  // Hz, Hz (either order), dB
};

// Returns none when memory runs out. `fftLength` is the stored length of the component; the
// engine's own transform size follows from the sample rate (eqTransformSize).
PEQEngine eqCreate(const TWaveFormatEx* pwfx, int fftLength, int maxBufSize);
void eqFree(PEQEngine eq);
void eqSetWindow(PEQEngine eq, TMMFFTWindow window);
// Sets one band (a band with the same edges is replaced); a band from 0 Hz to half the sample
// rate drops every band and sets the whole response to its gain.
void eqSetBand(PEQEngine eq, float gain, float upper, float lower);
// Replaces every band at once and redesigns once.
void eqSetBands(PEQEngine eq, const TEQBand* bands, int count);
void eqReset(PEQEngine eq);

// Streaming use (the chain's pulls): eqWrite takes samples and filters every whole block;
// eqFinish ends the stream (the rest and the filter's tail are filtered, so the output holds
// exactly the input's frames plus eqLatency frames); eqRead takes filtered bytes.
// eqWrite and eqFinish return true when an output sample was clipped.
bool eqWrite(PEQEngine eq, TMMChannel channel, const void* data, int bytes);
bool eqFinish(PEQEngine eq, TMMChannel channel);
int eqRead(PEQEngine eq, void* data, int bytes);
int eqAvailable(PEQEngine eq);

// In place, same byte count (pushed buffers): the stream comes out one transform block (F / 2
// frames of silence) plus eqLatency later. True when an output sample was clipped.
bool eqProcess(PEQEngine eq, TMMChannel channel, void* data, int bytes);

// Transform size of the fast convolution.
int eqTransformSize(PEQEngine eq);
// Delay of the filter in frames: output frame n + eqLatency answers input frame n.
int eqLatency(PEQEngine eq);
// Samples clipped since the engine was created or reset.
std::int64_t eqClippedSamples(PEQEngine eq);
// The wanted linear gain at frequency hz (the design's target, for tests and displays).
double eqTargetGain(PEQEngine eq, double hz);
// The designed filter's linear gain at frequency hz.
double eqResponse(PEQEngine eq, double hz);
