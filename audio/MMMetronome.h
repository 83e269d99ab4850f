#pragma once
// TMMMetronome: the time stretcher of half-speed playback. On each pull it keeps every other
// frame of a 16-bit stereo buffer; with Stretch 2 it hands the kept frames on twice in a row,
// joined at the seam by a cross-fade (S.O.L.A.) or a linear level correction (O.D.A.S.).
// It raises no events. The work runs on the pulling thread (the chain thread; the caller's for
// the first pulls of a driver's Start); its settings may change from any thread.
#include <vector>

#include "MMErrors.h"
#include "MMObjects.h"

enum TMMOverlapType { otSOLA, otLINE };

class TMMMetronome : public TMMDSPComponent {
 public:
  TMMMetronome();

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

  // Works on one buffer in place; the byte count changes as described above. Called by each pull
  // (ProcessHook), on the pulling thread; not reentrant (one scratch buffer).
  void Process(PWaveHdr h);

 private:
  std::atomic<int> stretch_{2};
  std::atomic<TMMOverlapType> overlap_{otSOLA};
  std::atomic<int> divSize_{516};
  std::vector<std::int16_t> kept_;
};
