#include "MMCDRead.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "CommandLine.h"
#include "DynLib.h"
#include "Ui.h"

namespace {

const std::string kChangeWhileOpen = "Change to property while device was open";
const std::string kInvalidDeviceID = "Invalid DeviceID";
// A block read that failed is read again sector by sector, each sector tried this often.
constexpr int kSectorTries = 3;

// The library's entry points, bound once per process by the first reader and unloaded at exit.
struct CddaApi {
// NOLINTNEXTLINE(bugprone-macro-parentheses): a declaration; its name takes no parentheses
#define CDDA_FN(name) decltype(&::name) name = nullptr;
  CDDA_FN(cdda_Version)
  CDDA_FN(cdda_Init)
  CDDA_FN(cdda_Done)
  CDDA_FN(cdda_GetNumDevices)
  CDDA_FN(cdda_GetDeviceName)
  CDDA_FN(cdda_GetDriveLetter)
  CDDA_FN(cdda_SetDeviceID)
  CDDA_FN(cdda_SetDeviceType)
  CDDA_FN(cdda_OpenDevice)
  CDDA_FN(cdda_CloseDevice)
  CDDA_FN(cdda_GetDeviceReady)
  CDDA_FN(cdda_GetDeviceStatus)
  CDDA_FN(cdda_ReadTOC)
  CDDA_FN(cdda_FreeCDText)
  CDDA_FN(cdda_SetSpeed)
  CDDA_FN(cdda_LockMedia)
  CDDA_FN(cdda_LoadMedia)
  CDDA_FN(cdda_StopAudio)
  CDDA_FN(cdda_PauseAudio)
  CDDA_FN(cdda_ResumeAudio)
  CDDA_FN(cdda_ReadAudio)
  CDDA_FN(cdda_InitBurstCopy)
  CDDA_FN(cdda_ReadAudioBurst)
  CDDA_FN(cdda_DoneBurstCopy)
  CDDA_FN(cdda_InitSyncCopy)
  CDDA_FN(cdda_ReadAudioSync)
  CDDA_FN(cdda_DoneSyncCopy)
  CDDA_FN(cdda_GetErrorText)
  CDDA_FN(cdda_GetCopyState)
  CDDA_FN(cdda_ReadCDText)
  CDDA_FN(cdda_GetImageError)
  CDDA_FN(cdda_SetReadOffset)
  CDDA_FN(cdda_ReadPregaps)
#undef CDDA_FN
  std::uint32_t version = 0;
  ql::DynLib lib;
  bool bound = false;
};

std::mutex& BindMutex() {
  static std::mutex m;
  return m;
}
CddaApi& Api() {
  static CddaApi api;
  return api;
}
std::string& LibraryName() {
  static std::string name = "MMCDDA32.DLL";
  return name;
}

// Loads the library and resolves its entry points. A failed binding is tried again by the next
// reader. Returns false after showing the message box.
bool BindLibrary() {
  std::lock_guard lock(BindMutex());
  CddaApi& a = Api();
  if (a.bound) return true;
  if (!a.lib.Load(LibraryName())) {
    ql::UI().ErrorBox("Unable to load MMCDDA32.DLL");
    return false;
  }
  const ql::DynLib& l = a.lib;
#define CDDA_RESOLVE(name) l.Resolve(a.name, #name);
  CDDA_RESOLVE(cdda_Version)
  CDDA_RESOLVE(cdda_Init)
  CDDA_RESOLVE(cdda_Done)
  CDDA_RESOLVE(cdda_GetNumDevices)
  CDDA_RESOLVE(cdda_GetDeviceName)
  CDDA_RESOLVE(cdda_GetDriveLetter)
  CDDA_RESOLVE(cdda_SetDeviceID)
  CDDA_RESOLVE(cdda_SetDeviceType)
  CDDA_RESOLVE(cdda_OpenDevice)
  CDDA_RESOLVE(cdda_CloseDevice)
  CDDA_RESOLVE(cdda_GetDeviceReady)
  CDDA_RESOLVE(cdda_GetDeviceStatus)
  CDDA_RESOLVE(cdda_ReadTOC)
  CDDA_RESOLVE(cdda_FreeCDText)
  CDDA_RESOLVE(cdda_SetSpeed)
  CDDA_RESOLVE(cdda_LockMedia)
  CDDA_RESOLVE(cdda_LoadMedia)
  CDDA_RESOLVE(cdda_StopAudio)
  CDDA_RESOLVE(cdda_PauseAudio)
  CDDA_RESOLVE(cdda_ResumeAudio)
  CDDA_RESOLVE(cdda_ReadAudio)
  CDDA_RESOLVE(cdda_InitBurstCopy)
  CDDA_RESOLVE(cdda_ReadAudioBurst)
  CDDA_RESOLVE(cdda_DoneBurstCopy)
  CDDA_RESOLVE(cdda_InitSyncCopy)
  CDDA_RESOLVE(cdda_ReadAudioSync)
  CDDA_RESOLVE(cdda_DoneSyncCopy)
  CDDA_RESOLVE(cdda_GetErrorText)
  CDDA_RESOLVE(cdda_GetCopyState)
  CDDA_RESOLVE(cdda_ReadCDText)
  CDDA_RESOLVE(cdda_GetImageError)
  CDDA_RESOLVE(cdda_SetReadOffset)
  CDDA_RESOLVE(cdda_ReadPregaps)
#undef CDDA_RESOLVE
  if (!a.cdda_Version) {
    a.lib.Free();
    ql::UI().ErrorBox("Invalid CDDA DLL version");
    return false;
  }
  a.version = a.cdda_Version();
  a.bound = true;
  return true;
}

// A library that lacks one of the other entry points is accepted (only the version is
// checked); a missing call then reports "not supported" instead of jumping to nowhere.
template <class F, class... Args>
std::uint32_t Call(F fn, Args... args) {
  if (!fn) return CDDA_E_NOTSUPPORTED;
  return fn(args...);
}

}  // namespace

