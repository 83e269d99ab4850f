/* The audio compression manager (MSACM32.DLL, built as libmsacm32.so).
 *
 * Drivers, in priority order: the PCM converter (8/16-bit, mono/stereo, any rate 8000..48000 Hz;
 * one stream changes the rate or the bits, each with the channels, not rate and bits together),
 * then the codecs CCITT A-law (6), CCITT u-law (7), IMA ADPCM (17), Microsoft ADPCM (2) and
 * GSM 6.10 (49, mono). A codec converts only between its format and 16-bit PCM of the same rate
 * and channels; other conversions take several streams, planned by the caller with
 * acmFormatSuggest. Conversion is synchronous: acmStreamConvert returns with the header done.
 * Layouts follow the platform's: WAVEFORMATEX packed (18 bytes + cbSize extra bytes), the other
 * records with natural alignment for this machine (pointers are 64-bit). Format tag constants
 * are in mmreg.h beside this file. */
#ifndef QL_MSACM_H
#define QL_MSACM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t MMRESULT;

/* Result codes and callback kinds are constants rather than macros, so that headers with
 * constants of the same names in a namespace of their own can be included beside this one. */
static const MMRESULT MMSYSERR_NOERROR = 0;
static const MMRESULT MMSYSERR_ERROR = 1;
static const MMRESULT MMSYSERR_BADDEVICEID = 2;
static const MMRESULT MMSYSERR_NOTENABLED = 3;
static const MMRESULT MMSYSERR_ALLOCATED = 4;
static const MMRESULT MMSYSERR_INVALHANDLE = 5;
static const MMRESULT MMSYSERR_NODRIVER = 6;
static const MMRESULT MMSYSERR_NOMEM = 7;
static const MMRESULT MMSYSERR_NOTSUPPORTED = 8;
static const MMRESULT MMSYSERR_INVALFLAG = 10;
static const MMRESULT MMSYSERR_INVALPARAM = 11;

static const MMRESULT ACMERR_BASE = 512;
static const MMRESULT ACMERR_NOTPOSSIBLE = 512;
static const MMRESULT ACMERR_BUSY = 513;
static const MMRESULT ACMERR_UNPREPARED = 514;
static const MMRESULT ACMERR_CANCELED = 515;

typedef struct HACMDRIVERID__* HACMDRIVERID;
typedef struct HACMDRIVER__* HACMDRIVER;
typedef struct HACMSTREAM__* HACMSTREAM;
typedef void* HACMOBJ;
typedef HACMDRIVER* LPHACMDRIVER;
typedef HACMSTREAM* LPHACMSTREAM;

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize; /* extra bytes that follow */
} WAVEFORMATEX, *LPWAVEFORMATEX;
#pragma pack(pop)

typedef struct tWAVEFILTER {
  uint32_t cbStruct;
  uint32_t dwFilterTag;
  uint32_t fdwFilter;
  uint32_t dwReserved[5];
} WAVEFILTER, *LPWAVEFILTER;

/* ---- version and metrics ---- */

/* 0xMMmmBBBB: major, minor, build. */
uint32_t acmGetVersion(void);

#define ACM_METRIC_COUNT_DRIVERS 1
#define ACM_METRIC_COUNT_CODECS 2
#define ACM_METRIC_COUNT_CONVERTERS 3
#define ACM_METRIC_COUNT_FILTERS 4
#define ACM_METRIC_COUNT_DISABLED 5
#define ACM_METRIC_COUNT_HARDWARE 6
#define ACM_METRIC_COUNT_LOCAL_DRIVERS 20
#define ACM_METRIC_COUNT_LOCAL_CODECS 21
#define ACM_METRIC_COUNT_LOCAL_CONVERTERS 22
#define ACM_METRIC_COUNT_LOCAL_FILTERS 23
#define ACM_METRIC_COUNT_LOCAL_DISABLED 24
#define ACM_METRIC_MAX_SIZE_FORMAT 50
#define ACM_METRIC_MAX_SIZE_FILTER 51
#define ACM_METRIC_DRIVER_SUPPORT 100
#define ACM_METRIC_DRIVER_PRIORITY 101

/* pMetric points to a uint32_t. hao is NULL, or a driver id / driver handle for the driver's own
 * values (MAX_SIZE_FORMAT, DRIVER_SUPPORT, DRIVER_PRIORITY). */
