#include "MMWave.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "Exception.h"

namespace {

const FOURCC kWAVE = MakeFourCC("WAVE");
const FOURCC kFmt = MakeFourCC("fmt ");
const FOURCC kData = MakeFourCC("data");
const FOURCC kFact = MakeFourCC("fact");
const FOURCC kList = MakeFourCC("LIST");
const FOURCC kInfo = MakeFourCC("INFO");
const FOURCC kDisp = MakeFourCC("DISP");

std::uint32_t Le32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// Reads [pos, pos + size) of the file into a string; size is already cut to the file.
bool ReadAt(TMMIOFile& io, std::int64_t pos, std::int64_t size, std::string& out) {
  out.resize(static_cast<std::size_t>(size));
  io.Seek(pos);
  return size == 0 || io.Read(out.data(), size) == size;
}

std::string CText(const std::string& s) {
  return s.substr(0, s.find('\0'));
}

std::int64_t FileSizeOf(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return -1;
  return st.st_size;
}

}  // namespace

const char* const kWaveTooLarge = "the file would exceed 4 GiB";

std::string wioFormatTagName(int tag) {
  switch (tag) {
    case 1:
      return "PCM";
    case 2:
      return "Microsoft ADPCM";
    case 3:
      return "IEEE Float";
    case 6:
      return "CCITT A-Law";
    case 7:
      return "CCITT u-Law";
    case 17:
      return "IMA ADPCM";
    case 49:
      return "GSM 6.10";
    case 85:
      return "MPEG Layer-3";
    default:
      return "Unknown";
  }
}

int wioParseWave(TMMIOFile& io, TMMWaveIOInfo& info) {
  const std::int64_t fileSize = io.FileSize();
  info.fileSize = fileSize;
  io.Seek(0);
  TMMCKInfo riff;
  if (!io.Descend(riff, nullptr, 0) || riff.ckid != MakeFourCC("RIFF") || riff.fccType != kWAVE)
    return 2;
  std::int64_t riffEnd = std::min<std::int64_t>(riff.dwDataOffset + riff.cksize, fileSize);
  info.riff = riff;
  bool haveFmt = false, haveData = false, haveFact = false;
  std::int64_t dataDeclared = 0, fact = 0;
  std::int64_t pos = riff.dwDataOffset + 4;
  while (pos + 8 <= riffEnd) {
    unsigned char head[8];
    io.Seek(pos);
    if (io.Read(head, 8) != 8) break;
    const FOURCC id = Le32(head);
    const std::int64_t body = pos + 8;
    std::int64_t size = Le32(head + 4);
    const bool pastRiff = body + size > riffEnd;
    if (body + size > fileSize) size = fileSize - body;
    if (haveFmt && haveData && pastRiff) break;
    if (id == kFmt) {
      if (haveFmt) break;
      if (size < 16) return 2;
      std::string rec;
      if (!ReadAt(io, body, std::min<std::int64_t>(size, 18 + 65535), rec)) return 2;
      std::vector<char> block(std::max<std::size_t>(rec.size(), 127), 0);
      std::memcpy(block.data(), rec.data(), rec.size());
      auto* f = reinterpret_cast<TWaveFormatEx*>(block.data());
      if (rec.size() < 18)
        f->cbSize = 0;
      else
        f->cbSize = static_cast<std::uint16_t>(std::min<std::size_t>(f->cbSize, rec.size() - 18));
      info.fmt = WfxClone(f);
      haveFmt = true;
    } else if (id == kData) {
      if (haveData) break;
      info.dataOffset = body;
      dataDeclared = size;
      haveData = true;
    } else if (id == kFact) {
      if (haveFact) break;
      unsigned char v[4];
      io.Seek(body);
      if (size >= 4 && io.Read(v, 4) == 4) fact = Le32(v);
      haveFact = true;
    } else if (id == kList && size >= 4) {
      unsigned char t[4];
      io.Seek(body);
      if (io.Read(t, 4) == 4 && Le32(t) == kInfo) {
        std::int64_t p = body + 4, end = body + size;
        while (p + 8 <= end) {
          unsigned char h[8];
          io.Seek(p);
          if (io.Read(h, 8) != 8) break;
          std::int64_t s = std::min<std::int64_t>(Le32(h + 4), end - (p + 8));
          std::string text;
          if (!ReadAt(io, p + 8, s, text)) break;
          info.infos.push_back({Le32(h), CText(text)});
          p += 8 + s + (s & 1);
        }
      }
    } else if (id == kDisp && size >= 4) {
      std::string body4;
      if (ReadAt(io, body, size, body4)) {
        TMMWaveDisplay d;
        d.type = Le32(reinterpret_cast<const unsigned char*>(body4.data()));
        d.data = body4.substr(4);
        if (d.type == 1) d.data = CText(d.data);
        info.displays.push_back(std::move(d));
      }
    }
    pos = body + size + (size & 1);
  }
  if (!haveFmt) return 2;
  TWaveFormatEx* f = info.fmt.get();
  // The extensible layout holding integer PCM (sub-format GUID 00000001-0000-0010-8000-
  // 00aa00389b71) is PCM: read as such, with the container's sample width.
  static const unsigned char kPcmGuid[16] = {1,    0, 0, 0,    0, 0,    0x10, 0,
                                             0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71};
  if (f->wFormatTag == 0xFFFE && f->cbSize >= 22 &&
      std::memcmp(reinterpret_cast<const unsigned char*>(f) + 18 + 6, kPcmGuid, 16) == 0) {
    f->wFormatTag = WAVE_FORMAT_PCM;
    f->cbSize = 0;
  }
  if (WaveFormatProblem(f)) return 2;
  if (f->wFormatTag == WAVE_FORMAT_PCM) {
    f->nBlockAlign = static_cast<std::uint16_t>(f->nChannels * f->wBitsPerSample / 8);
    f->nAvgBytesPerSec = f->nBlockAlign * f->nSamplesPerSec;
    if (f->nBlockAlign == 0) return 2;
  }
  const std::int64_t align = f->nBlockAlign ? f->nBlockAlign : 1;
  // The audio ends where the data chunk says, or at the end of the file.
  info.dataSize = align * (dataDeclared / align);
  if (f->wFormatTag == WAVE_FORMAT_PCM)
    info.length = info.dataSize / align;
  else if (f->nAvgBytesPerSec)
    info.length = MulDivRound64(info.dataSize, f->nSamplesPerSec, f->nAvgBytesPerSec);
  else
    info.length = fact;
  return 0;
}

