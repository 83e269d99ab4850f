#pragma once
// The compression manager bound by name at run time, as the converter component binds it, and
// the helpers the tests share: a whole-signal conversion through one stream.
#include <string>
#include <vector>

#include "DynLib.h"
#include "mmreg.h"

namespace acmtest {

struct Acm {
  ql::DynLib lib;
  ACMGETVERSION acmGetVersion = nullptr;
  ACMMETRICS acmMetrics = nullptr;
  ACMFORMATSUGGEST acmFormatSuggest = nullptr;
  ACMFORMATTAGENUMA acmFormatTagEnumA = nullptr;
  ACMFORMATENUMA acmFormatEnumA = nullptr;
  ACMFORMATTAGDETAILSAPROC acmFormatTagDetailsA = nullptr;
  ACMFORMATDETAILSAPROC acmFormatDetailsA = nullptr;
  ACMSTREAMOPEN acmStreamOpen = nullptr;
  ACMSTREAMCLOSE acmStreamClose = nullptr;
  ACMSTREAMSIZE acmStreamSize = nullptr;
  ACMSTREAMRESET acmStreamReset = nullptr;
  ACMSTREAMCONVERT acmStreamConvert = nullptr;
  ACMSTREAMPREPAREHEADER acmStreamPrepareHeader = nullptr;
  ACMSTREAMUNPREPAREHEADER acmStreamUnprepareHeader = nullptr;
  bool ok = false;
};
Acm& Lib();

// A format record with its extra bytes.
using Fmt = std::vector<uint8_t>;
Fmt Pcm(uint32_t rate, unsigned bits, unsigned channels);
// The first format of that tag, rate and channel count the manager lists.
Fmt Listed(uint16_t tag, uint32_t rate, unsigned channels);
inline LPWAVEFORMATEX W(Fmt& f) {
  return reinterpret_cast<LPWAVEFORMATEX>(f.data());
}
inline const WAVEFORMATEX* W(const Fmt& f) {
  return reinterpret_cast<const WAVEFORMATEX*>(f.data());
}

// Converts the whole input through one stream the way the converter component does: source
// chunks of about 8192 bytes (whole blocks, BLOCKALIGN), the unused rest carried into the next
// call, the rest without BLOCKALIGN, then END calls until nothing more comes. Fails the test
// on any error code.
std::string Convert(const Fmt& src, const Fmt& dst, const std::string& input,
                    uint32_t openFlags = 0);

}  // namespace acmtest
