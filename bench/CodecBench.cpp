// Whole-process stand-ins for the recording chain's two ends, for comparisons with reference
// tools: "mp3 IN.wav OUT.mp3" encodes through the encoder library at 128 kbit/s, chunk by
// chunk as the MP3 component does; "rate IN.wav OUT.wav RATE [hq]" converts through the
// compression manager's PCM driver in 8192-byte source chunks as the converter component does.
// Both libraries are bound at run time by their Windows names.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DynLib.h"
#include "bladeenc.h"
#include "mmreg.h"

namespace {

struct Wave {
  WAVEFORMATEX fmt{};
  std::string data;
};

uint32_t Le32(const char* p) {
  return uint32_t(uint8_t(p[0])) | uint32_t(uint8_t(p[1])) << 8 | uint32_t(uint8_t(p[2])) << 16 |
         uint32_t(uint8_t(p[3])) << 24;
}

bool ReadWave(const char* path, Wave& w) {
  std::ifstream in(path, std::ios::binary);
  std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (s.size() < 12 || s.compare(0, 4, "RIFF") || s.compare(8, 4, "WAVE")) return false;
  bool haveFmt = false;
  for (size_t p = 12; p + 8 <= s.size();) {
    const uint32_t len = Le32(&s[p + 4]);
    const size_t body = p + 8, avail = std::min<size_t>(len, s.size() - body);
    if (!s.compare(p, 4, "fmt ") && avail >= 16) {
      std::memcpy(&w.fmt, &s[body], 16);
      haveFmt = true;
    } else if (!s.compare(p, 4, "data")) {
      w.data = s.substr(body, avail);
      return haveFmt;
    }
    p = body + len + (len & 1);
  }
  return false;
}

void Put(std::string& s, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) s += char((v >> (8 * i)) & 0xFF);
}

bool WriteWave(const char* path, const WAVEFORMATEX& f, const std::string& data) {
  std::string s = "RIFF";
  Put(s, uint32_t(36 + data.size()), 4);
  s += "WAVEfmt ";
  Put(s, 16, 4);
  s.append(reinterpret_cast<const char*>(&f), 16);
  s += "data";
  Put(s, uint32_t(data.size()), 4);
  s += data;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << s;
  return bool(out);
}

int Mp3(const Wave& w, const char* outPath) {
  ql::DynLib lib;
  if (!lib.Load("BLADEENC.DLL")) {
    std::fprintf(stderr, "%s\n", lib.Error().c_str());
    return 1;
  }
  auto init = reinterpret_cast<BEINITSTREAM>(lib.Symbol("beInitStream"));
  auto encode = reinterpret_cast<BEENCODECHUNK>(lib.Symbol("beEncodeChunk"));
  auto deinit = reinterpret_cast<BEDEINITSTREAM>(lib.Symbol("beDeinitStream"));
  auto close = reinterpret_cast<BECLOSESTREAM>(lib.Symbol("beCloseStream"));
  BE_CONFIG c;
  std::memset(&c, 0, sizeof c);
  c.format.mp3.dwSampleRate = w.fmt.nSamplesPerSec;
  c.format.mp3.byMode = w.fmt.nChannels == 1 ? BE_MP3_MODE_MONO : BE_MP3_MODE_STEREO;
  c.format.mp3.wBitrate = 128;
  uint32_t samples = 0, size = 0, got = 0;
  HBE_STREAM h = 0;
  if (init(&c, &samples, &size, &h) != BE_ERR_SUCCESSFUL) return 1;
  std::vector<uint8_t> out(size);
  std::FILE* f = std::fopen(outPath, "wb");
  if (!f) return 1;
  std::vector<int16_t> pcm(w.data.size() / 2);
  std::memcpy(pcm.data(), w.data.data(), pcm.size() * 2);
  for (size_t pos = 0; pos < pcm.size(); pos += samples) {
    const uint32_t n = uint32_t(std::min<size_t>(samples, pcm.size() - pos));
    if (encode(h, n, pcm.data() + pos, out.data(), &got) != BE_ERR_SUCCESSFUL) return 1;
    std::fwrite(out.data(), 1, got, f);
  }
  if (deinit(h, out.data(), &got) != BE_ERR_SUCCESSFUL) return 1;
  std::fwrite(out.data(), 1, got, f);
  close(h);
  return std::fclose(f) == 0 ? 0 : 1;
}

