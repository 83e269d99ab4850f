// The encoder library on libmp3lame: one lame context per stream handle, handles kept in a
// table so that a stale or foreign handle is refused instead of followed.
#include "bladeenc.h"

#include <lame/lame.h>

#include <cstddef>
#include <cstring>
#include <mutex>
#include <vector>

static_assert(offsetof(BE_CONFIG, format.mp3.dwSampleRate) == 4);
static_assert(offsetof(BE_CONFIG, format.mp3.byMode) == 8);
static_assert(offsetof(BE_CONFIG, format.mp3.wBitrate) == 9);
static_assert(offsetof(BE_CONFIG, format.mp3.bPrivate) == 11);
static_assert(offsetof(BE_CONFIG, format.mp3.bCRC) == 15);
static_assert(offsetof(BE_CONFIG, format.mp3.bCopyright) == 19);
static_assert(offsetof(BE_CONFIG, format.mp3.bOriginal) == 23);
static_assert(sizeof(BE_CONFIG) == 27);

namespace {

constexpr unsigned kFrameSamples = 1152;  // per channel, MPEG-1 layer 3
constexpr unsigned kMaxStreams = 256;

struct Stream {
  lame_global_flags* gf = nullptr;
  unsigned channels = 0;
  unsigned chunkSamples = 0;  // 16-bit samples over all channels
  unsigned bufferSize = 0;
  bool finished = false;
  bool infoFrame = false;  // the stream began with the placeholder of the info frame
};

std::mutex tableLock;
std::vector<Stream*> table(kMaxStreams, nullptr);

// Handles are 1-based table indices; 0 is never valid.
Stream* Find(HBE_STREAM h) {
  std::lock_guard<std::mutex> g(tableLock);
  if (h == 0 || h > kMaxStreams) return nullptr;
  return table[h - 1];
}

bool ValidBitrate(unsigned kbps) {
  static const unsigned rates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  for (unsigned r : rates)
    if (r == kbps) return true;
  return false;
}

// lame asks for 1.25 x samples + 7200 bytes per call in the worst case; the flush fits in that.
unsigned OutputBound(unsigned samplesPerChannel) {
  return samplesPerChannel * 5 / 4 + 7200;
}

// A lame context for the parameters, with lame_init_params done; null when lame refuses them.
lame_global_flags* Configure(const decltype(BE_CONFIG::format.mp3)& p, MPEG_mode mode,
                             unsigned channels, float scale, bool infoFrame) {
  lame_global_flags* gf = lame_init();
  if (!gf) return nullptr;
  lame_set_num_channels(gf, int(channels));
  lame_set_in_samplerate(gf, int(p.dwSampleRate));
  lame_set_out_samplerate(gf, int(p.dwSampleRate));
  lame_set_mode(gf, mode);
  lame_set_VBR(gf, vbr_off);
  lame_set_brate(gf, p.wBitrate);
  // Header bits exactly as asked: lame's own default marks every stream "original".
  lame_set_extension(gf, p.bPrivate != 0);
  lame_set_error_protection(gf, p.bCRC != 0);
  lame_set_copyright(gf, p.bCopyright != 0);
  lame_set_original(gf, p.bOriginal != 0);
  // The info frame only when the caller rewrites the first frame at the end; ID3 tags are
  // the caller's business.
  lame_set_bWriteVbrTag(gf, infoFrame ? 1 : 0);
  lame_set_write_id3tag_automatic(gf, 0);
  lame_set_scale(gf, scale);
  if (lame_init_params(gf) < 0) {
    lame_close(gf);
    return nullptr;
  }
  return gf;
}

}  // namespace

namespace {

BE_ERR InitStream(PBE_CONFIG cfg, uint32_t* dwSamples, uint32_t* dwBufferSize,
                  PHBE_STREAM phbeStream, bool infoFrame) {
  if (!cfg || !dwSamples || !dwBufferSize || !phbeStream) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  BE_CONFIG c;
  std::memcpy(&c, cfg, sizeof c);
  if (c.dwConfig != BE_CONFIG_MP3) return BE_ERR_INVALID_FORMAT;
  const auto& p = c.format.mp3;
  if (p.dwSampleRate != 32000 && p.dwSampleRate != 44100 && p.dwSampleRate != 48000)
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  if (p.byMode > BE_MP3_MODE_MONO || !ValidBitrate(p.wBitrate))
    return BE_ERR_INVALID_FORMAT_PARAMETERS;

  MPEG_mode mode = STEREO;
  switch (p.byMode) {
    case BE_MP3_MODE_STEREO:
      mode = STEREO;
      break;
    case BE_MP3_MODE_JSTEREO:
      mode = JOINT_STEREO;
      break;
    case BE_MP3_MODE_DUALCHANNEL:
      mode = DUAL_CHANNEL;
      break;
    default:
      mode = MONO;
      break;
  }
  const unsigned channels = mode == MONO ? 1 : 2;

  lame_global_flags* gf = Configure(p, mode, channels, 1.0f, infoFrame);
  if (!gf) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  // lame_init_params scales the input down (by 0.95) for headroom; keep the input level by
  // asking for the inverse. The factor is read back rather than assumed.
  const float applied = lame_get_scale(gf);
  if (applied > 0 && (applied < 0.9999f || applied > 1.0001f)) {
    lame_close(gf);
    gf = Configure(p, mode, channels, 1.0f / applied, infoFrame);
    if (!gf) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  }

  auto* s = new Stream;
  s->gf = gf;
  s->channels = channels;
  s->chunkSamples = kFrameSamples * channels;
  s->bufferSize = OutputBound(kFrameSamples);
  s->infoFrame = infoFrame;

  std::lock_guard<std::mutex> g(tableLock);
  for (unsigned i = 0; i < kMaxStreams; ++i) {
    if (!table[i]) {
      table[i] = s;
      *phbeStream = i + 1;
      *dwSamples = s->chunkSamples;
      *dwBufferSize = s->bufferSize;
      return BE_ERR_SUCCESSFUL;
    }
  }
  lame_close(gf);
  delete s;
  return BE_ERR_NO_MORE_HANDLES;
}

}  // namespace

