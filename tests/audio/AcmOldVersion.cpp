// A compression manager of version 1.02: it has acmGetVersion and nothing else.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) std::uint32_t acmGetVersion(void) {
  return 0x01020000u;
}
