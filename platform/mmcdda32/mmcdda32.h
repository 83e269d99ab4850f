/* The CD digital-audio library, libmmcdda32.so ("MMCDDA32.DLL" to the programs that load it).
 *
 * Drives are the CD drives libcdio finds, then every image listed in $QL_CD_IMAGES
 * (colon separated; .cue/.bin, cdrdao .toc, .nrg), then every image handed to cdda_AddImage.
 * Cue sheets and .toc files are read by the library itself: every FILE they name (relative
 * to the sheet; BINARY, MOTOROLA and WAVE), the gaps they add and their CD-Text.
 * Each device gets a drive letter from "D" on. An image path whose file is missing is a drive
 * with no disc; ejecting an image drive opens its "tray" until it is loaded again.
 *
 * Every entry point has C linkage, takes 32-bit numbers (and pointers) and returns a 32-bit
 * number; 0 means success for every call that returns an error code. Sectors are addressed
 * from 0 (the first sector after the 150-frame lead-in); one sector is 2352 bytes of
 * 16-bit little-endian stereo audio.
 *
 * A handle may be used from several threads: calls on one handle are serialised. */
#ifndef MMCDDA32_H
#define MMCDDA32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CDDA_VERSION 0x0200u           /* what cdda_Version returns */
#define CDDA_INTERFACE_VERSION 0x0200u /* the value handed in through cdda_Init's first word */
#define CDDA_SECTOR_BYTES 2352u
#define CDDA_MAX_TRACKS 100u
#define CDDA_SPEED_MAX 65535u /* cdda_SetSpeed: no limit */

/* cdda_Init's second word: 1 sends libcdio's messages and the library's own diagnostics to
 * stderr (the "/G" command-line switch); 0 keeps them quiet. */
#define CDDA_INIT_DIAGNOSTICS 1u

/* cdda_OpenDevice modes */
#define CDDA_OPEN_CONTROL 0u
#define CDDA_OPEN_AUDIO 1u

/* Error codes (cdda_GetErrorText gives their texts). */
#define CDDA_OK 0u
#define CDDA_E_HANDLE 1u   /* invalid handle */
#define CDDA_E_DEVICE 2u   /* device index out of range */
#define CDDA_E_NODEVICE 3u /* no device selected */
#define CDDA_E_NOTREADY 4u /* no disc in the drive */
#define CDDA_E_DOOROPEN 5u /* the tray is open */
#define CDDA_E_OPEN 6u     /* the drive or image cannot be opened */
#define CDDA_E_READ 7u     /* read error */
#define CDDA_E_RANGE 8u    /* sectors outside the disc */
#define CDDA_E_PARAM 9u    /* invalid parameter */
#define CDDA_E_NOTSUPPORTED 10u
#define CDDA_E_LOCKED 11u  /* eject refused: the media is locked */
#define CDDA_E_NOCOPY 12u  /* burst or sync read without its Init call */
#define CDDA_E_BUSY 13u    /* a burst or sync copy is running */
#define CDDA_E_VERSION 14u /* cdda_Init: interface version not supported */
#define CDDA_E_MEMORY 15u
#define CDDA_E_NOLETTER 16u /* no drive letter left for this device */
#define CDDA_E_NOFILE 17u   /* cdda_AddImage: the file does not exist */
#define CDDA_E_TRAY 18u     /* the tray could not be moved or the lock changed */
#define CDDA_E_DATA 19u     /* the sectors belong to a data track: they hold no audio */
#define CDDA_E_SKIPPED 20u  /* sync copy: jitter correction gave up on the sector */
#define CDDA_E_IMAGE 21u    /* the image's sheet cannot be used (cdda_GetImageError says why) */
#define CDDA_E_LAST 21u

/* Device status numbers (cdda_GetDeviceStatus). */
#define CDDA_STATUS_NOT_READY 524u
#define CDDA_STATUS_STOPPED 525u
#define CDDA_STATUS_PLAYING 526u
#define CDDA_STATUS_SEEKING 528u
#define CDDA_STATUS_PAUSED 529u
#define CDDA_STATUS_OPEN 530u

