#include "AcmStreams.h"

#include <gsm.h>
#include <soxr.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "AcmCodecs.h"

namespace acm {

namespace {

// ---- PCM: bits, channels and rate ----

class PcmStream : public Stream {
 public:
  PcmStream(const Format& src, const Format& dst, bool hq)
      : sch_(src->nChannels),
        sbits_(src->wBitsPerSample),
        srate_(src->nSamplesPerSec),
        dch_(dst->nChannels),
        dbits_(dst->wBitsPerSample),
        drate_(dst->nSamplesPerSec),
        salign_(src->nBlockAlign),
        dalign_(dst->nBlockAlign),
        rch_(std::min(sch_, dch_)),
        hq_(hq) {
    if (srate_ != drate_) MakeResampler();
  }
  ~PcmStream() override {
    if (rs_) soxr_delete(rs_);
  }

  void Reset() override {
    if (rs_) soxr_clear(rs_);
    inFrames_ = outFrames_ = 0;
    ended_ = drained_ = false;
  }

  bool Ok() const { return srate_ == drate_ || rs_; }

  void Convert(const uint8_t* src, uint32_t srcLen, uint8_t* dst, uint32_t dstLen, uint32_t flags,
               uint32_t& used, uint32_t& written) override {
    used = written = 0;
    if (flags & ACM_STREAMCONVERTF_START) Reset();
    const uint32_t sFrames = srcLen / salign_, dFrames = dstLen / dalign_;
    if (!rs_) {
      const uint32_t n = std::min(sFrames, dFrames);
      ToInt16(src, n);
      FromInt16(a_.data(), n, dst, true);
      used = n * salign_;
      written = n * dalign_;
      // At the end a piece of a frame can never be converted: take it, or it is carried forever.
      if ((flags & ACM_STREAMCONVERTF_END) && n == sFrames) used = srcLen;
      return;
    }
    if (ended_ && sFrames) Reset();  // a new signal after a flush
    ToInt16(src, sFrames);
    // soxr works on the smaller channel count: mixed down before, spread out after.
    b_.resize(size_t(dFrames) * rch_);
    size_t idone = 0, odone = 0;
    if (sFrames && dFrames)
      soxr_process(rs_, a_.data(), sFrames, &idone, b_.data(), dFrames, &odone);
    inFrames_ += idone;
    used = uint32_t(idone) * salign_;
    uint32_t out = uint32_t(odone);
    // The end of the signal only once all of its frames are in: what the destination could not
    // take comes back in the next call.
    if ((flags & ACM_STREAMCONVERTF_END) && idone == sFrames) {
      used = srcLen;
      ended_ = true;
      // Drain the resampler's tail, then make the total exactly rate-proportional.
      const uint64_t target = (inFrames_ * drate_ + srate_ / 2) / srate_;
      while (out < dFrames && !drained_) {
        size_t more = 0;
        soxr_process(rs_, nullptr, 0, nullptr, b_.data() + size_t(out) * rch_, dFrames - out,
                     &more);
        if (more == 0) drained_ = true;
        out += uint32_t(more);
      }
      uint64_t allowed = target > outFrames_ ? target - outFrames_ : 0;
      if (out > allowed) out = uint32_t(allowed);
      if (drained_ && out < allowed) {
        const uint32_t pad = uint32_t(std::min<uint64_t>(allowed - out, dFrames - out));
        std::fill(b_.begin() + ptrdiff_t(size_t(out) * rch_),
                  b_.begin() + ptrdiff_t(size_t(out + pad) * rch_), int16_t(0));
        out += pad;
      }
    }
    FromInt16(b_.data(), out, dst, false);
    outFrames_ += out;
    written = out * dalign_;
  }

  uint32_t DestSize(uint32_t srcBytes) const override {
    uint64_t frames = (uint64_t(srcBytes) + salign_ - 1) / salign_;
    if (rs_) frames = (frames * drate_ + srate_ - 1) / srate_ + 64;
    return uint32_t(std::min<uint64_t>(frames * dalign_, UINT32_MAX));
  }
  uint32_t SourceSize(uint32_t dstBytes) const override {
    uint64_t frames = dstBytes / dalign_;
    if (rs_) frames = frames * srate_ / drate_;
    return uint32_t(std::min<uint64_t>(frames * salign_, UINT32_MAX));
  }

