#include "MMObjects.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include "Dispatch.h"

namespace {

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}
std::vector<TMMDSPComponent*>& Components() {
  static std::vector<TMMDSPComponent*> list;
  return list;
}
std::vector<std::thread::id>& Threads() {
  static std::vector<std::thread::id> list;
  return list;
}
std::vector<TMMDSPComponent*> ComponentsSnapshot() {
  std::lock_guard lock(RegistryMutex());
  return Components();
}

}  // namespace

std::size_t DSPComponentCount() {
  std::lock_guard lock(RegistryMutex());
  return Components().size();
}

bool IsLiveDSPComponent(const TMMDSPComponent* c) {
  std::lock_guard lock(RegistryMutex());
  const auto& list = Components();
  return c && std::find(list.begin(), list.end(), c) != list.end();
}

std::size_t DSPThreadCount() {
  std::lock_guard lock(RegistryMutex());
  return Threads().size();
}

bool TMMComponent::HasPublishedProperty(const std::string& name) const {
  return name == "Name";
}

TMMDSPComponent::TMMDSPComponent() {
  std::lock_guard lock(RegistryMutex());
  Components().push_back(this);
}

TMMDSPComponent::~TMMDSPComponent() {
  state_ |= csDestroying;
  TMMDSPComponent::SetInput(nullptr);
  TMMDSPComponent::SetOutput(nullptr);
  TMMDSPComponent::SetWaveFormat(nullptr);
  std::lock_guard lock(RegistryMutex());
  auto& list = Components();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

bool TMMDSPComponent::HasPublishedProperty(const std::string& name) const {
  return name == "Input" || name == "Output" || name == "BufferSize" || name == "OnBufferReady" ||
         name == "OnBufferLoad" || TMMComponent::HasPublishedProperty(name);
}

void TMMDSPComponent::Loaded() {
  TMMComponent::Loaded();
  SetWaveFormat(pwfx_);
}

void TMMDSPComponent::PropagateFormat() {
  if (!Propagating()) return;
  if (input_)
    InputFormatChanged(input_->GetWaveFormat());
  else if (output_)
    output_->InputFormatChanged(GetWaveFormat());
}

void TMMDSPComponent::ReleasePartner(TMMDSPComponent* comp, TMMLinkSide side,
                                     const std::string& prop) {
  if (!comp || comp == this) return;
  if (side == TMMLinkSide::Input && prop == "Input") {
    if (output_ == comp && outputLink_ == "Input" && comp->GetInput() == this)
      SetOutputLink(nullptr, "");
  } else if (side == TMMLinkSide::Output && prop == "Output") {
    if (input_ == comp && inputLink_ == "Output" && comp->GetOutput() == this)
      SetInputLink(nullptr, "");
  }
}

void TMMDSPComponent::SetInput(TMMDSPComponent* value) {
  if (value == input_) return;
  if (value && !CanConnectInput(value)) return;
  Stopped();
  if (input_) {
    for (auto* c : ComponentsSnapshot()) c->ReleasePartner(this, TMMLinkSide::Input, "Input");
    SetInputLink(nullptr, "");
    InputFormatChanged(nullptr);
  }
  if (!value) return;
  for (auto* c : ComponentsSnapshot()) c->ReleasePartner(value, TMMLinkSide::Output, "Output");
  SetInputLink(value, "Output");
  value->SetOutputLink(this, "Input");
  PropagateFormat();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* value) {
  if (value == output_) return;
  if (value && !CanConnectOutput(value)) return;
  Stopped();
  if (output_) {
    TMMDSPComponent* old = output_;
    for (auto* c : ComponentsSnapshot()) c->ReleasePartner(this, TMMLinkSide::Output, "Output");
    SetOutputLink(nullptr, "");
    // The old partner has lost its input and with it its format.
    if (!old->GetInput()) old->InputFormatChanged(nullptr);
  }
  if (!value) return;
  for (auto* c : ComponentsSnapshot()) c->ReleasePartner(value, TMMLinkSide::Input, "Input");
  SetOutputLink(value, "Input");
  value->SetInputLink(this, "Output");
  PropagateFormat();
}

void TMMDSPComponent::SetInputLink(TMMDSPComponent* value, const std::string& linkName) {
  input_ = value;
  inputLink_ = linkName.substr(0, 20);
}

void TMMDSPComponent::SetOutputLink(TMMDSPComponent* value, const std::string& linkName) {
  output_ = value;
  outputLink_ = linkName.substr(0, 20);
}

bool TMMDSPComponent::CanConnectInput(TMMDSPComponent* candidate) {
  if (!candidate || candidate == this) return false;
  if (!candidate->HasPublishedProperty("Output")) return false;
  if (!output_) return true;
  return output_->CanConnectInput(candidate);
}

bool TMMDSPComponent::CanConnectOutput(TMMDSPComponent* candidate) {
  if (!candidate || candidate == this) return false;
  if (!candidate->HasPublishedProperty("Input")) return false;
  if (!input_) return true;
  return input_->CanConnectOutput(candidate);
}

void TMMDSPComponent::InputFormatChanged(const TWaveFormatEx* format) {
  SetWaveFormat(format);
}

void TMMDSPComponent::SetWaveFormat(const TWaveFormatEx* format) {
  if (format != pwfx_) {
    if (started_) Stopped();
    PWaveFormatEx old = pwfx_;
    pwfx_ = wfxCopy(format);
    wfxFree(old);
  }
  if (Propagating() && output_) output_->InputFormatChanged(pwfx_);
}

int TMMDSPComponent::EffectiveSize(int size) const {
  if (!pwfx_ || pwfx_->nBlockAlign == 0) return size;
  int align = pwfx_->nBlockAlign;
  return std::max(size - size % align, align);
}

bool TMMDSPComponent::PullFor(PWaveHdr h, PWaveHdr scratch, std::uint32_t length) {
  scratch->dwBufferLength = length;
  scratch->dwBytesRecorded = 0;
  scratch->Looping = h->Looping;
  scratch->LoopCount = h->LoopCount;
  scratch->LoopsLeft = h->LoopsLeft;
  scratch->Looped = 0;
  bool more = false;
  TMMDSPComponent::BufferLoad(scratch, more);
  if (scratch->Looped) h->Looped = scratch->Looped;
  h->dwUser = scratch->dwUser;
  return more;
}

int TMMDSPComponent::GetBufferSize() const {
  return opened_ ? effectiveSize_ : bufferSize_;
}

void TMMDSPComponent::SetBufferSize(int size) {
  if (size == bufferSize_) return;
  if (started_) Stopped();
  bufferSize_ = size;
}

void TMMDSPComponent::Opened() {
  if (opened_) return;
  effectiveSize_ = EffectiveSize(bufferSize_);
  opened_ = true;
}

void TMMDSPComponent::Closed() {
  opened_ = false;
}

void TMMDSPComponent::Started() {
  if (opened_) started_ = true;
}

void TMMDSPComponent::Stopped() {
  started_ = false;
}

void TMMDSPComponent::BufferReady(PWaveHdr lpWaveHdr) {
  if (OnBufferReady) OnBufferReady(this, lpWaveHdr);
  if (output_) output_->BufferReady(lpWaveHdr);
}

void TMMDSPComponent::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
  if (input_) input_->BufferLoad(lpWaveHdr, MoreBuffers);
  if (ProcessHook && lpWaveHdr->dwBytesRecorded > 0) ProcessHook(this, lpWaveHdr);
}