void SetCDDALibraryName(const std::string& name) {
  std::lock_guard lock(BindMutex());
  LibraryName() = name;
}

std::uint32_t MSFToFrames(std::uint32_t msf) {
  return ((msf >> 16) & 0xFF) + 75 * ((msf >> 8) & 0xFF) + 4500 * (msf & 0xFF);
}

std::uint32_t FramesToMSF(std::uint32_t n) {
  return (n / 4500) | (((n / 75) % 60) << 8) | ((n % 75) << 16);
}

namespace {
std::uint32_t AddSecond(std::uint32_t msf) {
  std::uint32_t m = msf & 0xFF, s = (msf >> 8) & 0xFF, f = (msf >> 16) & 0xFF;
  if (s >= 59) {
    s = 0;
    ++m;
  } else {
    ++s;
  }
  return m | (s << 8) | (f << 16);
}
// False when there is no second to take.
bool SubSecond(std::uint32_t& msf) {
  std::uint32_t m = msf & 0xFF, s = (msf >> 8) & 0xFF, f = (msf >> 16) & 0xFF;
  if (s > 0) {
    --s;
  } else if (m > 0) {
    --m;
    s = 59;
  } else {
    return false;
  }
  msf = m | (s << 8) | (f << 16);
  return true;
}
}  // namespace

void TrimTrackRange(std::uint32_t& startMSF, std::uint32_t& lengthMSF, bool removeFirst,
                    bool removeLast) {
  if (removeLast && !SubSecond(lengthMSF)) lengthMSF = 0;
  if (removeFirst) {
    startMSF = AddSecond(startMSF);
    if (!SubSecond(lengthMSF)) lengthMSF = 0;
  }
}

// ---- construction ----

TMMCDReader::TMMCDReader() {
  pcmBuildFormat(&own_, 16, 2, 44100);
  TMMDSPComponent::SetWaveFormat(&own_);
  if (!BindLibrary()) throw EMMCDDAError("Unable to load MMCDDA32.DLL");
  CddaApi& a = Api();
  cmdFlag_ = ql::FindCmdLineSwitch("G") ? 1 : 0;
  std::uint32_t word = CDDA_INTERFACE_VERSION;
  std::uint32_t flags = cmdFlag_;
  handle_ = a.cdda_Init ? a.cdda_Init(&word, &flags) : 0;
  initResult_ = a.cdda_Init ? word : CDDA_E_NOTSUPPORTED;
  if (initResult_ == 0 && handle_ == 0) initResult_ = CDDA_E_HANDLE;
  speedList_ = {{"Default", 65535}};
  if (initResult_ == 0) {
    std::uint32_t n = Call(a.cdda_GetNumDevices, handle_);
    for (std::uint32_t i = 0; i < n && n < 1000; ++i) {
      char name[256] = {};
      char letter = 0;
      if (Call(a.cdda_GetDeviceName, handle_, i, name, std::uint32_t(sizeof name)) != 0) continue;
      if (Call(a.cdda_GetDriveLetter, handle_, i, &letter) != 0) continue;
      name[sizeof name - 1] = 0;
      devices_.push_back({name, letter, dtAUTO});
    }
  }
}

