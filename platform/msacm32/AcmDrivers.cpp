#include "AcmDrivers.h"

namespace acm {

namespace {

bool Has(const Driver& d, uint16_t tag) {
  for (uint16_t t : d.tags)
    if (t == tag) return true;
  return false;
}

bool IsPcm16(const WAVEFORMATEX* p) {
  return IsValidPcm(p) && p->wBitsPerSample == 16;
}

bool SameShape(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
  return a->nChannels == b->nChannels && a->nSamplesPerSec == b->nSamplesPerSec;
}

}  // namespace

bool Driver::Supports(const WAVEFORMATEX* src, const WAVEFORMATEX* dst) const {
  if (kind == DriverKind::Pcm) {
    if (!IsValidPcm(src) || !IsValidPcm(dst)) return false;
    // One stream changes the rate or the sample size (either with the channels), not both.
    return src->nSamplesPerSec == dst->nSamplesPerSec || src->wBitsPerSample == dst->wBitsPerSample;
  }
  const WAVEFORMATEX* codec = src->wFormatTag == WAVE_FORMAT_PCM ? dst : src;
  const WAVEFORMATEX* pcm = codec == dst ? src : dst;
  return Has(*this, codec->wFormatTag) && IsValidFormat(codec) && IsPcm16(pcm) &&
         SameShape(codec, pcm);
}

bool Driver::Suggest(const WAVEFORMATEX* src, const WAVEFORMATEX* want, uint32_t flags,
                     Format& out) const {
  if (!IsValidFormat(src)) return false;
  const bool fixTag = flags & ACM_FORMATSUGGESTF_WFORMATTAG;
  const bool fixCh = flags & ACM_FORMATSUGGESTF_NCHANNELS;
  const bool fixRate = flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
  const bool fixBits = flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
  const unsigned ch = fixCh ? want->nChannels : src->nChannels;
  const uint32_t rate = fixRate ? want->nSamplesPerSec : src->nSamplesPerSec;
  Format f;
  if (src->wFormatTag != WAVE_FORMAT_PCM) {
    // Decoding: 16-bit PCM of the same rate and channels, from the codec of that tag.
    if (!Has(*this, src->wFormatTag) || (fixTag && want->wFormatTag != WAVE_FORMAT_PCM))
      return false;
    f = Pcm(rate, fixBits ? want->wBitsPerSample : 16, ch);
  } else if (kind == DriverKind::Pcm) {
    if (fixTag && want->wFormatTag != WAVE_FORMAT_PCM) return false;
    if (ch < 1 || ch > 2) return false;
    const unsigned bits = fixBits ? want->wBitsPerSample : src->wBitsPerSample;
    if (bits != 8 && bits != 16) return false;
    f = Pcm(rate, bits, ch);
  } else {
    // Encoding is suggested only when the tag is asked for.
    if (!fixTag || !Has(*this, want->wFormatTag) || want->wFormatTag == WAVE_FORMAT_PCM)
      return false;
    f = Standard(want->wFormatTag, rate, ch);
    if (f.empty() || (fixBits && f->wBitsPerSample != want->wBitsPerSample)) return false;
  }
  if (!IsValidFormat(f.get()) || !Supports(src, f.get())) return false;
  out = f;
  return true;
}

std::unique_ptr<Stream> Driver::Open(const Format& src, const Format& dst, bool highQuality) const {
  if (!Supports(src.get(), dst.get())) return nullptr;
  if (kind == DriverKind::Pcm) return OpenPcmStream(src, dst, highQuality);
  return OpenCodecStream(src, dst);
}

uint32_t Driver::MaxFormatSize() const {
  uint32_t most = sizeof(WAVEFORMATEX);
  for (uint16_t t : tags)
    for (const Format& f : StandardFormats(t)) most = std::max(most, f.size());
  return most;
}

const std::vector<Driver>& Drivers() {
  static const std::vector<Driver> drivers = {
      {kDriverMagic,
       DriverKind::Pcm,
       "PCM Converter",
       "PCM Sample Size, Channel and Rate Converter",
       ACMDRIVERDETAILS_SUPPORTF_CONVERTER,
       1,
       {WAVE_FORMAT_PCM}},
      {kDriverMagic,
       DriverKind::G711,
       "CCITT G.711",
       "CCITT G.711 A-Law and u-Law CODEC",
       ACMDRIVERDETAILS_SUPPORTF_CODEC,
       2,
       {WAVE_FORMAT_ALAW, WAVE_FORMAT_MULAW}},
      {kDriverMagic,
       DriverKind::ImaAdpcm,
       "IMA ADPCM",
       "IMA ADPCM CODEC",
       ACMDRIVERDETAILS_SUPPORTF_CODEC,
       3,
       {WAVE_FORMAT_IMA_ADPCM}},
      {kDriverMagic,
       DriverKind::MsAdpcm,
       "Microsoft ADPCM",
       "Microsoft ADPCM CODEC",
       ACMDRIVERDETAILS_SUPPORTF_CODEC,
       4,
       {WAVE_FORMAT_ADPCM}},
      {kDriverMagic,
       DriverKind::Gsm,
       "GSM 6.10",
       "GSM 6.10 Audio CODEC",
       ACMDRIVERDETAILS_SUPPORTF_CODEC,
       5,
       {WAVE_FORMAT_GSM610}},
  };
  return drivers;
}

}  // namespace acm