MMRESULT acmMetrics(HACMOBJ hao, unsigned uMetric, void* pMetric);

/* ---- drivers ---- */

#define ACMDRIVERDETAILS_SUPPORTF_CODEC 0x00000001u
#define ACMDRIVERDETAILS_SUPPORTF_CONVERTER 0x00000002u
#define ACMDRIVERDETAILS_SUPPORTF_FILTER 0x00000004u
#define ACMDRIVERDETAILS_SUPPORTF_HARDWARE 0x00000008u
#define ACMDRIVERDETAILS_SUPPORTF_ASYNC 0x00000010u
#define ACMDRIVERDETAILS_SUPPORTF_LOCAL 0x40000000u
#define ACMDRIVERDETAILS_SUPPORTF_DISABLED 0x80000000u

#define ACMDRIVERDETAILS_SHORTNAME_CHARS 32
#define ACMDRIVERDETAILS_LONGNAME_CHARS 128
#define ACMDRIVERDETAILS_COPYRIGHT_CHARS 80
#define ACMDRIVERDETAILS_LICENSING_CHARS 128
#define ACMDRIVERDETAILS_FEATURES_CHARS 512

typedef struct tACMDRIVERDETAILSA {
  uint32_t cbStruct; /* in: bytes the caller provides; out: bytes filled */
  uint32_t fccType;  /* 'audc' */
  uint32_t fccComp;
  uint16_t wMid;
  uint16_t wPid;
  uint32_t vdwACM;
  uint32_t vdwDriver;
  uint32_t fdwSupport;
  uint32_t cFormatTags;
  uint32_t cFilterTags;
  void* hicon;
  char szShortName[ACMDRIVERDETAILS_SHORTNAME_CHARS];
  char szLongName[ACMDRIVERDETAILS_LONGNAME_CHARS];
  char szCopyright[ACMDRIVERDETAILS_COPYRIGHT_CHARS];
  char szLicensing[ACMDRIVERDETAILS_LICENSING_CHARS];
  char szFeatures[ACMDRIVERDETAILS_FEATURES_CHARS];
} ACMDRIVERDETAILSA, *LPACMDRIVERDETAILSA;

/* Return nonzero to go on. */
typedef int (*ACMDRIVERENUMCB)(HACMDRIVERID hadid, uintptr_t dwInstance, uint32_t fdwSupport);

#define ACM_DRIVERENUMF_NOLOCAL 0x40000000u
#define ACM_DRIVERENUMF_DISABLED 0x80000000u

MMRESULT acmDriverEnum(ACMDRIVERENUMCB fnCallback, uintptr_t dwInstance, uint32_t fdwEnum);
MMRESULT acmDriverDetailsA(HACMDRIVERID hadid, LPACMDRIVERDETAILSA padd, uint32_t fdwDetails);
MMRESULT acmDriverOpen(LPHACMDRIVER phad, HACMDRIVERID hadid, uint32_t fdwOpen);
MMRESULT acmDriverClose(HACMDRIVER had, uint32_t fdwClose);
/* The driver id of a driver handle, stream handle or driver id. */
MMRESULT acmDriverID(HACMOBJ hao, HACMDRIVERID* phadid, uint32_t fdwDriverID);

/* ---- format tags and formats ---- */

#define ACMFORMATTAGDETAILS_FORMATTAG_CHARS 48
#define ACMFORMATDETAILS_FORMAT_CHARS 128

typedef struct tACMFORMATTAGDETAILSA {
  uint32_t cbStruct;
  uint32_t dwFormatTagIndex;
  uint32_t dwFormatTag;
  uint32_t cbFormatSize; /* largest format of this tag */
  uint32_t fdwSupport;
  uint32_t cStandardFormats;
  char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
} ACMFORMATTAGDETAILSA, *LPACMFORMATTAGDETAILSA;

typedef struct tACMFORMATDETAILSA {
  uint32_t cbStruct;
  uint32_t dwFormatIndex;
  uint32_t dwFormatTag;
  uint32_t fdwSupport;
  LPWAVEFORMATEX pwfx; /* caller's buffer of cbwfx bytes */
  uint32_t cbwfx;
  char szFormat[ACMFORMATDETAILS_FORMAT_CHARS]; /* "44.100 kHz, 16 Bit, Stereo" */
} ACMFORMATDETAILSA, *LPACMFORMATDETAILSA;

