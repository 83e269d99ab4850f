#include "AudioTestUtil.h"

#include <cmath>
#include <cstring>

namespace qlaudio {

TWaveFormatEx Pcm(int bits, int channels, int rate) {
  TWaveFormatEx f{};
  pcmBuildFormat(&f, bits, channels, rate);
  return f;
}

TMemorySource::TMemorySource(std::string d, const TWaveFormatEx& fmt) : data(std::move(d)) {
  SetWaveFormat(&fmt);
}

void TMemorySource::BufferLoad(PWaveHdr h, bool& more) {
  ++pulls;
  std::size_t n = std::min<std::size_t>(h->dwBufferLength, data.size() - pos_);
  if (maxChunk > 0) n = std::min<std::size_t>(n, static_cast<std::size_t>(maxChunk));
  std::memcpy(h->lpData, data.data() + pos_, n);
  pos_ += n;
  h->dwBytesRecorded = static_cast<std::uint32_t>(n);
  more = pos_ < data.size();
}

void TMemorySink::BufferReady(PWaveHdr h) {
  ++pushes;
  data.append(h->lpData, h->dwBytesRecorded);
  TMMDSPComponent::BufferReady(h);
}

std::string PullAll(TMMDSPComponent& c, int bufferSize, int maxPulls) {
  auto h = AllocWaveHdr(static_cast<std::size_t>(bufferSize));
  std::string out;
  for (int i = 0; i < maxPulls; ++i) {
    bool more = false;
    h->dwBufferLength = static_cast<std::uint32_t>(bufferSize);
    h->dwBytesRecorded = 0;
    c.BufferLoad(h.get(), more);
    out.append(h->lpData, h->dwBytesRecorded);
    if (h->dwBytesRecorded == 0 || !more) break;
  }
  return out;
}

std::string Samples16(const std::vector<std::int16_t>& v) {
  std::string s(v.size() * 2, '\0');
  std::memcpy(s.data(), v.data(), s.size());
  return s;
}

std::vector<std::int16_t> ToSamples16(const std::string& bytes) {
  std::vector<std::int16_t> v(bytes.size() / 2);
  std::memcpy(v.data(), bytes.data(), v.size() * 2);
  return v;
}

std::vector<std::int16_t> Sine16(double hz, double seconds, double amplitude, int rate,
                                 int channels) {
  const int frames = static_cast<int>(seconds * rate);
  std::vector<std::int16_t> v(static_cast<std::size_t>(frames) * channels);
  for (int i = 0; i < frames; ++i) {
    auto s = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / rate)));
    for (int c = 0; c < channels; ++c) v[static_cast<std::size_t>(i) * channels + c] = s;
  }
  return v;
}

}  // namespace qlaudio
