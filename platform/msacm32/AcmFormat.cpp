#include "AcmFormat.h"

#include <cstdio>
#include <cstring>

namespace acm {

namespace {

const uint32_t kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
const uint32_t kGsmRates[] = {8000, 11025, 22050, 44100};
const ADPCMCOEFSET kMsCoefs[7] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                  {240, 0}, {460, -208}, {392, -232}};

bool CommonOk(const WAVEFORMATEX* p, unsigned maxChannels) {
  return p->nChannels >= 1 && p->nChannels <= maxChannels && p->nSamplesPerSec >= kMinRate &&
         p->nSamplesPerSec <= kMaxRate;
}

uint16_t Extra16(const WAVEFORMATEX* p, unsigned offset) {
  uint16_t v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(p) + sizeof(WAVEFORMATEX) + offset, 2);
  return v;
}

// The block size the codecs use: 256 bytes per channel up to 11025 Hz, doubled with the rate.
uint16_t AdpcmBlockAlign(uint32_t rate, unsigned channels) {
  unsigned perChannel = rate <= 11025 ? 256 : rate <= 22050 ? 512 : 1024;
  return uint16_t(perChannel * channels);
}

uint32_t ByteRate(uint32_t rate, unsigned blockAlign, unsigned samplesPerBlock) {
  return uint32_t((uint64_t(rate) * blockAlign + samplesPerBlock / 2) / samplesPerBlock);
}

}  // namespace

Format::Format(const WAVEFORMATEX* p) {
  const auto* b = reinterpret_cast<const uint8_t*>(p);
  bytes_.assign(b, b + FormatSize(p));
  if (p->wFormatTag == WAVE_FORMAT_PCM) get()->cbSize = 0;
}

bool Format::CopyTo(WAVEFORMATEX* out, uint32_t cb) const {
  if (!out || cb < size()) return false;
  std::memcpy(out, bytes_.data(), size());
  return true;
}

