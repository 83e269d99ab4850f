#include "MMEqualiz.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace {

std::map<std::string, std::function<std::unique_ptr<TMMEQFilter>()>>& FilterClasses() {
  static std::map<std::string, std::function<std::unique_ptr<TMMEQFilter>()>> classes;
  return classes;
}

// The band class registers its stream reader and writer when the module starts.
const bool kRegistered = [] {
  RegisterEQFilterClass("TMMEQFilter", [] { return std::make_unique<TMMEQFilter>(); });
  return true;
}();

void PutBytes(std::string& out, const void* p, std::size_t n) {
  out.append(static_cast<const char*>(p), n);
}
template <typename T>
void Put(std::string& out, T v) {
  PutBytes(out, &v, sizeof v);
}
template <typename T>
T Get(const std::string& in, std::size_t& pos) {
  if (in.size() - std::min(pos, in.size()) < sizeof(T)) throw EStreamError("Stream read error");
  T v;
  std::memcpy(&v, in.data() + pos, sizeof v);
  pos += sizeof v;
  return v;
}

}  // namespace

void RegisterEQFilterClass(const std::string& name,
                           std::function<std::unique_ptr<TMMEQFilter>()> make) {
  FilterClasses()[name] = std::move(make);
}

// ---- one band ----

void TMMEQFilter::SetValues(float lower, float upper, float gain) {
  if (lower == lower_ && upper == upper_ && gain == gain_) return;
  lower_ = lower, upper_ = upper, gain_ = gain;
  Changed();
}

void TMMEQFilter::SetValue(int index, float value) {
  float v[3] = {lower_, upper_, gain_};
  if (index < 0 || index > 2) return;
  v[index] = value;
  SetValues(v[0], v[1], v[2]);
}

void TMMEQFilter::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  Changed();
}

void TMMEQFilter::Assign(const TMMEQFilter& o) {
  lower_ = o.lower_, upper_ = o.upper_, gain_ = o.gain_;
  UserValue = o.UserValue;
  enabled_ = o.enabled_;
  Changed();
}

void TMMEQFilter::WriteData(std::string& out) const {
  Put<std::uint8_t>(out, enabled_ ? 1 : 0);
  Put(out, lower_);
  Put(out, upper_);
  Put(out, gain_);
}

bool TMMEQFilter::ReadData(const std::string& in, std::size_t& pos) {
  try {
    enabled_ = Get<std::uint8_t>(in, pos) != 0;
    lower_ = Get<float>(in, pos);
    upper_ = Get<float>(in, pos);
    gain_ = Get<float>(in, pos);
  } catch (const EStreamError&) {
    return false;
  }
  return true;
}

// ---- the band list ----

TMMEQFilter* TMMEQFilterList::Add(std::unique_ptr<TMMEQFilter> filter) {
  TMMEQFilter* f = filter.get();
  if (owner_) f->OnChange = [eq = owner_](TMMEQFilter* b) { eq->BandChanged(b); };
  items_.push_back(std::move(filter));
  if (owner_) owner_->BandChanged(f);
  return f;
}

TMMEQFilter* TMMEQFilterList::Add(float lower, float upper, float gain) {
  return Add(std::make_unique<TMMEQFilter>(lower, upper, gain));
}

void TMMEQFilterList::Clear() {
  items_.clear();
  if (owner_) owner_->ListChanged();
}

void TMMEQFilterList::Assign(const TMMEQFilterList& other) {
  if (&other == this) return;
  const bool wasUpdating = owner_ && owner_->updating_;
  if (owner_) owner_->updating_ = true;
  items_.clear();
  for (const auto& f : other.items_) {
    auto copy = std::make_unique<TMMEQFilter>();
    copy->Assign(*f);
    Add(std::move(copy));
  }
  if (owner_) {
    owner_->updating_ = wasUpdating;
    owner_->ListChanged();
  }
}

std::string TMMEQFilterList::WriteObjectContainer() const {
  std::string out("EQU\0", 4);
  Put<std::uint8_t>(out, Version());
  const std::string desc = owner_ ? owner_->Description : std::string();
  Put<std::int32_t>(out, static_cast<std::int32_t>(desc.size()));
  out += desc;
  Put<std::int32_t>(out, owner_ ? owner_->GetFFTLength() : 256);
  Put<std::int16_t>(out, static_cast<std::int16_t>(items_.size()));
  for (const auto& f : items_) {
    if (!f) throw EStreamError("Nil Source Class!");
    const std::string name = f->ClassName();
    if (!FilterClasses().count(name))
      throw EStreamError("Source Class <" + name + "> not registered");
    Put<std::uint8_t>(out, static_cast<std::uint8_t>(name.size()));
    out += name;
    f->WriteData(out);
  }
  return out;
}