TMMWave::TMMWave() = default;

TMMWave::~TMMWave() {
  try {
    CloseWave();
  } catch (...) {
  }
}

void TMMWave::Release() {
  CloseWave();
  info_.fmt.reset();
  info_.fileSize = info_.dataOffset = info_.dataSize = info_.length = info_.bytesLeft = 0;
  info_.infos.clear();
  info_.displays.clear();
}

void TMMWave::SetFileName(const std::string& name) {
  if (name == fileName_ && !name.empty() && FileSizeOf(name) == info_.fileSize) return;
  Release();
  fileName_.clear();
  if (!name.empty() && IgnoreExisting) {
    fileName_ = name;
  } else if (!name.empty()) {
    TMMWaveIOInfo parsed;
    const bool exists = FileSizeOf(name) >= 0;
    if (!parsed.io.Open(name, mmioRead)) {
      if (exists || FileMustExist) throw EMMWaveError("Error reading wave file");
    } else {
      int r = wioParseWave(parsed.io, parsed);
      parsed.io.Close();
      if (r != 0) throw EMMWaveError("Invalid wave file...");
      info_.fmt = std::move(parsed.fmt);
      info_.fileSize = parsed.fileSize;
      info_.dataOffset = parsed.dataOffset;
      info_.dataSize = parsed.dataSize;
      info_.length = parsed.length;
      info_.infos = std::move(parsed.infos);
      info_.displays = std::move(parsed.displays);
    }
    fileName_ = name;
  }
  if (OnChange) OnChange();
}

int TMMWave::BitLength() const {
  return info_.fmt ? info_.fmt->wBitsPerSample : 0;
}
TMMMode TMMWave::Mode() const {
  return info_.fmt && info_.fmt->nChannels == 2 ? mStereo : mMono;
}
int TMMWave::FormatTag() const {
  return info_.fmt ? info_.fmt->wFormatTag : 0;
}
std::string TMMWave::FormatString() const {
  return wioFormatTagName(FormatTag());
}
int TMMWave::SampleRate() const {
  return info_.fmt ? int(info_.fmt->nSamplesPerSec) : 0;
}

