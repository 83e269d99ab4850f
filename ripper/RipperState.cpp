#include "RipperState.h"

#include <cstring>

namespace ripper {

void TRipperFlags::SetRecordOne() {
  Mp3Output = EncodeAll = ExternalAll = ExternalOutput = false;
  BatchMode = false;
}

void TRipperFlags::SetRecordAll() {
  Mp3Output = EncodeAll = ExternalAll = ExternalOutput = false;
}

void TRipperFlags::SetEncodeOne() {
  Mp3Output = true;
  EncodeAll = ExternalAll = ExternalOutput = false;
  BatchMode = false;
}

void TRipperFlags::SetEncodeAll() {
  Mp3Output = EncodeAll = true;
  ExternalAll = ExternalOutput = false;
}

void TRipperFlags::SetExternalOne() {
  Mp3Output = EncodeAll = ExternalAll = false;
  ExternalOutput = true;
}

void TRipperFlags::SetExternalAll() {
  Mp3Output = EncodeAll = false;
  ExternalAll = ExternalOutput = true;
}

void TRipperFlags::StartBatch() {
  BatchMode = true;
  BatchIndex = 0;
}

void TRipperFlags::EndBatch() {
  BatchMode = EncodeAll = ExternalAll = false;
  Mp3Output = false;
}

void TRipperFlags::StopRecording() {
  BatchMode = EncodeAll = ExternalAll = false;
}

void TRipperFlags::AbortRecording() {
  BatchMode = EncodeAll = ExternalAll = ExternalOutput = false;
  Mp3Output = false;
  Recording = false;
}

TTrackEnd TRipperFlags::TrackEnded(int row_count) {
  Recording = false;
  if (!BatchMode && !EncodeAll && !ExternalAll) {
    BatchMode = false;
    Mp3Output = false;
    return TTrackEnd::kSingle;
  }
  if (BatchIndex >= row_count - 2) {
    BatchMode = false;
    Mp3Output = false;
    return TTrackEnd::kLastOfBatch;
  }
  ++BatchIndex;
  return TTrackEnd::kNextOfBatch;
}

int NextSelected(const std::vector<bool>& selected, int from) {
  if (from < 0) from = 0;
  for (int i = from; i < static_cast<int>(selected.size()); ++i)
    if (selected[i]) return i;
  return -1;
}

TOutputBinding OutputBinding(TRipperOutput kind) {
  switch (kind) {
    case kOutBladeEnc:
      return {"BladeEnc MP3 Encoder", TRecordCommand::kEncodeOne, TRecordCommand::kEncodeAll};
    case kOutLameEnc:
      return {"Lame MP3 Encoder", TRecordCommand::kEncodeOne, TRecordCommand::kEncodeAll};
    case kOutExternal:
      return {"External MP3 Encoder", TRecordCommand::kExternalOne, TRecordCommand::kExternalAll};
    case kOutWave:
    default:
      return {"Wave", TRecordCommand::kRecordOne, TRecordCommand::kRecordAll};
  }
}

bool ShouldReloadDisc(bool disc_loaded, int old_status, int new_status) {
  if (old_status == new_status) return false;
  auto absent = [](int s) { return s == kDriveNotReady || s == kDriveDoorOpen; };
  return !disc_loaded || absent(old_status) || absent(new_status);
}

std::optional<std::vector<std::uint8_t>> ParseStoredWaveFormat(std::string_view bytes) {
  constexpr std::size_t kBase = 18, kMaxRead = 1025;
  if (bytes.size() > kMaxRead) bytes = bytes.substr(0, kMaxRead);
  if (bytes.size() < 16) return std::nullopt;
  std::vector<std::uint8_t> f(bytes.begin(), bytes.end());
  if (f.size() < kBase) f.resize(kBase, 0);
  auto u16 = [&](std::size_t at) { return static_cast<unsigned>(f[at] | (f[at + 1] << 8)); };
  auto u32 = [&](std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, f.data() + at, 4);
    return v;  // little-endian, as the record is stored and the machine is
  };
  unsigned tag = u16(0), channels = u16(2), align = u16(12), bits = u16(14);
  std::uint32_t rate = u32(4), avg = u32(8);
  if (channels == 0 || channels > 8 || rate == 0 || rate > 384000 || align == 0 || avg == 0 ||
      bits > 64)
    return std::nullopt;
  if (tag == 1) {
    // PCM: no extra bytes, whatever the record said.
    if (bits == 0 || bits % 8 || align != channels * bits / 8) return std::nullopt;
    f.resize(kBase);
    f[16] = f[17] = 0;
    return f;
  }
  unsigned extra = u16(16);
  if (f.size() < kBase + extra) return std::nullopt;
  f.resize(kBase + extra);
  return f;
}

}  // namespace ripper
