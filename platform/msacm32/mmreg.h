/* Wave format tags and the extended format records of the codecs the compression manager has. */
#ifndef QL_MMREG_H
#define QL_MMREG_H

#include "msacm.h"

#define WAVE_FORMAT_PCM 1
#define WAVE_FORMAT_ADPCM 2
#define WAVE_FORMAT_ALAW 6
#define WAVE_FORMAT_MULAW 7
#define WAVE_FORMAT_IMA_ADPCM 17
#define WAVE_FORMAT_GSM610 49
#define WAVE_FORMAT_MPEGLAYER3 85

#pragma pack(push, 1)
typedef struct {
  int16_t iCoef1;
  int16_t iCoef2;
} ADPCMCOEFSET;

/* cbSize 32 for the seven standard coefficient pairs. */
typedef struct {
  WAVEFORMATEX wfx;
  uint16_t wSamplesPerBlock;
  uint16_t wNumCoef;
  ADPCMCOEFSET aCoef[7];
} ADPCMWAVEFORMAT;

/* IMA ADPCM and GSM 6.10: cbSize 2. */
typedef struct {
  WAVEFORMATEX wfx;
  uint16_t wSamplesPerBlock;
} IMAADPCMWAVEFORMAT, GSM610WAVEFORMAT;
#pragma pack(pop)

#endif
