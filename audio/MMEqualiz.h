#pragma once
// TMMEqualizer: shapes the spectrum of 16-bit PCM audio with a list of frequency bands, each with
// its own gain in dB, through the filter engine of MMEQ. The bands are TMMEQFilter objects in a
// TMMEQFilterList, which is stored as the "ObjectContainer" byte stream.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MMEQ.h"
#include "MMErrors.h"
#include "MMObjects.h"

class TMMEqualizer;

class TMMEQFilter {
 public:
  TMMEQFilter() = default;
  TMMEQFilter(float lower, float upper, float gain) : lower_(lower), upper_(upper), gain_(gain) {}
  virtual ~TMMEQFilter() = default;
  virtual std::string ClassName() const { return "TMMEQFilter"; }

  float Lower() const { return lower_; }
  float Upper() const { return upper_; }
  float Gain() const { return gain_; }
  bool Enabled() const { return enabled_; }
  std::int32_t UserValue = 0;

  void SetValues(float lower, float upper, float gain);
  void SetValue(int index, float value);  // 0 lower, 1 upper, 2 gain
  void SetGain(float gain) { SetValue(2, gain); }
  void SetEnabled(bool on);
  void Assign(const TMMEQFilter& other);
  void WriteData(std::string& out) const;
  // Reads enabled and the three values at pos; false when the stream ends first.
  bool ReadData(const std::string& in, std::size_t& pos);

  std::function<void(TMMEQFilter*)> OnChange;  // set by the list

 private:
  void Changed() {
    if (OnChange) OnChange(this);
  }
  float lower_ = 0, upper_ = 0, gain_ = 0;
  bool enabled_ = true;
};

class TMMEQFilterList {
 public:
  explicit TMMEQFilterList(TMMEqualizer* owner = nullptr) : owner_(owner) {}
  int Count() const { return static_cast<int>(items_.size()); }
  TMMEQFilter* Items(int i) const { return items_.at(static_cast<std::size_t>(i)).get(); }
  TMMEQFilter* Add(std::unique_ptr<TMMEQFilter> filter);
  TMMEQFilter* Add(float lower, float upper, float gain);
  void Clear();
  void Assign(const TMMEQFilterList& other);
  std::uint8_t Version() const { return 1; }

  // The stored property "ObjectContainer".
  std::string WriteObjectContainer() const;
  void ReadObjectContainer(const std::string& data);

 private:
  friend class TMMEqualizer;
  TMMEqualizer* owner_;
  std::vector<std::unique_ptr<TMMEQFilter>> items_;
};

// Classes that band records in a stream may name.
void RegisterEQFilterClass(const std::string& name,
                           std::function<std::unique_ptr<TMMEQFilter>()> make);

class TMMEqualizer : public TMMDSPComponent {
 public:
  TMMEqualizer();
  ~TMMEqualizer() override;

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool on);
  int GetSampleRate() const { return sampleRate_; }
  void SetSampleRate(int rate);
  int GetFFTLength() const { return fftLength_; }
  void SetFFTLength(int length);
  std::string Description = "Untitled";
  TMMEQFilterList* Filters() { return &filters_; }
  void SetFilters(const TMMEQFilterList& list);
  TMMChannel Channel = chBoth;
  TMMFFTWindow GetWindow() const { return window_; }
  void SetWindow(TMMFFTWindow w);
  TNotifyEvent OnChange, OnPcmOverflow;
  void Assign(const TMMEqualizer& other);

  void SetWaveFormat(const TWaveFormatEx* format) override;
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Repositioned() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  bool Prepared() const { return prepared_; }
  PEQEngine Engine() const { return engine_; }
  // Delay of the filter in frames while prepared: pulled through the equalizer, output frame
  // n + LatencyFrames() answers input frame n, and the stream is that much longer.
  int LatencyFrames() const { return engine_ ? eqLatency(engine_) : 0; }
  // Pulled through the equalizer, the stream starts LatencyFrames() later instead and has
  // the input's length (for offline processing; set before the start).
  bool CompensateLatency = false;
  // Samples clipped since the last start.
  std::int64_t ClippedSamples() const { return clipped_; }

 private:
  friend class TMMEQFilterList;
  friend class TMMEQFilter;
  void Prepare();
  void RebuildGains();
  void BandChanged(TMMEQFilter* band);
  void ListChanged();
  void Process(PWaveHdr h);
  void Clipped(std::int64_t before);

  std::atomic<bool> enabled_{true};
  int sampleRate_ = 4000;
  int fftLength_ = 256;
  TMMFFTWindow window_ = fwHamming;
  TMMEQFilterList filters_{this};
  bool prepared_ = false;
  bool updating_ = false;
  int maxBuf_ = 0;
  PEQEngine engine_ = nullptr;
  WaveHdrPtr pull_;  // the pulls from the input
  bool inputEnded_ = false;
  int skip_ = 0;  // bytes still to drop (CompensateLatency)
  std::atomic<std::int64_t> clipped_{0};
};

// The twelve bands of the CD-extraction window's equalizer (Hz): 10-30, 31-60, 61-120,
// 121-180, 181-300, 301-600, 601-1200, 1201-1800, 1801-3000, 3001-6000, 6001-12000,
// 12001-20000, with sample rate 44100 and FFT length 512.
void SetupTwelveBands(TMMEqualizer& eq);
