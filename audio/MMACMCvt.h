#pragma once
// TMMACMConverter: converts the audio that passes through it into a wanted wave format with the
// audio compression manager, in as many stages as it takes (a rate change, then a codec, ...).
// It takes the format of its input; SetWaveFormat gives the wanted destination. When the
// destination cannot be reached its output format is the input's, and opening fails.
#include <memory>
#include <vector>

#include "MMErrors.h"
#include "MMObjects.h"

enum TMMConvertQuality { cqHigh, cqLow };

class TMMACMConverter : public TMMDSPComponent {
 public:
  TMMACMConverter();
  ~TMMACMConverter() override;

  bool HasPublishedProperty(const std::string& name) const override;

  // SetEnabled, SetQuality, SetWaveFormat and a new input format plan anew on the calling thread
  // and, while open, rebuild the stages the chain thread converts with: change them while the
  // chain is stopped.
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool on);
  TMMConvertQuality GetQuality() const { return quality_; }
  void SetQuality(TMMConvertQuality q);

  // The wanted destination format; none is ignored.
  void SetWaveFormat(const TWaveFormatEx* format) override;
  // The destination when the conversion is possible, else the input's format.
  const TWaveFormatEx* GetWaveFormat() const override { return pwfx_; }
  void InputFormatChanged(const TWaveFormatEx* format) override;
  void Loaded() override;

  // On the thread of the driver's Open, Close, Start, Stop and Reposition (the UI thread; the
  // UI thread too for the Stop or Close a driver posts when it ends by itself). Opened builds the
  // stages, Started and Repositioned empty them.
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Repositioned() override;
  // Convert on the chain thread; BufferLoad also inside a driver's Start, on the caller's thread.
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  const TWaveFormatEx* InputFormat() const { return input_fmt_.get(); }
  const TWaveFormatEx* DestinationFormat() const { return wanted_.get(); }
  bool ConversionNeeded() const { return needed_; }
  bool ConversionPossible() const { return possible_; }
  // The formats the conversion passes through, the destination last (empty: none needed).
  const std::vector<WfxPtr>& Plan() const { return plan_; }
  // Stages built by opening (0 while closed or passing through) and the source chunk in bytes.
  int StageCount() const;
  int SourceChunk() const { return chunk_; }
  // The sample frames of the compressed output since the last start: what its codec took, not
  // what the padded last block would suggest (the length a wave file's fact chunk holds).
  // -1 while the output is PCM or not converted. Read it once the driver has stopped.
  std::int64_t FramesEncoded() const;

 private:
  struct Conversion;
  void Replan();
  void SetOutputFormat(const TWaveFormatEx* format);
  bool Converting() const;
  void Build();
  void ResetStages();
  // Converts n new bytes (already in the first stage's buffer behind its carried bytes).
  void Convert(const char* data, std::uint32_t n);
  std::uint32_t Flush();
  std::uint32_t Available() const;
  void PushConverted();

  bool enabled_ = true;
  TMMConvertQuality quality_ = cqLow;
  WfxPtr input_fmt_, wanted_;
  std::vector<WfxPtr> plan_;
  bool needed_ = false, possible_ = false;
  int chunk_ = 0;
  std::unique_ptr<Conversion> conv_;
  WaveHdrPtr ih_;
  bool moreBuffers_ = false;
  bool endOfInput_ = false;
};

// Whether the compression manager converts src into dst, and through which formats: the chain
// of intermediate formats and dst last (empty when the two are the same).
bool ACMPlanConversion(const TWaveFormatEx* src, const TWaveFormatEx* dst,
                       TMMConvertQuality quality, std::vector<WfxPtr>* chain = nullptr);

// A complete format record of the tag (extra bytes included) for a rate, bit size and channel
// count: PCM is built directly, a codec's record is the one the compression manager suggests
// for 16-bit PCM of that rate and channel count (bits 0 takes the codec's own). None when the
// manager knows no such format.
WfxPtr ACMBuildFormat(int tag, int rate, int bits, int channels);
