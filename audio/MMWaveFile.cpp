#include "MMWaveFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Exception.h"

#include "Fs.h"

bool HasDiskSpace(const std::string& fileName, std::int64_t bytes) {
  const std::string dir = ql::fs::ExtractFilePath(fileName);
  std::int64_t free = ql::fs::DiskFree(dir.empty() ? std::string(".") : dir);
  return free >= 0 && free >= bytes;
}

TMMCustomWaveFile::TMMCustomWaveFile() : wave_(std::make_unique<TMMWave>()) {
  wave_->OnChange = [this] { WaveChanged(); };
}

TMMCustomWaveFile::~TMMCustomWaveFile() {
  try {
    TMMCustomWaveFile::Closed();
  } catch (...) {
  }
}

void TMMCustomWaveFile::Fire(const TNotifyEvent& e) {
  if (e) CallSynchronized([&] { e(this); });
}

void TMMCustomWaveFile::WaveChanged() {
  if (OnChange) OnChange(this);
  // A recorder takes its format from its input; a player from its file.
  if (!input_ && (wave_->FileMustExist || wave_->GetWaveFormat()))
    SetWaveFormat(wave_->GetWaveFormat());
  if (OnChanged) OnChanged(this);
}

void TMMCustomWaveFile::SetWaveFormat(const TWaveFormatEx* format) {
  TMMDSPComponent::SetWaveFormat(format);
  silence_ =
      (pwfx_ && pwfx_->wFormatTag == WAVE_FORMAT_PCM && pwfx_->wBitsPerSample == 8) ? 128 : 0;
}

void TMMCustomWaveFile::Opened() {
  TMMDSPComponent::Opened();
  if (fileOpened_) return;
  failureText_.clear();
  discard_ = false;
  freeAtCheck_ = -1;
  const std::string& name = wave_->GetFileName();
  if (input_) {
    const TWaveFormatEx* in = input_->GetWaveFormat();
    if (in != pwfx_) SetWaveFormat(in);
    if (pwfx_ && !name.empty()) {
      const TWaveFormatEx* old = wave_->GetWaveFormat();
      bool sameFormat = old && wfxSize(old) == wfxSize(pwfx_) &&
                        std::memcmp(old, pwfx_, static_cast<std::size_t>(wfxSize(old))) == 0;
      if (OverwriteExisting || wave_->WaveIsEmpty() || !sameFormat)
        wave_->CreateWave(name, pwfx_);
      else
        wave_->AppendWave();
      fileOpened_ = true;
    }
  } else if (!wave_->WaveIsEmpty()) {
    wave_->OpenWave();
    startPos_ = wave_->WavePosition();
    fileOpened_ = true;
  }
  if (fileOpened_) Fire(OnOpen);
}

void TMMCustomWaveFile::Started() {
  TMMDSPComponent::Started();
  if (!input_ && fileOpened_) wave_->SetWavePosition(startPos_);
  fileStarted_ = true;
}

void TMMCustomWaveFile::Stopped() {
  fileStarted_ = false;
  TMMDSPComponent::Stopped();
}

void TMMCustomWaveFile::Repositioned() {
  if (!input_ && fileOpened_) wave_->SetWavePosition(startPos_);
  TMMDSPComponent::Repositioned();
}

void TMMCustomWaveFile::Closed() {
  if (fileOpened_) {
    Stopped();
    if (!failureText_.empty() || discard_) {
      // Writing failed: the unfinished file goes, an earlier one of the name stays.
      wave_->AbandonWave();
    } else {
      if (wave_->IsWriting() && wave_->GetWaveFormat() && wave_->DataSize() == 0) {
        // The data chunk is never left empty.
        const char zero[4] = {0, 0, 0, 0};
        wave_->WriteWaveData(zero, 4);
      }
      const bool writing = wave_->IsWriting();
      wave_->CloseWave();
      if (writing && !wave_->FailureText().empty()) Fail(wave_->FailureText());
    }
    fileOpened_ = false;
    Fire(OnClose);
  }
  TMMDSPComponent::Closed();
}

void TMMCustomWaveFile::Fail(const std::string& reason) {
  if (failureText_.empty()) failureText_ = "Cannot write " + wave_->GetFileName() + ": " + reason;
}

void TMMCustomWaveFile::Record(PWaveHdr h) {
  if (!fileStarted_ || !Enabled || !fileOpened_ || !wave_->IsWriting()) return;
  const std::string& name = wave_->GetFileName();
  const int n = static_cast<int>(h->dwBytesRecorded);
  if (name.empty() || n == 0) return;
  // The free space is asked of the system again after every 8 MB (or half of what was free),
  // not for every buffer; a write that finds the disk full fails on its own all the same.
  const std::int64_t need = std::int64_t(wave_->GetIOBufferSize()) + n + 10240;
  if (freeAtCheck_ < 0 ||
      writtenSinceCheck_ + need > std::min<std::int64_t>(freeAtCheck_ / 2, 8 << 20)) {
    const std::string dir = ql::fs::ExtractFilePath(name);
    freeAtCheck_ = ql::fs::DiskFree(dir.empty() ? std::string(".") : dir);
    writtenSinceCheck_ = 0;
  }
  if (freeAtCheck_ < 0 || freeAtCheck_ - writtenSinceCheck_ < need) {
    Fail(ql::InOutError(ENOSPC).what());
    Closed();
    return;
  }
  writtenSinceCheck_ += n;
  if (wave_->WriteWaveData(h->lpData, n) <= 0) {
    Fail(wave_->FailureText().empty() ? std::string("I/O error") : wave_->FailureText());
    Closed();
  }
}

void TMMCustomWaveFile::BufferReady(PWaveHdr lpWaveHdr) {
  if (input_) Record(lpWaveHdr);
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMCustomWaveFile::BufferLoad(PWaveHdr h, bool& MoreBuffers) {
  if (input_) {
    TMMDSPComponent::BufferLoad(h, MoreBuffers);
    Record(h);
    return;
  }
  if (wave_->WaveIsEmpty() || !fileOpened_) {
    h->dwBytesRecorded = 0;
    return;
  }
  if (fileStarted_ && Enabled) {
    int n = wave_->ReadWaveData(h->lpData, static_cast<int>(h->dwBufferLength));
    if (n < 0) n = 0;
    h->dwBytesRecorded = static_cast<std::uint32_t>(n);
    if (n > 0 && wave_->WaveBytesLeft() > 0) {
      MoreBuffers = true;
    } else if (n > 0 && h->Looping) {
      if (h->LoopCount > 0) --h->LoopsLeft;
      if (!(h->LoopCount > 0 && h->LoopsLeft < 0)) {
        wave_->SetWavePosition(0);
        Fire(OnLooping);
        MoreBuffers = true;
        h->Looped = -1;
      }
    }
  } else {
    std::memset(h->lpData, silence_, h->dwBufferLength);
    h->dwBytesRecorded = h->dwBufferLength;
    MoreBuffers = true;
  }
}