TMMCDReader::~TMMCDReader() {
  try {
    StopReading();
    CloseReading();
  } catch (...) {
  }
  FreeCDText();
  if (handle_ && Api().cdda_Done) Api().cdda_Done(&handle_);
  handle_ = 0;
}

bool TMMCDReader::HasPublishedProperty(const std::string& name) const {
  if (name == "Input") return false;
  static const char* const own[] = {"Enabled",     "BlockCount", "CopyMode",
                                    "DeviceID",    "DeviceType", "CopyVolume",
                                    "IgnoreSpeed", "OnDataRead", "OnDataReadEnd"};
  for (const char* p : own)
    if (name == p) return true;
  return TMMDSPComponent::HasPublishedProperty(name);
}

void TMMCDReader::SetInput(TMMDSPComponent*) {}

void TMMCDReader::InputFormatChanged(const TWaveFormatEx* format) {
  SetWaveFormat(format);
}

void TMMCDReader::SetWaveFormat(const TWaveFormatEx* format) {
  if (format && std::memcmp(format, &own_, sizeof own_) != 0)
    throw EMMCDDAError("It's not allowed to change the WaveFormat");
  TMMDSPComponent::SetWaveFormat(&own_);
}

// ---- checks ----

void TMMCDReader::CheckInit() const {
  if (initResult_ != 0) throw EMMCDDAError(ErrorText(initResult_));
}

void TMMCDReader::Check(std::uint32_t code) const {
  if (code != 0) throw EMMCDDAError(ErrorText(code));
}

void TMMCDReader::CheckNotReading() const {
  if (openRead_) throw EMMCDDAError(kChangeWhileOpen);
}

std::string TMMCDReader::ErrorText(std::uint32_t code) const {
  char buf[256] = {};
  if (Call(Api().cdda_GetErrorText, code, buf, std::uint32_t(sizeof buf)) != 0) return {};
  buf[sizeof buf - 1] = 0;
  return buf;
}

// ---- properties ----

void TMMCDReader::SetBlockCount(int n) {
  CheckNotReading();
  blockCount_ = std::max(n, 1);  // 0 sectors per read would never advance
}

void TMMCDReader::SetCopyMode(TMMCDCopyMode mode) {
  CheckNotReading();
  copyMode_ = mode;
}

void TMMCDReader::SetIgnoreSpeed(bool v) {
  CheckNotReading();
  ignoreSpeed_ = v;
}

void TMMCDReader::SetDeviceID(TMMDeviceId id) {
  CheckNotReading();
  if (id == deviceId_) return;
  CheckInit();
  CddaApi& a = Api();
  Check(Call(a.cdda_SetDeviceID, handle_, static_cast<std::uint32_t>(id)));
  TCDDeviceType type = (id >= 0 && id < NumDevices()) ? devices_[id].DeviceType : dtAUTO;
  Check(Call(a.cdda_SetDeviceType, handle_, static_cast<std::uint32_t>(type), 0u));
  FreeCDText();
  toc_.dwNumTracks = 0;
  tocValid_ = false;
  speedList_ = {{"Default", 65535}};
  deviceId_ = id;
}

std::string TMMCDReader::DeviceName(int index) const {
  if (index < 0 || index >= NumDevices()) return kInvalidDeviceID;
  return devices_[index].Name;
}

std::string TMMCDReader::DriveLetter(int index) const {
  if (index < 0 || index >= NumDevices()) return kInvalidDeviceID;
  return std::string(1, devices_[index].DriveLetter);
}

TCDDeviceType TMMCDReader::GetDeviceType() const {
  if (deviceId_ < 0 || deviceId_ >= NumDevices()) return dtAUTO;
  return devices_[deviceId_].DeviceType;
}

void TMMCDReader::SetDeviceType(TCDDeviceType type) {
  CheckInit();
  Check(Call(Api().cdda_SetDeviceType, handle_, static_cast<std::uint32_t>(type), 0u));
  if (deviceId_ >= 0 && deviceId_ < NumDevices()) devices_[deviceId_].DeviceType = type;
}

