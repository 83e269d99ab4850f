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

template <class F>
void Resolve(const ql::DynLib& lib, F& fn, const char* name) {
  fn = reinterpret_cast<F>(lib.Symbol(name));
}

void Bind(Binding& b) {
  b.tried = true;
  b.api = TACMApi{};
  // A library that cannot be loaded is no compression manager (the loader says nothing).
  if (!b.lib.Load(LibraryName())) return;
  Resolve(b.lib, b.api.acmGetVersion, "acmGetVersion");
  if (!b.api.acmGetVersion) return;
  b.api.loaded = true;
  b.api.version = b.api.acmGetVersion();
  // Before version 2.00 nothing else is bound.
  if ((b.api.version >> 16) < 0x0200) return;
  Resolve(b.lib, b.api.acmMetrics, "acmMetrics");
  b.api.acmFormatChooseA = b.lib.Symbol("acmFormatChooseA");
  Resolve(b.lib, b.api.acmFormatSuggest, "acmFormatSuggest");
  Resolve(b.lib, b.api.acmFormatTagEnumA, "acmFormatTagEnumA");
  Resolve(b.lib, b.api.acmFormatEnumA, "acmFormatEnumA");
  Resolve(b.lib, b.api.acmFormatDetailsA, "acmFormatDetailsA");
  Resolve(b.lib, b.api.acmStreamOpen, "acmStreamOpen");
  Resolve(b.lib, b.api.acmStreamClose, "acmStreamClose");
  Resolve(b.lib, b.api.acmStreamSize, "acmStreamSize");
  Resolve(b.lib, b.api.acmStreamConvert, "acmStreamConvert");
  Resolve(b.lib, b.api.acmStreamPrepareHeader, "acmStreamPrepareHeader");
  Resolve(b.lib, b.api.acmStreamUnprepareHeader, "acmStreamUnprepareHeader");
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
