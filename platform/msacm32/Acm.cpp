// The compression manager's entry points: handle checks, flag checks and the driver walk.
// Driver ids are the driver records themselves; driver and stream handles are objects kept in a
// registry, so a closed or foreign handle is refused instead of followed.
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "AcmDrivers.h"

using namespace acm;

namespace {

constexpr uint32_t kOpenDriverMagic = 0x41434d4f;  // "ACMO"
constexpr uint32_t kStreamMagic = 0x41434d53;      // "ACMS"

struct OpenDriver {
  uint32_t magic = kOpenDriverMagic;
  const Driver* driver;
};

struct StreamObj {
  uint32_t magic = kStreamMagic;
  uint32_t id;  // written into prepared headers
  const Driver* driver;
  Format src, dst;
  std::unique_ptr<Stream> stream;
  std::mutex lock;
};

std::mutex registryLock;
std::unordered_set<const void*> live;
uint32_t nextStreamId = 1;

const Driver* AsDriverId(const void* h) {
  for (const Driver& d : Drivers())
    if (&d == h) return &d;
  return nullptr;
}

OpenDriver* AsOpenDriver(const void* h) {
  std::lock_guard<std::mutex> g(registryLock);
  if (!h || !live.count(h)) return nullptr;
  auto* o = static_cast<OpenDriver*>(const_cast<void*>(h));
  return o->magic == kOpenDriverMagic ? o : nullptr;
}

StreamObj* AsStream(const void* h) {
  std::lock_guard<std::mutex> g(registryLock);
  if (!h || !live.count(h)) return nullptr;
  auto* s = static_cast<StreamObj*>(const_cast<void*>(h));
  return s->magic == kStreamMagic ? s : nullptr;
}

// The drivers a call may use: all, or the one of an open driver handle. False for a bad handle.
bool Candidates(HACMDRIVER had, std::vector<const Driver*>& out) {
  out.clear();
  if (!had) {
    for (const Driver& d : Drivers()) out.push_back(&d);
    return true;
  }
  OpenDriver* o = AsOpenDriver(had);
  if (!o) return false;
  out.push_back(o->driver);
  return true;
}

HACMDRIVERID IdOf(const Driver* d) {
  return reinterpret_cast<HACMDRIVERID>(const_cast<Driver*>(d));
}

struct TagEntry {
  const Driver* driver;
  uint16_t tag;
};

std::vector<TagEntry> Tags(const std::vector<const Driver*>& drivers) {
  std::vector<TagEntry> out;
  for (const Driver* d : drivers)
    for (uint16_t t : d->tags) out.push_back({d, t});
  return out;
}

void FillTag(const TagEntry& e, uint32_t index, LPACMFORMATTAGDETAILSA p) {
  const uint32_t cb = p->cbStruct;
  std::memset(p, 0, sizeof *p);
  p->cbStruct = std::min<uint32_t>(cb, sizeof *p);
  p->dwFormatTagIndex = index;
  p->dwFormatTag = e.tag;
  p->fdwSupport = e.driver->support;
  uint32_t most = sizeof(WAVEFORMATEX);
  const auto formats = StandardFormats(e.tag);
  for (const Format& f : formats) most = std::max(most, f.size());
  p->cbFormatSize = most;
  p->cStandardFormats = uint32_t(formats.size());
  std::strncpy(p->szFormatTag, TagName(e.tag).c_str(), sizeof p->szFormatTag - 1);
}

const Driver* OwnerOf(const WAVEFORMATEX* f) {
  for (const Driver& d : Drivers())
    for (uint16_t t : d.tags)
      if (t == f->wFormatTag) return &d;
  return nullptr;
}

bool Equal(const Format& a, const Format& b) {
  return a.size() == b.size() && std::memcmp(a.get(), b.get(), a.size()) == 0;
}

}  // namespace

