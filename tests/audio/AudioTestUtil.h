#pragma once
// Helpers of the audio tests: sources and sinks of known data, signal generators.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MMObjects.h"

namespace qlaudio {

TWaveFormatEx Pcm(int bits = 16, int channels = 2, int rate = 44100);

// A source of the given bytes in pulls of at most the buffer length.
class TMemorySource : public TMMDSPComponent {
 public:
  explicit TMemorySource(std::string data, const TWaveFormatEx& fmt);
  bool HasPublishedProperty(const std::string& name) const override { return name != "Input"; }
  void BufferLoad(PWaveHdr h, bool& more) override;
  void Rewind() { pos_ = 0; }
  std::string data;
  int pulls = 0;
  int maxChunk = 0;  // > 0: deliver at most this many bytes per pull

 private:
  std::size_t pos_ = 0;
};

// A sink that keeps every byte pushed into it.
class TMemorySink : public TMMDSPComponent {
 public:
  bool HasPublishedProperty(const std::string& name) const override { return name != "Output"; }
  void BufferReady(PWaveHdr h) override;
  std::string data;
  int pushes = 0;
};

// Pulls from c until the stream ends, in buffers of the given size; returns every byte.
std::string PullAll(TMMDSPComponent& c, int bufferSize, int maxPulls = 1000000);

std::string Samples16(const std::vector<std::int16_t>& v);
std::vector<std::int16_t> ToSamples16(const std::string& bytes);
// Interleaved 16-bit stereo sine.
std::vector<std::int16_t> Sine16(double hz, double seconds, double amplitude, int rate = 44100,
                                 int channels = 2);

}  // namespace qlaudio
