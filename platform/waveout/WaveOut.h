#pragma once
// Waveform audio output in the shape of the platform's waveOut functions, on ALSA.
//
// Devices: index 0 is ALSA's "default", then every playback PCM of ALSA's hints, then the
// devices added with AddAlsaDevice and AddMemoryDevice. WAVE_MAPPER (-1) is device 0.
//
// A device plays the headers written to it in order, on a thread of its own. Every header
// comes back (WHDR_DONE set, then the callback with WOM_DONE) once its samples have been
// played; waveOutReset returns all of them at once. The callback also gets WOM_OPEN before
// waveOutOpen returns and WOM_CLOSE from waveOutClose. Callbacks run on the device's thread;
// they may call waveOutWrite, waveOutPause, waveOutRestart, waveOutReset and
// waveOutGetPosition, but not waveOutClose.
#include <cstddef>
#include <cstdint>
#include <string>

namespace ql {

using MMRESULT = std::uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr std::uint32_t WAVE_MAPPER = 0xFFFFFFFFu;

// waveOutOpen flags
constexpr std::uint32_t WAVE_FORMAT_QUERY = 0x0001;  // only test the format, open nothing
constexpr std::uint32_t CALLBACK_NULL = 0x00000;
constexpr std::uint32_t CALLBACK_FUNCTION = 0x30000;

// Callback messages
constexpr std::uint32_t WOM_OPEN = 955;
constexpr std::uint32_t WOM_CLOSE = 956;
constexpr std::uint32_t WOM_DONE = 957;

// dwFlags of a header
constexpr std::uint32_t WHDR_DONE = 0x01;
constexpr std::uint32_t WHDR_PREPARED = 0x02;
constexpr std::uint32_t WHDR_BEGINLOOP = 0x04;  // accepted, not acted on
constexpr std::uint32_t WHDR_ENDLOOP = 0x08;
constexpr std::uint32_t WHDR_INQUEUE = 0x10;

// wFormatTag values the ALSA devices play
constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
constexpr std::uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;

// dwFormats bits of the capabilities (rate class, channels, bits)
constexpr std::uint32_t WAVE_FORMAT_1M08 = 0x001, WAVE_FORMAT_1S08 = 0x002,
                        WAVE_FORMAT_1M16 = 0x004, WAVE_FORMAT_1S16 = 0x008,
                        WAVE_FORMAT_2M08 = 0x010, WAVE_FORMAT_2S08 = 0x020,
                        WAVE_FORMAT_2M16 = 0x040, WAVE_FORMAT_2S16 = 0x080,
                        WAVE_FORMAT_4M08 = 0x100, WAVE_FORMAT_4S08 = 0x200,
                        WAVE_FORMAT_4M16 = 0x400, WAVE_FORMAT_4S16 = 0x800;

#pragma pack(push, 1)
// The platform's WAVEFORMATEX: packed, little-endian, 18 bytes.
struct WAVEFORMATEX {
  std::uint16_t wFormatTag;
  std::uint16_t nChannels;
  std::uint32_t nSamplesPerSec;
  std::uint32_t nAvgBytesPerSec;
  std::uint16_t nBlockAlign;
  std::uint16_t wBitsPerSample;
  std::uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// The platform's wave header. A chain's wave header that begins with these fields, in this
// layout, can be handed over as it is.
struct WAVEHDR {
  char* lpData;
  std::uint32_t dwBufferLength;  // bytes at lpData to play
  std::uint32_t dwBytesRecorded;
  std::uint32_t dwUser;
  std::uint32_t dwFlags;  // WHDR_*
  std::uint32_t dwLoops;
  WAVEHDR* lpNext;  // used by the device while the header is queued
  std::uintptr_t reserved;
};
static_assert(offsetof(WAVEHDR, dwBufferLength) == sizeof(void*));
static_assert(offsetof(WAVEHDR, dwFlags) == sizeof(void*) + 12);

struct WAVEOUTCAPS {
  std::uint16_t wMid;
  std::uint16_t wPid;
  std::uint32_t vDriverVersion;
  char szPname[128];        // product name, zero terminated
  std::uint32_t dwFormats;  // WAVE_FORMAT_* bits
  std::uint16_t wChannels;
  std::uint32_t dwSupport;
};

constexpr std::uint32_t TIME_MS = 0x01, TIME_SAMPLES = 0x02, TIME_BYTES = 0x04;
struct MMTIME {
  std::uint32_t wType;  // in: the unit asked for; out: the unit answered
  union {
    std::uint32_t ms;
    std::uint32_t sample;
    std::uint32_t cb;
  } u;
};

struct WaveOutDevice;
using HWAVEOUT = WaveOutDevice*;
using WaveOutProc = void (*)(HWAVEOUT hwo, std::uint32_t uMsg, std::uintptr_t dwInstance,
                             std::uintptr_t dwParam1, std::uintptr_t dwParam2);

std::uint32_t waveOutGetNumDevs();
MMRESULT waveOutGetDevCaps(std::uint32_t uDeviceID, WAVEOUTCAPS* pwoc, std::uint32_t cbwoc);
// fdwOpen: CALLBACK_FUNCTION or CALLBACK_NULL, optionally WAVE_FORMAT_QUERY (phwo may then
// be null). With a callback, dwCallback is a WaveOutProc.
MMRESULT waveOutOpen(HWAVEOUT* phwo, std::uint32_t uDeviceID, const WAVEFORMATEX* pwfx,
                     std::uintptr_t dwCallback, std::uintptr_t dwInstance, std::uint32_t fdwOpen);
MMRESULT waveOutClose(HWAVEOUT hwo);  // WAVERR_STILLPLAYING while headers are queued
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, std::uint32_t cbwh);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, std::uint32_t cbwh);
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, std::uint32_t cbwh);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
MMRESULT waveOutReset(HWAVEOUT hwo);  // position back to 0, every header returned
MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* pmmt, std::uint32_t cbmmt);
MMRESULT waveOutGetErrorText(MMRESULT mmrError, char* pszText, std::uint32_t cchText);

// ---- Devices of our own -------------------------------------------------------------

// Adds an ALSA PCM by name as one more device; its product name is `product` (the PCM's name
// when empty). With `config`, the name is looked up in that ALSA configuration text only
// (for example "pcm.rec { type file slave.pcm null file \"/tmp/out.raw\" format raw }").
// Returns the new device's index.
std::uint32_t AddAlsaDevice(const std::string& pcm, const std::string& product = {},
                            const std::string& config = {});

// A device that records what it plays, in memory. `realTime`: consumes the samples at the
// format's rate (with a device buffer of `bufferMs`), else as fast as they come.
struct MemoryDeviceOptions {
  std::string product = "Memory wave device";
  bool realTime = false;
  std::uint32_t bufferMs = 100;
  // The most recent bytes kept (older ones are let go): a device that plays for hours holds
  // bounded memory. About three minutes of CD audio by default.
  std::size_t keepBytes = std::size_t(32) << 20;
};
std::uint32_t AddMemoryDevice(const MemoryDeviceOptions& options = {});
// What the memory device has played since it was added or cleared: everything, or the last
// keepBytes of it.
std::string MemoryDeviceBytes(std::uint32_t uDeviceID);
void ClearMemoryDevice(std::uint32_t uDeviceID);

}  // namespace ql
