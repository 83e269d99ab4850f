#pragma once
// The drivers of the compression manager and what each can do: which pairs of formats one of its
// streams converts, what it suggests, and the formats it lists.
#include <cstdint>
#include <memory>
#include <vector>

#include "AcmFormat.h"
#include "AcmStreams.h"

namespace acm {

enum class DriverKind { Pcm, G711, ImaAdpcm, MsAdpcm, Gsm };

struct Driver {
  uint32_t magic;  // tells a driver id from the other handles
  DriverKind kind;
  const char* shortName;
  const char* longName;
  uint32_t support;  // ACMDRIVERDETAILS_SUPPORTF_*
  uint16_t pid;
  std::vector<uint16_t> tags;  // the tags it lists (a codec also reads and writes PCM)

  bool Supports(const WAVEFORMATEX* src, const WAVEFORMATEX* dst) const;
  // A format that one of its streams makes from src, with the fields named by flags
  // (ACM_FORMATSUGGESTF_*) taken from want.
  bool Suggest(const WAVEFORMATEX* src, const WAVEFORMATEX* want, uint32_t flags,
               Format& out) const;
  std::unique_ptr<Stream> Open(const Format& src, const Format& dst, bool highQuality) const;
  uint32_t MaxFormatSize() const;
};

constexpr uint32_t kDriverMagic = 0x41434d44;  // "ACMD"

// All drivers in priority order: the PCM converter first.
const std::vector<Driver>& Drivers();

}  // namespace acm
