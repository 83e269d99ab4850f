// Reads arbitrary bytes as an equalizer's "ObjectContainer" stream, then writes it back.
#include <cstdint>
#include <string>

#include "MMEqualiz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMMEqualizer eq;
  try {
    eq.Filters()->ReadObjectContainer(std::string(reinterpret_cast<const char*>(data), size));
    std::string again = eq.Filters()->WriteObjectContainer();
    if (again.size() < 4) __builtin_trap();
  } catch (const EStreamError&) {
  }
  return 0;
}