int Rate(const Wave& w, const char* outPath, uint32_t rate, bool hq) {
  ql::DynLib lib;
  if (!lib.Load("MSACM32.DLL")) {
    std::fprintf(stderr, "%s\n", lib.Error().c_str());
    return 1;
  }
  auto open = reinterpret_cast<ACMSTREAMOPEN>(lib.Symbol("acmStreamOpen"));
  auto size = reinterpret_cast<ACMSTREAMSIZE>(lib.Symbol("acmStreamSize"));
  auto prepare = reinterpret_cast<ACMSTREAMPREPAREHEADER>(lib.Symbol("acmStreamPrepareHeader"));
  auto convert = reinterpret_cast<ACMSTREAMCONVERT>(lib.Symbol("acmStreamConvert"));
  auto unprepare =
      reinterpret_cast<ACMSTREAMUNPREPAREHEADER>(lib.Symbol("acmStreamUnprepareHeader"));
  auto close = reinterpret_cast<ACMSTREAMCLOSE>(lib.Symbol("acmStreamClose"));
  WAVEFORMATEX src = w.fmt, dst = w.fmt;
  src.cbSize = dst.cbSize = 0;
  dst.nSamplesPerSec = rate;
  dst.nAvgBytesPerSec = rate * dst.nBlockAlign;
  HACMSTREAM h = nullptr;
  if (open(&h, nullptr, &src, &dst, nullptr, 0, 0, hq ? ACM_STREAMOPENF_NONREALTIME : 0)) return 1;
  const uint32_t chunk = 8192 / src.nBlockAlign * src.nBlockAlign;
  uint32_t dsize = 0;
  if (size(h, chunk, &dsize, ACM_STREAMSIZEF_SOURCE)) return 1;
  std::vector<uint8_t> sbuf(chunk), dbuf(dsize);
  ACMSTREAMHEADER hdr{};
  hdr.cbStruct = sizeof hdr;
  hdr.pbSrc = sbuf.data();
  hdr.cbSrcLength = chunk;
  hdr.pbDst = dbuf.data();
  hdr.cbDstLength = dsize;
  prepare(h, &hdr, 0);
  std::string out;
  out.reserve(size_t(double(w.data.size()) * rate / src.nSamplesPerSec) + 65536);
  size_t pos = 0;
  uint32_t carried = 0;
  auto run = [&](uint32_t len, uint32_t flags) {
    hdr.cbSrcLength = len;
    convert(h, &hdr, flags);
    out.append(reinterpret_cast<char*>(dbuf.data()), hdr.cbDstLengthUsed);
    carried = len - hdr.cbSrcLengthUsed;
    std::memmove(sbuf.data(), sbuf.data() + hdr.cbSrcLengthUsed, carried);
    return hdr.cbDstLengthUsed;
  };
  while (pos < w.data.size()) {
    const uint32_t n = uint32_t(std::min<size_t>(chunk - carried, w.data.size() - pos));
    std::memcpy(sbuf.data() + carried, w.data.data() + pos, n);
    pos += n;
    run(carried + n, ACM_STREAMCONVERTF_BLOCKALIGN);
  }
  while (run(carried, ACM_STREAMCONVERTF_END)) {
  }
  unprepare(h, &hdr, 0);
  close(h, 0);
  return WriteWave(outPath, dst, out) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Wave w;
  if (argc < 4 || !ReadWave(argv[2], w) || w.fmt.wFormatTag != WAVE_FORMAT_PCM) {
    std::fprintf(stderr, "usage: codec_bench mp3 IN.wav OUT.mp3 | rate IN.wav OUT.wav RATE [hq]\n");
    return 2;
  }
  if (!std::strcmp(argv[1], "mp3")) return Mp3(w, argv[3]);
  if (!std::strcmp(argv[1], "rate") && argc >= 5)
    return Rate(w, argv[3], uint32_t(std::atoi(argv[4])), argc > 5 && !std::strcmp(argv[5], "hq"));
  return 2;
}
