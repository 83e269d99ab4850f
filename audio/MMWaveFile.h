#pragma once
// TMMCustomWaveFile / TMMWaveFile: the chain component that owns one TMMWave. With an Input it
// records everything that passes through into the file; without one it plays the file.
#include <memory>

#include "MMObjects.h"
#include "MMWave.h"

// Whether the drive of fileName has at least bytes free; a failing query counts as no space.
bool HasDiskSpace(const std::string& fileName, std::int64_t bytes);

class TMMCustomWaveFile : public TMMDSPComponent {
 public:
  TMMCustomWaveFile();
  ~TMMCustomWaveFile() override;

  TMMWave* Wave() const { return wave_.get(); }
  bool Enabled = true;
  bool OverwriteExisting = true;
  TNotifyEvent OnOpen, OnClose, OnChange, OnChanged, OnLooping;

  void SetWaveFormat(const TWaveFormatEx* format) override;
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Repositioned() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  bool FileOpened() const { return fileOpened_; }
  // Empty while and after a good recording. Once writing failed and the component closed
  // itself (a full disk, an I/O error, a file that would pass 4 GiB), a message naming the
  // file and the reason; the unfinished file is then removed and an earlier file of the name
  // is left as it was. Cleared by the next open. Read it after OnClose.
  const std::string& FailureText() const { return failureText_; }
  // The next close removes the recorded file instead of finishing it (the chain failed
  // elsewhere, or the caller drops the take); an earlier file of the name stays. FailureText()
  // stays empty. Cleared by the next open. Any thread.
  void DiscardOnClose() { discard_ = true; }

 private:
  void WaveChanged();
  void Record(PWaveHdr h);
  void Fail(const std::string& reason);
  void Fire(const TNotifyEvent& e);

  std::unique_ptr<TMMWave> wave_;
  bool fileOpened_ = false;
  std::atomic<bool> fileStarted_{false};
  std::int64_t startPos_ = 0;
  std::uint8_t silence_ = 0;
  std::string failureText_;
  std::atomic<bool> discard_{false};
  std::int64_t freeAtCheck_ = -1, writtenSinceCheck_ = 0;  // on the chain thread
};

class TMMWaveFile : public TMMCustomWaveFile {};
