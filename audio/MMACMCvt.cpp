#include "MMACMCvt.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "MMACMBind.h"

namespace {

const char* const kCannotConvert = "Unable to convert to destination format";

// Room for the largest format record acmFormatSuggest may write.
constexpr std::uint32_t kSuggestBuffer = 1025;
constexpr std::uint32_t kChunk = 8192;
// Conversions in a row that take and give nothing before a pull gives up.
constexpr int kMaxEmptyConversions = 5;
constexpr std::size_t kMaxStages = 8;
constexpr std::uint32_t kMaxCarried = 1u << 20;

LPWAVEFORMATEX W(const TWaveFormatEx* f) {
  return reinterpret_cast<LPWAVEFORMATEX>(const_cast<TWaveFormatEx*>(f));
}

bool SameFormat(const TWaveFormatEx* a, const TWaveFormatEx* b) {
  return a->wFormatTag == b->wFormatTag && a->wBitsPerSample == b->wBitsPerSample &&
         a->nChannels == b->nChannels && a->nSamplesPerSec == b->nSamplesPerSec;
}

std::uint32_t OpenFlags(TMMConvertQuality q) {
  return q == cqHigh ? ACM_STREAMOPENF_NONREALTIME : 0;
}

bool CanOpen(const TACMApi& a, const TWaveFormatEx* s, const TWaveFormatEx* d,
             TMMConvertQuality q) {
  return a.acmStreamOpen(nullptr, nullptr, W(s), W(d), nullptr, 0, 0,
                         ACM_STREAMOPENF_QUERY | OpenFlags(q)) == MMSYSERR_NOERROR;
}

// acmFormatSuggest into a fresh record; m holds the fields the flags fix.
WfxPtr Suggest(const TACMApi& a, const TWaveFormatEx* src, const std::vector<std::uint8_t>& m,
               std::uint32_t flags) {
  std::vector<std::uint8_t> out = m;
  out.resize(kSuggestBuffer, 0);
  if (a.acmFormatSuggest(nullptr, W(src), reinterpret_cast<LPWAVEFORMATEX>(out.data()),
                         kSuggestBuffer, flags) != MMSYSERR_NOERROR)
    return nullptr;
  auto* f = reinterpret_cast<TWaveFormatEx*>(out.data());
  if (f->wFormatTag != WAVE_FORMAT_PCM && 18u + f->cbSize > kSuggestBuffer) return nullptr;
  return WfxClone(f);
}

std::vector<std::uint8_t> Want(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                               std::uint16_t bits = 0) {
  std::vector<std::uint8_t> m(sizeof(TWaveFormatEx), 0);
  auto* f = reinterpret_cast<TWaveFormatEx*>(m.data());
  f->wFormatTag = tag;
  f->nChannels = channels;
  f->nSamplesPerSec = rate;
  f->wBitsPerSample = bits;
  return m;
}

bool PlanFrom(const TACMApi& a, const TWaveFormatEx* s, const TWaveFormatEx* d, TMMConvertQuality q,
              std::vector<WfxPtr>& chain) {
  if (SameFormat(s, d)) return true;
  if (chain.size() >= kMaxStages) return false;
  if (CanOpen(a, s, d, q)) {
    chain.push_back(WfxClone(d));
    return true;
  }
  WfxPtr m;
  if (s->wFormatTag == WAVE_FORMAT_PCM) {
    if (d->nChannels == s->nChannels && d->nSamplesPerSec == s->nSamplesPerSec) return false;
    const std::uint32_t fix = ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
    m = Suggest(a, s, Want(0, d->nChannels, d->nSamplesPerSec), fix);
    if (!m) return false;
    if (!CanOpen(a, m.get(), d, q)) {
      const std::uint16_t bits = m->wBitsPerSample == 8 ? 16 : 8;
      m = Suggest(a, s, Want(0, d->nChannels, d->nSamplesPerSec, bits),
                  fix | ACM_FORMATSUGGESTF_WBITSPERSAMPLE);
      if (!m) return false;
    }
  } else {
    m = Suggest(a, s, Want(WAVE_FORMAT_PCM, d->nChannels, d->nSamplesPerSec),
                ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                    ACM_FORMATSUGGESTF_NSAMPLESPERSEC);
    if (!m) m = Suggest(a, s, Want(WAVE_FORMAT_PCM, 0, 0), ACM_FORMATSUGGESTF_WFORMATTAG);
    if (!m) return false;
  }
  if (SameFormat(m.get(), s) || !CanOpen(a, s, m.get(), q)) return false;
  const TWaveFormatEx* next = m.get();
  chain.push_back(std::move(m));
  return PlanFrom(a, next, d, q, chain);
}

}  // namespace

