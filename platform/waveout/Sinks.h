#pragma once
// What a wave output device writes its samples into. A device calls its sink from one thread
// at a time (under the device's lock), never blocking: Write takes what fits now.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "WaveOut.h"

namespace ql::waveout {

class Sink {
 public:
  virtual ~Sink() = default;
  // Sets the sink up for the format; with `query` only tests that it could.
  virtual MMRESULT Open(const WAVEFORMATEX& format, bool query) = 0;
  // Takes whole frames; returns the bytes taken (0 when the device buffer is full), or -1
  // when the device failed.
  virtual long Write(const char* data, std::size_t bytes) = 0;
  // Frames played since Open or Reset.
  virtual std::uint64_t Played() = 0;
  virtual void Pause(bool pause) = 0;
  // Drops what is buffered; Played starts again at 0.
  virtual void Reset() = 0;
  // No more data for now: make sure what is buffered plays out.
  virtual void Flush() = 0;
  // How long to wait before the buffer has room again, in milliseconds.
  virtual int WaitMs() const = 0;
};

struct MemoryStore {
  std::mutex mutex;
  std::string bytes;
  MemoryDeviceOptions options;
};

std::unique_ptr<Sink> MakeAlsaSink(const std::string& pcm, const std::string& config);
std::unique_ptr<Sink> MakeMemorySink(std::shared_ptr<MemoryStore> store);

}  // namespace ql::waveout