// ---- device operations ----

void TMMCDReader::OpenDevice() {
  CheckInit();
  Check(Call(Api().cdda_OpenDevice, handle_, CDDA_OPEN_CONTROL));
  openControl_ = true;
}

void TMMCDReader::CloseDevice() {
  CheckInit();
  Check(Call(Api().cdda_CloseDevice, handle_));
  openControl_ = false;
}

bool TMMCDReader::DeviceReady() {
  CheckInit();
  return Call(Api().cdda_GetDeviceReady, handle_) == 0;
}

TMMCDStatus TMMCDReader::DeviceStatus() {
  CheckInit();
  switch (Call(Api().cdda_GetDeviceStatus, handle_)) {
    case CDDA_STATUS_STOPPED:
      return cdsStopped;
    case CDDA_STATUS_PLAYING:
      return cdsPlaying;
    case CDDA_STATUS_SEEKING:
      return cdsSeeking;
    case CDDA_STATUS_PAUSED:
      return cdsPaused;
    case CDDA_STATUS_OPEN:
      return cdsDoorOpen;
    default:
      return cdsNotReady;
  }
}

void TMMCDReader::LockMedia(bool lock) {
  CheckInit();
  Check(Call(Api().cdda_LockMedia, handle_, lock ? 1u : 0u));
  locked_ = lock;
}

void TMMCDReader::LoadMedia(bool load) {
  CheckInit();
  Check(Call(Api().cdda_LoadMedia, handle_, load ? 1u : 0u));
}

void TMMCDReader::StopAudio() {
  CheckInit();
  Check(Call(Api().cdda_StopAudio, handle_));
}

void TMMCDReader::PauseAudio() {
  CheckInit();
  Check(Call(Api().cdda_PauseAudio, handle_));
}

void TMMCDReader::ResumeAudio() {
  CheckInit();
  Check(Call(Api().cdda_ResumeAudio, handle_));
}

bool TMMCDReader::ReadTOC() {
  toc_.dwNumTracks = 0;
  tocValid_ = false;
  if (!DeviceReady()) return false;
  TMMCDTrackList t{};
  if (Call(Api().cdda_ReadTOC, handle_, &t) == 0 && t.dwNumTracks <= CDDA_MAX_TRACKS) {
    toc_ = t;
    tocValid_ = true;
    // Pregaps are known only to libraries that tell them; none is assumed otherwise.
    if (Call(Api().cdda_ReadPregaps, handle_, pregaps_.data()) != 0) pregaps_.fill(0);
  }
  return tocValid_;
}

TMMCDTrackInfo TMMCDReader::GetTrack(int index) const {
  if (index < 0 || index >= GetTrackCount()) return {};
  const CDDA_TRACK& t = toc_.Tracks[index];
  return {static_cast<int>(t.dwTrack), static_cast<int>(MSFToFrames(t.dwStartMSF)),
          static_cast<int>(MSFToFrames(t.dwLengthMSF))};
}

std::uint32_t TMMCDReader::DiscKey() const {
  const std::uint32_t n = toc_.dwNumTracks;
  if (n == 0) return 0;
  std::uint32_t key = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t msf = toc_.Tracks[i].dwStartMSF;
    key += (msf & 0xFF) + 256 * ((msf >> 8) & 0xFF) + 65536 * ((msf >> 16) & 0xFF);
  }
  if (n < 4) {
    const CDDA_TRACK& last = toc_.Tracks[n - 1];
    key += MSFToFrames(last.dwStartMSF) + MSFToFrames(last.dwLengthMSF) + 1;
  }
  return key;
}

void TMMCDReader::SetRange(std::uint32_t startMSF, std::uint32_t lengthMSF) {
  CheckNotReading();
  // A start inside the lead-in reads from sector 0 rather than wrapping to the end of the disc.
  const std::uint32_t start = MSFToFrames(startMSF);
  firstSector_ = start >= 150 ? start - 150 : 0;
  endSector_ = firstSector_ + MSFToFrames(lengthMSF);
  curSector_ = firstSector_;
}

bool TMMCDReader::SetSpeed(std::uint16_t speed) {
  CheckInit();
  speed_ = speed;
  return Call(Api().cdda_SetSpeed, handle_, static_cast<std::uint32_t>(speed)) == 0;
}

