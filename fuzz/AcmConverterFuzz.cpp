// Audio of any bytes through the format converter component, pulled or pushed in pieces of
// input-chosen sizes, between input-chosen source and destination formats (PCM and every codec,
// so chains of one to three stages). The carried bytes, the growing stage buffers and the
// drain at the end must never touch memory outside their buffers, and a pull must end.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "MMACMCvt.h"

namespace {

struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
};

// tag, rate, bits, channels
const int kFormats[][4] = {{1, 44100, 16, 2}, {1, 22050, 8, 1},  {1, 8000, 16, 1},
                           {1, 48000, 8, 2},  {6, 8000, 8, 1},   {7, 22050, 8, 2},
                           {17, 22050, 4, 1}, {17, 44100, 4, 2}, {2, 11025, 4, 1},
                           {2, 44100, 4, 2},  {49, 8000, 0, 1},  {1, 11025, 16, 2}};
constexpr size_t kCount = sizeof kFormats / sizeof kFormats[0];

WfxPtr Format(uint8_t i) {
  const int* f = kFormats[i % kCount];
  return ACMBuildFormat(f[0], f[1], f[2], f[3]);
}

class Source : public TMMDSPComponent {
 public:
  Source(const uint8_t* d, size_t n, size_t piece, const TWaveFormatEx* f)
      : data_(d), n_(n), piece_(piece) {
    SetWaveFormat(f);
  }
  bool HasPublishedProperty(const std::string& name) const override { return name != "Input"; }
  void BufferLoad(PWaveHdr h, bool& more) override {
    const size_t k = std::min({size_t(h->dwBufferLength), n_ - pos_, piece_});
    std::memcpy(h->lpData, data_ + pos_, k);
    pos_ += k;
    h->dwBytesRecorded = uint32_t(k);
    more = pos_ < n_;
  }

 private:
  const uint8_t* data_;
  size_t n_, piece_, pos_ = 0;
};

class Sink : public TMMDSPComponent {
 public:
  bool HasPublishedProperty(const std::string& name) const override { return name != "Output"; }
  void BufferReady(PWaveHdr h) override { bytes += h->dwBytesRecorded; }
  size_t bytes = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader r{data, size};
  WfxPtr src = Format(r.Byte()), dst = Format(r.Byte());
  const uint8_t mode = r.Byte();
  const size_t piece = 1 + size_t(r.Byte()) * 67;
  const uint32_t buffer = 1 + uint32_t(r.Byte()) * 131;
  if (!src || !dst) return 0;
  try {
    if (mode & 1) {
      TMMACMConverter conv;
      Sink sink;
      conv.InputFormatChanged(src.get());
      conv.SetWaveFormat(dst.get());
      conv.SetOutput(&sink);
      conv.SetBufferSize(int(buffer));
      conv.SetQuality(mode & 2 ? cqHigh : cqLow);
      conv.Opened();
      conv.Started();
      auto h = AllocWaveHdr(piece);
      for (size_t pos = 0; pos < r.n; pos += piece) {
        const size_t k = std::min(piece, r.n - pos);
        std::memcpy(h->lpData, r.p + pos, k);
        h->dwBufferLength = h->dwBytesRecorded = uint32_t(k);
        conv.BufferReady(h.get());
      }
      conv.Closed();
    } else {
      Source source(r.p, r.n, piece, src.get());
      TMMACMConverter conv;
      conv.SetInput(&source);
      conv.SetWaveFormat(dst.get());
      conv.SetQuality(mode & 2 ? cqHigh : cqLow);
      conv.Opened();
      conv.Started();
      auto h = AllocWaveHdr(buffer);
      // Every pull gives bytes until the end; the input is small, so this ends soon.
      for (int i = 0; i < 1000000; ++i) {
        bool more = false;
        h->dwBufferLength = buffer;
        h->dwBytesRecorded = 0;
        conv.BufferLoad(h.get(), more);
        if (h->dwBytesRecorded > buffer) __builtin_trap();
        if (!h->dwBytesRecorded || !more) break;
        if (i == 999999) __builtin_trap();
      }
      conv.Closed();
    }
  } catch (const EMMConverterError&) {
  }
  return 0;
}
