#pragma once
// The sample codecs of the drivers, one block at a time. Samples are 16-bit, interleaved by
// channel. Decoders take any bytes: a damaged block gives wrong sound, never a fault.
#include <cstdint>

#include "mmreg.h"

namespace acm {

uint8_t LinearToAlaw(int16_t s);
int16_t AlawToLinear(uint8_t a);
uint8_t LinearToMulaw(int16_t s);
int16_t MulawToLinear(uint8_t u);

// IMA ADPCM: a block is a 4-byte header per channel (first sample, step index), then groups of
// 4 bytes per channel in turn, 8 samples each, low nibble first.
struct ImaState {
  int index[2] = {0, 0};  // step index carried from block to block
};
void ImaEncodeBlock(const int16_t* in, unsigned channels, unsigned samplesPerBlock,
                    unsigned blockAlign, uint8_t* out, ImaState& state);
void ImaDecodeBlock(const uint8_t* in, unsigned channels, unsigned samplesPerBlock,
                    unsigned blockAlign, int16_t* out);

// Microsoft ADPCM: a block is the predictor index, delta, second and first sample per channel,
// then one nibble per sample (high nibble first, channels in turn).
void MsAdpcmEncodeBlock(const int16_t* in, unsigned channels, unsigned samplesPerBlock,
                        unsigned blockAlign, const ADPCMCOEFSET* coefs, unsigned numCoef,
                        uint8_t* out);
void MsAdpcmDecodeBlock(const uint8_t* in, unsigned channels, unsigned samplesPerBlock,
                        unsigned blockAlign, const ADPCMCOEFSET* coefs, unsigned numCoef,
                        int16_t* out);

}  // namespace acm
