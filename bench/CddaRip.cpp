// Reads every track of a disc image through the CD library and writes each as a wave file,
// as a ripper does; or makes the image to read.
//
//   cdda_rip make DIR NAME MINUTES [one]   writes DIR/NAME.bin and DIR/NAME.cue ("one": the
//                                          minutes as a single track)
//   cdda_rip rip IMAGE OUTDIR MODE [BLOCKS]   MODE normal, burst or sync; BLOCKS default 10
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CdImage.h"
#include "DynLib.h"
#include "mmcdda32.h"

namespace {

// NOLINTNEXTLINE(bugprone-macro-parentheses): a declaration; its name takes no parentheses
#define CDDA_FN(name) decltype(&::name) name = nullptr;
struct Lib {
  CDDA_FN(cdda_Init)
  CDDA_FN(cdda_Done)
  CDDA_FN(cdda_AddImage)
  CDDA_FN(cdda_GetNumDevices)
  CDDA_FN(cdda_GetDeviceName)
  CDDA_FN(cdda_SetDeviceID)
  CDDA_FN(cdda_OpenDevice)
  CDDA_FN(cdda_ReadTOC)
  CDDA_FN(cdda_ReadAudio)
  CDDA_FN(cdda_InitBurstCopy)
  CDDA_FN(cdda_ReadAudioBurst)
  CDDA_FN(cdda_DoneBurstCopy)
  CDDA_FN(cdda_InitSyncCopy)
  CDDA_FN(cdda_ReadAudioSync)
  CDDA_FN(cdda_DoneSyncCopy)
  CDDA_FN(cdda_GetErrorText)
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "cdda_rip: %s\n", what.c_str());
  std::exit(1);
}

uint32_t Frames(uint32_t msf) {
  return ((msf >> 16) & 0xFF) + 75 * ((msf >> 8) & 0xFF) + 4500 * (msf & 0xFF);
}

void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void WavHeader(unsigned char* h, uint32_t data) {
  std::memcpy(h,  // NOLINT(bugprone-not-null-terminated-result): a header, not text
              "RIFF\0\0\0\0WAVEfmt "
              "\x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x10\0data\0\0\0\0",
              44);
  Put32(h + 4, 36 + data);
  Put32(h + 40, data);
}

int Rip(const char* image, const std::string& outdir, const std::string& mode, uint32_t blocks) {
  ql::DynLib dll;
  if (!dll.Load("MMCDDA32.DLL")) Fail(dll.Error());
  Lib l;
#define BIND(name) \
  if (!(l.name = reinterpret_cast<decltype(l.name)>(dll.Symbol(#name)))) Fail("missing " #name)
  BIND(cdda_Init);
  BIND(cdda_Done);
  BIND(cdda_AddImage);
  BIND(cdda_GetNumDevices);
  BIND(cdda_GetDeviceName);
  BIND(cdda_SetDeviceID);
  BIND(cdda_OpenDevice);
  BIND(cdda_ReadTOC);
  BIND(cdda_ReadAudio);
  BIND(cdda_InitBurstCopy);
  BIND(cdda_ReadAudioBurst);
  BIND(cdda_DoneBurstCopy);
  BIND(cdda_InitSyncCopy);
  BIND(cdda_ReadAudioSync);
  BIND(cdda_DoneSyncCopy);
  BIND(cdda_GetErrorText);
#undef BIND
  auto check = [&](uint32_t rc, const char* what) {
    if (rc == 0) return;
    char text[256];
    l.cdda_GetErrorText(rc, text, sizeof text);
    Fail(std::string(what) + ": " + text);
  };
  check(l.cdda_AddImage(image), "cdda_AddImage");
  uint32_t version = CDDA_INTERFACE_VERSION, flags = 0;
  uint32_t h = l.cdda_Init(&version, &flags);
  check(version, "cdda_Init");
  uint32_t device = l.cdda_GetNumDevices(h) - 1;  // the image added last
  check(l.cdda_SetDeviceID(h, device), "cdda_SetDeviceID");
  check(l.cdda_OpenDevice(h, CDDA_OPEN_AUDIO), "cdda_OpenDevice");
  CDDA_TOC toc;
  check(l.cdda_ReadTOC(h, &toc), "cdda_ReadTOC");
  std::vector<unsigned char> buf(static_cast<size_t>(blocks) * CDDA_SECTOR_BYTES);
  for (uint32_t t = 0; t < toc.dwNumTracks; ++t) {
    uint32_t first = Frames(toc.Tracks[t].dwStartMSF) - 150,
             count = Frames(toc.Tracks[t].dwLengthMSF);
    char name[32];
    std::snprintf(name, sizeof name, "/track%02u.wav", toc.Tracks[t].dwTrack);
    FILE* out = std::fopen((outdir + name).c_str(), "wb");
    if (!out) Fail("cannot write " + outdir + name);
    unsigned char hdr[44];
    WavHeader(hdr, count * CDDA_SECTOR_BYTES);
    std::fwrite(hdr, 1, 44, out);
    bool burst = mode == "burst", sync = mode == "sync";
    if (burst) check(l.cdda_InitBurstCopy(h, blocks, first, count), "cdda_InitBurstCopy");
    if (sync) check(l.cdda_InitSyncCopy(h, blocks, first, count), "cdda_InitSyncCopy");
    for (uint32_t s = first; s < first + count; s += blocks) {
      uint32_t n = std::min(blocks, first + count - s);
      if (burst)
        check(l.cdda_ReadAudioBurst(h, buf.data()), "cdda_ReadAudioBurst");
      else if (sync)
        check(l.cdda_ReadAudioSync(h, buf.data()), "cdda_ReadAudioSync");
      else
        check(l.cdda_ReadAudio(h, buf.data(), s, n), "cdda_ReadAudio");
      std::fwrite(buf.data(), CDDA_SECTOR_BYTES, n, out);
    }
    if (burst) l.cdda_DoneBurstCopy(h);
    if (sync) l.cdda_DoneSyncCopy(h);
    if (std::fclose(out) != 0) Fail("write error");
  }
  l.cdda_Done(&h);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::string(argv[1]) == "make") {
    // Tracks of 2 to 7 minutes, no two alike, filling the given minutes.
    uint32_t total = static_cast<uint32_t>(std::atof(argv[4]) * 4500),
             at = 0;  // minutes may be fractional
    std::vector<qltest::CdImageTrack> tracks;
    if (argc >= 6 && std::string(argv[5]) == "one") tracks.push_back({total}), at = total;
    for (uint32_t i = 0; at < total; ++i) {
      uint32_t n = std::min(total - at, 9000 + (i * 7919) % 22500 + i);
      tracks.push_back({n});
      at += n;
    }
    // The folder is made when it is not there yet.
    std::error_code ec;
    std::filesystem::create_directories(argv[2], ec);
    if (ec) {
      std::fprintf(stderr, "cdda_rip: cannot make the folder %s: %s\n", argv[2],
                   ec.message().c_str());
      return 1;
    }
    auto img = qltest::WriteCdImage(argv[2], argv[3], tracks);
    std::printf("%s: %zu tracks, %u sectors\n", img.cue.c_str(), tracks.size(), img.sectors);
    return 0;
  }
  if (argc >= 5 && std::string(argv[1]) == "rip")
    return Rip(argv[2], argv[3], argv[4],
               argc > 5 ? static_cast<uint32_t>(std::atoi(argv[5])) : 10);
  std::fprintf(stderr,
               "usage: cdda_rip make DIR NAME MINUTES [one] | rip IMAGE OUTDIR MODE [BLOCKS]\n");
  return 2;
}