void TMMWave::CreateWave(const std::string& name, const TWaveFormatEx* format) {
  Release();
  failure_.clear();
  fileName_ = name;
  info_.fmt = WfxClone(format);
  auto fail = [&](const char* msg) {
    info_.io.Close();
    info_.open = false;
    partial_.reset();  // removes the temporary
    throw EMMWaveError(msg);
  };
  if (!format) fail("Unable to create wave file");
  try {
    ql::ResolveOutputTarget(name);
  } catch (const EInOutError& e) {
    failure_ = e.what();
    throw EMMWaveError(std::string("Unable to create wave file") + kMMLineBreak + e.what());
  }
  // Leftovers of a recording that was killed go before a new one starts.
  const std::string target = ql::ResolveOutputTarget(name);
  ql::RemoveLeftovers(target.find('/') == std::string::npos
                          ? std::string()
                          : target.substr(0, target.rfind('/') + 1));
  finished_.reset();  // one the caller never took
  partial_ = std::make_unique<ql::PartialFile>();
  try {
    partial_->Create(name);
  } catch (const EInOutError& e) {
    failure_ = e.what();
    fail("Unable to create wave file");
  }
  if (!info_.io.Attach(partial_->Fd())) fail("Unable to create wave file");
  info_.riff = TMMCKInfo{};
  info_.riff.fccType = kWAVE;
  if (!info_.io.CreateChunk(info_.riff, mmioFindRiff)) fail("Unable to create wave file");
  TMMCKInfo fmt;
  fmt.ckid = kFmt;
  const int size = wfxSize(info_.fmt.get());
  fmt.cksize = static_cast<std::uint32_t>(size);
  if (!info_.io.CreateChunk(fmt, 0) || info_.io.Write(info_.fmt.get(), size) != size ||
      !info_.io.Ascend(fmt))
    fail("Unable to create wave file");
  info_.data = TMMCKInfo{};
  info_.data.ckid = kData;
  if (!info_.io.CreateChunk(info_.data, 0)) fail("Unable to create wave file");
  if (!info_.io.SetBuffer(static_cast<std::size_t>(ioBufferSize_)))
    fail("Unable to setup file IO buffer");
  info_.dataOffset = info_.data.dwDataOffset;
  info_.dataSize = info_.length = info_.bytesLeft = 0;
  info_.open = info_.writing = true;
}

void TMMWave::AppendWave() {
  if (fileName_.empty() || !info_.fmt) throw EMMWaveError("Unable to open wave file");
  CloseWave();
  failure_.clear();
  TMMWaveIOInfo parsed;
  if (!parsed.io.Open(fileName_, mmioReadWrite) || wioParseWave(parsed.io, parsed) != 0)
    throw EMMWaveError("Unable to open wave file");
  info_.io.Close();
  info_.io.Swap(parsed.io);
  info_.riff = parsed.riff;
  info_.riff.dirty = true;
  info_.data = TMMCKInfo{};
  info_.data.ckid = kData;
  info_.data.dwDataOffset = parsed.dataOffset;
  info_.data.cksize = static_cast<std::uint32_t>(parsed.dataSize);
  info_.data.dirty = true;
  info_.dataOffset = parsed.dataOffset;
  info_.dataSize = parsed.dataSize;
  info_.length = parsed.length;
  info_.bytesLeft = 0;
  if (!info_.io.SetBuffer(static_cast<std::size_t>(ioBufferSize_)))
    throw EMMWaveError("Unable to setup file IO buffer");
  info_.io.Seek(info_.dataOffset + info_.dataSize);
  info_.open = info_.writing = true;
}

void TMMWave::OpenWave() {
  CloseWave();
  if (fileName_.empty() || !info_.fmt) throw EMMWaveError("Unable to open wave file");
  TMMWaveIOInfo parsed;
  if (!parsed.io.Open(fileName_, mmioRead) || wioParseWave(parsed.io, parsed) != 0)
    throw EMMWaveError("Unable to open wave file");
  info_.io.Swap(parsed.io);
  info_.fmt = std::move(parsed.fmt);
  info_.fileSize = parsed.fileSize;
  info_.dataOffset = parsed.dataOffset;
  info_.dataSize = parsed.dataSize;
  info_.length = parsed.length;
  if (!info_.io.SetBuffer(static_cast<std::size_t>(ioBufferSize_))) {
    info_.io.Close();
    throw EMMWaveError("Unable to setup file IO buffer");
  }
  info_.io.Seek(info_.dataOffset);
  info_.bytesLeft = info_.dataSize;
  info_.open = true;
  info_.writing = false;
}