 private:
  void MakeResampler() {
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;  // the same input always gives the same output
    soxr_quality_spec_t q = soxr_quality_spec(hq_ ? SOXR_HQ : SOXR_MQ, 0);
    soxr_error_t err = nullptr;
    rs_ = soxr_create(srate_, drate_, rch_, &err, &io, &q, nullptr);
    if (err) rs_ = nullptr;
  }

  // Source frames into a_ as 16-bit samples with rch_ channels (or dch_ without a resampler).
  void ToInt16(const uint8_t* src, uint32_t n) {
    const unsigned och = rs_ ? rch_ : dch_;
    a_.resize(size_t(n) * och);
    int16_t* o = a_.data();
    for (uint32_t i = 0; i < n; ++i) {
      int s[2];
      for (unsigned c = 0; c < sch_; ++c) {
        if (sbits_ == 16) {
          const uint8_t* p = src + (size_t(i) * sch_ + c) * 2;
          s[c] = int16_t(uint16_t(p[0] | (p[1] << 8)));
        } else {
          s[c] = (int(src[size_t(i) * sch_ + c]) - 128) << 8;
        }
      }
      if (och == 1 && sch_ == 2) {
        *o++ = int16_t((s[0] + s[1]) >> 1);
      } else if (och == 2 && sch_ == 1) {
        *o++ = int16_t(s[0]);
        *o++ = int16_t(s[0]);
      } else {
        for (unsigned c = 0; c < och; ++c) *o++ = int16_t(s[c]);
      }
    }
  }

  // n frames of 16-bit samples into the destination's bits and channels.
  void FromInt16(const int16_t* in, uint32_t n, uint8_t* dst, bool mapped) {
    const unsigned ich = mapped ? dch_ : rch_;
    for (uint32_t i = 0; i < n; ++i) {
      for (unsigned c = 0; c < dch_; ++c) {
        const int s = in[size_t(i) * ich + std::min(c, ich - 1)];
        const size_t k = size_t(i) * dch_ + c;
        if (dbits_ == 16) {
          dst[2 * k] = uint8_t(s & 0xFF);
          dst[2 * k + 1] = uint8_t((s >> 8) & 0xFF);
        } else {
          dst[k] = uint8_t(std::min((s + 32768 + 128) >> 8, 255));
        }
      }
    }
  }

  const unsigned sch_, sbits_, srate_, dch_, dbits_, drate_, salign_, dalign_, rch_;
  const bool hq_;
  soxr_t rs_ = nullptr;
  uint64_t inFrames_ = 0, outFrames_ = 0;
  bool ended_ = false, drained_ = false;
  std::vector<int16_t> a_, b_;
};

// ---- block codecs ----

// Whole blocks of srcBlock bytes become blocks of dstBlock bytes. Without BLOCKALIGN a short
// last block is padded with silence when encoding and dropped when decoding.
class BlockStream : public Stream {
 public:
  BlockStream(uint32_t srcBlock, uint32_t dstBlock, bool encoding)
      : srcBlock_(srcBlock), dstBlock_(dstBlock), encoding_(encoding) {}

  void Convert(const uint8_t* src, uint32_t srcLen, uint8_t* dst, uint32_t dstLen, uint32_t flags,
               uint32_t& used, uint32_t& written) override {
    if (flags & ACM_STREAMCONVERTF_START) Reset();
    const uint32_t n = std::min(srcLen / srcBlock_, dstLen / dstBlock_);
    if (n) Blocks(src, dst, n);
    used = n * srcBlock_;
    written = n * dstBlock_;
    const uint32_t rest = srcLen - used;
    if (rest && rest < srcBlock_ && !(flags & ACM_STREAMCONVERTF_BLOCKALIGN) &&
        dstLen - written >= dstBlock_) {
      if (encoding_) {
        std::vector<uint8_t> last(srcBlock_, 0);
        std::memcpy(last.data(), src + used, rest);
        Blocks(last.data(), dst + written, 1);
        written += dstBlock_;
      }
      used += rest;
    }
  }

