#include "WaveOut.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "Sinks.h"

namespace ql {

using waveout::MemoryStore;
using waveout::Sink;

namespace {

struct DeviceInfo {
  std::string pcm;
  std::string product;
  std::string config;
  std::shared_ptr<MemoryStore> memory;  // set for memory devices
};

std::mutex gRegistry;
std::vector<DeviceInfo> gDevices;
bool gScanned = false;
std::set<HWAVEOUT> gOpen;

// One line of a hint's description, or the first two joined ("card, device").
std::string Describe(const char* desc) {
  std::string s = desc ? desc : "";
  size_t nl = s.find('\n');
  if (nl == std::string::npos) return s;
  std::string rest = s.substr(nl + 1);
  s.resize(nl);
  if (size_t nl2 = rest.find('\n'); nl2 != std::string::npos) rest.resize(nl2);
  return rest.empty() ? s : s + ", " + rest;
}

// ALSA writes its errors to stderr; the caller gets them as result codes instead.
// $QL_WAVEOUT_DEBUG shows them.
void AlsaErrors(const char* file, int line, const char* function, int err, const char* fmt, ...) {
  static const bool show = std::getenv("QL_WAVEOUT_DEBUG") != nullptr;
  if (!show) return;
  std::fprintf(stderr, "waveout: %s:%d (%s) ", file, line, function);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fprintf(stderr, err ? ": %s\n" : "\n", err ? snd_strerror(err) : "");
}

void ScanLocked() {
  if (gScanned) return;
  gScanned = true;
  snd_lib_error_set_handler(AlsaErrors);
  DeviceInfo def{"default", "Default ALSA output", {}, nullptr};
  std::vector<DeviceInfo> found;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) == 0 && hints) {
    for (void** h = hints; *h; ++h) {
      char* name = snd_device_name_get_hint(*h, "NAME");
      char* desc = snd_device_name_get_hint(*h, "DESC");
      char* ioid = snd_device_name_get_hint(*h, "IOID");
      if (name && (!ioid || std::strcmp(ioid, "Output") == 0)) {
        std::string product = Describe(desc);
        if (product.empty()) product = name;
        if (std::strcmp(name, "default") == 0)
          def.product = product;
        else
          found.push_back({name, product, {}, nullptr});
      }
      std::free(name);
      std::free(desc);
      std::free(ioid);
    }
    snd_device_name_free_hint(hints);
  }
  gDevices.insert(gDevices.begin(), def);
  gDevices.insert(gDevices.begin() + 1, found.begin(), found.end());
}

bool Lookup(std::uint32_t id, DeviceInfo* out) {
  std::lock_guard lock(gRegistry);
  ScanLocked();
  if (id == WAVE_MAPPER) id = 0;
  if (id >= gDevices.size()) return false;
  *out = gDevices[id];
  return true;
}

struct Pending {
  WAVEHDR* header;
  std::uint64_t end;  // frame count at which its last sample has played
};

}  // namespace

// An open device: its sink, the headers waiting to be written, those written but not yet
// played, and the thread that moves them along and returns them.
struct WaveOutDevice {
  std::mutex m;
  std::condition_variable cv;    // wakes the device thread
  std::condition_variable idle;  // the thread has returned every header handed back
  std::unique_ptr<Sink> sink;
  WAVEFORMATEX format{};
  WaveOutProc callback = nullptr;
  std::uintptr_t instance = 0;

  std::deque<WAVEHDR*> queue;   // waiting to be written; the front may be partly written
  std::uint32_t offset = 0;     // bytes of the front header already written
  std::string carry;            // bytes of a frame split across two headers
  std::uint64_t submitted = 0;  // bytes handed to the sink since the last reset
  std::deque<Pending> playing;
  std::vector<WAVEHDR*> done;  // to be returned by the thread
  int delivering = 0;
  bool paused = false, quit = false, opened = false;
  std::thread thread;
  std::thread::id threadId;

  void Notify(HWAVEOUT self, std::uint32_t msg, WAVEHDR* h) {
    if (callback) callback(self, msg, instance, reinterpret_cast<std::uintptr_t>(h), 0);
  }

  bool OnThread() const { return std::this_thread::get_id() == threadId; }

