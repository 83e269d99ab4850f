#include "CdImage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace qltest {
namespace {

std::string Msf(std::uint32_t frames) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", frames / 4500, (frames / 75) % 60, frames % 75);
  return buf;
}

const float* SineTable() {
  static float table[4096];
  static bool made = [] {
    for (int i = 0; i < 4096; ++i) table[i] = static_cast<float>(std::sin(2 * M_PI * i / 4096));
    return true;
  }();
  (void)made;
  return table;
}

std::uint32_t Mix(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

}  // namespace

void CdImageSector(std::uint32_t track, std::uint32_t sector, std::uint8_t* out) {
  const float* sine = SineTable();
  // Phase steps of 1/4096 cycle per sample: 280 Hz and up by track, right channel a fifth up.
  std::uint32_t stepL = 26 + 3 * (track % 40), stepR = stepL * 3 / 2;
  for (std::uint32_t j = 0; j < 588; ++j) {
    std::uint32_t n = sector * 588 + j;
    std::uint32_t noise = Mix(track * 0x9E3779B9U ^ n);
    int l =
        static_cast<int>(9000 * sine[(n * stepL) & 4095]) + static_cast<int>(noise & 0x3FF) - 512;
    int r = static_cast<int>(7000 * sine[(n * stepR) & 4095]) +
            static_cast<int>((noise >> 10) & 0x3FF) - 512;
    out[4 * j] = static_cast<std::uint8_t>(l & 0xFF);
    out[4 * j + 1] = static_cast<std::uint8_t>((l >> 8) & 0xFF);
    out[4 * j + 2] = static_cast<std::uint8_t>(r & 0xFF);
    out[4 * j + 3] = static_cast<std::uint8_t>((r >> 8) & 0xFF);
  }
}

void CdImageDataSector(std::uint32_t lsn, std::uint8_t* out) {
  static const std::uint8_t kSync[12] = {0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  for (int i = 0; i < 12; ++i) out[i] = kSync[i];
  const std::uint32_t at = lsn + 150;
  auto bcd = [](std::uint32_t x) { return static_cast<std::uint8_t>(((x / 10) << 4) | (x % 10)); };
  out[12] = bcd(at / 4500);
  out[13] = bcd((at / 75) % 60);
  out[14] = bcd(at % 75);
  out[15] = 1;
  for (std::uint32_t i = 16; i < 2352; i += 4) {
    std::uint32_t x = Mix(lsn * 2352u + i);
    for (std::uint32_t b = 0; b < 4 && i + b < 2352; ++b)
      out[i + b] = static_cast<std::uint8_t>(x >> (8 * b));
  }
}

CdImage WriteCdImage(const std::string& dir, const std::string& name,
                     const std::vector<CdImageTrack>& tracks, bool toc,
                     const std::string& albumTitle, const std::string& albumPerformer) {
  CdImage img;
  img.bin = dir + "/" + name + ".bin";
  img.cue = dir + "/" + name + ".cue";
  std::ofstream bin(img.bin, std::ios::binary | std::ios::trunc);
  std::string cue;
  if (!albumPerformer.empty()) cue += "PERFORMER \"" + albumPerformer + "\"\r\n";
  if (!albumTitle.empty()) cue += "TITLE \"" + albumTitle + "\"\r\n";
  cue += "FILE \"" + name + ".bin\" BINARY\r\n";
  std::string tocText = "CD_DA\n";
  std::vector<std::uint8_t> sector(2352);
  std::vector<char> chunk;
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    const auto& t = tracks[i];
    char num[16];
    std::snprintf(num, sizeof num, "%02u", static_cast<unsigned>(i + 1));
    cue += std::string("  TRACK ") + num + (t.data ? " MODE1/2352\r\n" : " AUDIO\r\n");
    if (!t.title.empty()) cue += "    TITLE \"" + t.title + "\"\r\n";
    if (!t.performer.empty()) cue += "    PERFORMER \"" + t.performer + "\"\r\n";
    cue += "    INDEX 01 " + Msf(img.sectors) + "\r\n";
    // The .bin holds little-endian samples: SWAP (raw audio files are big-endian).
    if (t.data)
      tocText += "TRACK MODE1_RAW\nDATAFILE \"" + name + ".bin\" #" +
                 std::to_string(std::uint64_t{img.sectors} * 2352) + " " + Msf(t.sectors) + "\n";
    else
      tocText += "TRACK AUDIO\nFILE \"" + name + ".bin\" SWAP " + Msf(img.sectors) + " " +
                 Msf(t.sectors) + "\n";
    img.starts.push_back(img.sectors);
    img.lengths.push_back(t.sectors);
    chunk.clear();
    for (std::uint32_t s = 0; s < t.sectors; ++s) {
      if (t.data)
        CdImageDataSector(img.sectors + s, sector.data());
      else
        CdImageSector(static_cast<std::uint32_t>(i + 1), s, sector.data());
      chunk.insert(chunk.end(), sector.begin(), sector.end());
      if (chunk.size() >= (1u << 22)) {
        bin.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        chunk.clear();
      }
    }
    bin.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    img.sectors += t.sectors;
  }
  bin.close();
  if (!bin) throw std::runtime_error("cannot write " + img.bin);
  std::ofstream(img.cue, std::ios::binary | std::ios::trunc) << cue;
  if (toc) {
    if (std::any_of(tracks.begin(), tracks.end(), [](const CdImageTrack& t) { return t.data; }))
      tocText.replace(0, 5, "CD_ROM");
    img.toc = dir + "/" + name + ".toc";
    std::ofstream(img.toc, std::ios::binary | std::ios::trunc) << tocText;
  }
  return img;
}

