#include "MMACMBind.h"

#include <memory>
#include <mutex>

#include "DynLib.h"

namespace {

struct Binding {
  ql::DynLib lib;
  TACMApi api;
  bool tried = false;
};

std::mutex& BindMutex() {
  static std::mutex m;
  return m;
}
Binding& State() {
  static Binding b;
  return b;
}
std::string& LibraryName() {
  static std::string name = "MSACM32.DLL";
  return name;
}

void Bind(Binding& b) {
  b.tried = true;
  b.api = TACMApi{};
  // A library that cannot be loaded is no compression manager (the loader says nothing).
  if (!b.lib.Load(LibraryName())) return;
  b.lib.Resolve(b.api.acmGetVersion, "acmGetVersion");
  if (!b.api.acmGetVersion) return;
  b.api.loaded = true;
  b.api.version = b.api.acmGetVersion();
  // Before version 2.00 nothing else is bound.
  if ((b.api.version >> 16) < 0x0200) return;
  b.lib.Resolve(b.api.acmMetrics, "acmMetrics");
  b.api.acmFormatChooseA = b.lib.Symbol("acmFormatChooseA");
  b.lib.Resolve(b.api.acmFormatSuggest, "acmFormatSuggest");
  b.lib.Resolve(b.api.acmFormatTagEnumA, "acmFormatTagEnumA");
  b.lib.Resolve(b.api.acmFormatEnumA, "acmFormatEnumA");
  b.lib.Resolve(b.api.acmFormatDetailsA, "acmFormatDetailsA");
  b.lib.Resolve(b.api.acmStreamOpen, "acmStreamOpen");
  b.lib.Resolve(b.api.acmStreamClose, "acmStreamClose");
  b.lib.Resolve(b.api.acmStreamSize, "acmStreamSize");
  b.lib.Resolve(b.api.acmStreamConvert, "acmStreamConvert");
  b.lib.Resolve(b.api.acmStreamPrepareHeader, "acmStreamPrepareHeader");
  b.lib.Resolve(b.api.acmStreamUnprepareHeader, "acmStreamUnprepareHeader");
}

}  // namespace

bool TACMApi::Usable() const {
  return loaded && (version >> 16) >= 0x0200 && acmFormatSuggest && acmStreamOpen &&
         acmStreamClose && acmStreamSize && acmStreamConvert && acmStreamPrepareHeader &&
         acmStreamUnprepareHeader;
}

const TACMApi& ACMApi() {
  std::lock_guard lock(BindMutex());
  Binding& b = State();
  if (!b.tried) Bind(b);
  return b.api;
}

void SetACMLibraryName(const std::string& name) {
  std::lock_guard lock(BindMutex());
  Binding& b = State();
  LibraryName() = name;
  b.api = TACMApi{};
  b.lib.Free();
  b.tried = false;
}
