#pragma once
// TMMVolume: scales PCM samples by a volume and a left/right balance.
#include "MMErrors.h"
#include "MMObjects.h"

class TMMVolume : public TMMDSPComponent {
 public:
  // Volume is kept within 0..kMaxVolume (16384 = unity), Panning within -16384..16384.
  static constexpr int kMaxVolume = 65536;
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
  void ResetClipped() { clipped_ = false, clippedSamples_ = 0; }
  // Samples clipped since the last ResetClipped.
  std::int64_t ClippedSamples() const { return clippedSamples_; }

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
  std::atomic<std::int64_t> clippedSamples_{0};
};