extern "C" BE_ERR beInitStream(PBE_CONFIG cfg, uint32_t* dwSamples, uint32_t* dwBufferSize,
                               PHBE_STREAM phbeStream) {
  return InitStream(cfg, dwSamples, dwBufferSize, phbeStream, false);
}

extern "C" BE_ERR beInitStreamInfo(PBE_CONFIG cfg, uint32_t* dwSamples, uint32_t* dwBufferSize,
                                   PHBE_STREAM phbeStream) {
  return InitStream(cfg, dwSamples, dwBufferSize, phbeStream, true);
}

extern "C" BE_ERR beInfoFrame(HBE_STREAM h, uint8_t* pOutput, uint32_t dwSize,
                              uint32_t* pdwOutput) {
  Stream* s = Find(h);
  if (!s) return BE_ERR_INVALID_HANDLE;
  if (!pdwOutput || (dwSize && !pOutput)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  *pdwOutput = 0;
  if (!s->infoFrame) return BE_ERR_SUCCESSFUL;
  // The counts in the frame are only final once the stream is flushed.
  if (!s->finished) return BE_ERR_INVALID_HANDLE;
  // 0: the tag does not fit into a frame of the stream's bit rate (below about 64 kbit/s in
  // stereo); the placeholder was not written either.
  const size_t n = lame_get_lametag_frame(s->gf, pOutput, dwSize);
  if (n > dwSize) return BE_ERR_BUFFER_TOO_SMALL;
  *pdwOutput = uint32_t(n);
  return BE_ERR_SUCCESSFUL;
}

extern "C" BE_ERR beEncodeChunk(HBE_STREAM h, uint32_t nSamples, int16_t* pSamples,
                                uint8_t* pOutput, uint32_t* pdwOutput) {
  Stream* s = Find(h);
  if (!s) return BE_ERR_INVALID_HANDLE;
  if (!pdwOutput || !pOutput || (nSamples && !pSamples)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  *pdwOutput = 0;
  if (s->finished) return BE_ERR_INVALID_HANDLE;
  if (nSamples > s->chunkSamples || nSamples % s->channels) return BE_ERR_BUFFER_TOO_SMALL;
  if (nSamples == 0) return BE_ERR_SUCCESSFUL;
  const int frames = int(nSamples / s->channels);
  int n = s->channels == 2
              ? lame_encode_buffer_interleaved(s->gf, pSamples, frames, pOutput, int(s->bufferSize))
              : lame_encode_buffer(s->gf, pSamples, pSamples, frames, pOutput, int(s->bufferSize));
  if (n < 0) return n == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
  *pdwOutput = uint32_t(n);
  return BE_ERR_SUCCESSFUL;
}

extern "C" BE_ERR beDeinitStream(HBE_STREAM h, uint8_t* pOutput, uint32_t* pdwOutput) {
  Stream* s = Find(h);
  if (!s) return BE_ERR_INVALID_HANDLE;
  if (!pdwOutput || !pOutput) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  *pdwOutput = 0;
  if (s->finished) return BE_ERR_SUCCESSFUL;  // a second flush has nothing left
  int n = lame_encode_flush(s->gf, pOutput, int(s->bufferSize));
  if (n < 0) return BE_ERR_BUFFER_TOO_SMALL;
  s->finished = true;
  *pdwOutput = uint32_t(n);
  return BE_ERR_SUCCESSFUL;
}

extern "C" BE_ERR beCloseStream(HBE_STREAM h) {
  Stream* s = nullptr;
  {
    std::lock_guard<std::mutex> g(tableLock);
    if (h == 0 || h > kMaxStreams || !table[h - 1]) return BE_ERR_INVALID_HANDLE;
    s = table[h - 1];
    table[h - 1] = nullptr;
  }
  lame_close(s->gf);
  delete s;
  return BE_ERR_SUCCESSFUL;
}

extern "C" void beVersion(PBE_VERSION v) {
  if (!v) return;
  std::memset(v, 0, sizeof *v);
  v->byDLLMajorVersion = 1;
  v->byDLLMinorVersion = 32;
  // The engine's version as lame reports it, "3.100" -> 3, 100.
  const char* ver = get_lame_short_version();
  unsigned major = 0, minor = 0;
  const char* q = ver;
  while (*q >= '0' && *q <= '9') major = major * 10 + unsigned(*q++ - '0');
  if (*q == '.') ++q;
  while (*q >= '0' && *q <= '9') minor = minor * 10 + unsigned(*q++ - '0');
  v->byMajorVersion = uint8_t(major);
  v->byMinorVersion = uint8_t(minor);
  v->byDay = 8;
  v->byMonth = 12;
  v->wYear = 2026;
  std::strncpy(v->zHomepage, "https://packages.debian.org/libmp3lame0", BE_MAX_HOMEPAGE);
}