  uint32_t DestSize(uint32_t srcBytes) const override {
    const uint64_t blocks = (uint64_t(srcBytes) + srcBlock_ - 1) / srcBlock_;
    return uint32_t(std::min<uint64_t>(blocks * dstBlock_, UINT32_MAX));
  }
  uint32_t SourceSize(uint32_t dstBytes) const override {
    return uint32_t(std::min<uint64_t>(uint64_t(dstBytes / dstBlock_) * srcBlock_, UINT32_MAX));
  }

 protected:
  virtual void Blocks(const uint8_t* in, uint8_t* out, uint32_t n) = 0;

  const uint32_t srcBlock_, dstBlock_;
  const bool encoding_;
};

class G711Stream : public BlockStream {
 public:
  G711Stream(bool alaw, bool encoding, unsigned ch)
      : BlockStream(encoding ? 2 * ch : ch, encoding ? ch : 2 * ch, encoding), alaw_(alaw) {
    for (int i = 0; i < 256; ++i)
      decode_[i] = alaw ? AlawToLinear(uint8_t(i)) : MulawToLinear(uint8_t(i));
  }
  void Reset() override {}

 protected:
  void Blocks(const uint8_t* in, uint8_t* out, uint32_t n) override {
    const uint32_t count = n * (encoding_ ? dstBlock_ : srcBlock_);  // samples
    if (encoding_) {
      for (uint32_t i = 0; i < count; ++i) {
        const int16_t s = int16_t(uint16_t(in[2 * i] | (in[2 * i + 1] << 8)));
        out[i] = alaw_ ? LinearToAlaw(s) : LinearToMulaw(s);
      }
    } else {
      for (uint32_t i = 0; i < count; ++i) {
        const uint16_t v = uint16_t(decode_[in[i]]);
        out[2 * i] = uint8_t(v & 0xFF);
        out[2 * i + 1] = uint8_t(v >> 8);
      }
    }
  }

 private:
  const bool alaw_;
  int16_t decode_[256];
};

class ImaStream : public BlockStream {
 public:
  ImaStream(const WAVEFORMATEX* codec, bool encoding)
      : BlockStream(encoding ? Pcm16Block(codec) : codec->nBlockAlign,
                    encoding ? codec->nBlockAlign : Pcm16Block(codec), encoding),
        ch_(codec->nChannels),
        spb_(SamplesPerBlock(codec)),
        align_(codec->nBlockAlign) {}
  void Reset() override { state_ = ImaState(); }

  static uint32_t Pcm16Block(const WAVEFORMATEX* codec) {
    return SamplesPerBlock(codec) * codec->nChannels * 2;
  }

 protected:
  void Blocks(const uint8_t* in, uint8_t* out, uint32_t n) override {
    for (uint32_t b = 0; b < n; ++b) {
      if (encoding_) {
        pcm_.resize(size_t(spb_) * ch_);
        std::memcpy(pcm_.data(), in + size_t(b) * srcBlock_, srcBlock_);
        ImaEncodeBlock(pcm_.data(), ch_, spb_, align_, out + size_t(b) * dstBlock_, state_);
      } else {
        pcm_.resize(size_t(spb_) * ch_);
        ImaDecodeBlock(in + size_t(b) * srcBlock_, ch_, spb_, align_, pcm_.data());
        std::memcpy(out + size_t(b) * dstBlock_, pcm_.data(), dstBlock_);
      }
    }
  }

 private:
  const unsigned ch_, spb_, align_;
  ImaState state_;
  std::vector<int16_t> pcm_;
};

class MsAdpcmStream : public BlockStream {
 public:
  MsAdpcmStream(const WAVEFORMATEX* codec, bool encoding)
      : BlockStream(encoding ? ImaStream::Pcm16Block(codec) : codec->nBlockAlign,
                    encoding ? codec->nBlockAlign : ImaStream::Pcm16Block(codec), encoding),
        ch_(codec->nChannels),
        spb_(SamplesPerBlock(codec)),
        align_(codec->nBlockAlign) {
    const auto* ext = reinterpret_cast<const uint8_t*>(codec) + sizeof(WAVEFORMATEX);
    uint16_t num;
    std::memcpy(&num, ext + 2, 2);
    coefs_.resize(num);
    std::memcpy(coefs_.data(), ext + 4, size_t(num) * sizeof(ADPCMCOEFSET));
  }
  void Reset() override {}