// ---- driver sections ----

TMMDSPComponent* TMMCustomSoundComponent::SectionStart(bool setUpstreamFlag) {
  TMMDSPComponent* head = this;
  for (TMMDSPComponent* p = input_; p; p = p->GetInput()) {
    if (p->IsSoundComponent()) {
      if (setUpstreamFlag) hasUpstreamDriver_ = true;
      return this;
    }
    head = p;
  }
  if (setUpstreamFlag) hasUpstreamDriver_ = false;
  return head;
}

void TMMCustomSoundComponent::Send(TMMDSPComponent* c, TMMNotify what) {
  switch (what) {
    case TMMNotify::Opened:
      c->Opened();
      break;
    case TMMNotify::Closed:
      c->Closed();
      break;
    case TMMNotify::Started:
      c->Started();
      break;
    case TMMNotify::Paused:
      c->Paused();
      break;
    case TMMNotify::Restarted:
      c->Restarted();
      break;
    case TMMNotify::Stopped:
      c->Stopped();
      break;
    case TMMNotify::Repositioned:
      c->Repositioned();
      break;
  }
}

void TMMCustomSoundComponent::Base(TMMNotify what) {
  switch (what) {
    case TMMNotify::Opened:
      TMMDSPComponent::Opened();
      break;
    case TMMNotify::Closed:
      TMMDSPComponent::Closed();
      break;
    case TMMNotify::Started:
      TMMDSPComponent::Started();
      break;
    case TMMNotify::Paused:
      TMMDSPComponent::Paused();
      break;
    case TMMNotify::Restarted:
      TMMDSPComponent::Restarted();
      break;
    case TMMNotify::Stopped:
      TMMDSPComponent::Stopped();
      break;
    case TMMNotify::Repositioned:
      TMMDSPComponent::Repositioned();
      break;
  }
}