std::uint32_t TMMCDReader::TrackPregap(int index) const {
  if (!tocValid_ || index < 0 || index >= GetTrackCount()) return 0;
  // Never more than lies between the previous track's start (or the disc's) and this one.
  const std::uint32_t start = MSFToFrames(toc_.Tracks[index].dwStartMSF);
  const std::uint32_t before = index > 0 ? MSFToFrames(toc_.Tracks[index - 1].dwStartMSF) : 150;
  return start > before ? std::min(pregaps_[static_cast<std::size_t>(index)], start - before) : 0;
}

bool TMMCDReader::HiddenTrackRange(std::uint32_t& startMSF, std::uint32_t& lengthMSF) const {
  if (!tocValid_ || toc_.dwNumTracks == 0) return false;
  const CDDA_TRACK& first = toc_.Tracks[0];
  const std::uint32_t start = MSFToFrames(first.dwStartMSF);
  if (first.dwTrack != 1 || !first.fAudio || (first.bAttrib & CDDA_ATTR_DATA) || start <= 150)
    return false;
  startMSF = FramesToMSF(150);
  lengthMSF = FramesToMSF(start - 150);
  return true;
}

void TMMCDReader::SetReadOffset(int samples) {
  CheckNotReading();
  readOffset_ =
      std::clamp(samples, -static_cast<int>(CDDA_MAX_OFFSET), static_cast<int>(CDDA_MAX_OFFSET));
}

std::string TMMCDReader::CDText() {
  CheckInit();
  CDDA_CDTEXT text{};
  if (Call(Api().cdda_ReadCDText, handle_, &text) != 0 || !text.lpText) return {};
  std::string out(text.lpText, text.dwSize);
  Call(Api().cdda_FreeCDText, handle_, text.lpText);
  return out;
}

std::string TMMCDReader::ImageError() const {
  char buf[1024] = {};
  if (!handle_ || Call(Api().cdda_GetImageError, handle_, buf, std::uint32_t{sizeof buf}) != 0)
    return {};
  return buf;
}

void TMMCDReader::FreeCDText() {
  if (cdText_ && handle_) Call(Api().cdda_FreeCDText, handle_, cdText_);
  cdText_ = nullptr;
}

// ---- reading ----

void TMMCDReader::Opened() {
  TMMDSPComponent::Opened();
  OpenReading();
}

void TMMCDReader::Started() {
  StartReading();
  TMMDSPComponent::Started();
}

void TMMCDReader::Stopped() {
  StopReading();
  TMMDSPComponent::Stopped();
}

void TMMCDReader::Closed() {
  CloseReading();
  TMMDSPComponent::Closed();
}

void TMMCDReader::OpenReading() {
  if (openRead_) return;
  CheckInit();
  {
    std::lock_guard lock(failMutex_);
    failure_.clear();
  }
  failed_ = false;
  retries_ = skipped_ = 0;
  // The table the range is checked against and the messages name tracks from: the one read
  // last, or the disc's own when none was read.
  rangeToc_ = {};
  if (tocValid_) {
    rangeToc_ = toc_;
  } else if (Call(Api().cdda_ReadTOC, handle_, &rangeToc_) != 0 ||
             rangeToc_.dwNumTracks > CDDA_MAX_TRACKS) {
    rangeToc_ = {};
  }
  if (std::string data = DataTrackText(rangeToc_, firstSector_, endSector_); !data.empty()) {
    Fail(data);
    throw EMMCDDAError(data);
  }
  StopAudio();
  cache_.assign(static_cast<std::size_t>(blockCount_) * kCDCacheSectorBytes, 0);
  cacheFilled_ = cachePos_ = 0;
  curSector_ = firstSector_;
  CddaApi& a = Api();
  Call(a.cdda_CloseDevice, handle_);
  Check(Call(a.cdda_OpenDevice, handle_, CDDA_OPEN_AUDIO));
  if (readOffset_ != 0 && !a.cdda_SetReadOffset)
    throw EMMCDDAError("The CD library cannot correct a read offset");
  if (a.cdda_SetReadOffset) Check(a.cdda_SetReadOffset(handle_, readOffset_));
  // With IgnoreSpeed the drive runs unlimited, but the selected speed is kept for later.
  if (ignoreSpeed_)
    Call(a.cdda_SetSpeed, handle_, 65535u);
  else
    SetSpeed(speed_);
  openRead_ = true;
}