/* Attribute byte of a track entry: the track's control bits. */
#define CDDA_ATTR_PREEMPHASIS 0x01u
#define CDDA_ATTR_COPY 0x02u
#define CDDA_ATTR_DATA 0x04u
#define CDDA_ATTR_FOURCHANNEL 0x08u

#pragma pack(push, 1)
/* One track: number, absolute start (lead-in included) and length as packed MSF (minute in
 * bits 0-7, second in bits 8-15, frame in bits 16-23). A read of `length` sectors from
 * `start` - 150 covers every sector of the track, the next track's pregap included. */
typedef struct CDDA_TRACK {
  uint32_t dwTrack;
  uint32_t dwStartMSF;
  uint32_t dwLengthMSF;
  uint8_t bAttrib; /* CDDA_ATTR_* */
  uint32_t fAudio; /* non-zero: audio track */
  uint32_t fCopy;  /* non-zero: digital copy permitted */
} CDDA_TRACK;

/* What cdda_ReadTOC fills: the track count (the lead-out is not an entry), then the tracks. */
typedef struct CDDA_TOC {
  uint32_t dwNumTracks;
  CDDA_TRACK Tracks[CDDA_MAX_TRACKS];
} CDDA_TOC;
#pragma pack(pop)

/* CD-Text of the disc in the selected drive, from cdda_ReadCDText. `lpText` is one line per
 * field, "<track>\t<field>\t<value>\n", track 0 being the disc (fields TITLE, PERFORMER,
 * SONGWRITER, COMPOSER, MESSAGE, ARRANGER, ISRC, UPC_EAN, GENRE, DISCID). The catalogue
 * number and the tracks' ISRCs from the disc's sub-channel (or a sheet's CATALOG and ISRC)
 * come as UPC_EAN and ISRC when CD-Text has none. It belongs to the
 * library: hand it back with cdda_FreeCDText. */
typedef struct CDDA_CDTEXT {
  uint32_t dwSize;   /* bytes of lpText without the terminating zero */
  uint32_t dwFields; /* number of lines */
  char* lpText;
} CDDA_CDTEXT;

uint32_t cdda_Version(void);
/* version: in CDDA_INTERFACE_VERSION, out the result code. flags: in CDDA_INIT_*.
 * Returns the handle (0 when the result code is not 0). */
uint32_t cdda_Init(uint32_t* version, uint32_t* flags);
uint32_t cdda_Done(uint32_t* handle); /* sets *handle to 0 */

uint32_t cdda_GetNumDevices(uint32_t handle);
uint32_t cdda_GetDeviceName(uint32_t handle, uint32_t index, char* buffer, uint32_t size);
uint32_t cdda_GetDriveLetter(uint32_t handle, uint32_t index, char* letter);
uint32_t cdda_SetDeviceID(uint32_t handle, uint32_t index);
/* The drive's command set (0 = auto detect .. 23); libcdio detects it, the value is kept. */
uint32_t cdda_SetDeviceType(uint32_t handle, uint32_t type, uint32_t reserved);

uint32_t cdda_OpenDevice(uint32_t handle, uint32_t mode);
uint32_t cdda_CloseDevice(uint32_t handle);
uint32_t cdda_GetDeviceReady(uint32_t handle);  /* 0: a readable disc is in the drive */
uint32_t cdda_GetDeviceStatus(uint32_t handle); /* CDDA_STATUS_* */
uint32_t cdda_ReadTOC(uint32_t handle, CDDA_TOC* toc);
uint32_t cdda_ReadCDText(uint32_t handle, CDDA_CDTEXT* text);
/* The pregap (index 0) of every track of the table of contents (an addition): sectors[i] is
 * the number of sectors between the start of the pregap of Tracks[i] and the track's start
 * (index 1), 0 when the track has none or the drive cannot tell. CDDA_MAX_TRACKS entries. */