void TMMEQFilterList::ReadObjectContainer(const std::string& in) {
  bool wasUpdating = false;
  if (owner_) wasUpdating = owner_->updating_, owner_->updating_ = true;
  struct Restore {
    TMMEQFilterList* list;
    bool was;
    ~Restore() {
      if (list->owner_) {
        list->owner_->updating_ = was;
        list->owner_->ListChanged();
      }
    }
  } restore{this, wasUpdating};
  items_.clear();
  if (in.size() < 4 || std::memcmp(in.data(), "EQU\0", 4) != 0)
    throw EStreamError("Invalid Object stream");
  items_.clear();
  std::size_t pos = 4;
  Get<std::uint8_t>(in, pos);  // version
  const std::int32_t descLen = Get<std::int32_t>(in, pos);
  if (descLen > 0) {
    if (in.size() - pos < static_cast<std::size_t>(descLen))
      throw EStreamError("Stream read error");
    if (owner_) owner_->Description = in.substr(pos, static_cast<std::size_t>(descLen));
    pos += static_cast<std::size_t>(descLen);
  }
  const std::int32_t fft = Get<std::int32_t>(in, pos);
  if (owner_) owner_->SetFFTLength(fft);
  const std::int16_t count = Get<std::int16_t>(in, pos);
  if (count > 0) items_.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const std::uint8_t len = Get<std::uint8_t>(in, pos);
    if (in.size() - pos < len) throw EStreamError("Stream read error");
    const std::string name = in.substr(pos, len);
    pos += len;
    auto it = FilterClasses().find(name);
    if (it == FilterClasses().end())
      throw EStreamError("Source Class <" + name + "> not registered");
    auto band = it->second();
    if (!band->ReadData(in, pos)) throw EStreamError("Stream read error");
    Add(std::move(band));
  }
}

// ---- the component ----

TMMEqualizer::TMMEqualizer() = default;

TMMEqualizer::~TMMEqualizer() {
  eqFree(engine_);
  engine_ = nullptr;
  prepared_ = false;
  filters_.owner_ = nullptr;
}

void TMMEqualizer::SetWaveFormat(const TWaveFormatEx* format) {
  if (format) {
    if (!pcmIsValidFormat(format) || format->wBitsPerSample == 8)
      throw EMMEqualizerError("Invalid WaveFormat");
    SetSampleRate(static_cast<int>(format->nSamplesPerSec));
  }
  TMMDSPComponent::SetWaveFormat(format);
}

void TMMEqualizer::SetEnabled(bool on) {
  enabled_ = on;
  if (prepared_) eqReset(engine_);
}

void TMMEqualizer::SetSampleRate(int rate) {
  sampleRate_ = std::clamp(rate, 4000, 100000);
}

void TMMEqualizer::SetFFTLength(int length) {
  length = std::clamp(length, 8, 4096);
  int p = 8;
  while (p * 2 <= length) p *= 2;
  if (p == fftLength_) return;
  fftLength_ = p;
  if (prepared_) {
    eqFree(engine_);
    engine_ = eqCreate(pwfx_, fftLength_, maxBuf_);
    if (!engine_) {
      prepared_ = false;
      throw std::bad_alloc();
    }
    eqSetWindow(engine_, window_);
    RebuildGains();
  }
}

void TMMEqualizer::SetWindow(TMMFFTWindow w) {
  window_ = w;
  if (prepared_) eqSetWindow(engine_, w);
}

void TMMEqualizer::SetFilters(const TMMEQFilterList& list) {
  filters_.Assign(list);
}

void TMMEqualizer::Assign(const TMMEqualizer& o) {
  Channel = o.Channel;
  SetEnabled(o.GetEnabled());
  Description = o.Description;
  SetFFTLength(o.GetFFTLength());
  SetWindow(o.GetWindow());
  SetFilters(o.filters_);
  SetSampleRate(o.GetSampleRate());
}

void TMMEqualizer::RebuildGains() {
  if (!engine_) return;
  // Always from every band: the response does not depend on the order of changes.
  std::vector<TEQBand> bands;
  for (const auto& f : filters_.items_)
    if (f->Enabled()) bands.push_back({f->Lower(), f->Upper(), f->Gain()});
  eqSetBands(engine_, bands.data(), static_cast<int>(bands.size()));
}

void TMMEqualizer::BandChanged(TMMEQFilter*) {
  if (updating_) return;
  if (prepared_) RebuildGains();
  if (OnChange) OnChange(this);
}

void TMMEqualizer::ListChanged() {
  if (updating_) return;
  if (prepared_) RebuildGains();
  if (OnChange) OnChange(this);
}