void TMMCDReader::StartReading() {
  if (!openRead_ || reading_) return;
  cacheFilled_ = cachePos_ = 0;
  curSector_ = firstSector_;
  lockedAtStart_ = locked_;
  if (!locked_) LockMedia(true);
  CddaApi& a = Api();
  const auto blocks = static_cast<std::uint32_t>(blockCount_);
  const std::uint32_t count = endSector_ - firstSector_;
  {
    std::lock_guard lock(failMutex_);
    failure_.clear();
  }
  failed_ = false;
  retries_ = skipped_ = 0;
  std::uint32_t code = 0;
  if (copyMode_ == cmBurst)
    code = Call(a.cdda_InitBurstCopy, handle_, blocks, firstSector_, count);
  else if (copyMode_ == cmSync)
    code = Call(a.cdda_InitSyncCopy, handle_, blocks, firstSector_, count);
  if (code != 0) {
    Fail(ErrorText(code));
    Check(code);
  }
  reading_ = true;
}

void TMMCDReader::StopReading() {
  if (!reading_) return;
  reading_ = false;
  CddaApi& a = Api();
  if (!lockedAtStart_) {
    // The drive may have gone away meanwhile; unlocking is best effort.
    if (Call(a.cdda_LockMedia, handle_, 0u) == 0) locked_ = false;
  }
  if (copyMode_ == cmBurst)
    Call(a.cdda_DoneBurstCopy, handle_);
  else if (copyMode_ == cmSync)
    Call(a.cdda_DoneSyncCopy, handle_);
}

void TMMCDReader::CloseReading() {
  if (!openRead_) return;
  openRead_ = false;
  cache_.clear();
  cache_.shrink_to_fit();
  cacheFilled_ = cachePos_ = 0;
  CddaApi& a = Api();
  Call(a.cdda_CloseDevice, handle_);
  if (openControl_) Call(a.cdda_OpenDevice, handle_, CDDA_OPEN_CONTROL);
}

int TMMCDReader::ReadBlock(std::uint32_t sector, int n, char* dest) {
  CddaApi& a = Api();
  std::uint32_t code;
  int good = n;
  if (copyMode_ == cmBurst || copyMode_ == cmSync) {
    code = copyMode_ == cmBurst ? Call(a.cdda_ReadAudioBurst, handle_, static_cast<void*>(dest))
                                : Call(a.cdda_ReadAudioSync, handle_, static_cast<void*>(dest));
    CDDA_COPYSTATE st{};
    const bool known = Call(a.cdda_GetCopyState, handle_, &st) == 0;
    if (known && copyMode_ == cmSync) retries_ = st.dwRetries;
    if (code != 0) {
      // The sectors before the bad one are in the buffer; a library that cannot say how many
      // gets none delivered.
      const std::uint32_t next = st.dwNextSector;
      good = known && next >= sector && next - sector < static_cast<std::uint32_t>(n)
                 ? static_cast<int>(next - sector)
                 : 0;
    }
  } else {
    code = Call(a.cdda_ReadAudio, handle_, static_cast<void*>(dest), sector,
                static_cast<std::uint32_t>(n));
    if (code != 0 && reading_) good = ReadSingly(sector, n, dest, &code);
  }
  if (code != 0) {
    // A stop while the read was under way makes its failure moot; the block holds nothing
    // worth delivering then.
    if (!reading_) return -1;
    ++skipped_;
    Fail(SectorText(sector + static_cast<std::uint32_t>(good)) +
         " could not be read: " + ErrorText(code));
  }
  const int v = copyVolume_;
  if (good > 0) pcmVolume(&own_, dest, good * kCDSectorBytes, v, v);
  return good;
}

int TMMCDReader::ReadSingly(std::uint32_t sector, int n, char* dest, std::uint32_t* code) {
  CddaApi& a = Api();
  for (int i = 0; i < n; ++i) {
    for (int attempt = 0;; ++attempt) {
      if (attempt > 0) ++retries_;
      *code = Call(a.cdda_ReadAudio, handle_, static_cast<void*>(dest + i * kCDSectorBytes),
                   sector + static_cast<std::uint32_t>(i), 1u);
      if (*code == 0) break;
      // A data sector or one past the disc does not get better by trying again.
      if (*code == CDDA_E_DATA || *code == CDDA_E_RANGE || attempt + 1 >= kSectorTries || !reading_)
        return i;
    }
  }
  return n;
}

