#pragma once
// The CD library loaded at run time by its system name, as the CD reader loads it.
#include <stdexcept>
#include <string>

#include "DynLib.h"
#include "mmcdda32.h"

namespace qltest {

struct CddaLib {
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
  CDDA_FN(cdda_ReadCDText)
  CDDA_FN(cdda_FreeCDText)
  CDDA_FN(cdda_SetSpeed)
  CDDA_FN(cdda_LockMedia)
  CDDA_FN(cdda_LoadMedia)
  CDDA_FN(cdda_PlayAudio)
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
  CDDA_FN(cdda_AddImage)
  CDDA_FN(cdda_GetCopyState)
  CDDA_FN(cdda_GetImageError)
  CDDA_FN(cdda_SetReadOffset)
#undef CDDA_FN

  CddaLib() {
    if (!lib_.Load("MMCDDA32.DLL")) throw std::runtime_error(lib_.Error());
// NOLINTBEGIN(bugprone-macro-parentheses): names assigned to, not expressions
#define CDDA_BIND(name)                                        \
  name = reinterpret_cast<decltype(name)>(lib_.Symbol(#name)); \
  if (!name) throw std::runtime_error("missing " #name);
    // NOLINTEND(bugprone-macro-parentheses)
    CDDA_BIND(cdda_Version)
    CDDA_BIND(cdda_Init)
    CDDA_BIND(cdda_Done)
    CDDA_BIND(cdda_GetNumDevices)
    CDDA_BIND(cdda_GetDeviceName)
    CDDA_BIND(cdda_GetDriveLetter)
    CDDA_BIND(cdda_SetDeviceID)
    CDDA_BIND(cdda_SetDeviceType)
    CDDA_BIND(cdda_OpenDevice)
    CDDA_BIND(cdda_CloseDevice)
    CDDA_BIND(cdda_GetDeviceReady)
    CDDA_BIND(cdda_GetDeviceStatus)
    CDDA_BIND(cdda_ReadTOC)
    CDDA_BIND(cdda_ReadCDText)
    CDDA_BIND(cdda_FreeCDText)
    CDDA_BIND(cdda_SetSpeed)
    CDDA_BIND(cdda_LockMedia)
    CDDA_BIND(cdda_LoadMedia)
    CDDA_BIND(cdda_PlayAudio)
    CDDA_BIND(cdda_StopAudio)
    CDDA_BIND(cdda_PauseAudio)
    CDDA_BIND(cdda_ResumeAudio)
    CDDA_BIND(cdda_ReadAudio)
    CDDA_BIND(cdda_InitBurstCopy)
    CDDA_BIND(cdda_ReadAudioBurst)
    CDDA_BIND(cdda_DoneBurstCopy)
    CDDA_BIND(cdda_InitSyncCopy)
    CDDA_BIND(cdda_ReadAudioSync)
    CDDA_BIND(cdda_DoneSyncCopy)
    CDDA_BIND(cdda_GetErrorText)
    CDDA_BIND(cdda_AddImage)
    CDDA_BIND(cdda_GetCopyState)
    CDDA_BIND(cdda_GetImageError)
    CDDA_BIND(cdda_SetReadOffset)
#undef CDDA_BIND
  }

  // A new handle; throws when cdda_Init fails.
  uint32_t Init(uint32_t flags = 0) {
    uint32_t version = CDDA_INTERFACE_VERSION;
    uint32_t h = cdda_Init(&version, &flags);
    if (!h || version != CDDA_OK) throw std::runtime_error("cdda_Init failed");
    return h;
  }

  std::string ErrorText(uint32_t code) {
    char buf[256];
    return cdda_GetErrorText(code, buf, sizeof buf) == 0 ? std::string(buf) : std::string();
  }

 private:
  ql::DynLib lib_;
};

inline uint32_t MSFToFrames(uint32_t msf) {
  return ((msf >> 16) & 0xFF) + 75 * ((msf >> 8) & 0xFF) + 4500 * (msf & 0xFF);
}

}  // namespace qltest
