#pragma once
// TMMConnector: the last member of the playback chain. Passes every buffer on and keeps the peak
// levels of both channels for the level meters.
#include "MMObjects.h"

class TMMConnector : public TMMDSPComponent {
 public:
  // Both measure on the chain thread (a pull inside a driver's Start: the caller's thread).
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  // Peaks of the last buffer, 0..32768 (8-bit data is scaled to the same range). Any thread.
  int PeakLeft() const { return peakLeft_; }
  int PeakRight() const { return peakRight_; }
  // The highest peaks since the last call, then starts over (for meters that poll). Any thread.
  void TakePeaks(int& left, int& right);
  // After each measured buffer, on the thread that moved it: the chain thread (the UI thread only
  // with a wave output in cmWindow, or for the first pulls of a Start).
  TMMBufferEvent OnLevel;

 private:
  void Measure(PWaveHdr h);
  std::atomic<int> peakLeft_{0}, peakRight_{0};
  std::atomic<int> holdLeft_{0}, holdRight_{0};
};