void TMMCustomSoundComponent::NotifySection(TMMNotify what) {
  if (what == TMMNotify::Closed || what == TMMNotify::Stopped) {
    for (TMMDSPComponent* c = output_; c; c = c->GetOutput()) {
      if (c->IsSoundComponent()) {
        Send(c, what);
        break;
      }
    }
    for (TMMDSPComponent* c = SectionStart(false); c; c = c->GetOutput()) {
      if (c == this) continue;
      if (c->IsSoundComponent()) break;
      Send(c, what);
    }
  } else {
    const bool opening = what == TMMNotify::Opened;
    for (TMMDSPComponent* c = SectionStart(opening); c; c = c->GetOutput()) {
      if (c == this) continue;
      if (opening) c->SetBufferSize(GetBufferSize());
      Send(c, what);
      if (c->IsSoundComponent()) break;
    }
  }
  Base(what);
}

// ---- worker threads ----

TMMDSPThread::~TMMDSPThread() {
  if (thread_.joinable()) thread_.join();
}

void TMMDSPThread::Resume() {
  if (thread_.joinable()) return;
  running_ = true;
  thread_ = std::thread([this] {
    {
      std::lock_guard lock(RegistryMutex());
      Threads().push_back(std::this_thread::get_id());
    }
    try {
      Execute();
    } catch (...) {
    }
    {
      std::lock_guard lock(RegistryMutex());
      auto& list = Threads();
      list.erase(std::remove(list.begin(), list.end(), std::this_thread::get_id()), list.end());
    }
    running_ = false;
  });
}

bool TMMDSPThread::WaitFor(int timeoutMs) {
  if (!thread_.joinable()) return true;
  auto* d = ql::CurrentDispatcher();
  bool ended;
  if (d && d->IsUiThread()) {
    ended = d->WaitServing([this] { return !running_; }, std::chrono::milliseconds(timeoutMs));
  } else {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running_ && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ended = !running_;
  }
  if (ended) thread_.join();
  return ended;
}

bool InDSPThread() {
  std::lock_guard lock(RegistryMutex());
  auto& list = Threads();
  return std::find(list.begin(), list.end(), std::this_thread::get_id()) != list.end();
}

void CallSynchronized(const std::function<void()>& fn) {
  auto* d = ql::CurrentDispatcher();
  if (d && !d->IsUiThread() && InDSPThread())
    d->Invoke(fn);
  else
    fn();
}

namespace {
std::function<void(const std::exception&)>& ExceptionHandler() {
  static std::function<void(const std::exception&)> handler;
  return handler;
}
}  // namespace

void SetApplicationExceptionHandler(std::function<void(const std::exception&)> handler) {
  ExceptionHandler() = std::move(handler);
}

void ApplicationHandleException(const std::exception& e) {
  if (ExceptionHandler())
    ExceptionHandler()(e);
  else
    std::fprintf(stderr, "%s\n", e.what());
}
