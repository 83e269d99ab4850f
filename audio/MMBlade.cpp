#include "MMBlade.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>

#include "DynLib.h"
#include "Exception.h"
#include "MMWaveFile.h"
#include "bladeenc.h"

const char* const kBladeLoadError = "Unable to load Blade Encoder DLL";
const char* const kBladeLoadHint =
    "libbladeenc.so is built with this program and is looked for beside it; it needs the "
    "package libmp3lame0 (apt install libmp3lame0).";

namespace {

const std::string kChangeWhileOpen = "Change to property while device was open";
constexpr std::uint16_t kWaveFormatMpegLayer3 = 85;
constexpr std::int64_t kDiskReserve = 10240;

const int kKbps[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

// The library's entry points, bound once per process by the first encoder that opens.
struct BladeApi {
  ql::DynLib lib;
  BEINITSTREAM init = nullptr;
  BEENCODECHUNK encode = nullptr;
  BEDEINITSTREAM deinit = nullptr;
  BECLOSESTREAM close = nullptr;
  BEVERSION version = nullptr;
  bool bound = false;
};

std::mutex& BindMutex() {
  static std::mutex m;
  return m;
}
BladeApi& Api() {
  static BladeApi api;
  return api;
}
std::string& LibraryName() {
  static std::string name = "BLADEENC.DLL";
  return name;
}

// Loads the library and resolves its entry points. A library without one of the four calls the
// encoder makes counts as not loaded; a failed binding is tried again by the next open.
bool BindLibrary() {
  std::lock_guard lock(BindMutex());
  BladeApi& a = Api();
  if (a.bound) return true;
  if (!a.lib.Load(LibraryName())) return false;
  a.lib.Resolve(a.init, "beInitStream");
  a.lib.Resolve(a.encode, "beEncodeChunk");
  a.lib.Resolve(a.deinit, "beDeinitStream");
  a.lib.Resolve(a.close, "beCloseStream");
  a.lib.Resolve(a.version, "beVersion");
  if (!a.init || !a.encode || !a.deinit || !a.close) {
    a.lib.Free();
    return false;
  }
  a.bound = true;
  return true;
}

bool WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w == 0) errno = ENOSPC;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

int BitrateKbps(TMMBitrates b) {
  return kKbps[std::clamp(static_cast<int>(b), 0, static_cast<int>(br320))];
}

bool BitrateFromKbps(int kbps, TMMBitrates& out) {
  for (int i = 0; i <= br320; ++i)
    if (kKbps[i] == kbps) {
      out = static_cast<TMMBitrates>(i);
      return true;
    }
  return false;
}

void SetBladeEncLibraryName(const std::string& name) {
  std::lock_guard lock(BindMutex());
  LibraryName() = name;
}

TMPEGLayer3WaveFormat Mp3WaveFormat(int channels, int rate, int kbps) {
  TMPEGLayer3WaveFormat f{};
  // The frame length in bytes, as a real number.
  const double frame = 144.0 * kbps * 1000.0 / rate;
  f.wfx.wFormatTag = kWaveFormatMpegLayer3;
  f.wfx.nChannels = static_cast<std::uint16_t>(channels);
  f.wfx.nSamplesPerSec = static_cast<std::uint32_t>(rate);
  f.wfx.nAvgBytesPerSec =
      static_cast<std::uint32_t>(std::lround((rate * 100.0 / 1152.0) * frame / 100.0));
  f.wfx.nBlockAlign = 1;
  f.wfx.wBitsPerSample = 0;
  f.wfx.cbSize = 12;
  f.wID = 1;
  f.fdwFlags = 2;  // padding off
  f.nBlockSize = static_cast<std::uint16_t>(frame);
  f.nFramesPerBlock = 1;
  f.nCodecDelay = 1393;
  return f;
}

TMMMP3Encoder::TMMMP3Encoder() = default;

TMMMP3Encoder::~TMMMP3Encoder() {
  try {
    TMMMP3Encoder::Closed();
  } catch (...) {
  }
}

bool TMMMP3Encoder::HasPublishedProperty(const std::string& name) const {
  if (name == "Output") return false;
  static const char* const own[] = {"ChannelMode", "Bitrate",  "Copyright", "Privat",
                                    "CRC",         "Original", "FileName",  "FileType"};
  for (const char* p : own)
    if (name == p) return true;
  return TMMDSPComponent::HasPublishedProperty(name);
}

void TMMMP3Encoder::SetFileName(const std::string& name) {
  if (encOpened_) throw Exception(kChangeWhileOpen);
  fileName_ = name;
}

void TMMMP3Encoder::SetFileType(TMMFileType t) {
  if (encOpened_) throw Exception(kChangeWhileOpen);
  fileType_ = t;
}

void TMMMP3Encoder::Opened() {
  TMMDSPComponent::Opened();
  if (encOpened_ || !pwfx_ || !input_ || fileName_.empty()) return;

  if (!BindLibrary()) throw Exception(std::string(kBladeLoadError) + kMMLineBreak + kBladeLoadHint);
  const BladeApi& api = Api();

  const TWaveFormatEx& in = *pwfx_;
  const unsigned rate = in.nSamplesPerSec;
  if (in.wFormatTag != WAVE_FORMAT_PCM || in.wBitsPerSample != 16 ||
      (rate != 48000 && rate != 44100 && rate != 32000) || (in.nChannels != 1 && in.nChannels != 2))
    throw Exception("Unsupported Input Format");

  BE_CONFIG config;
  std::memset(&config, 0, sizeof config);
  config.dwConfig = BE_CONFIG_MP3;
  config.format.mp3.dwSampleRate = rate;
  // Mono input is one channel whatever ChannelMode says; stereo input is never made one
  // channel, so cmMono encodes it as cmStereo does.
  if (in.nChannels == 1)
    config.format.mp3.byMode = BE_MP3_MODE_MONO;
  else if (channelMode_ == cmDualChannel)
    config.format.mp3.byMode = BE_MP3_MODE_DUALCHANNEL;
  else
    config.format.mp3.byMode = BE_MP3_MODE_STEREO;
  config.format.mp3.wBitrate = static_cast<std::uint16_t>(BitrateKbps(bitrate_));
  config.format.mp3.bPrivate = Privat ? -1 : 0;
  config.format.mp3.bCRC = CRC ? -1 : 0;
  config.format.mp3.bCopyright = Copyright ? -1 : 0;
  config.format.mp3.bOriginal = Original ? -1 : 0;

  // The earlier file of the name stays until the new one is complete.
  failureText_.clear();
  discard_ = false;
  try {
    ql::ResolveOutputTarget(fileName_);
  } catch (const EInOutError& e) {
    throw Exception(std::string("Unable to create file\n") + e.what());
  }
  if (fileType_ == ftRAW) {
    rawPartial_ = std::make_unique<ql::PartialFile>();
    try {
      rawPartial_->Create(fileName_);
    } catch (const EInOutError&) {
      rawPartial_.reset();
      throw Exception("Unable to create file");
    }
    rawFile_ = rawPartial_->Fd();
  } else {
    const TMPEGLayer3WaveFormat f =
        Mp3WaveFormat(in.nChannels, static_cast<int>(rate), config.format.mp3.wBitrate);
    wave_ = std::make_unique<TMMWave>();
    wave_->FileMustExist = false;
    try {
      wave_->CreateWave(fileName_, &f.wfx);
    } catch (const std::exception&) {
      wave_.reset();
      throw Exception("Unable to create file");
    }
  }

  std::uint32_t samples = 0, bufferSize = 0;
  HBE_STREAM stream = 0;
  const bool ok = api.init(&config, &samples, &bufferSize, &stream) == BE_ERR_SUCCESSFUL;
  if (ok) {
    stream_ = stream;
    haveStream_ = true;
  }
  // A chunk must hold whole sample frames, or the accumulation would split one.
  if (!ok || samples == 0 || samples % in.nChannels != 0 || bufferSize == 0) {
    ReleaseOutput(false);
    throw Exception("Unable to initialize stream");
  }

  chunkSamples_ = samples;
  chunkBytes_ = samples * 2;
  frameBytes_ = 2u * in.nChannels;
  output_.assign(bufferSize, 0);
  accu_.assign(chunkBytes_, 0);
  fill_ = 0;
  encOpened_ = true;
}

void TMMMP3Encoder::Started() {
  if (encOpened_ && !encStarted_) {
    encStarted_ = true;
    fill_ = 0;
  }
  TMMDSPComponent::Started();
}

bool TMMMP3Encoder::WriteOutput(std::uint32_t bytes) {
  bytes = std::min<std::uint32_t>(bytes, static_cast<std::uint32_t>(output_.size()));
  if (bytes == 0) return true;
  if (!HasDiskSpace(fileName_, std::int64_t(bytes) + kDiskReserve)) {
    Fail(ql::InOutError(ENOSPC).what());
  } else if (rawFile_ >= 0) {
    if (!WriteAll(rawFile_, output_.data(), bytes))
      Fail(ql::InOutError(errno ? errno : ENOSPC).what());
  } else if (!wave_ || wave_->WriteWaveData(output_.data(), static_cast<int>(bytes)) !=
                           static_cast<int>(bytes)) {
    Fail(wave_ && !wave_->FailureText().empty() ? wave_->FailureText() : "I/O error");
  }
  if (failureText_.empty()) return true;
  Closed();
  return false;
}

void TMMMP3Encoder::Fail(const std::string& reason) {
  if (failureText_.empty()) failureText_ = "Cannot write " + fileName_ + ": " + reason;
}

// Encodes samples 16-bit samples at data and writes what comes out. False when the write failed
// and the encoder is closed.
bool TMMMP3Encoder::Encode(const std::uint8_t* data, std::uint32_t samples) {
  std::uint32_t n = 0;
  // The library reads the samples only.
  auto* pcm = reinterpret_cast<std::int16_t*>(const_cast<std::uint8_t*>(data));
  if (Api().encode(stream_, samples, pcm, output_.data(), &n) != BE_ERR_SUCCESSFUL)
    throw Exception("Unable to encode data");
  return WriteOutput(n);
}

void TMMMP3Encoder::BufferReady(PWaveHdr lpWaveHdr) {
  if (encStarted_ && encOpened_ && input_ && !fileName_.empty() && lpWaveHdr->dwBytesRecorded > 0) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(lpWaveHdr->lpData);
    std::uint32_t left = lpWaveHdr->dwBytesRecorded;
    bool open = true;
    if (fill_ > 0) {
      const std::uint32_t take = std::min(chunkBytes_ - fill_, left);
      std::memcpy(accu_.data() + fill_, p, take);
      fill_ += take;
      p += take;
      left -= take;
      if (fill_ == chunkBytes_) {
        fill_ = 0;
        open = Encode(accu_.data(), chunkSamples_);
      }
    }
    while (open && left >= chunkBytes_) {
      // Whole chunks straight from the pushed buffer; one that starts on an odd byte (after an
      // odd-sized push) goes through the accumulation buffer to keep the samples aligned.
      if (reinterpret_cast<std::uintptr_t>(p) % alignof(std::int16_t) == 0) {
        open = Encode(p, chunkSamples_);
      } else {
        std::memcpy(accu_.data(), p, chunkBytes_);
        open = Encode(accu_.data(), chunkSamples_);
      }
      p += chunkBytes_;
      left -= chunkBytes_;
    }
    if (open && left > 0) {
      std::memcpy(accu_.data(), p, left);
      fill_ = left;
    }
  }
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMMP3Encoder::Stopped() {
  if (encOpened_ && encStarted_) {
    encStarted_ = false;
    // Only whole sample frames can be encoded; a byte or sample that splits a frame is dropped.
    const std::uint32_t frames = fill_ / frameBytes_;
    fill_ = 0;
    bool open = true;
    if (frames > 0) open = Encode(accu_.data(), frames * (frameBytes_ / 2));
    if (open) {
      std::uint32_t n = 0;
      if (Api().deinit(stream_, output_.data(), &n) != BE_ERR_SUCCESSFUL)
        throw Exception("Unable to deinitialize stream");
      WriteOutput(n);
    }
  }
  TMMDSPComponent::Stopped();
}

void TMMMP3Encoder::ReleaseOutput(bool complete) {
  rawFile_ = -1;  // the temporary's own descriptor
  if (rawPartial_) {
    if (complete) {
      try {
        rawPartial_->Commit();
      } catch (const EInOutError& e) {
        Fail(e.what());
      }
    }
    rawPartial_.reset();  // removes what was not committed
  }
  if (wave_) {
    if (complete) {
      wave_->CloseWave();
      if (!wave_->FailureText().empty()) Fail(wave_->FailureText());
    } else {
      wave_->AbandonWave();
    }
    wave_.reset();
  }
  if (haveStream_) {
    Api().close(stream_);
    haveStream_ = false;
    stream_ = 0;
  }
  std::vector<std::uint8_t>().swap(output_);
  std::vector<std::uint8_t>().swap(accu_);
  fill_ = 0;
  encStarted_ = false;
  encOpened_ = false;
}

void TMMMP3Encoder::Closed() {
  std::exception_ptr failure;
  if (encOpened_) {
    // The output and the stream are released even when the flush fails; the failure is
    // reported afterwards. A file without its last frames is not kept.
    try {
      Stopped();
    } catch (...) {
      failure = std::current_exception();
    }
    ReleaseOutput(!failure && failureText_.empty() && !discard_);
  }
  TMMDSPComponent::Closed();
  if (failure) std::rethrow_exception(failure);
}