  // Moves data from the queue into the sink until it is full; under the lock.
  void Feed() {
    unsigned ba = format.nBlockAlign;
    while (!queue.empty()) {
      WAVEHDR* h = queue.front();
      std::uint32_t len = h->dwBufferLength;
      if (!carry.empty() && offset < len) {
        std::uint32_t need = static_cast<std::uint32_t>(ba - carry.size());
        if (len - offset < need) {
          carry.append(h->lpData + offset, len - offset);
          offset = len;
        } else {
          std::string frame = carry + std::string(h->lpData + offset, need);
          long n = sink->Write(frame.data(), frame.size());
          if (n == 0) return;
          if (n > 0) submitted += static_cast<std::uint64_t>(n);
          offset += need;
          carry.clear();
        }
      }
      std::uint32_t whole = (len - offset) / ba * ba;
      if (whole > 0) {
        long n = sink->Write(h->lpData + offset, whole);
        if (n == 0) return;
        if (n < 0) {  // a failed device: drop the data rather than stall
          offset += whole;
        } else {
          offset += static_cast<std::uint32_t>(n);
          submitted += static_cast<std::uint64_t>(n);
          if (static_cast<std::uint32_t>(n) < whole) return;  // the device buffer is full
        }
      }
      if (len > offset) {  // less than a frame left: it goes with the next header
        carry.append(h->lpData + offset, len - offset);
        offset = len;
      }
      if (offset >= len) {
        queue.pop_front();
        offset = 0;
        playing.push_back({h, submitted / ba});
      }
    }
  }

  void Collect() {
    std::uint64_t played = sink->Played();
    while (!playing.empty() && playing.front().end <= played) {
      done.push_back(playing.front().header);
      playing.pop_front();
    }
  }

  // Hands every header back; the position starts again at 0.
  void ResetLocked() {
    for (auto* h : queue) done.push_back(h);
    for (auto& p : playing) done.push_back(p.header);
    queue.clear();
    playing.clear();
    offset = 0;
    carry.clear();
    submitted = 0;
    sink->Reset();
  }

  void Run(HWAVEOUT self) {
    std::unique_lock lock(m);
    threadId = std::this_thread::get_id();
    lock.unlock();
    Notify(self, WOM_OPEN, nullptr);
    lock.lock();
    opened = true;
    idle.notify_all();
    for (;;) {
      if (!done.empty()) {
        std::vector<WAVEHDR*> out;
        out.swap(done);
        delivering = static_cast<int>(out.size());
        for (auto* h : out) {
          h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
          lock.unlock();
          Notify(self, WOM_DONE, h);
          lock.lock();
          --delivering;
        }
        if (done.empty()) idle.notify_all();
        continue;
      }
      if (quit) break;
      if (!paused) {
        Feed();
        Collect();
        if (!done.empty()) continue;
      }
      if (paused || (queue.empty() && playing.empty())) {
        idle.notify_all();
        cv.wait(lock);
        continue;
      }
      if (queue.empty()) sink->Flush();
      cv.wait_for(lock, std::chrono::milliseconds(sink->WaitMs()));
    }
    lock.unlock();
    Notify(self, WOM_CLOSE, nullptr);
  }

  // Off the device thread: waits until every header handed back has been returned.
  void WaitReturned(std::unique_lock<std::mutex>& lock) {
    if (OnThread()) return;
    idle.wait(lock, [&] { return done.empty() && delivering == 0; });
  }
};

namespace {

bool Valid(HWAVEOUT h) {
  std::lock_guard lock(gRegistry);
  return h && gOpen.count(h) > 0;
}

std::unique_ptr<Sink> MakeSink(const DeviceInfo& info) {
  if (info.memory) return waveout::MakeMemorySink(info.memory);
  return waveout::MakeAlsaSink(info.pcm, info.config);
}

}  // namespace

std::uint32_t waveOutGetNumDevs() {
  std::lock_guard lock(gRegistry);
  ScanLocked();
  return static_cast<std::uint32_t>(gDevices.size());
}

