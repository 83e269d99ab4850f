#include "AcmBinding.h"

#include <gtest/gtest.h>

#include <cstring>

namespace acmtest {

namespace {
void Bind(Acm& a) {
  if (!a.lib.Load("MSACM32.DLL")) return;
#define BIND(name) a.name = reinterpret_cast<decltype(a.name)>(a.lib.Symbol(#name))
  BIND(acmGetVersion);
  BIND(acmMetrics);
  BIND(acmFormatSuggest);
  BIND(acmFormatTagEnumA);
  BIND(acmFormatEnumA);
  BIND(acmFormatTagDetailsA);
  BIND(acmFormatDetailsA);
  BIND(acmStreamOpen);
  BIND(acmStreamClose);
  BIND(acmStreamSize);
  BIND(acmStreamReset);
  BIND(acmStreamConvert);
  BIND(acmStreamPrepareHeader);
  BIND(acmStreamUnprepareHeader);
#undef BIND
  a.ok = a.acmGetVersion && a.acmMetrics && a.acmFormatSuggest && a.acmFormatTagEnumA &&
         a.acmFormatEnumA && a.acmFormatTagDetailsA && a.acmFormatDetailsA && a.acmStreamOpen &&
         a.acmStreamClose && a.acmStreamSize && a.acmStreamReset && a.acmStreamConvert &&
         a.acmStreamPrepareHeader && a.acmStreamUnprepareHeader;
}
}  // namespace

Acm& Lib() {
  static Acm a;
  static bool bound = (Bind(a), true);
  (void)bound;
  return a;
}

Fmt Pcm(uint32_t rate, unsigned bits, unsigned channels) {
  Fmt f(sizeof(WAVEFORMATEX), 0);
  WAVEFORMATEX* w = W(f);
  w->wFormatTag = WAVE_FORMAT_PCM;
  w->nChannels = uint16_t(channels);
  w->nSamplesPerSec = rate;
  w->nBlockAlign = uint16_t(channels * bits / 8);
  w->nAvgBytesPerSec = rate * w->nBlockAlign;
  w->wBitsPerSample = uint16_t(bits);
  return f;
}

namespace {
struct Find {
  uint32_t rate;
  unsigned channels;
  Fmt found;
};
int FindCb(HACMDRIVERID, LPACMFORMATDETAILSA d, uintptr_t inst, uint32_t) {
  auto* f = reinterpret_cast<Find*>(inst);
  if (d->pwfx->nSamplesPerSec != f->rate || d->pwfx->nChannels != f->channels) return 1;
  const auto* b = reinterpret_cast<const uint8_t*>(d->pwfx);
  f->found.assign(b, b + sizeof(WAVEFORMATEX) + d->pwfx->cbSize);
  return 0;
}
}  // namespace

Fmt Listed(uint16_t tag, uint32_t rate, unsigned channels) {
  std::vector<uint8_t> buf(1025, 0);
  ACMFORMATDETAILSA d{};
  d.cbStruct = sizeof d;
  d.pwfx = reinterpret_cast<LPWAVEFORMATEX>(buf.data());
  d.cbwfx = uint32_t(buf.size());
  d.pwfx->wFormatTag = tag;
  Find f{rate, channels, {}};
  EXPECT_EQ(Lib().acmFormatEnumA(nullptr, &d, FindCb, reinterpret_cast<uintptr_t>(&f),
                                 ACM_FORMATENUMF_WFORMATTAG),
            MMSYSERR_NOERROR);
  EXPECT_FALSE(f.found.empty()) << "tag " << tag << " at " << rate << " Hz, " << channels;
  return f.found;
}

std::string Convert(const Fmt& src, const Fmt& dst, const std::string& input, uint32_t openFlags) {
  Acm& a = Lib();
  std::string out;
  HACMSTREAM h = nullptr;
  Fmt s = src, d = dst;
  EXPECT_EQ(a.acmStreamOpen(&h, nullptr, W(s), W(d), nullptr, 0, 0, openFlags), MMSYSERR_NOERROR);
  if (!h) return out;
  const uint32_t block = W(s)->nBlockAlign;
  const uint32_t chunk = 8192 / block * block;
  uint32_t dstSize = 0;
  EXPECT_EQ(a.acmStreamSize(h, chunk, &dstSize, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  std::vector<uint8_t> sbuf(chunk), dbuf(dstSize);
  ACMSTREAMHEADER hdr{};
  hdr.cbStruct = sizeof hdr;
  hdr.pbSrc = sbuf.data();
  hdr.cbSrcLength = chunk;
  hdr.pbDst = dbuf.data();
  hdr.cbDstLength = dstSize;
  EXPECT_EQ(a.acmStreamPrepareHeader(h, &hdr, 0), MMSYSERR_NOERROR);
  size_t pos = 0;
  uint32_t carried = 0;
  auto run = [&](uint32_t len, uint32_t flags) {
    hdr.cbSrcLength = len;
    EXPECT_EQ(a.acmStreamConvert(h, &hdr, flags), MMSYSERR_NOERROR);
    EXPECT_TRUE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
    EXPECT_LE(hdr.cbSrcLengthUsed, len);
    EXPECT_LE(hdr.cbDstLengthUsed, dstSize);
    out.append(reinterpret_cast<char*>(dbuf.data()), hdr.cbDstLengthUsed);
    carried = len - hdr.cbSrcLengthUsed;
    std::memmove(sbuf.data(), sbuf.data() + hdr.cbSrcLengthUsed, carried);
    return hdr.cbDstLengthUsed;
  };
  while (pos < input.size()) {
    const uint32_t n = uint32_t(std::min<size_t>(chunk - carried, input.size() - pos));
    std::memcpy(sbuf.data() + carried, input.data() + pos, n);
    pos += n;
    const uint32_t before = carried + n;
    run(before, ACM_STREAMCONVERTF_BLOCKALIGN);
    if (n == 0 && carried == before) {
      ADD_FAILURE() << "the stream takes no more source";
      break;
    }
  }
  for (int guard = 0; carried && guard < 100; ++guard) run(carried, 0);  // the short last block
  for (int guard = 0; guard < 1000 && run(carried, ACM_STREAMCONVERTF_END); ++guard) {
  }
  EXPECT_EQ(a.acmStreamUnprepareHeader(h, &hdr, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(a.acmStreamClose(h, 0), MMSYSERR_NOERROR);
  return out;
}

}  // namespace acmtest
