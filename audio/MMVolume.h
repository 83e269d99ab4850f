#pragma once
// TMMVolume: scales PCM samples by a volume and a left/right balance.
#include "MMErrors.h"
#include "MMObjects.h"

class TMMVolume : public TMMDSPComponent {
 public:
  std::atomic<bool> Enabled{true};
  int GetVolume() const { return values_[0]; }
  void SetVolume(int v) { SetValue(0, v); }
  int GetPanning() const { return values_[1]; }
  void SetPanning(int p) { SetValue(1, p); }
  // The shared setter of Volume (index 0) and Panning (index 1).
  void SetValue(int index, int value);
  int LeftGain() const { return left_; }
  int RightGain() const { return right_; }
  bool Clipped() const { return clipped_; }
  void ResetClipped() { clipped_ = false; }

  void SetWaveFormat(const TWaveFormatEx* format) override;
  void Opened() override;
  void Closed() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

 private:
  void Scale(PWaveHdr h);
  int values_[2] = {16384, 0};
  std::atomic<int> left_{16384}, right_{16384};
  bool active_ = false;
  std::atomic<bool> clipped_{false};
};
