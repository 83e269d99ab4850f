// Parses arbitrary bytes as a RIFF WAVE file and reads all of its audio.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "MMWave.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static int fd = memfd_create("wave", 0);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  TMMWave wave;
  try {
    wave.SetFileName(path);
    wave.OpenWave();
    std::vector<char> buf(4096);
    std::int64_t total = 0;
    while (wave.WaveBytesLeft() > 0) {
      const int n = wave.ReadWaveData(buf.data(), 4096);
      if (n <= 0) break;
      total += n;
      if (total > wave.DataSize()) __builtin_trap();
    }
    (void)wave.FormatString();
    (void)wave.Length();
  } catch (const EMMWaveError&) {
  }
  return 0;
}
