#pragma once
// TMMPitch: changes the playback rate of PCM audio by resampling, so pitch and speed change
// together. Works on pulls; pushed buffers pass unchanged.
#include "MMErrors.h"
#include "MMObjects.h"

// Copies source frames to the destination, advancing the source by step (16.16 fixed point)
// per destination frame. dstLeft and srcLeft are byte counts, updated on return (srcLeft goes
// to zero or below when the source ran out); phase carries the fraction. Returns bytes written.
int pcmResample(const TWaveFormatEx* pwfx, const char* src, char* dst, std::uint32_t step,
                std::uint32_t& phase, int& dstLeft, int& srcLeft);

class TMMPitch : public TMMDSPComponent {
 public:
  TMMPitch();
  ~TMMPitch() override;

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool on);
  float GetPitch() const { return pitch_; }
  void SetPitch(float pitch);  // percent, clamped to -50..50
  std::uint32_t Step() const { return step_; }

  void SetWaveFormat(const TWaveFormatEx* format) override;
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Repositioned() override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

 private:
  void Reset();
  int Pending() const { return fill_ > readPos_ ? fill_ - readPos_ : 0; }

  std::atomic<bool> enabled_{true};
  float pitch_ = 0;
  std::atomic<std::uint32_t> step_{65536};
  bool prepared_ = false;
  WaveHdrPtr ih_;
  int workSize_ = 0;
  int fill_ = 0, readPos_ = 0;
  int skip_ = 0;  // bytes the last resample advanced past the end of its data
  std::uint32_t phase_ = 0;
  bool end_ = false;
  bool more_ = false;
};
