/* The MPEG layer-3 encoder library (BLADEENC.DLL, built as libbladeenc.so).
 *
 * Usage: fill a BE_CONFIG, call beInitStream to learn the samples per chunk (16-bit samples,
 * interleaved for two channels) and the output buffer size; call beEncodeChunk with at most that
 * many samples per call (a short chunk only at the end), then beDeinitStream for the last frames
 * and beCloseStream. Every call returns BE_ERR_SUCCESSFUL (0) or one of the error codes below.
 * Handles may be used from any thread, one thread per stream at a time. */
#ifndef QL_BLADEENC_H
#define QL_BLADEENC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t HBE_STREAM;
typedef HBE_STREAM* PHBE_STREAM;
typedef uint32_t BE_ERR;

#define BE_ERR_SUCCESSFUL 0x00000000u
#define BE_ERR_INVALID_FORMAT 0x00000001u            /* dwConfig names no known format */
#define BE_ERR_INVALID_FORMAT_PARAMETERS 0x00000002u /* rate, mode or bit rate not supported */
#define BE_ERR_NO_MORE_HANDLES 0x00000003u
#define BE_ERR_INVALID_HANDLE 0x00000004u
#define BE_ERR_BUFFER_TOO_SMALL \
  0x00000005u /* more samples than one chunk, or an odd stereo count */

#define BE_CONFIG_MP3 0u

#define BE_MP3_MODE_STEREO 0
#define BE_MP3_MODE_JSTEREO 1
#define BE_MP3_MODE_DUALCHANNEL 2
#define BE_MP3_MODE_MONO 3

#pragma pack(push, 1)
/* 27 bytes used: kind, then the MP3 parameters. Booleans are 32-bit, -1 (or any non-zero) set. */
typedef struct {
  uint32_t dwConfig;
  union {
    struct {
      uint32_t dwSampleRate; /* 32000, 44100 or 48000 */
      uint8_t byMode;        /* BE_MP3_MODE_* */
      uint16_t wBitrate;     /* kbit/s: 32 40 48 56 64 80 96 112 128 160 192 224 256 320 */
      int32_t bPrivate;
      int32_t bCRC;
      int32_t bCopyright;
      int32_t bOriginal;
    } mp3;
  } format;
} BE_CONFIG, *PBE_CONFIG;

#define BE_MAX_HOMEPAGE 256
typedef struct {
  uint8_t byDLLMajorVersion;
  uint8_t byDLLMinorVersion;
  uint8_t byMajorVersion; /* of the encoder engine */
  uint8_t byMinorVersion;
  uint8_t byDay; /* release date of the library */
  uint8_t byMonth;
  uint16_t wYear;
  char zHomepage[BE_MAX_HOMEPAGE + 1];
} BE_VERSION, *PBE_VERSION;
#pragma pack(pop)

BE_ERR beInitStream(PBE_CONFIG pbeConfig, uint32_t* dwSamples, uint32_t* dwBufferSize,
                    PHBE_STREAM phbeStream);
BE_ERR beEncodeChunk(HBE_STREAM hbeStream, uint32_t nSamples, int16_t* pSamples, uint8_t* pOutput,
                     uint32_t* pdwOutput);
BE_ERR beDeinitStream(HBE_STREAM hbeStream, uint8_t* pOutput, uint32_t* pdwOutput);
BE_ERR beCloseStream(HBE_STREAM hbeStream);
void beVersion(PBE_VERSION pbeVersion);

/* Gapless playback (optional entry points: a caller that finds them may use them).
 * beInitStreamInfo is beInitStream for a stream whose first frame is a placeholder for an
 * information frame ("Info": encoder delay, padding, frame and byte counts). After
 * beDeinitStream, beInfoFrame fills pOutput (dwSize bytes) with that frame; the caller writes it
 * over the placeholder, which is the first frame of the stream and has the same size.
 * *pdwOutput is 0 for a stream that has no placeholder. */
BE_ERR beInitStreamInfo(PBE_CONFIG pbeConfig, uint32_t* dwSamples, uint32_t* dwBufferSize,
                        PHBE_STREAM phbeStream);
BE_ERR beInfoFrame(HBE_STREAM hbeStream, uint8_t* pOutput, uint32_t dwSize, uint32_t* pdwOutput);

/* Function pointer types for run-time binding by name. */
typedef BE_ERR (*BEINITSTREAM)(PBE_CONFIG, uint32_t*, uint32_t*, PHBE_STREAM);
typedef BE_ERR (*BEENCODECHUNK)(HBE_STREAM, uint32_t, int16_t*, uint8_t*, uint32_t*);
typedef BE_ERR (*BEDEINITSTREAM)(HBE_STREAM, uint8_t*, uint32_t*);
typedef BE_ERR (*BECLOSESTREAM)(HBE_STREAM);
typedef void (*BEVERSION)(PBE_VERSION);
typedef BE_ERR (*BEINFOFRAME)(HBE_STREAM, uint8_t*, uint32_t, uint32_t*);

#ifdef __cplusplus
}
#endif

#endif