bool TMMWave::FinishWrite() {
  TMMIOFile& io = info_.io;
  bool ok = io.Flush();
  io.Seek(info_.dataOffset + info_.dataSize);
  ok = io.Ascend(info_.data) && ok;
  auto chunk = [&](FOURCC id, const std::string& body) {
    TMMCKInfo ck;
    ck.ckid = id;
    ck.cksize = static_cast<std::uint32_t>(body.size());
    return io.CreateChunk(ck, 0) &&
           io.Write(body.data(), static_cast<std::int64_t>(body.size())) ==
               static_cast<std::int64_t>(body.size()) &&
           io.Ascend(ck);
  };
  auto le32 = [](std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
  };
  ok = chunk(kFact, le32(static_cast<std::uint32_t>(info_.length))) && ok;
  for (const auto& d : info_.displays) {
    if (d.data.empty()) continue;
    std::string body = le32(d.type) + d.data;
    if (d.type == 1) body += '\0';
    ok = chunk(kDisp, body) && ok;
  }
  bool anyText = std::any_of(info_.infos.begin(), info_.infos.end(),
                             [](const TMMWaveInfoText& t) { return !t.text.empty(); });
  if (anyText) {
    TMMCKInfo list;
    list.fccType = kInfo;
    ok = io.CreateChunk(list, mmioFindList) && ok;
    for (const auto& t : info_.infos)
      if (!t.text.empty()) ok = chunk(t.id, t.text + '\0') && ok;
    ok = io.Ascend(list) && ok;
  }
  ok = io.Ascend(info_.riff) && ok;
  ok = io.Truncate(io.Tell()) && ok;
  info_.fileSize = io.Tell();
  if (info_.fileSize > MaxFileSize) {
    // Texts added after the last audio can still push it over.
    SetFailure(kWaveTooLarge);
    ok = false;
  }
  return io.Close() && ok;
}

std::int64_t TMMWave::TrailerBytes() const {
  auto chunk = [](std::int64_t body) { return 8 + body + (body & 1); };
  std::int64_t n = chunk(4);  // fact
  for (const auto& d : info_.displays)
    if (!d.data.empty()) n += chunk(4 + static_cast<std::int64_t>(d.data.size()) + (d.type == 1));
  std::int64_t list = 0;
  for (const auto& t : info_.infos)
    if (!t.text.empty()) list += chunk(static_cast<std::int64_t>(t.text.size()) + 1);
  if (list) n += 12 + list;
  return n;
}

void TMMWave::SetFailure(const std::string& reason) {
  if (failure_.empty()) failure_ = reason;
}

void TMMWave::CloseWave() {
  if (!info_.open) return;
  info_.open = false;
  bool ok = true;
  if (info_.writing && info_.data.dirty)
    ok = FinishWrite();
  else
    ok = info_.io.Close() || !info_.writing;
  info_.writing = false;
  info_.bytesLeft = 0;
  if (!ok)
    SetFailure(info_.io.LastError() ? ql::InOutError(info_.io.LastError()).what()
                                    : std::string("I/O error"));
  if (!partial_) return;
  if (ok && HoldOnClose) {
    finished_ = std::move(partial_);
    return;
  }
  if (ok) {
    try {
      partial_->Commit(SyncOnClose);
    } catch (const EInOutError& e) {
      SetFailure(e.what());
      ok = false;
    }
  }
  partial_.reset();  // removes the temporary when it was not committed
  if (!ok) {
    info_.dataSize = info_.length = 0;
    info_.fileSize = -1;
  }
}

void TMMWave::AbandonWave() {
  if (!info_.open) return;
  if (!partial_) {
    CloseWave();
    return;
  }
  info_.open = info_.writing = false;
  info_.bytesLeft = 0;
  info_.io.Close();
  partial_.reset();
  info_.dataSize = info_.length = 0;
  info_.fileSize = -1;
}