#define ACM_FORMATTAGDETAILSF_INDEX 0x00000000u
#define ACM_FORMATTAGDETAILSF_FORMATTAG 0x00000001u
#define ACM_FORMATTAGDETAILSF_LARGESTSIZE 0x00000002u

#define ACM_FORMATDETAILSF_INDEX 0x00000000u
#define ACM_FORMATDETAILSF_FORMAT 0x00000001u

/* Restrictions for acmFormatEnumA: the WFORMATTAG/NCHANNELS/NSAMPLESPERSEC/WBITSPERSAMPLE bits
 * keep formats whose field equals pafd->pwfx's; CONVERT lists what pwfx converts to in one
 * stream, SUGGEST what acmFormatSuggest would give for it; INPUT/OUTPUT keep formats a driver
 * reads / writes. */
#define ACM_FORMATENUMF_WFORMATTAG 0x00010000u
#define ACM_FORMATENUMF_NCHANNELS 0x00020000u
#define ACM_FORMATENUMF_NSAMPLESPERSEC 0x00040000u
#define ACM_FORMATENUMF_WBITSPERSAMPLE 0x00080000u
#define ACM_FORMATENUMF_CONVERT 0x00100000u
#define ACM_FORMATENUMF_SUGGEST 0x00200000u
#define ACM_FORMATENUMF_HARDWARE 0x00400000u
#define ACM_FORMATENUMF_INPUT 0x00800000u
#define ACM_FORMATENUMF_OUTPUT 0x01000000u

typedef int (*ACMFORMATTAGENUMCBA)(HACMDRIVERID hadid, LPACMFORMATTAGDETAILSA paftd,
                                   uintptr_t dwInstance, uint32_t fdwSupport);
typedef int (*ACMFORMATENUMCBA)(HACMDRIVERID hadid, LPACMFORMATDETAILSA pafd, uintptr_t dwInstance,
                                uint32_t fdwSupport);

MMRESULT acmFormatTagDetailsA(HACMDRIVER had, LPACMFORMATTAGDETAILSA paftd, uint32_t fdwDetails);
MMRESULT acmFormatTagEnumA(HACMDRIVER had, LPACMFORMATTAGDETAILSA paftd,
                           ACMFORMATTAGENUMCBA fnCallback, uintptr_t dwInstance, uint32_t fdwEnum);
MMRESULT acmFormatDetailsA(HACMDRIVER had, LPACMFORMATDETAILSA pafd, uint32_t fdwDetails);
MMRESULT acmFormatEnumA(HACMDRIVER had, LPACMFORMATDETAILSA pafd, ACMFORMATENUMCBA fnCallback,
                        uintptr_t dwInstance, uint32_t fdwEnum);

#define ACM_FORMATSUGGESTF_WFORMATTAG 0x00010000u
#define ACM_FORMATSUGGESTF_NCHANNELS 0x00020000u
#define ACM_FORMATSUGGESTF_NSAMPLESPERSEC 0x00040000u
#define ACM_FORMATSUGGESTF_WBITSPERSAMPLE 0x00080000u
#define ACM_FORMATSUGGESTF_TYPEMASK 0x00FF0000u

/* Fills pwfxDst (cbwfxDst bytes) with a format that one stream converts pwfxSrc to; the fields
 * named by the flags are taken from pwfxDst as given. */
MMRESULT acmFormatSuggest(HACMDRIVER had, LPWAVEFORMATEX pwfxSrc, LPWAVEFORMATEX pwfxDst,
                          uint32_t cbwfxDst, uint32_t fdwSuggest);

/* ---- conversion streams ---- */

#define ACM_STREAMOPENF_QUERY 0x00000001u
#define ACM_STREAMOPENF_ASYNC 0x00000002u
#define ACM_STREAMOPENF_NONREALTIME 0x00000004u /* the best quality, whatever it costs */

static const uint32_t CALLBACK_TYPEMASK = 0x00070000u;
static const uint32_t CALLBACK_NULL = 0x00000000u;

#define ACM_STREAMSIZEF_SOURCE 0x00000000u
#define ACM_STREAMSIZEF_DESTINATION 0x00000001u
#define ACM_STREAMSIZEF_QUERYMASK 0x0000000Fu

#define ACM_STREAMCONVERTF_BLOCKALIGN 0x00000004u
#define ACM_STREAMCONVERTF_START 0x00000010u
#define ACM_STREAMCONVERTF_END 0x00000020u

