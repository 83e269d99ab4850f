#pragma once
// Signals for the codec tests: tones, 16-bit sample files, a RIFF WAVE writer that takes any
// format record, and the signal-to-noise ratio of a decoded copy at its best alignment.
#include <cstdint>
#include <string>
#include <vector>

namespace sigtest {

// Interleaved 16-bit tone; the channels get different frequencies (hz, then hz * 1.5).
std::vector<int16_t> Tone(size_t frames, unsigned channels, unsigned rate, double hz,
                          double amplitude = 0.5);
std::vector<int16_t> ReadS16(const std::string& path);
std::string Bytes(const std::vector<int16_t>& samples);
std::vector<int16_t> Samples(const std::string& bytes);

// A RIFF WAVE file of the given format record (with its extra bytes) and data; a fact chunk
// with the sample frames when factFrames >= 0.
void WriteWav(const std::string& path, const void* format, size_t formatSize,
              const std::string& data, long factFrames = -1);

struct Match {
  double snrDb = -1e9;
  long lag = 0;     // decoded[i + lag] matches ref[i]
  double gain = 0;  // least-squares gain of decoded against ref
};
// One frame header of an MPEG-1 layer-3 stream.
struct Mp3Frame {
  unsigned bitrate, rate, mode;  // kbit/s, Hz, the header's mode field
  bool crc, priv, copyright, original;
};
// The frames of a stream walked from its first byte. error tells where it stops being MPEG-1
// layer-3 frames, or that it does not end on a frame; empty when the whole stream is frames.
std::vector<Mp3Frame> Mp3Frames(const std::string& stream, std::string& error);

// Best alignment of decoded against ref over lags 0..maxLag (frames), SNR over the frames
// [skip, frames - skip) of ref.
Match Compare(const std::vector<int16_t>& ref, const std::vector<int16_t>& decoded,
              unsigned channels, long maxLag, size_t skip);

}  // namespace sigtest
