// Any bytes as the stored wave-format record of the CD-extraction window, and as a name from
// outside: what is accepted must be a whole record, and every safe name must be one.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "MMUtils.h"
#include "RipperState.h"
#include "SafeName.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto record = ripper::ParseStoredWaveFormat(bytes)) {
    if (record->size() < sizeof(TWaveFormatEx)) __builtin_trap();
    TWaveFormatEx wfx;
    std::memcpy(&wfx, record->data(), sizeof wfx);
    // The record holds exactly the extra bytes it claims, and they came from the file.
    if (record->size() != sizeof(TWaveFormatEx) + wfx.cbSize) __builtin_trap();
    if (record->size() > sizeof(TWaveFormatEx) && record->size() > size) __builtin_trap();
    if (wfx.nChannels == 0 || wfx.nSamplesPerSec == 0 || wfx.nBlockAlign == 0) __builtin_trap();
    if (static_cast<std::size_t>(wfxSize(reinterpret_cast<const TWaveFormatEx*>(record->data()))) !=
        record->size())
      __builtin_trap();
  }
  std::string name = ripper::SafeName(bytes, 3);
  if (name.empty() || name.size() > ripper::kMaxNameBytes) __builtin_trap();
  if (name.find('/') != std::string::npos || name[0] == '.' || !ripper::IsSafeName(name))
    __builtin_trap();
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) __builtin_trap();
  if (ripper::SafeValue(name) != name) __builtin_trap();  // valid UTF-8
  std::string file = ripper::SafeFileName(bytes, "wav", 3);
  if (file.size() > ripper::kMaxNameBytes || file.compare(file.size() - 4, 4, ".wav") != 0)
    __builtin_trap();
  return 0;
}