bool ACMPlanConversion(const TWaveFormatEx* src, const TWaveFormatEx* dst,
                       TMMConvertQuality quality, std::vector<WfxPtr>* chain) {
  const TACMApi& a = ACMApi();
  if (!a.Usable() || !src || !dst) return false;
  std::vector<WfxPtr> local;
  std::vector<WfxPtr>& c = chain ? *chain : local;
  c.clear();
  if (!PlanFrom(a, src, dst, quality, c)) {
    c.clear();
    return false;
  }
  return true;
}

WfxPtr ACMBuildFormat(int tag, int rate, int bits, int channels) {
  if (tag <= 0 || tag > 0xFFFF || rate <= 0 || channels < 1 || channels > 2 || bits < 0 ||
      bits > 0xFFFF)
    return nullptr;
  if (tag == WAVE_FORMAT_PCM) {
    TWaveFormatEx f{};
    pcmBuildFormat(&f, bits, channels, rate);
    if (!pcmIsValidFormat(&f)) return nullptr;
    return WfxClone(&f);
  }
  const TACMApi& a = ACMApi();
  if (!a.Usable()) return nullptr;
  TWaveFormatEx pcm{};
  pcmBuildFormat(&pcm, 16, channels, rate);
  std::uint32_t flags = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                        ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
  if (bits) flags |= ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
  WfxPtr f = Suggest(a, &pcm,
                     Want(static_cast<std::uint16_t>(tag), static_cast<std::uint16_t>(channels),
                          static_cast<std::uint32_t>(rate), static_cast<std::uint16_t>(bits)),
                     flags);
  if (!f || f->wFormatTag != tag || f->nSamplesPerSec != std::uint32_t(rate) ||
      f->nChannels != channels || (bits && f->wBitsPerSample != bits))
    return nullptr;
  return f;
}

// ---- the conversion object ----

struct TMMACMConverter::Conversion {
  struct Stage {
    HACMSTREAM h = nullptr;
    ACMSTREAMHEADER hdr{};
    std::vector<std::uint8_t> src, dst;
    std::uint32_t carried = 0;   // source bytes the last call left, first in the next one
    std::uint32_t unit = 1;      // source bytes one destination block takes
    std::uint32_t srcFrame = 0;  // bytes of one sample frame of a PCM source; 0: not PCM
    bool prepared = false;
  };
  const TACMApi* api = nullptr;
  std::uint32_t chunk = 0;
  std::vector<Stage> stages;
  bool pending = false;  // some stage holds source bytes for its next call
  bool nothing = false;  // the last conversion neither gave nor took anything
  std::uint32_t available = 0, readPos = 0;
  std::size_t flushStage = 0;  // the stage the end of the input is being drained from
  bool flushed = false;
  // PCM sample frames the last stage took from a PCM source since the start (-1 when its
  // source is not PCM): the true length of a compressed output, whose last block is padded.
  std::int64_t framesIn = 0;

  ~Conversion() {
    for (Stage& s : stages) {
      if (s.prepared) api->acmStreamUnprepareHeader(s.h, &s.hdr, 0);
      if (s.h) api->acmStreamClose(s.h, 0);
    }
  }

  void Prepare(Stage& s) {
    s.hdr = ACMSTREAMHEADER{};
    s.hdr.cbStruct = sizeof s.hdr;
    s.hdr.pbSrc = s.src.data();
    s.hdr.cbSrcLength = static_cast<std::uint32_t>(s.src.size());
    s.hdr.pbDst = s.dst.data();
    s.hdr.cbDstLength = static_cast<std::uint32_t>(s.dst.size());
    if (api->acmStreamPrepareHeader(s.h, &s.hdr, 0) != MMSYSERR_NOERROR)
      throw EMMConverterError(kCannotConvert);
    s.prepared = true;
  }