int TMMWave::ReadWaveData(void* buffer, int bytes) {
  if (!info_.open || info_.writing || bytes < 0) return -1;
  if (info_.bytesLeft <= 0) {
    // Nothing left: a few bytes of silence, never more than the buffer holds.
    int n = std::min(bytes, 4);
    std::memset(buffer, 0, static_cast<std::size_t>(n));
    info_.io.Seek(info_.dataOffset + info_.dataSize);
    return n;
  }
  std::int64_t want = std::min<std::int64_t>(bytes, info_.bytesLeft);
  std::int64_t got = info_.io.Read(buffer, want);
  if (got <= 0) {
    info_.bytesLeft = 0;
    return -1;
  }
  info_.bytesLeft -= got;
  return static_cast<int>(got);
}

int TMMWave::WriteWaveData(const void* buffer, int bytes) {
  if (!info_.open || !info_.writing || bytes < 0) return -1;
  const std::int64_t data = std::max(info_.dataSize, info_.io.Tell() - info_.dataOffset + bytes);
  if (info_.dataOffset + data + (data & 1) + TrailerBytes() > MaxFileSize) {
    SetFailure(kWaveTooLarge);
    return -1;
  }
  std::int64_t n = info_.io.Write(buffer, bytes);
  if (n <= 0) {
    if (n < 0)
      SetFailure(info_.io.LastError() ? ql::InOutError(info_.io.LastError()).what()
                                      : std::string("I/O error"));
    return static_cast<int>(n);
  }
  info_.data.dirty = true;
  std::int64_t at = info_.io.Tell() - info_.dataOffset;
  info_.dataSize = std::max(info_.dataSize, at);
  const TWaveFormatEx* f = info_.fmt.get();
  std::int64_t frames = 0;
  if (f && f->wFormatTag == WAVE_FORMAT_PCM && f->nBlockAlign)
    frames = at / f->nBlockAlign;
  else if (f && f->nAvgBytesPerSec)
    frames = MulDivRound64(at, f->nSamplesPerSec, f->nAvgBytesPerSec);
  info_.length = std::max(info_.length, frames);
  return static_cast<int>(n);
}

std::int64_t TMMWave::ToBytes(std::int64_t pos) const {
  const TWaveFormatEx* f = info_.fmt.get();
  switch (TimeFormat) {
    case tfByte:
      return pos;
    case tfSample:
      return wfxSamplesToBytes64(f, pos);
    case tfMillisecond:
      return f ? wfxSamplesToBytes64(f, MulDivRound64(pos, f->nSamplesPerSec, 1000)) : 0;
  }
  return pos;
}

std::int64_t TMMWave::FromBytes(std::int64_t bytes) const {
  const TWaveFormatEx* f = info_.fmt.get();
  if (!f || !f->nAvgBytesPerSec) return 0;
  switch (TimeFormat) {
    case tfByte:
      return bytes;
    case tfSample:
      return MulDivRound64(bytes, f->nSamplesPerSec, f->nAvgBytesPerSec);
    case tfMillisecond:
      return MulDivRound64(bytes, 1000, f->nAvgBytesPerSec);
  }
  return bytes;
}

void TMMWave::SetWavePosition(std::int64_t pos) {
  if (!info_.open) throw EMMWaveError("Error seeking file position");
  std::int64_t bytes = ToBytes(pos);
  if (bytes < 0 || bytes > info_.dataSize) throw EMMWaveError("Error seeking file position");
  info_.io.Seek(info_.dataOffset + bytes);
  if (!info_.writing) info_.bytesLeft = info_.dataSize - bytes;
}

std::int64_t TMMWave::WavePosition() const {
  if (!info_.open) return 0;
  return FromBytes(info_.io.Tell() - info_.dataOffset);
}

void TMMWave::SetInfo(FOURCC id, const std::string& text) {
  for (auto& t : info_.infos)
    if (t.id == id) {
      t.text = text;
      return;
    }
  info_.infos.push_back({id, text});
}

std::string TMMWave::GetInfo(FOURCC id) const {
  for (const auto& t : info_.infos)
    if (t.id == id) return t.text;
  return {};
}

void TMMWave::AddDisplay(std::uint32_t type, const std::string& data) {
  info_.displays.push_back({type, data});
}