uint32_t FormatSize(const WAVEFORMATEX* p) {
  if (p->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
  return sizeof(WAVEFORMATEX) + p->cbSize;
}

bool IsValidPcm(const WAVEFORMATEX* p) {
  if (p->wFormatTag != WAVE_FORMAT_PCM || !CommonOk(p, 2)) return false;
  if (p->wBitsPerSample != 8 && p->wBitsPerSample != 16) return false;
  unsigned align = p->nChannels * p->wBitsPerSample / 8;
  return p->nBlockAlign == align && p->nAvgBytesPerSec == p->nSamplesPerSec * align;
}

bool IsValidG711(const WAVEFORMATEX* p) {
  return (p->wFormatTag == WAVE_FORMAT_ALAW || p->wFormatTag == WAVE_FORMAT_MULAW) &&
         CommonOk(p, 2) && p->wBitsPerSample == 8 && p->nBlockAlign == p->nChannels;
}

bool IsValidImaAdpcm(const WAVEFORMATEX* p) {
  if (p->wFormatTag != WAVE_FORMAT_IMA_ADPCM || !CommonOk(p, 2)) return false;
  if (p->wBitsPerSample != 4 || p->cbSize < 2) return false;
  const unsigned ch = p->nChannels, align = p->nBlockAlign;
  if (align < 4 * ch * 2 || align % (4 * ch)) return false;
  const unsigned most = (align - 4 * ch) * 2 / ch + 1;
  const unsigned spb = Extra16(p, 0);
  return spb >= 1 && spb <= most;
}

bool IsValidMsAdpcm(const WAVEFORMATEX* p) {
  if (p->wFormatTag != WAVE_FORMAT_ADPCM || !CommonOk(p, 2)) return false;
  if (p->wBitsPerSample != 4 || p->cbSize < 4) return false;
  const unsigned ch = p->nChannels, align = p->nBlockAlign;
  if (align < 7 * ch + ch) return false;
  const unsigned numCoef = Extra16(p, 2);
  if (numCoef < 1 || numCoef > 256 || p->cbSize < 4 + 4 * numCoef) return false;
  const unsigned most = (align - 7 * ch) * 2 / ch + 2;
  const unsigned spb = Extra16(p, 0);
  return spb >= 2 && spb <= most;
}

bool IsValidGsm(const WAVEFORMATEX* p) {
  return p->wFormatTag == WAVE_FORMAT_GSM610 && CommonOk(p, 1) && p->nBlockAlign == 65 &&
         p->cbSize >= 2 && Extra16(p, 0) == 320;
}

bool IsValidFormat(const WAVEFORMATEX* p) {
  switch (p->wFormatTag) {
    case WAVE_FORMAT_PCM:
      return IsValidPcm(p);
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
      return IsValidG711(p);
    case WAVE_FORMAT_IMA_ADPCM:
      return IsValidImaAdpcm(p);
    case WAVE_FORMAT_ADPCM:
      return IsValidMsAdpcm(p);
    case WAVE_FORMAT_GSM610:
      return IsValidGsm(p);
    default:
      return false;
  }
}

Format Pcm(uint32_t rate, unsigned bits, unsigned channels) {
  WAVEFORMATEX w{};
  w.wFormatTag = WAVE_FORMAT_PCM;
  w.nChannels = uint16_t(channels);
  w.nSamplesPerSec = rate;
  w.nBlockAlign = uint16_t(channels * bits / 8);
  w.nAvgBytesPerSec = rate * w.nBlockAlign;
  w.wBitsPerSample = uint16_t(bits);
  return Format(&w);
}

Format G711(uint16_t tag, uint32_t rate, unsigned channels) {
  WAVEFORMATEX w{};
  w.wFormatTag = tag;
  w.nChannels = uint16_t(channels);
  w.nSamplesPerSec = rate;
  w.nBlockAlign = uint16_t(channels);
  w.nAvgBytesPerSec = rate * channels;
  w.wBitsPerSample = 8;
  return Format(&w);
}

Format ImaAdpcm(uint32_t rate, unsigned channels) {
  IMAADPCMWAVEFORMAT f{};
  f.wfx.wFormatTag = WAVE_FORMAT_IMA_ADPCM;
  f.wfx.nChannels = uint16_t(channels);
  f.wfx.nSamplesPerSec = rate;
  f.wfx.nBlockAlign = AdpcmBlockAlign(rate, channels);
  f.wfx.wBitsPerSample = 4;
  f.wfx.cbSize = 2;
  f.wSamplesPerBlock = uint16_t((f.wfx.nBlockAlign - 4 * channels) * 2 / channels + 1);
  f.wfx.nAvgBytesPerSec = ByteRate(rate, f.wfx.nBlockAlign, f.wSamplesPerBlock);
  return Format(&f.wfx);
}

Format MsAdpcm(uint32_t rate, unsigned channels) {
  ADPCMWAVEFORMAT f{};
  f.wfx.wFormatTag = WAVE_FORMAT_ADPCM;
  f.wfx.nChannels = uint16_t(channels);
  f.wfx.nSamplesPerSec = rate;
  f.wfx.nBlockAlign = AdpcmBlockAlign(rate, channels);
  f.wfx.wBitsPerSample = 4;
  f.wfx.cbSize = 32;
  f.wSamplesPerBlock = uint16_t((f.wfx.nBlockAlign - 7 * channels) * 2 / channels + 2);
  f.wNumCoef = 7;
  std::memcpy(f.aCoef, kMsCoefs, sizeof kMsCoefs);
  f.wfx.nAvgBytesPerSec = ByteRate(rate, f.wfx.nBlockAlign, f.wSamplesPerBlock);
  return Format(&f.wfx);
}

Format Gsm(uint32_t rate) {
  GSM610WAVEFORMAT f{};
  f.wfx.wFormatTag = WAVE_FORMAT_GSM610;
  f.wfx.nChannels = 1;
  f.wfx.nSamplesPerSec = rate;
  f.wfx.nBlockAlign = 65;
  f.wfx.cbSize = 2;
  f.wSamplesPerBlock = 320;
  f.wfx.nAvgBytesPerSec = ByteRate(rate, 65, 320);
  return Format(&f.wfx);
}

Format Standard(uint16_t tag, uint32_t rate, unsigned channels, unsigned pcmBits) {
  switch (tag) {
    case WAVE_FORMAT_PCM:
      return Pcm(rate, pcmBits, channels);
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
      return G711(tag, rate, channels);
    case WAVE_FORMAT_IMA_ADPCM:
      return ImaAdpcm(rate, channels);
    case WAVE_FORMAT_ADPCM:
      return MsAdpcm(rate, channels);
    case WAVE_FORMAT_GSM610:
      return channels == 1 ? Gsm(rate) : Format();
    default:
      return Format();
  }
}

unsigned SamplesPerBlock(const WAVEFORMATEX* p) {
  switch (p->wFormatTag) {
    case WAVE_FORMAT_IMA_ADPCM:
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_GSM610:
      return Extra16(p, 0);
    default:
      return 1;
  }
}

std::vector<Format> StandardFormats(uint16_t tag) {
  std::vector<Format> out;
  if (tag == WAVE_FORMAT_GSM610) {
    for (uint32_t r : kGsmRates) out.push_back(Gsm(r));
    return out;
  }
  for (uint32_t r : kRates) {
    if (tag == WAVE_FORMAT_PCM) {
      for (unsigned bits : {8u, 16u})
        for (unsigned ch : {1u, 2u}) out.push_back(Pcm(r, bits, ch));
    } else {
      for (unsigned ch : {1u, 2u}) {
        Format f = Standard(tag, r, ch);
        if (!f.empty()) out.push_back(f);
      }
    }
  }
  return out;
}

std::string TagName(uint16_t tag) {
  switch (tag) {
    case WAVE_FORMAT_PCM:
      return "PCM";
    case WAVE_FORMAT_ADPCM:
      return "Microsoft ADPCM";
    case WAVE_FORMAT_ALAW:
      return "CCITT A-Law";
    case WAVE_FORMAT_MULAW:
      return "CCITT u-Law";
    case WAVE_FORMAT_IMA_ADPCM:
      return "IMA ADPCM";
    case WAVE_FORMAT_GSM610:
      return "GSM 6.10";
    default:
      return "";
  }
}

std::string FormatName(const WAVEFORMATEX* p) {
  char buf[ACMFORMATDETAILS_FORMAT_CHARS];
  const char* ch = p->nChannels == 1 ? "Mono" : p->nChannels == 2 ? "Stereo" : "Multichannel";
  const unsigned khz = p->nSamplesPerSec / 1000, frac = p->nSamplesPerSec % 1000;
  if (p->wBitsPerSample == 0)
    std::snprintf(buf, sizeof buf, "%u.%03u kHz, %s", khz, frac, ch);
  else
    std::snprintf(buf, sizeof buf, "%u.%03u kHz, %u Bit, %s", khz, frac, p->wBitsPerSample, ch);
  return buf;
}

}  // namespace acm