  // A stage that must take more than it was prepared for (a stream that left more than a block
  // behind) gets larger buffers, prepared again.
  void Reserve(Stage& s, std::uint32_t need) {
    if (need <= s.src.size()) return;
    api->acmStreamUnprepareHeader(s.h, &s.hdr, 0);
    s.prepared = false;
    std::uint32_t dst = 0;
    if (api->acmStreamSize(s.h, need, &dst, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR)
      throw EMMConverterError(kCannotConvert);
    std::vector<std::uint8_t> src(need);
    std::memcpy(src.data(), s.src.data(), s.carried);
    s.src.swap(src);
    s.dst.assign(std::max<std::size_t>(dst, s.dst.size()), 0);
    Prepare(s);
  }

  void Add(const TWaveFormatEx* from, const TWaveFormatEx* to, TMMConvertQuality q,
           std::uint32_t inCap) {
    stages.emplace_back();
    Stage& s = stages.back();
    if (api->acmStreamOpen(&s.h, nullptr, W(from), W(to), nullptr, 0, 0, OpenFlags(q)) !=
            MMSYSERR_NOERROR ||
        !s.h) {
      s.h = nullptr;
      throw EMMConverterError(kCannotConvert);
    }
    std::uint32_t unit = 0;
    if (api->acmStreamSize(s.h, std::max<std::uint32_t>(to->nBlockAlign, 1), &unit,
                           ACM_STREAMSIZEF_DESTINATION) != MMSYSERR_NOERROR)
      unit = 0;
    s.unit = std::max<std::uint32_t>({unit, from->nBlockAlign, 1});
    if (from->wFormatTag == WAVE_FORMAT_PCM && from->nBlockAlign) s.srcFrame = from->nBlockAlign;
    const std::uint32_t srcCap = inCap + s.unit;
    std::uint32_t dstCap = 0;
    if (api->acmStreamSize(s.h, srcCap, &dstCap, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR ||
        dstCap == 0)
      throw EMMConverterError(kCannotConvert);
    s.src.assign(srcCap, 0);
    s.dst.assign(dstCap, 0);
    Prepare(s);
  }

  static void WaitDone(const ACMSTREAMHEADER& h) {
    // The manager may finish a header later than the call returns; it is done within moments.
    for (int i = 0; !(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE); ++i) {
      if (i > 10000) throw EMMConverterError(kCannotConvert);
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }

  // Runs stages from..last: the new bytes go behind stage from's carried ones; stage from
  // drains with the end flag when end is set. Returns what stage from gave.
  std::uint32_t Run(const std::uint8_t* data, std::uint32_t n, bool end, std::size_t from) {
    const std::uint8_t* in = data;
    std::uint32_t len = n, firstOut = 0;
    bool stalled = false;
    available = readPos = 0;
    for (std::size_t k = from; k < stages.size(); ++k) {
      Stage& s = stages[k];
      const std::uint32_t need = s.carried + len;
      Reserve(s, need);
      if (len) std::memmove(s.src.data() + s.carried, in, len);
      s.hdr.cbSrcLength = need;
      s.hdr.cbSrcLengthUsed = 0;
      s.hdr.cbDstLength = static_cast<std::uint32_t>(s.dst.size());
      s.hdr.cbDstLengthUsed = 0;
      const std::uint32_t flags =
          end && k == from ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
      if (api->acmStreamConvert(s.h, &s.hdr, flags) != MMSYSERR_NOERROR)
        throw EMMConverterError(kCannotConvert);
      WaitDone(s.hdr);
      const std::uint32_t used = std::min(s.hdr.cbSrcLengthUsed, need);
      const std::uint32_t out = std::min(s.hdr.cbDstLengthUsed, s.hdr.cbDstLength);
      // A stream that had a whole block and took none of it is stuck; so is one that keeps
      // taking nothing while its bytes pile up.
      if (!used && !out && (need >= s.unit || need > kMaxCarried)) stalled = true;
      s.carried = need - used;
      if (s.carried && used) std::memmove(s.src.data(), s.src.data() + used, s.carried);
      if (k + 1 == stages.size()) framesIn = s.srcFrame ? framesIn + used / s.srcFrame : -1;
      if (k == from) firstOut = out;
      in = s.dst.data();
      len = out;
    }
    available = len;
    pending = false;
    for (const Stage& s : stages) pending = pending || s.carried > 0;
    nothing = available == 0 && stalled;
    return firstOut;
  }

  const std::uint8_t* Output() const { return stages.back().dst.data() + readPos; }
  std::uint32_t Left() const { return available - readPos; }

  void Reset() {
    for (Stage& s : stages) {
      s.hdr.cbSrcLength = 0;
      s.hdr.cbDstLength = static_cast<std::uint32_t>(s.dst.size());
      api->acmStreamConvert(s.h, &s.hdr, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
      s.carried = 0;
    }
    available = readPos = 0;
    pending = nothing = false;
    flushStage = 0;
    flushed = false;
    framesIn = 0;
  }
};

// ---- the component ----

TMMACMConverter::TMMACMConverter() = default;

TMMACMConverter::~TMMACMConverter() {
  state_ |= csDestroying;
  conv_.reset();
}

bool TMMACMConverter::HasPublishedProperty(const std::string& name) const {
  return name == "Enabled" || name == "Quality" || TMMDSPComponent::HasPublishedProperty(name);
}

void TMMACMConverter::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  Replan();
}

void TMMACMConverter::SetQuality(TMMConvertQuality q) {
  if (q == quality_) return;
  quality_ = q;
  Replan();
}

void TMMACMConverter::SetWaveFormat(const TWaveFormatEx* format) {
  if (!format || (state_ & (csLoading | csDestroying))) return;
  if (format != wanted_.get()) wanted_ = WfxClone(format);
  Replan();
}

void TMMACMConverter::InputFormatChanged(const TWaveFormatEx* format) {
  if (format != input_fmt_.get()) input_fmt_ = WfxClone(format);
  Replan();
}

void TMMACMConverter::Loaded() {
  // Past the DSP base on purpose: that one would take the converter's own (output) format for
  // the one wanted.
  TMMComponent::Loaded();  // NOLINT(bugprone-parent-virtual-call)
  Replan();
}

void TMMACMConverter::SetOutputFormat(const TWaveFormatEx* format) {
  const bool same = (!format && !pwfx_) ||
                    (format && pwfx_ && wfxSize(format) == wfxSize(pwfx_) &&
                     std::memcmp(format, pwfx_, static_cast<std::size_t>(wfxSize(format))) == 0);
  if (!same) {
    if (started_) Stopped();
    PWaveFormatEx old = pwfx_;
    pwfx_ = wfxCopy(format);
    wfxFree(old);
  }
  if (Propagating() && output_) output_->InputFormatChanged(pwfx_);
}

void TMMACMConverter::Replan() {
  needed_ = possible_ = false;
  plan_.clear();
  if (state_ & (csLoading | csReading | csDestroying)) return;
  const TWaveFormatEx* out = input_fmt_.get();
  // Without a usable compression manager the audio passes through unchanged.
  if (input_fmt_ && enabled_ && wanted_ && !SameFormat(wanted_.get(), input_fmt_.get()) &&
      ACMApi().Usable()) {
    needed_ = true;
    if (ACMPlanConversion(input_fmt_.get(), wanted_.get(), quality_, &plan_)) {
      possible_ = true;
      out = wanted_.get();
    }
  }
  // A change while open takes effect at once: the stages are built anew.
  if (opened_ && (conv_ || (enabled_ && needed_ && possible_))) {
    conv_.reset();
    ih_.reset();
    if (enabled_ && needed_ && possible_) {
      Build();
      ih_ = AllocWaveHdr(std::max<std::size_t>(conv_->chunk, std::size_t(GetBufferSize())));
    }
  }
  SetOutputFormat(out);
}

bool TMMACMConverter::Converting() const {
  return enabled_ && needed_ && possible_ && conv_ != nullptr;
}

int TMMACMConverter::StageCount() const {
  return conv_ ? static_cast<int>(conv_->stages.size()) : 0;
}

void TMMACMConverter::Build() {
  auto c = std::make_unique<Conversion>();
  c->api = &ACMApi();
  const TWaveFormatEx* from = input_fmt_.get();
  const std::uint32_t align = std::max<std::uint32_t>(from->nBlockAlign, 1);
  // Whole source blocks, at least one.
  c->chunk = std::max(kChunk / align * align, align);
  std::uint32_t inCap = c->chunk;
  for (const WfxPtr& to : plan_) {
    c->Add(from, to.get(), quality_, inCap);
    inCap = static_cast<std::uint32_t>(c->stages.back().dst.size());
    from = to.get();
  }
  if (c->stages.empty()) throw EMMConverterError(kCannotConvert);
  chunk_ = static_cast<int>(c->chunk);
  conv_ = std::move(c);
}

void TMMACMConverter::Opened() {
  if (!opened_ && enabled_ && needed_) {
    if (!possible_) throw EMMConverterError(kCannotConvert);
    conv_.reset();
    Build();
  }
  TMMDSPComponent::Opened();
  if (conv_) ih_ = AllocWaveHdr(std::max<std::size_t>(conv_->chunk, std::size_t(GetBufferSize())));
}

void TMMACMConverter::Closed() {
  conv_.reset();
  ih_.reset();
  chunk_ = 0;
  TMMDSPComponent::Closed();
}

std::int64_t TMMACMConverter::FramesEncoded() const {
  if (!Converting() || !pwfx_ || pwfx_->wFormatTag == WAVE_FORMAT_PCM) return -1;
  return conv_->framesIn;
}

void TMMACMConverter::ResetStages() {
  if (conv_) conv_->Reset();
  endOfInput_ = false;
  moreBuffers_ = false;
}

void TMMACMConverter::Started() {
  TMMDSPComponent::Started();
  // Each run is a signal of its own: no history, carried bytes or output of an earlier one.
  ResetStages();
}

void TMMACMConverter::Stopped() {
  TMMDSPComponent::Stopped();
  if (conv_) conv_->available = conv_->readPos = 0;
}

void TMMACMConverter::Repositioned() {
  ResetStages();
  TMMDSPComponent::Repositioned();
}

std::uint32_t TMMACMConverter::Available() const {
  return conv_ ? conv_->Left() : 0;
}

void TMMACMConverter::Convert(const char* data, std::uint32_t n) {
  conv_->Run(reinterpret_cast<const std::uint8_t*>(data), n, false, 0);
}

// One step of draining the stages at the end of the input; 0 when all are drained.
std::uint32_t TMMACMConverter::Flush() {
  Conversion& c = *conv_;
  for (int guard = 0; !c.flushed && guard < 100000; ++guard) {
    if (c.flushStage >= c.stages.size()) {
      c.flushed = true;
      break;
    }
    const std::uint32_t gave = c.Run(nullptr, 0, true, c.flushStage);
    if (c.available) return c.available;
    if (!gave) ++c.flushStage;  // this stage is dry; what it gave was taken in below
  }
  c.flushed = true;
  c.available = c.readPos = 0;
  return 0;
}

void TMMACMConverter::BufferLoad(PWaveHdr h, bool& MoreBuffers) {
  if (!Converting()) {
    TMMDSPComponent::BufferLoad(h, MoreBuffers);
    return;
  }
  Conversion& c = *conv_;
  TMMWaveHdr* ih = ih_.get();
  const std::uint32_t cap = h->dwBufferLength;
  std::uint32_t filled = 0;
  int empty = 0;
  h->dwBytesRecorded = 0;
  for (;;) {
    const std::uint32_t n = std::min(c.Left(), cap - filled);
    if (n) {
      std::memcpy(h->lpData + filled, c.Output(), n);
      c.readPos += n;
      filled += n;
    }
    if (h->Looped || !started_ || filled >= cap) break;
    if (!endOfInput_) {
      ih->Looping = h->Looping;
      ih->LoopCount = h->LoopCount;
      ih->LoopsLeft = h->LoopsLeft;
      ih->Looped = 0;
      ih->dwBufferLength = c.chunk;
      ih->dwBytesRecorded = 0;
      moreBuffers_ = false;
      TMMDSPComponent::BufferLoad(ih, moreBuffers_);
      h->LoopsLeft = ih->LoopsLeft;
      if (ih->Looped) h->Looped = ih->Looped;
      const std::uint32_t got = std::min(ih->dwBytesRecorded, c.chunk);
      endOfInput_ = !moreBuffers_ || got == 0;
      if (got) {
        Convert(ih->lpData, got);
        if (c.nothing && !endOfInput_) {
          if (++empty >= kMaxEmptyConversions) throw EMMConverterError(kCannotConvert);
        } else {
          empty = 0;
        }
      }
      continue;
    }
    if (Flush() == 0) break;
  }
  h->dwBytesRecorded = filled;
  MoreBuffers = !endOfInput_ || c.Left() > 0 || !c.flushed;
}

void TMMACMConverter::PushConverted() {
  Conversion& c = *conv_;
  TMMWaveHdr* ih = ih_.get();
  const std::uint32_t piece = static_cast<std::uint32_t>(std::max(GetBufferSize(), 1));
  while (c.Left() > 0) {
    const std::uint32_t n = std::min(c.Left(), piece);
    std::memcpy(ih->lpData, c.Output(), n);
    c.readPos += n;
    ih->dwBufferLength = n;
    ih->dwBytesRecorded = n;
    TMMDSPComponent::BufferReady(ih);
  }
}

void TMMACMConverter::BufferReady(PWaveHdr h) {
  if (!Converting()) {
    TMMDSPComponent::BufferReady(h);
    return;
  }
  Conversion& c = *conv_;
  const char* data = h->lpData;
  std::uint32_t left = h->dwBytesRecorded;
  while (left > 0) {
    const std::uint32_t n = std::min(left, c.chunk);
    Convert(data, n);
    if (c.nothing) throw EMMConverterError(kCannotConvert);
    PushConverted();
    data += n;
    left -= n;
  }
}