#define ACMSTREAMHEADER_STATUSF_DONE 0x00010000u
#define ACMSTREAMHEADER_STATUSF_PREPARED 0x00020000u
#define ACMSTREAMHEADER_STATUSF_INQUEUE 0x00100000u

typedef struct tACMSTREAMHEADER {
  uint32_t cbStruct;
  uint32_t fdwStatus;
  uintptr_t dwUser;
  uint8_t* pbSrc;
  uint32_t cbSrcLength;
  uint32_t cbSrcLengthUsed;
  uintptr_t dwSrcUser;
  uint8_t* pbDst;
  uint32_t cbDstLength;
  uint32_t cbDstLengthUsed;
  uintptr_t dwDstUser;
  uint32_t dwReservedDriver[10];
} ACMSTREAMHEADER, *LPACMSTREAMHEADER;

/* pwfltr must be NULL (no filters). Callbacks other than CALLBACK_NULL and ASYNC are refused
 * with ACMERR_NOTPOSSIBLE; so is any pair of formats that no single driver converts. */
MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, LPWAVEFORMATEX pwfxSrc,
                       LPWAVEFORMATEX pwfxDst, LPWAVEFILTER pwfltr, uintptr_t dwCallback,
                       uintptr_t dwInstance, uint32_t fdwOpen);
MMRESULT acmStreamClose(HACMSTREAM has, uint32_t fdwClose);
MMRESULT acmStreamSize(HACMSTREAM has, uint32_t cbInput, uint32_t* pdwOutputBytes,
                       uint32_t fdwSize);
/* Drops the state of a stream (resampler history, bytes held for the end). */
MMRESULT acmStreamReset(HACMSTREAM has, uint32_t fdwReset);
/* Converts pbSrc[0, cbSrcLength) into pbDst; cbSrcLengthUsed tells how much source was taken
 * (the rest is the caller's to give again), cbDstLengthUsed how much was written. END flushes
 * what the stream still holds (a resampler's tail); call it until it writes nothing. */
MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, uint32_t fdwConvert);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, uint32_t fdwPrepare);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, uint32_t fdwUnprepare);

/* Function pointer types for run-time binding by name. */
typedef uint32_t (*ACMGETVERSION)(void);
typedef MMRESULT (*ACMMETRICS)(HACMOBJ, unsigned, void*);
typedef MMRESULT (*ACMFORMATSUGGEST)(HACMDRIVER, LPWAVEFORMATEX, LPWAVEFORMATEX, uint32_t,
                                     uint32_t);
typedef MMRESULT (*ACMFORMATTAGENUMA)(HACMDRIVER, LPACMFORMATTAGDETAILSA, ACMFORMATTAGENUMCBA,
                                      uintptr_t, uint32_t);
typedef MMRESULT (*ACMFORMATENUMA)(HACMDRIVER, LPACMFORMATDETAILSA, ACMFORMATENUMCBA, uintptr_t,
                                   uint32_t);
typedef MMRESULT (*ACMFORMATTAGDETAILSAPROC)(HACMDRIVER, LPACMFORMATTAGDETAILSA, uint32_t);
typedef MMRESULT (*ACMFORMATDETAILSAPROC)(HACMDRIVER, LPACMFORMATDETAILSA, uint32_t);
typedef MMRESULT (*ACMSTREAMOPEN)(LPHACMSTREAM, HACMDRIVER, LPWAVEFORMATEX, LPWAVEFORMATEX,
                                  LPWAVEFILTER, uintptr_t, uintptr_t, uint32_t);
typedef MMRESULT (*ACMSTREAMCLOSE)(HACMSTREAM, uint32_t);
typedef MMRESULT (*ACMSTREAMSIZE)(HACMSTREAM, uint32_t, uint32_t*, uint32_t);
typedef MMRESULT (*ACMSTREAMRESET)(HACMSTREAM, uint32_t);
typedef MMRESULT (*ACMSTREAMCONVERT)(HACMSTREAM, LPACMSTREAMHEADER, uint32_t);
typedef MMRESULT (*ACMSTREAMPREPAREHEADER)(HACMSTREAM, LPACMSTREAMHEADER, uint32_t);
typedef MMRESULT (*ACMSTREAMUNPREPAREHEADER)(HACMSTREAM, LPACMSTREAMHEADER, uint32_t);

#ifdef __cplusplus
}
#endif

#endif