void TMMEqualizer::Prepare() {
  if (prepared_ || !pcmIsValidFormat(pwfx_) || pwfx_->wBitsPerSample != 16) return;
  maxBuf_ = std::max(65536, EffectiveSize(bufferSize_));
  engine_ = eqCreate(pwfx_, fftLength_, maxBuf_);
  if (!engine_) throw std::bad_alloc();
  eqSetWindow(engine_, window_);
  prepared_ = true;
  RebuildGains();
}

void TMMEqualizer::Opened() {
  Prepare();
  TMMDSPComponent::Opened();
}

void TMMEqualizer::Closed() {
  eqFree(engine_);
  engine_ = nullptr;
  prepared_ = false;
  TMMDSPComponent::Closed();
}

void TMMEqualizer::Started() {
  if (prepared_) {
    RebuildGains();
    eqReset(engine_);
  }
  inputEnded_ = false;
  clipped_ = 0;
  skip_ = CompensateLatency && pwfx_ ? LatencyFrames() * pwfx_->nBlockAlign : 0;
  TMMDSPComponent::Started();
}

void TMMEqualizer::Repositioned() {
  if (prepared_) eqReset(engine_);
  inputEnded_ = false;
  skip_ = CompensateLatency && pwfx_ ? LatencyFrames() * pwfx_->nBlockAlign : 0;
  TMMDSPComponent::Repositioned();
}

void TMMEqualizer::Clipped(std::int64_t before) {
  const std::int64_t now = eqClippedSamples(engine_);
  if (now == before) return;
  clipped_ += now - before;
  if (OnPcmOverflow) CallSynchronized([this] { OnPcmOverflow(this); });
}

void TMMEqualizer::Process(PWaveHdr h) {
  if (!prepared_ || !enabled_ || !engine_) return;
  const std::int64_t before = eqClippedSamples(engine_);
  eqProcess(engine_, Channel, h->lpData, static_cast<int>(h->dwBytesRecorded));
  Clipped(before);
}

void TMMEqualizer::BufferReady(PWaveHdr h) {
  Process(h);
  TMMDSPComponent::BufferReady(h);
}

void TMMEqualizer::BufferLoad(PWaveHdr h, bool& MoreBuffers) {
  if (!prepared_ || !enabled_ || !engine_ || !pwfx_) {
    TMMDSPComponent::BufferLoad(h, MoreBuffers);
    return;
  }
  // Pulls whole blocks from the input, whatever size is asked here, and hands on filtered
  // samples only: no silence is put in the stream. At the input's end the rest of the filter
  // is flushed, so the stream is the input's length plus LatencyFrames().
  const int align = pwfx_->nBlockAlign;
  const int want = static_cast<int>(h->dwBufferLength) / align * align;
  const std::int64_t before = eqClippedSamples(engine_);
  if (!pull_ || static_cast<int>(pull_->dwBufferLength) < maxBuf_)
    pull_ = AllocWaveHdr(static_cast<std::size_t>(maxBuf_));
  while (eqAvailable(engine_) < want + skip_ && !inputEnded_) {
    TMMWaveHdr* p = pull_.get();
    const bool more = PullFor(h, p, static_cast<std::uint32_t>(maxBuf_ / align * align));
    if (p->dwBytesRecorded > 0)
      eqWrite(engine_, Channel, p->lpData, static_cast<int>(p->dwBytesRecorded));
    if (!more || p->dwBytesRecorded == 0) {
      inputEnded_ = true;
      eqFinish(engine_, Channel);
    }
  }
  // With the delay compensated, the filter's first LatencyFrames() frames are dropped: the
  // stream lines up with the input and has its length.
  while (skip_ > 0 && eqAvailable(engine_) > 0)
    skip_ -= eqRead(engine_, h->lpData, std::min(skip_, want > 0 ? want : align));
  h->dwBytesRecorded = static_cast<std::uint32_t>(eqRead(engine_, h->lpData, want));
  MoreBuffers = !inputEnded_ || eqAvailable(engine_) > 0;
  Clipped(before);
}

void SetupTwelveBands(TMMEqualizer& eq) {
  static const float bands[12][2] = {{10, 30},     {31, 60},     {61, 120},     {121, 180},
                                     {181, 300},   {301, 600},   {601, 1200},   {1201, 1800},
                                     {1801, 3000}, {3001, 6000}, {6001, 12000}, {12001, 20000}};
  eq.SetSampleRate(44100);
  eq.SetFFTLength(512);
  eq.Description = "Untitled";
  TMMEQFilterList list;
  for (const auto& b : bands) list.Add(b[0], b[1], 0);
  eq.SetFilters(list);
}
