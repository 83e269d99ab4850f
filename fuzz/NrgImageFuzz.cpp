// Nero images through the CD library as a program uses it: the image added and opened, its table
// of contents and CD-Text, then reads of each track's first and last sectors, a burst copy and a
// sync copy, with and without a read offset, and reads past the disc's end.
//
// The image is a fixed run of audio sectors (the first track's pregap and 30 sectors) followed
// by the input: the chunks and the footer that point back into that audio, as a burning program
// writes them at the end of the file. The seeds are such tails of real images.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mmcdda32.h"

namespace {

constexpr std::size_t kSector = CDDA_SECTOR_BYTES;
constexpr std::size_t kAudioSectors = 150 + 30;
constexpr std::size_t kAudioBytes = kAudioSectors * kSector;

std::string gPath;  // the image, removed when the fuzzer ends

void RemoveImage() {
  unlink(gPath.c_str());
}

std::string MakeImage() {
  const char* tmp = std::getenv("TMPDIR");
  gPath =
      std::string(tmp && *tmp ? tmp : "/tmp") + "/ql-nrg-fuzz-" + std::to_string(getpid()) + ".nrg";
  std::vector<std::uint8_t> audio(kAudioBytes);
  for (std::size_t i = 0; i < audio.size(); ++i)
    audio[i] = static_cast<std::uint8_t>(i * 7 + i / kSector);
  int fd = open(gPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || write(fd, audio.data(), audio.size()) != static_cast<ssize_t>(audio.size()))
    abort();
  close(fd);
  std::atexit(RemoveImage);
  return gPath;
}

std::uint32_t Frames(std::uint32_t msf) {
  return ((msf >> 16) & 0xFF) + 75 * ((msf >> 8) & 0xFF) + 4500 * (msf & 0xFF);
}

// A copy of count sectors from first in blocks of `blocks`, until it ends or fails.
std::size_t Copy(std::uint32_t h, bool sync, std::uint32_t first, std::uint32_t count,
                 std::uint32_t blocks, std::vector<std::uint8_t>& buf) {
  std::size_t sink = 0;
  auto init = sync ? cdda_InitSyncCopy : cdda_InitBurstCopy;
  auto read = sync ? cdda_ReadAudioSync : cdda_ReadAudioBurst;
  if (init(h, blocks, first, count) != CDDA_OK) return 0;
  for (std::uint32_t left = count + 1; left > 0; --left) {
    if (read(h, buf.data()) != CDDA_OK) break;
    sink += buf[0];
  }
  CDDA_COPYSTATE state{};
  cdda_GetCopyState(h, &state);
  sink += state.dwNextSector + state.dwRetries + state.dwSkipped;
  (sync ? cdda_DoneSyncCopy : cdda_DoneBurstCopy)(h);
  return sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = MakeImage();
  static bool added = cdda_AddImage(path.c_str()) == CDDA_OK;
  if (!added) abort();
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0 || pwrite(fd, data, size, kAudioBytes) != static_cast<ssize_t>(size) ||
      ftruncate(fd, static_cast<off_t>(kAudioBytes + size)) != 0)
    abort();
  close(fd);

  std::uint32_t version = CDDA_INTERFACE_VERSION, flags = 0;
  std::uint32_t h = cdda_Init(&version, &flags);
  if (!h) abort();
  std::uint32_t devices = cdda_GetNumDevices(h), index = devices;
  for (std::uint32_t i = 0; i < devices; ++i) {
    char name[4096];
    if (cdda_GetDeviceName(h, i, name, sizeof name) == CDDA_OK && path == name) index = i;
  }
  if (index == devices) abort();
  std::size_t sink = 0;
  CDDA_TOC toc{};
  if (cdda_SetDeviceID(h, index) == CDDA_OK && cdda_OpenDevice(h, CDDA_OPEN_AUDIO) == CDDA_OK &&
      cdda_ReadTOC(h, &toc) == CDDA_OK) {
    sink += cdda_GetDeviceStatus(h) + cdda_GetDeviceReady(h);
    CDDA_CDTEXT text{};
    if (cdda_ReadCDText(h, &text) == CDDA_OK) {
      sink += text.dwSize + text.dwFields;
      cdda_FreeCDText(h, text.lpText);
    }
    std::vector<std::uint8_t> buf(4 * kSector);
    const std::uint32_t tracks = std::min<std::uint32_t>(toc.dwNumTracks, CDDA_MAX_TRACKS);
    // The offset in samples comes from the input's size, so that both signs are tried.
    const std::int32_t offsets[] = {0, static_cast<std::int32_t>(size % 1200) - 600};
    for (std::int32_t offset : offsets) {
      cdda_SetReadOffset(h, offset);
      std::uint32_t end = 0;
      for (std::uint32_t t = 0; t < tracks && t < 4; ++t) {
        const CDDA_TRACK& tr = toc.Tracks[t];
        const std::uint32_t start = Frames(tr.dwStartMSF), length = Frames(tr.dwLengthMSF);
        if (start < 150) continue;
        const std::uint32_t first = start - 150;
        end = std::max(end, first + length);
        sink += tr.bAttrib + tr.fAudio;
        if (cdda_ReadAudio(h, buf.data(), first, std::min<std::uint32_t>(length, 2)) == CDDA_OK)
          sink += buf[0];
        if (length > 2 && cdda_ReadAudio(h, buf.data(), first + length - 2, 2) == CDDA_OK)
          sink += buf[kSector];
        const std::uint32_t span = std::min<std::uint32_t>(length, 6);
        sink += Copy(h, false, first, span, 4, buf);
        if (t == 0) sink += Copy(h, true, first, std::min<std::uint32_t>(span, 3), 2, buf);
      }
      // At and across the disc's end.
      sink += cdda_ReadAudio(h, buf.data(), end, 1);
      if (end > 0) sink += cdda_ReadAudio(h, buf.data(), end - 1, 2);
    }
    cdda_CloseDevice(h);
  }
  cdda_Done(&h);
  return sink == 0xFFFFFFFF ? 1 : 0;
}
