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
  // Optional: gapless information (a foreign library without them makes streams without it).
  BEINITSTREAM initInfo = nullptr;
  BEINFOFRAME infoFrame = nullptr;
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
  a.lib.Resolve(a.initInfo, "beInitStreamInfo");
  a.lib.Resolve(a.infoFrame, "beInfoFrame");
  if (!a.initInfo || !a.infoFrame) a.initInfo = nullptr, a.infoFrame = nullptr;
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

bool ValidUtf8(const std::string& s) {
  static const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;  // continuation bytes
    if (c >= 0xF0 && c <= 0xF4)
      n = 3;
    else if (c >= 0xE0 && c < 0xF0)
      n = 2;
    else if (c >= 0xC2 && c < 0xE0)
      n = 1;
    else if (c >= 0x80)
      return false;
    if (s.size() - i <= n) return false;
    std::uint32_t cp = n == 0 ? c : c & (0x3Fu >> n);
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3Fu);
    }
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

std::string Syncsafe(std::size_t v) {
  std::string s(4, '\0');
  for (int k = 0; k < 4; ++k) s[3 - k] = static_cast<char>((v >> (7 * k)) & 0x7F);
  return s;
}

}  // namespace

std::string Id3v24Tag(const TMMMP3Tags& t) {
  // Names come from discs and servers: a text is cut at its first zero (the separator of
  // several values in a frame) and kept to a size no player chokes on.
  constexpr std::size_t kMaxText = 4096;
  std::string frames;
  auto text = [&](const char* id, const std::string& value) {
    std::string v = value.substr(0, value.find('\0'));
    if (v.size() > kMaxText) {
      v.resize(kMaxText);
      // Not in the middle of a UTF-8 sequence (a text that is not UTF-8 is cut anywhere).
      const bool utf8 = ValidUtf8(value.substr(0, value.find('\0')));
      for (int k = 0; utf8 && k < 3 && !ValidUtf8(v); ++k) v.pop_back();
    }
    if (v.empty()) return;
    const std::string body = std::string(1, ValidUtf8(v) ? '\3' : '\0') + v;
    frames += id;
    frames += Syncsafe(body.size());
    frames += std::string(2, '\0');
    frames += body;
  };
  text("TPE1", t.Artist);
  text("TALB", t.Album);
  text("TIT2", t.Title);
  if (t.Track > 0 && t.Track < 1000) {
    std::string n = std::to_string(t.Track);
    if (t.TrackCount >= t.Track && t.TrackCount < 1000) n += "/" + std::to_string(t.TrackCount);
    text("TRCK", n);
  }
  if (t.Year.size() == 4 &&
      std::all_of(t.Year.begin(), t.Year.end(), [](char c) { return c >= '0' && c <= '9'; }))
    text("TDRC", t.Year);
  text("TCON", t.Genre);
  if (t.Isrc.size() == 12 && std::all_of(t.Isrc.begin(), t.Isrc.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
      }))
    text("TSRC", t.Isrc);
  if (frames.empty()) return {};
  return std::string("ID3\4\0\0", 6) + Syncsafe(frames.size()) + frames;
}

void SetWaveInfoTags(TMMWave& w, const TMMMP3Tags& t) {
  // A text ends at its first zero.
  auto set = [&](const char(&id)[5], const std::string& v) {
    w.SetInfo(MakeFourCC(id), v.substr(0, v.find('\0')));
  };
  set("INAM", t.Title);
  set("IART", t.Artist);
  set("IPRD", t.Album);
  set("ITRK", t.Track > 0 ? std::to_string(t.Track) : std::string());
  set("ICRD", t.Year);
  set("IGNR", t.Genre);
}

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
  static const char* const own[] = {"ChannelMode", "Bitrate",  "Copyright", "Privat", "CRC",
                                    "Original",    "FileName", "FileType",  "Tags",   "WriteTags"};
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
    throw Exception(std::string("Unable to create file") + kMMLineBreak + e.what());
  }
  if (fileType_ == ftRAW) {
    // Leftovers of a recording that was killed go before a new one starts (TMMWave does the
    // same for the wave container).
    const std::string target = ql::ResolveOutputTarget(fileName_);
    ql::RemoveLeftovers(target.find('/') == std::string::npos
                            ? std::string()
                            : target.substr(0, target.rfind('/') + 1));
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
    if (WriteTags) SetWaveInfoTags(*wave_, Tags);
  }

  // A raw stream begins with its tag and with the placeholder of the info frame that close
  // fills in (encoder delay and padding, so that decoders give back the exact length). A wave
  // container has neither: its decoders would play the placeholder as a silent frame.
  tagBytes_ = streamBytes_ = 0;
  flushed_ = false;
  infoStream_ = fileType_ == ftRAW && api.initInfo;
  if (fileType_ == ftRAW && WriteTags) {
    const std::string tag = Id3v24Tag(Tags);
    if (!tag.empty() &&
        (!HasDiskSpace(fileName_, std::int64_t(tag.size()) + kDiskReserve) ||
         !WriteAll(rawFile_, reinterpret_cast<const std::uint8_t*>(tag.data()), tag.size()))) {
      ReleaseOutput(false);
      throw Exception("Unable to create file");
    }
    tagBytes_ = static_cast<std::int64_t>(tag.size());
  }

  std::uint32_t samples = 0, bufferSize = 0;
  HBE_STREAM stream = 0;
  const bool ok = (infoStream_ ? api.initInfo : api.init)(&config, &samples, &bufferSize,
                                                          &stream) == BE_ERR_SUCCESSFUL;
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
  if (failureText_.empty()) {
    streamBytes_ += bytes;
    return true;
  }
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
      flushed_ = WriteOutput(n);
    }
  }
  TMMDSPComponent::Stopped();
}

// Writes the info frame over its placeholder, the first frame after the tag. False (with the
// failure set) when that fails.
bool TMMMP3Encoder::WriteInfoFrame() {
  if (!infoStream_ || !flushed_ || rawFile_ < 0 || !haveStream_) return true;
  std::uint32_t n = 0;
  if (Api().infoFrame(stream_, output_.data(), static_cast<std::uint32_t>(output_.size()), &n) !=
      BE_ERR_SUCCESSFUL) {
    Fail("the encoder gave no information frame");
    return false;
  }
  if (n == 0) return true;
  if (n > streamBytes_) {
    Fail("the information frame is larger than the stream");
    return false;
  }
  const std::uint8_t* p = output_.data();
  off_t at = static_cast<off_t>(tagBytes_);
  for (std::uint32_t left = n; left > 0;) {
    const ssize_t w = ::pwrite(rawFile_, p, left, at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      Fail(ql::InOutError(w < 0 ? errno : EIO).what());
      return false;
    }
    p += w;
    at += w;
    left -= static_cast<std::uint32_t>(w);
  }
  return true;
}

void TMMMP3Encoder::ReleaseOutput(bool complete) {
  if (complete && !WriteInfoFrame()) complete = false;
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