namespace {

void Be(std::string& s, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Chunk(std::string& s, const char* id, const std::string& body) {
  s += id;
  Be(s, body.size(), 4);
  s += body;
}

}  // namespace

void WriteNrgImage(CdImage& image, const std::string& dir, const std::string& name) {
  image.nrg = dir + "/" + name + ".nrg";
  constexpr std::uint64_t kSs = 2352, kPregap = 150;
  std::ofstream out(image.nrg, std::ios::binary | std::ios::trunc);
  std::string zeros(kPregap * kSs, '\0');
  out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  std::ifstream bin(image.bin, std::ios::binary);
  out << bin.rdbuf();
  auto bcd = [](std::uint32_t x) { return static_cast<std::uint64_t>(((x / 10) << 4) | (x % 10)); };
  // Cue entries: mode, track (BCD), index (BCD), 0, big-endian LBA.
  std::string cuex;
  auto entry = [&](std::uint64_t track, std::uint64_t index, std::int32_t lba) {
    Be(cuex, 0x01, 1);
    Be(cuex, track, 1);
    Be(cuex, index, 1);
    Be(cuex, 0, 1);
    Be(cuex, static_cast<std::uint32_t>(lba), 4);
  };
  entry(0, 0, -150);
  std::string tracks;
  std::size_t n = image.starts.size();
  for (std::size_t i = 0; i < n; ++i) {
    auto st = static_cast<std::int32_t>(image.starts[i]);
    entry(bcd(static_cast<std::uint32_t>(i + 1)), 0, i == 0 ? st - 150 : st);
    entry(bcd(static_cast<std::uint32_t>(i + 1)), 1, st);
    // Disc-at-once track: ISRC, sector size, mode (7 = audio), 3 unused, index 0, index 1, end.
    tracks += std::string(12, '\0');
    Be(tracks, kSs, 2);
    Be(tracks, 7, 1);
    Be(tracks, 0, 3);
    std::uint64_t first = kPregap + image.starts[i];
    Be(tracks, (i == 0 ? 0 : first) * kSs, 8);
    Be(tracks, first * kSs, 8);
    Be(tracks, (first + image.lengths[i]) * kSs, 8);
  }
  entry(0xAA, 1, static_cast<std::int32_t>(image.sectors));
  std::string daox;
  Be(daox, 22 + tracks.size(), 4);
  daox += std::string(14, '\0');  // catalogue number
  Be(daox, 0, 2);                 // table of contents type
  Be(daox, 1, 1);
  Be(daox, n, 1);
  daox += tracks;
  std::string sinf;
  Be(sinf, n, 4);
  std::string chunks;
  Chunk(chunks, "CUEX", cuex);
  Chunk(chunks, "DAOX", daox);
  Chunk(chunks, "SINF", sinf);
  Chunk(chunks, "END!", {});
  chunks += "NER5";
  Be(chunks, (kPregap + image.sectors) * kSs, 8);
  out << chunks;
  if (!out) throw std::runtime_error("cannot write " + image.nrg);
}

}  // namespace qltest
