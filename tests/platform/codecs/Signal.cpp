#include "Signal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sigtest {

std::vector<int16_t> Tone(size_t frames, unsigned channels, unsigned rate, double hz,
                          double amplitude) {
  std::vector<int16_t> out(frames * channels);
  for (size_t i = 0; i < frames; ++i)
    for (unsigned c = 0; c < channels; ++c)
      out[i * channels + c] = int16_t(std::lround(
          32767.0 * amplitude * std::sin(2 * M_PI * hz * (1 + 0.5 * c) * double(i) / rate)));
  return out;
}

std::string Bytes(const std::vector<int16_t>& s) {
  std::string b(s.size() * 2, '\0');
  std::memcpy(b.data(), s.data(), b.size());
  return b;
}

std::vector<int16_t> Samples(const std::string& b) {
  std::vector<int16_t> s(b.size() / 2);
  std::memcpy(s.data(), b.data(), s.size() * 2);
  return s;
}

std::vector<int16_t> ReadS16(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return Samples(s.str());
}

namespace {
void Put(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += char((v >> (8 * i)) & 0xFF);
}
}  // namespace

void WriteWav(const std::string& path, const void* format, size_t formatSize,
              const std::string& data, long factFrames) {
  std::string body = "WAVEfmt ";
  Put(body, uint32_t(formatSize), 4);
  body.append(static_cast<const char*>(format), formatSize);
  if (formatSize & 1) body += '\0';
  if (factFrames >= 0) {
    body += "fact";
    Put(body, 4, 4);
    Put(body, uint32_t(factFrames), 4);
  }
  body += "data";
  Put(body, uint32_t(data.size()), 4);
  body += data;
  if (data.size() & 1) body += '\0';
  std::string file = "RIFF";
  Put(file, uint32_t(body.size()), 4);
  file += body;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
}

std::vector<Mp3Frame> Mp3Frames(const std::string& s, std::string& error) {
  static const unsigned kbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                    112, 128, 160, 192, 224, 256, 320, 0};
  static const unsigned rates[4] = {44100, 48000, 32000, 0};
  std::vector<Mp3Frame> out;
  error.clear();
  size_t p = 0;
  while (p + 4 <= s.size()) {
    const auto* b = reinterpret_cast<const uint8_t*>(s.data() + p);
    Mp3Frame h;
    h.crc = !(b[1] & 1);
    h.bitrate = kbps[b[2] >> 4];
    h.rate = rates[(b[2] >> 2) & 3];
    h.priv = b[2] & 1;
    h.mode = b[3] >> 6;
    h.copyright = (b[3] >> 3) & 1;
    h.original = (b[3] >> 2) & 1;
    // Sync, MPEG-1, layer 3, and a bit rate and rate of the tables.
    if (b[0] != 0xFF || (b[1] & 0xFE) != 0xFA || !h.bitrate || !h.rate) {
      error = "no frame header at byte " + std::to_string(p);
      return out;
    }
    out.push_back(h);
    p += 144 * h.bitrate * 1000 / h.rate + ((b[2] >> 1) & 1);
  }
  if (p != s.size()) error = "the stream does not end on a frame";
  return out;
}

namespace {
// SNR of decoded shifted by lag against ref over the frames [from, to).
Match At(const std::vector<int16_t>& ref, const std::vector<int16_t>& decoded, unsigned channels,
         long lag, size_t from, size_t to) {
  double sig = 0, cross = 0, dec = 0;
  for (size_t i = from; i < to; ++i) {
    for (unsigned c = 0; c < channels; ++c) {
      const size_t j = (i + size_t(lag)) * channels + c;
      const double r = ref[i * channels + c];
      const double d = j < decoded.size() ? decoded[j] : 0.0;
      sig += r * r;
      cross += r * d;
      dec += d * d;
    }
  }
  Match m;
  const double noise = sig - 2 * cross + dec;
  m.snrDb = noise <= 1e-9 * sig ? 90.0 : 10 * std::log10(sig / noise);
  m.lag = lag;
  m.gain = sig > 0 ? cross / sig : 0;
  return m;
}
}  // namespace

Match Compare(const std::vector<int16_t>& ref, const std::vector<int16_t>& decoded,
              unsigned channels, long maxLag, size_t skip) {
  Match best;
  const size_t frames = ref.size() / channels;
  if (frames <= 2 * skip) return best;
  // The lag from a short window, the figure from the whole signal.
  const size_t window = std::min<size_t>(frames - 2 * skip, 4096);
  for (long lag = 0; lag <= maxLag; ++lag) {
    Match m = At(ref, decoded, channels, lag, skip, skip + window);
    if (m.snrDb > best.snrDb) best = m;
  }
  return At(ref, decoded, channels, best.lag, skip, frames - skip);
}

}  // namespace sigtest
