// Compressed input of any bytes through the compression manager's decoders: the first bytes
// choose the format record (a listed one, or one built from the input itself), the rest is the
// stream, cut into pieces of input-chosen sizes. Nothing may crash or touch memory outside the
// buffers, whatever the record claims.
#include <cstdint>
#include <cstring>
#include <vector>

#include "mmreg.h"

namespace {

const uint16_t kTags[] = {WAVE_FORMAT_IMA_ADPCM, WAVE_FORMAT_ADPCM, WAVE_FORMAT_GSM610,
                          WAVE_FORMAT_ALAW, WAVE_FORMAT_MULAW};

struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  uint16_t Word() { return uint16_t(Byte() | (Byte() << 8)); }
};

int Pick(HACMDRIVERID, LPACMFORMATDETAILSA d, uintptr_t inst, uint32_t) {
  auto* want = reinterpret_cast<std::pair<unsigned, std::vector<uint8_t>>*>(inst);
  if (want->first--) return 1;
  const auto* b = reinterpret_cast<const uint8_t*>(d->pwfx);
  want->second.assign(b, b + sizeof(WAVEFORMATEX) + d->pwfx->cbSize);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader r{data, size};
  const uint8_t mode = r.Byte();
  std::vector<uint8_t> fmt;
  const uint16_t tag = kTags[(mode >> 1) % 5];
  if (mode & 1) {
    // A record made of input bytes: any block size, samples per block and coefficients.
    const uint16_t cb = uint16_t(r.Byte() % 64);
    fmt.resize(sizeof(WAVEFORMATEX) + cb);
    auto* w = reinterpret_cast<WAVEFORMATEX*>(fmt.data());
    w->wFormatTag = tag;
    w->nChannels = uint16_t(1 + r.Byte() % 2);
    w->nSamplesPerSec = 8000 + r.Word() % 40001;
    w->nAvgBytesPerSec = r.Word();
    w->nBlockAlign = r.Word();
    w->wBitsPerSample = (tag == WAVE_FORMAT_ALAW || tag == WAVE_FORMAT_MULAW) ? 8
                        : tag == WAVE_FORMAT_GSM610                           ? 0
                                                                              : 4;
    w->cbSize = cb;
    for (uint16_t i = 0; i < cb; ++i) fmt[sizeof(WAVEFORMATEX) + i] = r.Byte();
  } else {
    std::vector<uint8_t> buf(1025, 0);
    ACMFORMATDETAILSA d{};
    d.cbStruct = sizeof d;
    d.pwfx = reinterpret_cast<LPWAVEFORMATEX>(buf.data());
    d.cbwfx = uint32_t(buf.size());
    d.pwfx->wFormatTag = tag;
    std::pair<unsigned, std::vector<uint8_t>> want{r.Byte() % 14, {}};
    acmFormatEnumA(nullptr, &d, Pick, reinterpret_cast<uintptr_t>(&want),
                   ACM_FORMATENUMF_WFORMATTAG);
    fmt = want.second;
    if (fmt.empty()) return 0;
  }
  auto* src = reinterpret_cast<WAVEFORMATEX*>(fmt.data());

  std::vector<uint8_t> dbuf(1025, 0);
  auto* dst = reinterpret_cast<WAVEFORMATEX*>(dbuf.data());
  dst->wFormatTag = WAVE_FORMAT_PCM;
  if (acmFormatSuggest(nullptr, src, dst, 1025, ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR)
    return 0;
  HACMSTREAM h = nullptr;
  if (acmStreamOpen(&h, nullptr, src, dst, nullptr, 0, 0, 0) != MMSYSERR_NOERROR) return 0;

  const uint32_t chunk = 4096;
  uint32_t outSize = 0;
  if (acmStreamSize(h, chunk, &outSize, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR) {
    acmStreamClose(h, 0);
    return 0;
  }
  std::vector<uint8_t> in(chunk), out(outSize);
  ACMSTREAMHEADER hdr{};
  hdr.cbStruct = sizeof hdr;
  hdr.pbSrc = in.data();
  hdr.cbSrcLength = chunk;
  hdr.pbDst = out.data();
  hdr.cbDstLength = outSize;
  acmStreamPrepareHeader(h, &hdr, 0);
  unsigned sum = 0;
  while (r.n) {
    const uint32_t n = uint32_t(std::min<size_t>(1 + r.Byte() * 16u, std::min<size_t>(r.n, chunk)));
    std::memcpy(in.data(), r.p, n);
    r.p += n;
    r.n -= n;
    hdr.cbSrcLength = n;
    acmStreamConvert(h, &hdr, (n & 1) ? ACM_STREAMCONVERTF_BLOCKALIGN : 0);
    for (uint32_t i = 0; i < hdr.cbDstLengthUsed; ++i) sum += out[i];
  }
  hdr.cbSrcLength = 0;
  acmStreamConvert(h, &hdr, ACM_STREAMCONVERTF_END);
  acmStreamUnprepareHeader(h, &hdr, 0);
  acmStreamClose(h, 0);
  volatile unsigned keep = sum;
  (void)keep;
  return 0;
}
