// The library's entry points: handles, and the error texts.
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "Drive.h"
#include "mmcdda32.h"

#define CDDA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex gHandles;
std::vector<std::shared_ptr<cdda::Drive>> gDrives;  // handle h is gDrives[h - 1]

// Looks a handle up and holds its lock for the call; a call running while cdda_Done frees
// the handle keeps the drive alive until it returns.
class Call {
 public:
  explicit Call(uint32_t handle) {
    {
      std::lock_guard lock(gHandles);
      if (handle == 0 || handle > gDrives.size() || !gDrives[handle - 1]) return;
      drive_ = gDrives[handle - 1];
    }
    lock_ = std::unique_lock(drive_->mutex);
  }
  cdda::Drive* operator->() const { return drive_.get(); }
  explicit operator bool() const { return drive_ != nullptr; }

 private:
  std::shared_ptr<cdda::Drive> drive_;
  std::unique_lock<std::mutex> lock_;
};

const char* const kErrorTexts[] = {
    "No error",
    "Invalid CDDA handle",
    "Invalid device index",
    "No CD device selected",
    "The drive is not ready (no disc in the drive)",
    "The drive's tray is open",
    "Unable to open the CD device",
    "Error reading audio data from the disc",
    "The sectors lie outside the disc",
    "Invalid parameter",
    "The drive does not support this operation",
    "The media is locked in the drive",
    "No burst or sync copy has been started",
    "A copy is in progress on this drive",
    "This CDDA interface version is not supported",
    "Not enough memory",
    "No drive letter is left for this device",
    "The image file does not exist",
    "The drive's tray or lock did not respond",
    "The sectors belong to a data track: it holds no audio",
    "Jitter correction gave up on the sector after 20 tries",
    "The image cannot be used",
};
static_assert(sizeof(kErrorTexts) / sizeof(kErrorTexts[0]) == CDDA_E_LAST + 1);

}  // namespace

CDDA_EXPORT uint32_t cdda_Version(void) {
  return CDDA_VERSION;
}

CDDA_EXPORT uint32_t cdda_Init(uint32_t* version, uint32_t* flags) {
  if (!version) return 0;
  bool diagnostics = flags && (*flags & CDDA_INIT_DIAGNOSTICS);
  cdda::SetDiagnostics(diagnostics);
  if (*version != CDDA_INTERFACE_VERSION) {
    *version = CDDA_E_VERSION;
    return 0;
  }
  std::shared_ptr<cdda::Drive> drive;
  try {
    drive = std::make_shared<cdda::Drive>(diagnostics);
  } catch (...) {
  }
  if (!drive) {
    *version = CDDA_E_MEMORY;
    return 0;
  }
  std::lock_guard lock(gHandles);
  for (size_t i = 0; i < gDrives.size(); ++i) {
    if (!gDrives[i]) {
      gDrives[i] = std::move(drive);
      *version = CDDA_OK;
      return static_cast<uint32_t>(i + 1);
    }
  }
  gDrives.push_back(std::move(drive));
  *version = CDDA_OK;
  return static_cast<uint32_t>(gDrives.size());
}

CDDA_EXPORT uint32_t cdda_Done(uint32_t* handle) {
  if (!handle) return CDDA_E_PARAM;
  std::shared_ptr<cdda::Drive> gone;
  {
    std::lock_guard lock(gHandles);
    uint32_t h = *handle;
    if (h == 0 || h > gDrives.size() || !gDrives[h - 1]) return CDDA_E_HANDLE;
    gone = std::move(gDrives[h - 1]);
  }
  gone.reset();
  *handle = 0;
  return CDDA_OK;
}

#define WITH_DRIVE(expr)        \
  Call d(handle);               \
  if (!d) return CDDA_E_HANDLE; \
  return d->expr

