#include "MMACMDlg.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "MMACMBind.h"
#include "MMWaveFile.h"
#include "Ui.h"

namespace {

std::mutex& ChooserMutex() {
  static std::mutex m;
  return m;
}
TACMFormatChooser& Chooser() {
  static TACMFormatChooser c;
  return c;
}

int Metric(const TACMApi& a, unsigned which) {
  std::uint32_t v = 0;
  if (!a.acmMetrics || a.acmMetrics(nullptr, which, &v) != MMSYSERR_NOERROR) return 0;
  return static_cast<int>(v);
}

}  // namespace

void SetACMFormatChooser(TACMFormatChooser chooser) {
  std::lock_guard lock(ChooserMutex());
  Chooser() = std::move(chooser);
}

bool HasACMFormatChooser() {
  std::lock_guard lock(ChooserMutex());
  return static_cast<bool>(Chooser());
}

TMMACM::TMMACM() {
  const TACMApi& a = ACMApi();
  if (!a.loaded) {
    ql::UI().ShowMessage(
        "The Audio Compression Manager (ACM) is not installed on this system. Most features of "
        "this application will not be available.");
    return;
  }
  version_ = a.version;
  if ((a.version >> 16) < 0x0200) {
    char text[300];
    std::snprintf(text, sizeof text,
                  "This application requires Version 2.00 or greater of the Audio Compression "
                  "Manager (ACM). The version installed on this system is Version %u.%.02u. Most "
                  "features of this application will not be available.",
                  a.Major(), a.Minor());
    ql::UI().ShowMessage(text);
    return;
  }
  present_ = true;
  drivers_ = Metric(a, ACM_METRIC_COUNT_DRIVERS);
  codecs_ = Metric(a, ACM_METRIC_COUNT_CODECS);
  converters_ = Metric(a, ACM_METRIC_COUNT_CONVERTERS);
  filters_ = Metric(a, ACM_METRIC_COUNT_FILTERS);
  maxFormat_ = static_cast<std::uint32_t>(Metric(a, ACM_METRIC_MAX_SIZE_FORMAT));
  maxFilter_ = static_cast<std::uint32_t>(Metric(a, ACM_METRIC_MAX_SIZE_FILTER));
  // Never smaller than a plain record, so the buffer always holds a format.
  format_.assign(std::max<std::uint32_t>(maxFormat_, sizeof(TWaveFormatEx)), 0);
  filter_.assign(maxFilter_, 0);
}

TMMACM::~TMMACM() = default;

bool TMMACM::HasPublishedProperty(const std::string& name) const {
  return name == "ACMPresent" || name == "NumDrivers" || name == "NumCodecs" ||
         name == "NumConverters" || name == "NumFilters" || name == "EnumFormats" ||
         name == "Title" || name == "Source" || name == "OnFormatEnum" ||
         TMMComponent::HasPublishedProperty(name);
}

TMMCustomWaveFile* TMMACM::GetSource() const {
  return source_ && IsLiveDSPComponent(source_) ? source_ : nullptr;
}

const TWaveFormatEx* TMMACM::Format() const {
  return format_.empty() ? nullptr : reinterpret_cast<const TWaveFormatEx*>(format_.data());
}

void TMMACM::SetFormat(const TWaveFormatEx* format) {
  if (!format) return;
  const std::size_t n = static_cast<std::size_t>(wfxSize(format));
  if (format_.size() < n) format_.resize(n, 0);
  std::memcpy(format_.data(), format, n);
  // A PCM record's cbSize is not part of it.
  if (format->wFormatTag == WAVE_FORMAT_PCM)
    reinterpret_cast<TWaveFormatEx*>(format_.data())->cbSize = 0;
}

bool TMMACM::ChooseFormat(const TWaveFormatEx* initial, const std::string& title) {
  if (!present_) return false;
  TACMChooseRequest r;
  if (initial) {
    SetFormat(initial);
    r.Initial = Format();
  }
  r.Title = title.empty() ? Title : title;
  switch (EnumFormats) {
    case efAll:
      break;
    case efInput:
      r.EnumFlags = ACM_FORMATENUMF_INPUT;
      break;
    case efOutput:
      r.EnumFlags = ACM_FORMATENUMF_OUTPUT;
      break;
    case efConvert:
      if (initial) r.EnumFlags = ACM_FORMATENUMF_CONVERT;
      break;
    case efSuggest:
      if (initial) r.EnumFlags = ACM_FORMATENUMF_SUGGEST;
      break;
    case efRestrict:
      if (initial) r.EnumFlags = ACM_FORMATENUMF_WFORMATTAG;
      break;
  }
  if (r.EnumFlags) r.EnumFormat = r.Initial;
  if (OnFormatEnum)
    r.Accept = [this](const TWaveFormatEx* f, const std::string& description) {
      bool go = true;
      OnFormatEnum(this, f, description, go);
      return go;
    };
  TACMFormatChooser chooser;
  {
    std::lock_guard lock(ChooserMutex());
    chooser = Chooser();
  }
  // Without a dialog the choice is not possible.
  const std::uint32_t result = chooser ? chooser(r) : ACMERR_NOTPOSSIBLE;
  if (result == MMSYSERR_NOERROR) {
    if (r.Result.size() >= sizeof(TWaveFormatEx)) {
      const auto* f = reinterpret_cast<const TWaveFormatEx*>(r.Result.data());
      if (static_cast<std::size_t>(wfxSize(f)) <= r.Result.size()) SetFormat(f);
    }
    return true;
  }
  if (result == ACMERR_CANCELED) return false;
  throw EMMACMError("acmFormatChoose failed with error " + std::to_string(result));
}
