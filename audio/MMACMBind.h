#pragma once
// The audio compression manager ("MSACM32.DLL"), bound by name once per process for the format
// converter and the format chooser. Only this header and the files that call the manager
// include msacm.h; the components' own headers stay free of it.
#include <cstdint>
#include <string>

#include "msacm.h"

struct TACMApi {
  ACMGETVERSION acmGetVersion = nullptr;
  ACMMETRICS acmMetrics = nullptr;
  void* acmFormatChooseA = nullptr;  // the manager's own dialog, when it has one
  ACMFORMATSUGGEST acmFormatSuggest = nullptr;
  ACMFORMATTAGENUMA acmFormatTagEnumA = nullptr;
  ACMFORMATENUMA acmFormatEnumA = nullptr;
  ACMFORMATDETAILSAPROC acmFormatDetailsA = nullptr;
  ACMSTREAMOPEN acmStreamOpen = nullptr;
  ACMSTREAMCLOSE acmStreamClose = nullptr;
  ACMSTREAMSIZE acmStreamSize = nullptr;
  ACMSTREAMCONVERT acmStreamConvert = nullptr;
  ACMSTREAMPREPAREHEADER acmStreamPrepareHeader = nullptr;
  ACMSTREAMUNPREPAREHEADER acmStreamUnprepareHeader = nullptr;

  bool loaded = false;        // the library is there and has acmGetVersion
  std::uint32_t version = 0;  // 0xMMmmBBBB

  // Version 2.00 or later, with the entry points the converter calls.
  bool Usable() const;
  unsigned Major() const { return version >> 24; }
  unsigned Minor() const { return (version >> 16) & 0xFF; }
};

// The binding, made by the first caller. Never null; check loaded / Usable().
const TACMApi& ACMApi();

// Points the binding at another library and forgets the current one (tests only: call it
// while no component holds a stream of the manager).
void SetACMLibraryName(const std::string& name);