CDDA_EXPORT uint32_t cdda_GetNumDevices(uint32_t handle) {
  Call d(handle);
  return d ? d->NumDevices() : 0;
}
CDDA_EXPORT uint32_t cdda_GetDeviceName(uint32_t handle, uint32_t index, char* buffer,
                                        uint32_t size) {
  WITH_DRIVE(DeviceName(index, buffer, size));
}
CDDA_EXPORT uint32_t cdda_GetDriveLetter(uint32_t handle, uint32_t index, char* letter) {
  WITH_DRIVE(DriveLetter(index, letter));
}
CDDA_EXPORT uint32_t cdda_SetDeviceID(uint32_t handle, uint32_t index) {
  WITH_DRIVE(SetDeviceID(index));
}
CDDA_EXPORT uint32_t cdda_SetDeviceType(uint32_t handle, uint32_t type, uint32_t) {
  WITH_DRIVE(SetDeviceType(type));
}
CDDA_EXPORT uint32_t cdda_OpenDevice(uint32_t handle, uint32_t mode) {
  WITH_DRIVE(Open(mode));
}
CDDA_EXPORT uint32_t cdda_CloseDevice(uint32_t handle) {
  WITH_DRIVE(Close());
}
CDDA_EXPORT uint32_t cdda_GetDeviceReady(uint32_t handle) {
  WITH_DRIVE(Ready());
}
CDDA_EXPORT uint32_t cdda_GetDeviceStatus(uint32_t handle) {
  Call d(handle);
  return d ? d->Status() : CDDA_STATUS_NOT_READY;
}
CDDA_EXPORT uint32_t cdda_ReadTOC(uint32_t handle, CDDA_TOC* toc) {
  WITH_DRIVE(ReadTOC(toc));
}
CDDA_EXPORT uint32_t cdda_ReadCDText(uint32_t handle, CDDA_CDTEXT* text) {
  WITH_DRIVE(ReadCDText(text));
}
CDDA_EXPORT uint32_t cdda_ReadPregaps(uint32_t handle, uint32_t* sectors) {
  WITH_DRIVE(ReadPregaps(sectors));
}
CDDA_EXPORT uint32_t cdda_FreeCDText(uint32_t handle, char* text) {
  Call d(handle);
  if (!d) return CDDA_E_HANDLE;
  delete[] text;
  return CDDA_OK;
}
CDDA_EXPORT uint32_t cdda_SetSpeed(uint32_t handle, uint32_t speed) {
  WITH_DRIVE(SetSpeed(speed));
}
CDDA_EXPORT uint32_t cdda_LockMedia(uint32_t handle, uint32_t lock) {
  WITH_DRIVE(Lock(lock != 0));
}
CDDA_EXPORT uint32_t cdda_LoadMedia(uint32_t handle, uint32_t load) {
  WITH_DRIVE(Load(load != 0));
}
CDDA_EXPORT uint32_t cdda_PlayAudio(uint32_t handle, uint32_t first, uint32_t count) {
  WITH_DRIVE(Play(first, count));
}
CDDA_EXPORT uint32_t cdda_StopAudio(uint32_t handle) {
  WITH_DRIVE(StopAudio());
}
CDDA_EXPORT uint32_t cdda_PauseAudio(uint32_t handle) {
  WITH_DRIVE(PauseAudio());
}
CDDA_EXPORT uint32_t cdda_ResumeAudio(uint32_t handle) {
  WITH_DRIVE(ResumeAudio());
}
CDDA_EXPORT uint32_t cdda_ReadAudio(uint32_t handle, void* buffer, uint32_t first, uint32_t count) {
  WITH_DRIVE(Read(buffer, first, count));
}
CDDA_EXPORT uint32_t cdda_InitBurstCopy(uint32_t handle, uint32_t blocks, uint32_t first,
                                        uint32_t count) {
  WITH_DRIVE(InitCopy(false, blocks, first, count));
}
CDDA_EXPORT uint32_t cdda_ReadAudioBurst(uint32_t handle, void* buffer) {
  WITH_DRIVE(ReadCopy(false, buffer));
}
CDDA_EXPORT uint32_t cdda_DoneBurstCopy(uint32_t handle) {
  WITH_DRIVE(DoneCopy(false));
}
CDDA_EXPORT uint32_t cdda_InitSyncCopy(uint32_t handle, uint32_t blocks, uint32_t first,
                                       uint32_t count) {
  WITH_DRIVE(InitCopy(true, blocks, first, count));
}
CDDA_EXPORT uint32_t cdda_ReadAudioSync(uint32_t handle, void* buffer) {
  WITH_DRIVE(ReadCopy(true, buffer));
}
CDDA_EXPORT uint32_t cdda_DoneSyncCopy(uint32_t handle) {
  WITH_DRIVE(DoneCopy(true));
}
CDDA_EXPORT uint32_t cdda_GetCopyState(uint32_t handle, CDDA_COPYSTATE* state) {
  WITH_DRIVE(CopyState(state));
}

CDDA_EXPORT uint32_t cdda_GetErrorText(uint32_t code, char* buffer, uint32_t size) {
  if (!buffer || size == 0) return CDDA_E_PARAM;
  buffer[0] = 0;
  if (code > CDDA_E_LAST) return CDDA_E_PARAM;
  size_t n = std::min<size_t>(std::strlen(kErrorTexts[code]), size - 1);
  std::memcpy(buffer, kErrorTexts[code], n);
  buffer[n] = 0;
  return CDDA_OK;
}

CDDA_EXPORT uint32_t cdda_GetImageError(uint32_t handle, char* buffer, uint32_t size) {
  WITH_DRIVE(ImageError(buffer, size));
}
CDDA_EXPORT uint32_t cdda_SetReadOffset(uint32_t handle, int32_t samples) {
  WITH_DRIVE(SetReadOffset(samples));
}

CDDA_EXPORT uint32_t cdda_AddImage(const char* path) {
  return cdda::AddImage(path);
}