MMRESULT waveOutGetDevCaps(std::uint32_t id, WAVEOUTCAPS* caps, std::uint32_t size) {
  if (!caps || size < sizeof(WAVEOUTCAPS)) return MMSYSERR_INVALPARAM;
  DeviceInfo info;
  if (!Lookup(id, &info)) return MMSYSERR_BADDEVICEID;
  std::memset(caps, 0, sizeof(*caps));
  caps->wMid = 1;
  caps->wPid = static_cast<std::uint16_t>(id == WAVE_MAPPER ? 0 : id);
  caps->vDriverVersion = 0x0100;
  std::strncpy(caps->szPname, info.product.c_str(), sizeof(caps->szPname) - 1);
  // ALSA's default and plug devices convert any rate, width and channel count.
  caps->dwFormats = 0xFFF;
  caps->wChannels = 2;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutOpen(HWAVEOUT* phwo, std::uint32_t id, const WAVEFORMATEX* pwfx,
                     std::uintptr_t dwCallback, std::uintptr_t dwInstance, std::uint32_t flags) {
  if (!pwfx) return MMSYSERR_INVALPARAM;
  std::uint32_t type = flags & 0x70000;
  if (type != CALLBACK_NULL && type != CALLBACK_FUNCTION) return MMSYSERR_INVALFLAG;
  bool query = flags & WAVE_FORMAT_QUERY;
  if (!query && !phwo) return MMSYSERR_INVALPARAM;
  DeviceInfo info;
  if (!Lookup(id, &info)) return MMSYSERR_BADDEVICEID;
  if (pwfx->nBlockAlign == 0 || pwfx->nSamplesPerSec == 0 || pwfx->nChannels == 0)
    return WAVERR_BADFORMAT;
  if (pwfx->wFormatTag != WAVE_FORMAT_PCM && pwfx->wFormatTag != WAVE_FORMAT_IEEE_FLOAT)
    return WAVERR_BADFORMAT;
  auto dev = std::make_unique<WaveOutDevice>();
  dev->sink = MakeSink(info);
  MMRESULT rc = dev->sink->Open(*pwfx, query);
  if (rc != MMSYSERR_NOERROR || query) return rc;
  dev->format = *pwfx;
  if (type == CALLBACK_FUNCTION) dev->callback = reinterpret_cast<WaveOutProc>(dwCallback);
  dev->instance = dwInstance;
  HWAVEOUT h = dev.release();
  {
    std::lock_guard lock(gRegistry);
    gOpen.insert(h);
  }
  h->thread = std::thread([h] { h->Run(h); });
  std::unique_lock lock(h->m);
  h->idle.wait(lock, [&] { return h->opened; });
  *phwo = h;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT h) {
  if (!Valid(h)) return MMSYSERR_INVALHANDLE;
  {
    std::unique_lock lock(h->m);
    if (h->OnThread()) return MMSYSERR_ERROR;
    if (!h->queue.empty() || !h->playing.empty()) return WAVERR_STILLPLAYING;
    h->WaitReturned(lock);
    h->quit = true;
    h->cv.notify_all();
  }
  h->thread.join();
  {
    std::lock_guard lock(gRegistry);
    gOpen.erase(h);
  }
  delete h;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT h, WAVEHDR* pwh, std::uint32_t cb) {
  if (!Valid(h)) return MMSYSERR_INVALHANDLE;
  if (!pwh || cb < sizeof(WAVEHDR) || (!pwh->lpData && pwh->dwBufferLength))
    return MMSYSERR_INVALPARAM;
  std::lock_guard lock(h->m);
  if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  pwh->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT h, WAVEHDR* pwh, std::uint32_t cb) {
  if (!Valid(h)) return MMSYSERR_INVALHANDLE;
  if (!pwh || cb < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(h->m);
  if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  pwh->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT h, WAVEHDR* pwh, std::uint32_t cb) {
  if (!Valid(h)) return MMSYSERR_INVALHANDLE;
  if (!pwh || cb < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(h->m);
  if (!(pwh->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (pwh->dwFlags & WHDR_INQUEUE) return MMSYSERR_INVALPARAM;
  pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  h->queue.push_back(pwh);
  h->cv.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT h) {
  if (!Valid(h)) return MMSYSERR_INVALHANDLE;
  std::lock_guard lock(h->m);
  h->paused = true;
  h->sink->Pause(true);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT h) {
  if (!Valid(h)) return MMSYSERR_INVALHANDLE;
  std::lock_guard lock(h->m);
  if (h->paused) h->sink->Pause(false);
  h->paused = false;
  h->cv.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT h) {
  if (!Valid(h)) return MMSYSERR_INVALHANDLE;
  std::unique_lock lock(h->m);
  h->ResetLocked();
  h->cv.notify_all();
  h->WaitReturned(lock);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetPosition(HWAVEOUT h, MMTIME* t, std::uint32_t cb) {
  if (!Valid(h)) return MMSYSERR_INVALHANDLE;
  if (!t || cb < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(h->m);
  std::uint64_t frames = h->sink->Played();
  switch (t->wType) {
    case TIME_SAMPLES:
      t->u.sample = static_cast<std::uint32_t>(frames);
      break;
    case TIME_MS:
      t->u.ms = static_cast<std::uint32_t>(frames * 1000 / h->format.nSamplesPerSec);
      break;
    default:
      t->wType = TIME_BYTES;
      t->u.cb = static_cast<std::uint32_t>(frames * h->format.nBlockAlign);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetErrorText(MMRESULT code, char* text, std::uint32_t size) {
  if (!text || size == 0) return MMSYSERR_INVALPARAM;
  const char* s = nullptr;
  switch (code) {
    case MMSYSERR_NOERROR:
      s = "The command completed successfully.";
      break;
    case MMSYSERR_ERROR:
      s = "An unspecified error occurred in the wave output device.";
      break;
    case MMSYSERR_BADDEVICEID:
      s = "The wave output device identifier is out of range.";
      break;
    case MMSYSERR_ALLOCATED:
      s = "The wave output device is already in use by another program.";
      break;
    case MMSYSERR_INVALHANDLE:
      s = "The wave output device handle is not valid.";
      break;
    case MMSYSERR_NODRIVER:
      s = "The wave output device could not be opened (no sound driver or card).";
      break;
    case MMSYSERR_NOMEM:
      s = "Not enough memory for the wave output device.";
      break;
    case MMSYSERR_NOTSUPPORTED:
      s = "The wave output device does not support this function.";
      break;
    case MMSYSERR_INVALFLAG:
      s = "An invalid flag was passed to the wave output device.";
      break;
    case MMSYSERR_INVALPARAM:
      s = "An invalid parameter was passed to the wave output device.";
      break;
    case WAVERR_BADFORMAT:
      s = "The wave output device cannot play this format.";
      break;
    case WAVERR_STILLPLAYING:
      s = "The wave output device is still playing buffers.";
      break;
    case WAVERR_UNPREPARED:
      s = "The wave header has not been prepared.";
      break;
    default:
      text[0] = 0;
      return 9;  // MMSYSERR_BADERRNUM
  }
  std::strncpy(text, s, size - 1);
  text[size - 1] = 0;
  return MMSYSERR_NOERROR;
}

std::uint32_t AddAlsaDevice(const std::string& pcm, const std::string& product,
                            const std::string& config) {
  std::lock_guard lock(gRegistry);
  ScanLocked();
  gDevices.push_back({pcm, product.empty() ? pcm : product, config, nullptr});
  return static_cast<std::uint32_t>(gDevices.size() - 1);
}

std::uint32_t AddMemoryDevice(const MemoryDeviceOptions& options) {
  auto store = std::make_shared<MemoryStore>();
  store->options = options;
  std::lock_guard lock(gRegistry);
  ScanLocked();
  gDevices.push_back({{}, options.product, {}, store});
  return static_cast<std::uint32_t>(gDevices.size() - 1);
}

std::string MemoryDeviceBytes(std::uint32_t id) {
  DeviceInfo info;
  if (!Lookup(id, &info) || !info.memory) return {};
  std::lock_guard lock(info.memory->mutex);
  return info.memory->bytes;
}

void ClearMemoryDevice(std::uint32_t id) {
  DeviceInfo info;
  if (!Lookup(id, &info) || !info.memory) return;
  std::lock_guard lock(info.memory->mutex);
  info.memory->bytes.clear();
}

}  // namespace ql