void TMMCDReader::Fail(const std::string& text) {
  std::lock_guard lock(failMutex_);
  if (failure_.empty()) failure_ = text;  // the first reason counts
  failed_ = true;
}

std::string TMMCDReader::FailureText() const {
  std::lock_guard lock(failMutex_);
  return failure_;
}

std::string TMMCDReader::SectorText(std::uint32_t sector) const {
  std::string text = "Sector " + std::to_string(sector);
  const std::uint32_t n = std::min<std::uint32_t>(rangeToc_.dwNumTracks, CDDA_MAX_TRACKS);
  for (std::uint32_t i = 0; i < n; ++i) {
    const CDDA_TRACK& t = rangeToc_.Tracks[i];
    const std::uint32_t start = MSFToFrames(t.dwStartMSF);
    const std::uint32_t first = start >= 150 ? start - 150 : 0;
    if (sector < first || sector - first >= MSFToFrames(t.dwLengthMSF)) continue;
    const std::uint32_t at = sector - first;
    char place[16];
    std::snprintf(place, sizeof place, "%02u:%02u:%02u", at / 4500, (at / 75) % 60, at % 75);
    return text + " (track " + std::to_string(t.dwTrack) + ", " + place + ")";
  }
  return text;
}

std::string TMMCDReader::DataTrackText(const TMMCDTrackList& toc, std::uint32_t first,
                                       std::uint32_t end) {
  const std::uint32_t n = std::min<std::uint32_t>(toc.dwNumTracks, CDDA_MAX_TRACKS);
  for (std::uint32_t i = 0; i < n; ++i) {
    const CDDA_TRACK& t = toc.Tracks[i];
    if (t.fAudio && !(t.bAttrib & CDDA_ATTR_DATA)) continue;
    const std::uint32_t start = MSFToFrames(t.dwStartMSF);
    const std::uint32_t from = start >= 150 ? start - 150 : 0;
    const std::uint32_t to = from + MSFToFrames(t.dwLengthMSF);
    if (first < to && from < end)
      return "Track " + std::to_string(t.dwTrack) + " is a data track: it holds no audio";
  }
  return {};
}

int TMMCDReader::ReadData(void* buffer, int bytes) {
  if (!openRead_ || !reading_ || bytes <= 0) return 0;
  if (OnDataRead) OnDataRead(this);
  char* out = static_cast<char*>(buffer);
  int done = std::min(bytes, cacheFilled_ - cachePos_);
  if (done > 0) {
    std::memcpy(out, cache_.data() + cachePos_, static_cast<std::size_t>(done));
    cachePos_ += done;
  } else {
    done = 0;
  }
  while (done < bytes && reading_ && !failed_ && curSector_ < endSector_) {
    const int n = static_cast<int>(std::min<std::uint32_t>(blockCount_, endSector_ - curSector_));
    const int blockBytes = n * kCDSectorBytes;
    const int wanted = bytes - done;
    int got;
    if (wanted < blockBytes) {
      got = ReadBlock(curSector_, n, cache_.data());
      if (got < 0) break;
      cacheFilled_ = got * kCDSectorBytes;
      const int take = std::min(wanted, cacheFilled_);
      std::memcpy(out + done, cache_.data(), static_cast<std::size_t>(take));
      cachePos_ = take;
      done += take;
    } else {
      got = ReadBlock(curSector_, n, out + done);
      if (got < 0) break;
      done += got * kCDSectorBytes;
    }
    curSector_ += static_cast<std::uint32_t>(got);
  }
  if (OnDataReadEnd) OnDataReadEnd(this);
  return done;
}

void TMMCDReader::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (enabled_) {
    const int got = ReadData(lpWaveHdr->lpData, static_cast<int>(lpWaveHdr->dwBufferLength));
    // Not one sector of the range could be read: the chain cannot start, and says why.
    if (got == 0 && failed_ && curSector_ == firstSector_) throw EMMCDDAError(FailureText());
    lpWaveHdr->dwBytesRecorded = static_cast<std::uint32_t>(got);
    MoreBuffers = cachePos_ < cacheFilled_ || (!failed_ && curSector_ < endSector_);
  } else {
    std::memset(lpWaveHdr->lpData, 0, lpWaveHdr->dwBufferLength);
    lpWaveHdr->dwBytesRecorded = lpWaveHdr->dwBufferLength;
    MoreBuffers = true;
  }
}