extern "C" {

uint32_t acmGetVersion(void) {
  return 0x04000000u;
}  // 4.00

MMRESULT acmMetrics(HACMOBJ hao, unsigned uMetric, void* pMetric) {
  if (!pMetric) return MMSYSERR_INVALPARAM;
  uint32_t v = 0;
  if (!hao) {
    uint32_t codecs = 0, converters = 0;
    for (const Driver& d : Drivers()) {
      if (d.support & ACMDRIVERDETAILS_SUPPORTF_CODEC) ++codecs;
      if (d.support & ACMDRIVERDETAILS_SUPPORTF_CONVERTER) ++converters;
    }
    switch (uMetric) {
      case ACM_METRIC_COUNT_DRIVERS:
        v = uint32_t(Drivers().size());
        break;
      case ACM_METRIC_COUNT_CODECS:
        v = codecs;
        break;
      case ACM_METRIC_COUNT_CONVERTERS:
        v = converters;
        break;
      case ACM_METRIC_COUNT_FILTERS:
      case ACM_METRIC_COUNT_DISABLED:
      case ACM_METRIC_COUNT_HARDWARE:
      case ACM_METRIC_COUNT_LOCAL_DRIVERS:
      case ACM_METRIC_COUNT_LOCAL_CODECS:
      case ACM_METRIC_COUNT_LOCAL_CONVERTERS:
      case ACM_METRIC_COUNT_LOCAL_FILTERS:
      case ACM_METRIC_COUNT_LOCAL_DISABLED:
      case ACM_METRIC_MAX_SIZE_FILTER:
        v = 0;
        break;  // no filter drivers
      case ACM_METRIC_MAX_SIZE_FORMAT:
        for (const Driver& d : Drivers()) v = std::max(v, d.MaxFormatSize());
        break;
      default:
        return MMSYSERR_NOTSUPPORTED;
    }
  } else {
    const Driver* d = AsDriverId(hao);
    if (!d) {
      if (OpenDriver* o = AsOpenDriver(hao)) d = o->driver;
    }
    if (!d) return MMSYSERR_INVALHANDLE;
    switch (uMetric) {
      case ACM_METRIC_MAX_SIZE_FORMAT:
        v = d->MaxFormatSize();
        break;
      case ACM_METRIC_MAX_SIZE_FILTER:
        v = 0;
        break;
      case ACM_METRIC_DRIVER_SUPPORT:
        v = d->support;
        break;
      case ACM_METRIC_DRIVER_PRIORITY:
        v = uint32_t(d - Drivers().data()) + 1;
        break;
      default:
        return MMSYSERR_NOTSUPPORTED;
    }
  }
  std::memcpy(pMetric, &v, sizeof v);
  return MMSYSERR_NOERROR;
}

// ---- drivers ----

MMRESULT acmDriverEnum(ACMDRIVERENUMCB fnCallback, uintptr_t dwInstance, uint32_t fdwEnum) {
  if (!fnCallback) return MMSYSERR_INVALPARAM;
  if (fdwEnum & ~(ACM_DRIVERENUMF_NOLOCAL | ACM_DRIVERENUMF_DISABLED)) return MMSYSERR_INVALFLAG;
  for (const Driver& d : Drivers())
    if (!fnCallback(IdOf(&d), dwInstance, d.support)) break;
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverDetailsA(HACMDRIVERID hadid, LPACMDRIVERDETAILSA padd, uint32_t fdwDetails) {
  const Driver* d = AsDriverId(hadid);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!padd || padd->cbStruct < sizeof(uint32_t)) return MMSYSERR_INVALPARAM;
  if (fdwDetails) return MMSYSERR_INVALFLAG;
  ACMDRIVERDETAILSA a{};
  a.fccType = 0x63647561;  // "audc"
  a.wMid = 1;
  a.wPid = d->pid;
  a.vdwACM = acmGetVersion();
  a.vdwDriver = 0x01000000;
  a.fdwSupport = d->support;
  a.cFormatTags = uint32_t(d->tags.size());
  std::strncpy(a.szShortName, d->shortName, sizeof a.szShortName - 1);
  std::strncpy(a.szLongName, d->longName, sizeof a.szLongName - 1);
  std::strncpy(a.szFeatures, d->longName, sizeof a.szFeatures - 1);
  const uint32_t n = std::min<uint32_t>(padd->cbStruct, sizeof a);
  a.cbStruct = n;
  std::memcpy(padd, &a, n);
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverOpen(LPHACMDRIVER phad, HACMDRIVERID hadid, uint32_t fdwOpen) {
  if (!phad) return MMSYSERR_INVALPARAM;
  if (fdwOpen) return MMSYSERR_INVALFLAG;
  const Driver* d = AsDriverId(hadid);
  if (!d) return MMSYSERR_INVALHANDLE;
  auto* o = new OpenDriver;
  o->driver = d;
  std::lock_guard<std::mutex> g(registryLock);
  live.insert(o);
  *phad = reinterpret_cast<HACMDRIVER>(o);
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverClose(HACMDRIVER had, uint32_t fdwClose) {
  if (fdwClose) return MMSYSERR_INVALFLAG;
  OpenDriver* o = AsOpenDriver(had);
  if (!o) return MMSYSERR_INVALHANDLE;
  {
    std::lock_guard<std::mutex> g(registryLock);
    live.erase(o);
  }
  delete o;
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverID(HACMOBJ hao, HACMDRIVERID* phadid, uint32_t fdwDriverID) {
  if (!phadid) return MMSYSERR_INVALPARAM;
  if (fdwDriverID) return MMSYSERR_INVALFLAG;
  const Driver* d = AsDriverId(hao);
  if (!d) {
    if (OpenDriver* o = AsOpenDriver(hao))
      d = o->driver;
    else if (StreamObj* s = AsStream(hao))
      d = s->driver;
  }
  if (!d) return MMSYSERR_INVALHANDLE;
  *phadid = IdOf(d);
  return MMSYSERR_NOERROR;
}

// ---- format tags and formats ----

MMRESULT acmFormatTagDetailsA(HACMDRIVER had, LPACMFORMATTAGDETAILSA paftd, uint32_t fdwDetails) {
  std::vector<const Driver*> drivers;
  if (!Candidates(had, drivers)) return MMSYSERR_INVALHANDLE;
  if (!paftd || paftd->cbStruct < sizeof *paftd) return MMSYSERR_INVALPARAM;
  const auto tags = Tags(drivers);
  switch (fdwDetails) {
    case ACM_FORMATTAGDETAILSF_INDEX:
      if (paftd->dwFormatTagIndex >= tags.size()) return ACMERR_NOTPOSSIBLE;
      FillTag(tags[paftd->dwFormatTagIndex], paftd->dwFormatTagIndex, paftd);
      return MMSYSERR_NOERROR;
    case ACM_FORMATTAGDETAILSF_FORMATTAG:
    case ACM_FORMATTAGDETAILSF_LARGESTSIZE: {
      const uint32_t want = paftd->dwFormatTag;
      int best = -1;
      uint32_t bestSize = 0;
      for (size_t i = 0; i < tags.size(); ++i) {
        if (want != 0 || fdwDetails == ACM_FORMATTAGDETAILSF_FORMATTAG) {
          if (tags[i].tag == want) best = int(i);
          continue;
        }
        ACMFORMATTAGDETAILSA t{};
        t.cbStruct = sizeof t;
        FillTag(tags[i], uint32_t(i), &t);
        if (t.cbFormatSize > bestSize) {
          bestSize = t.cbFormatSize;
          best = int(i);
        }
      }
      if (best < 0) return ACMERR_NOTPOSSIBLE;
      FillTag(tags[size_t(best)], uint32_t(best), paftd);
      return MMSYSERR_NOERROR;
    }
    default:
      return MMSYSERR_INVALFLAG;
  }
}

MMRESULT acmFormatTagEnumA(HACMDRIVER had, LPACMFORMATTAGDETAILSA paftd,
                           ACMFORMATTAGENUMCBA fnCallback, uintptr_t dwInstance, uint32_t fdwEnum) {
  std::vector<const Driver*> drivers;
  if (!Candidates(had, drivers)) return MMSYSERR_INVALHANDLE;
  if (!paftd || paftd->cbStruct < sizeof *paftd || !fnCallback) return MMSYSERR_INVALPARAM;
  if (fdwEnum) return MMSYSERR_INVALFLAG;
  const auto tags = Tags(drivers);
  for (size_t i = 0; i < tags.size(); ++i) {
    FillTag(tags[i], uint32_t(i), paftd);
    if (!fnCallback(IdOf(tags[i].driver), paftd, dwInstance, tags[i].driver->support)) break;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatDetailsA(HACMDRIVER had, LPACMFORMATDETAILSA pafd, uint32_t fdwDetails) {
  std::vector<const Driver*> drivers;
  if (!Candidates(had, drivers)) return MMSYSERR_INVALHANDLE;
  if (!pafd || pafd->cbStruct < sizeof *pafd || !pafd->pwfx || pafd->cbwfx < sizeof(WAVEFORMATEX))
    return MMSYSERR_INVALPARAM;
  if (fdwDetails == ACM_FORMATDETAILSF_INDEX) {
    for (const TagEntry& e : Tags(drivers)) {
      if (e.tag != pafd->dwFormatTag) continue;
      const auto formats = StandardFormats(e.tag);
      if (pafd->dwFormatIndex >= formats.size()) return ACMERR_NOTPOSSIBLE;
      const Format& f = formats[pafd->dwFormatIndex];
      if (!f.CopyTo(pafd->pwfx, pafd->cbwfx)) return MMSYSERR_INVALPARAM;
      pafd->fdwSupport = e.driver->support;
      std::memset(pafd->szFormat, 0, sizeof pafd->szFormat);
      std::strncpy(pafd->szFormat, FormatName(f.get()).c_str(), sizeof pafd->szFormat - 1);
      return MMSYSERR_NOERROR;
    }
    return ACMERR_NOTPOSSIBLE;
  }
  if (fdwDetails == ACM_FORMATDETAILSF_FORMAT) {
    const WAVEFORMATEX* p = pafd->pwfx;
    if (p->wFormatTag != WAVE_FORMAT_PCM && pafd->cbwfx < FormatSize(p)) return MMSYSERR_INVALPARAM;
    const Driver* d = OwnerOf(p);
    bool allowed = false;
    for (const Driver* c : drivers) allowed = allowed || c == d;
    if (!d || !allowed || !IsValidFormat(p)) return ACMERR_NOTPOSSIBLE;
    pafd->dwFormatTag = p->wFormatTag;
    pafd->fdwSupport = d->support;
    const auto formats = StandardFormats(p->wFormatTag);
    for (size_t i = 0; i < formats.size(); ++i)
      if (Equal(formats[i], Format(p))) pafd->dwFormatIndex = uint32_t(i);
    std::memset(pafd->szFormat, 0, sizeof pafd->szFormat);
    std::strncpy(pafd->szFormat, FormatName(p).c_str(), sizeof pafd->szFormat - 1);
    return MMSYSERR_NOERROR;
  }
  return MMSYSERR_INVALFLAG;
}

MMRESULT acmFormatSuggest(HACMDRIVER had, LPWAVEFORMATEX pwfxSrc, LPWAVEFORMATEX pwfxDst,
                          uint32_t cbwfxDst, uint32_t fdwSuggest) {
  std::vector<const Driver*> drivers;
  if (!Candidates(had, drivers)) return MMSYSERR_INVALHANDLE;
  if (!pwfxSrc || !pwfxDst || cbwfxDst < sizeof(WAVEFORMATEX)) return MMSYSERR_INVALPARAM;
  if (fdwSuggest & ~ACM_FORMATSUGGESTF_TYPEMASK) return MMSYSERR_INVALFLAG;
  const WAVEFORMATEX want = *pwfxDst;
  for (const Driver* d : drivers) {
    Format f;
    if (d->Suggest(pwfxSrc, &want, fdwSuggest, f))
      return f.CopyTo(pwfxDst, cbwfxDst) ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
  }
  return ACMERR_NOTPOSSIBLE;
}

MMRESULT acmFormatEnumA(HACMDRIVER had, LPACMFORMATDETAILSA pafd, ACMFORMATENUMCBA fnCallback,
                        uintptr_t dwInstance, uint32_t fdwEnum) {
  std::vector<const Driver*> drivers;
  if (!Candidates(had, drivers)) return MMSYSERR_INVALHANDLE;
  if (!pafd || pafd->cbStruct < sizeof *pafd || !fnCallback || !pafd->pwfx ||
      pafd->cbwfx < sizeof(WAVEFORMATEX))
    return MMSYSERR_INVALPARAM;
  const uint32_t known = ACM_FORMATENUMF_WFORMATTAG | ACM_FORMATENUMF_NCHANNELS |
                         ACM_FORMATENUMF_NSAMPLESPERSEC | ACM_FORMATENUMF_WBITSPERSAMPLE |
                         ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST |
                         ACM_FORMATENUMF_HARDWARE | ACM_FORMATENUMF_INPUT | ACM_FORMATENUMF_OUTPUT;
  if (fdwEnum & ~known) return MMSYSERR_INVALFLAG;
  if ((fdwEnum & ACM_FORMATENUMF_CONVERT) && (fdwEnum & ACM_FORMATENUMF_SUGGEST))
    return MMSYSERR_INVALFLAG;
  if (fdwEnum & ACM_FORMATENUMF_HARDWARE) return MMSYSERR_NOERROR;  // no wave hardware formats
  // The restricting format, taken before the buffer is reused for the results.
  WAVEFORMATEX in0 = *pafd->pwfx;
  Format in;
  if (fdwEnum & (ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST)) {
    if ((pafd->pwfx->wFormatTag != WAVE_FORMAT_PCM && pafd->cbwfx < FormatSize(pafd->pwfx)) ||
        !IsValidFormat(pafd->pwfx))
      return MMSYSERR_INVALPARAM;
    in = Format(pafd->pwfx);
  }
  const uint32_t fieldFlags =
      fdwEnum &
      (ACM_FORMATENUMF_NCHANNELS | ACM_FORMATENUMF_NSAMPLESPERSEC | ACM_FORMATENUMF_WBITSPERSAMPLE);
  std::vector<const Driver*> all;
  Candidates(nullptr, all);
  for (const TagEntry& e : Tags(drivers)) {
    if ((fdwEnum & ACM_FORMATENUMF_WFORMATTAG) && e.tag != in0.wFormatTag) continue;
    const auto formats = StandardFormats(e.tag);
    for (size_t i = 0; i < formats.size(); ++i) {
      const Format& f = formats[i];
      if ((fdwEnum & ACM_FORMATENUMF_NCHANNELS) && f->nChannels != in0.nChannels) continue;
      if ((fdwEnum & ACM_FORMATENUMF_NSAMPLESPERSEC) && f->nSamplesPerSec != in0.nSamplesPerSec)
        continue;
      if ((fdwEnum & ACM_FORMATENUMF_WBITSPERSAMPLE) && f->wBitsPerSample != in0.wBitsPerSample)
        continue;
      if (fdwEnum & ACM_FORMATENUMF_CONVERT) {
        bool ok = false;
        for (const Driver* d : had ? drivers : all) ok = ok || d->Supports(in.get(), f.get());
        if (!ok) continue;
      }
      if (fdwEnum & ACM_FORMATENUMF_SUGGEST) {
        WAVEFORMATEX want = *f.get();
        Format s;
        bool ok = false;
        for (const Driver* d : had ? drivers : all) {
          if (d->Suggest(in.get(), &want, ACM_FORMATSUGGESTF_WFORMATTAG | fieldFlags, s)) {
            ok = Equal(s, f);
            break;
          }
        }
        if (!ok) continue;
      }
      if (!f.CopyTo(pafd->pwfx, pafd->cbwfx)) return MMSYSERR_INVALPARAM;
      pafd->dwFormatIndex = uint32_t(i);
      pafd->dwFormatTag = e.tag;
      pafd->fdwSupport = e.driver->support;
      std::memset(pafd->szFormat, 0, sizeof pafd->szFormat);
      std::strncpy(pafd->szFormat, FormatName(f.get()).c_str(), sizeof pafd->szFormat - 1);
      if (!fnCallback(IdOf(e.driver), pafd, dwInstance, e.driver->support)) return MMSYSERR_NOERROR;
    }
  }
  return MMSYSERR_NOERROR;
}

// ---- streams ----

MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, LPWAVEFORMATEX pwfxSrc,
                       LPWAVEFORMATEX pwfxDst, LPWAVEFILTER pwfltr, uintptr_t dwCallback,
                       uintptr_t dwInstance, uint32_t fdwOpen) {
  (void)dwCallback;
  (void)dwInstance;
  if (phas) *phas = nullptr;
  std::vector<const Driver*> drivers;
  if (!Candidates(had, drivers)) return MMSYSERR_INVALHANDLE;
  const uint32_t known = ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC |
                         ACM_STREAMOPENF_NONREALTIME | CALLBACK_TYPEMASK;
  if (fdwOpen & ~known) return MMSYSERR_INVALFLAG;
  const bool query = fdwOpen & ACM_STREAMOPENF_QUERY;
  if (!pwfxSrc || !pwfxDst || (!query && !phas)) return MMSYSERR_INVALPARAM;
  if (pwfltr || (fdwOpen & ACM_STREAMOPENF_ASYNC)) return ACMERR_NOTPOSSIBLE;
  for (const Driver* d : drivers) {
    if (!d->Supports(pwfxSrc, pwfxDst)) continue;
    if (query) return MMSYSERR_NOERROR;
    auto s = std::make_unique<StreamObj>();
    s->driver = d;
    s->src = Format(pwfxSrc);
    s->dst = Format(pwfxDst);
    s->stream = d->Open(s->src, s->dst, fdwOpen & ACM_STREAMOPENF_NONREALTIME);
    if (!s->stream) return MMSYSERR_NOMEM;
    std::lock_guard<std::mutex> g(registryLock);
    s->id = nextStreamId++;
    live.insert(s.get());
    *phas = reinterpret_cast<HACMSTREAM>(s.release());
    return MMSYSERR_NOERROR;
  }
  return ACMERR_NOTPOSSIBLE;
}

MMRESULT acmStreamClose(HACMSTREAM has, uint32_t fdwClose) {
  StreamObj* s = AsStream(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (fdwClose) return MMSYSERR_INVALFLAG;
  {
    std::lock_guard<std::mutex> g(registryLock);
    live.erase(s);
  }
  delete s;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, uint32_t cbInput, uint32_t* pdwOutputBytes,
                       uint32_t fdwSize) {
  StreamObj* s = AsStream(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (!pdwOutputBytes) return MMSYSERR_INVALPARAM;
  if (fdwSize & ~ACM_STREAMSIZEF_QUERYMASK) return MMSYSERR_INVALFLAG;
  uint32_t n;
  switch (fdwSize & ACM_STREAMSIZEF_QUERYMASK) {
    case ACM_STREAMSIZEF_SOURCE:
      n = s->stream->DestSize(cbInput);
      break;
    case ACM_STREAMSIZEF_DESTINATION:
      n = s->stream->SourceSize(cbInput);
      break;
    default:
      return MMSYSERR_INVALFLAG;
  }
  if (n == 0) return ACMERR_NOTPOSSIBLE;
  *pdwOutputBytes = n;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamReset(HACMSTREAM has, uint32_t fdwReset) {
  StreamObj* s = AsStream(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (fdwReset) return MMSYSERR_INVALFLAG;
  std::lock_guard<std::mutex> g(s->lock);
  s->stream->Reset();
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, uint32_t fdwPrepare) {
  StreamObj* s = AsStream(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (!pash || pash->cbStruct < sizeof *pash) return MMSYSERR_INVALPARAM;
  if (fdwPrepare) return MMSYSERR_INVALFLAG;
  if ((pash->cbSrcLength && !pash->pbSrc) || (pash->cbDstLength && !pash->pbDst))
    return MMSYSERR_INVALPARAM;
  if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) return MMSYSERR_NOERROR;
  pash->dwReservedDriver[0] = pash->cbSrcLength;
  pash->dwReservedDriver[1] = pash->cbDstLength;
  pash->dwReservedDriver[2] = s->id;
  pash->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, uint32_t fdwUnprepare) {
  StreamObj* s = AsStream(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (!pash || pash->cbStruct < sizeof *pash) return MMSYSERR_INVALPARAM;
  if (fdwUnprepare) return MMSYSERR_INVALFLAG;
  if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_INQUEUE) return ACMERR_BUSY;
  if (pash->dwReservedDriver[2] != s->id) return MMSYSERR_INVALPARAM;
  pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  std::memset(pash->dwReservedDriver, 0, sizeof pash->dwReservedDriver);
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, uint32_t fdwConvert) {
  StreamObj* s = AsStream(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (!pash || pash->cbStruct < sizeof *pash) return MMSYSERR_INVALPARAM;
  if (fdwConvert &
      ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
    return MMSYSERR_INVALFLAG;
  if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_INQUEUE) return ACMERR_BUSY;
  if (pash->dwReservedDriver[2] != s->id || pash->cbSrcLength > pash->dwReservedDriver[0] ||
      pash->cbDstLength > pash->dwReservedDriver[1] || (pash->cbSrcLength && !pash->pbSrc) ||
      (pash->cbDstLength && !pash->pbDst))
    return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> g(s->lock);
  pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
  uint32_t used = 0, written = 0;
  s->stream->Convert(pash->pbSrc, pash->cbSrcLength, pash->pbDst, pash->cbDstLength, fdwConvert,
                     used, written);
  pash->cbSrcLengthUsed = used;
  pash->cbDstLengthUsed = written;
  pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return MMSYSERR_NOERROR;
}

}  // extern "C"