 protected:
  void Blocks(const uint8_t* in, uint8_t* out, uint32_t n) override {
    const unsigned num = unsigned(coefs_.size());
    for (uint32_t b = 0; b < n; ++b) {
      if (encoding_) {
        pcm_.resize(size_t(spb_) * ch_);
        std::memcpy(pcm_.data(), in + size_t(b) * srcBlock_, srcBlock_);
        MsAdpcmEncodeBlock(pcm_.data(), ch_, spb_, align_, coefs_.data(), num,
                           out + size_t(b) * dstBlock_);
      } else {
        pcm_.resize(size_t(spb_) * ch_);
        MsAdpcmDecodeBlock(in + size_t(b) * srcBlock_, ch_, spb_, align_, coefs_.data(), num,
                           pcm_.data());
        std::memcpy(out + size_t(b) * dstBlock_, pcm_.data(), dstBlock_);
      }
    }
  }

 private:
  const unsigned ch_, spb_, align_;
  std::vector<ADPCMCOEFSET> coefs_;
  std::vector<int16_t> pcm_;
};

// 65-byte blocks of two 160-sample frames: libgsm's WAV49 mode writes 32 then 33 bytes.
class GsmStream : public BlockStream {
 public:
  explicit GsmStream(bool encoding)
      : BlockStream(encoding ? 640 : 65, encoding ? 65 : 640, encoding) {
    Reset();
  }
  ~GsmStream() override {
    if (g_) gsm_destroy(g_);
  }
  void Reset() override {
    if (g_) gsm_destroy(g_);
    g_ = gsm_create();
    int one = 1;
    if (g_) gsm_option(g_, GSM_OPT_WAV49, &one);
  }

 protected:
  void Blocks(const uint8_t* in, uint8_t* out, uint32_t n) override {
    for (uint32_t b = 0; b < n; ++b) {
      if (encoding_) {
        gsm_signal s[320];
        std::memcpy(s, in + size_t(b) * 640, sizeof s);
        gsm_byte* o = out + size_t(b) * 65;
        gsm_encode(g_, s, o);
        gsm_encode(g_, s + 160, o + 32);
      } else {
        gsm_byte frame[65];
        gsm_signal s[320] = {};
        std::memcpy(frame, in + size_t(b) * 65, 65);
        gsm_decode(g_, frame, s);
        gsm_decode(g_, frame + 33, s + 160);
        std::memcpy(out + size_t(b) * 640, s, sizeof s);
      }
    }
  }

 private:
  gsm g_ = nullptr;
};

}  // namespace

std::unique_ptr<Stream> OpenPcmStream(const Format& src, const Format& dst, bool highQuality) {
  auto s = std::make_unique<PcmStream>(src, dst, highQuality);
  if (!s->Ok()) return nullptr;
  return s;
}

std::unique_ptr<Stream> OpenCodecStream(const Format& src, const Format& dst) {
  const bool encoding = src->wFormatTag == WAVE_FORMAT_PCM;
  const WAVEFORMATEX* codec = encoding ? dst.get() : src.get();
  switch (codec->wFormatTag) {
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
      return std::make_unique<G711Stream>(codec->wFormatTag == WAVE_FORMAT_ALAW, encoding,
                                          codec->nChannels);
    case WAVE_FORMAT_IMA_ADPCM:
      return std::make_unique<ImaStream>(codec, encoding);
    case WAVE_FORMAT_ADPCM:
      return std::make_unique<MsAdpcmStream>(codec, encoding);
    case WAVE_FORMAT_GSM610:
      return std::make_unique<GsmStream>(encoding);
    default:
      return nullptr;
  }
}

}  // namespace acm
