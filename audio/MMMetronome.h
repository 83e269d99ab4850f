#pragma once
// TMMMetronome: the time stretcher of half-speed playback. With Stretch 2 it plays its input at
// half speed in the source's key: grains of the input, taken at fixed positions in the input's
// time, are laid out twice as far apart and joined by cross-fades, so the output is exactly
// twice as long. S.O.L.A. moves each grain a little to where it continues the previous one
// best (by cross-correlation); O.D.A.S. takes the grains where they lie. DivSize is the length
// of the cross-fade in frames (at most 2048, the grain's spacing), taken at the next seam.
// With Stretch 1 the audio passes unchanged, bit for bit. Pulls of any size give the same
// stream; 8- and 16-bit PCM, mono and stereo.
// It raises no events. The work runs on the pulling thread (the chain thread; the caller's for
// the first pulls of a driver's Start); its settings may change from any thread.
#include <atomic>
#include <vector>

#include "MMErrors.h"
#include "MMObjects.h"

enum TMMOverlapType { otSOLA, otLINE };

class TMMMetronome : public TMMDSPComponent {
 public:
  TMMMetronome() = default;

  int GetStretch() const { return stretch_; }
  void SetStretch(int s) {
    if (s == 1 || s == 2) stretch_ = s;
  }
  TMMOverlapType GetOverlapType() const { return overlap_; }
  void SetOverlapType(TMMOverlapType t) { overlap_ = t; }
  int GetDivSize() const { return divSize_; }
  void SetDivSize(int d) {
    if (d >= 10 && d <= 4096) divSize_ = d;
  }

  // On the pulling thread (the chain thread); not reentrant.
  void SetWaveFormat(const TWaveFormatEx* format) override;
  void Started() override;
  void Repositioned() override;
  void BufferLoad(PWaveHdr h, bool& MoreBuffers) override;

 private:
  void Reset();
  bool PullInput(PWaveHdr h);
  void Segment(bool ended);
  int Search(std::int64_t nominal, std::int64_t lo, std::int64_t hi) const;
  float At(std::int64_t frame, int c) const;
  int Serve(PWaveHdr h, int want);

  std::atomic<int> stretch_{2};
  std::atomic<TMMOverlapType> overlap_{otSOLA};
  std::atomic<int> divSize_{516};

  // The stretch in progress (on the chain's thread).
  bool active_ = false, ended_ = false;
  int ch_ = 2, bits_ = 16, hs_ = 2048, x_ = 516;
  std::vector<float> in_;  // input frames from inBase_, interleaved
  std::int64_t inBase_ = 0, inFrames_ = 0;
  std::vector<float> tail_;  // the previous grain's continuation, x_ frames
  std::int64_t segment_ = 0, prevSrc_ = 0;
  std::vector<float> out_;  // output frames not yet served, from outHead_
  std::size_t outHead_ = 0;
  std::int64_t outFrames_ = 0;  // frames produced so far
  WaveHdrPtr pull_;
};