uint32_t cdda_ReadPregaps(uint32_t handle, uint32_t* sectors);
uint32_t cdda_FreeCDText(uint32_t handle, char* text);
uint32_t cdda_SetSpeed(uint32_t handle, uint32_t speed); /* CD speed units, 65535 = no limit */
uint32_t cdda_LockMedia(uint32_t handle, uint32_t lock);
uint32_t cdda_LoadMedia(uint32_t handle, uint32_t load); /* 1 close the tray, 0 eject */

/* Analog play through the drive's audio output. Image drives have none: cdda_PlayAudio gives
 * CDDA_E_NOTSUPPORTED there, and stop, pause and resume have nothing to act on (0). */
uint32_t cdda_PlayAudio(uint32_t handle, uint32_t first, uint32_t count);
uint32_t cdda_StopAudio(uint32_t handle);
uint32_t cdda_PauseAudio(uint32_t handle);
uint32_t cdda_ResumeAudio(uint32_t handle);

/* Reads never turn a sector that could not be read into silence, and never read a data track
 * as audio: a range that touches a sector of a track flagged as data is refused with
 * CDDA_E_DATA (cdda_ReadAudio, cdda_InitBurstCopy, cdda_InitSyncCopy). */

/* Normal reads: `count` sectors from `first` into buffer (count x 2352 bytes). */
uint32_t cdda_ReadAudio(uint32_t handle, void* buffer, uint32_t first, uint32_t count);

/* Burst copy: streaming reads of the consecutive blocks of a range; every call delivers the
 * next min(blocks, sectors left) sectors. A call that fails leaves the sectors before the first
 * unreadable one in the buffer; cdda_GetCopyState's dwNextSector is that sector (the copy does
 * not go past it: a later call reads it again). */
uint32_t cdda_InitBurstCopy(uint32_t handle, uint32_t blocks, uint32_t first, uint32_t count);
uint32_t cdda_ReadAudioBurst(uint32_t handle, void* buffer);
uint32_t cdda_DoneBurstCopy(uint32_t handle);

/* Sync copy: the same, with jitter correction by overlap matching between reads (up to 20
 * tries a sector). A sector that could not be verified (the corrector skipped it) fails the
 * call with CDDA_E_SKIPPED, as a read error fails it with CDDA_E_READ, the sectors before it
 * delivered as in a burst copy. */
uint32_t cdda_InitSyncCopy(uint32_t handle, uint32_t blocks, uint32_t first, uint32_t count);
uint32_t cdda_ReadAudioSync(uint32_t handle, void* buffer);
uint32_t cdda_DoneSyncCopy(uint32_t handle);

/* The running burst or sync copy (an addition to the contract). */
typedef struct CDDA_COPYSTATE {
  uint32_t dwNextSector; /* the next sector to deliver; after a failed call, the bad one */
  uint32_t dwRetries;    /* sync: reads the corrector had to repeat (read errors); burst: 0 */
  uint32_t dwSkipped;    /* sync: sectors the corrector gave up on; burst: unreadable sectors */
} CDDA_COPYSTATE;
/* CDDA_E_NOCOPY when no copy runs. */
uint32_t cdda_GetCopyState(uint32_t handle, CDDA_COPYSTATE* state);

uint32_t cdda_GetErrorText(uint32_t code, char* buffer, uint32_t size);

/* The reason the selected image's sheet could not be used, "<sheet>: line N: reason" (an
 * addition). An empty text when it can be used or was not tried yet. */
uint32_t cdda_GetImageError(uint32_t handle, char* buffer, uint32_t size);

/* Read offset correction (an addition): every read mode delivers the disc's samples shifted by
 * `samples` (a drive that reads N samples early is corrected with +N), zeros where the shifted
 * range lies before the disc's first or after its last sector. Not while a copy runs
 * (CDDA_E_BUSY); |samples| at most CDDA_MAX_OFFSET. */
#define CDDA_MAX_OFFSET 1000000
uint32_t cdda_SetReadOffset(uint32_t handle, int32_t samples);

/* Offers an image file (.cue, .toc or .nrg) as one more drive, after the drives already
 * listed, for every handle of the process. A path already listed is not added again.
 * CDDA_E_NOFILE when the file does not exist. */
uint32_t cdda_AddImage(const char* path);

#ifdef __cplusplus
}
#endif

#endif
