// Any bytes as a cue sheet or a cdrdao table of contents (the first byte chooses, the next two
// the size of every file the sheet names): either a reason with its line, or a layout whose
// segments cover the disc in order, whose files are read only within their audio, and whose
// tracks lie in order inside the disc.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ImageSheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool toc = data[0] & 1;
  // Sizes up to about 65535 sectors, often not whole sectors.
  const uint64_t fileBytes = (uint64_t{data[1]} << 8 | data[2]) * 2352 + (data[0] >> 1) * 3;
  std::string_view text(reinterpret_cast<const char*>(data) + 3, size - 3);
  cdda::FileProbe probe = [&](const std::string& name, cdda::FileType, cdda::FileInfo* info,
                              std::string* why) {
    if (name.find('x') != std::string::npos) return *why = "file not found", false;
    info->path = name;
    info->dataOffset = 44;
    info->dataBytes = fileBytes;
    return true;
  };
  cdda::ImageLayout L;
  std::string error;
  bool ok = toc ? cdda::ParseTocFile(text, probe, &L, &error)
                : cdda::ParseCueSheet(text, probe, &L, &error);
  if (!ok) {
    if (error.rfind("line ", 0) != 0) std::abort();
    return 0;
  }
  if (L.tracks.empty() || L.tracks.size() > 99 || L.leadout < 0) std::abort();
  uint64_t at = 0;
  for (const cdda::Segment& s : L.segments) {
    if (s.first != at || s.bytes == 0) std::abort();
    if (s.kind == cdda::Segment::file) {
      if (s.fileIndex < 0 || static_cast<size_t>(s.fileIndex) >= L.files.size()) std::abort();
      if (s.fileOffset + s.bytes > L.files[static_cast<size_t>(s.fileIndex)].dataBytes)
        std::abort();
    }
    at += s.bytes;
  }
  if (at != static_cast<uint64_t>(L.leadout) * cdda::kSectorBytes) std::abort();
  int32_t prev = 0;
  for (size_t i = 0; i < L.tracks.size(); ++i) {
    const cdda::ImageTrack& t = L.tracks[i];
    if (t.start < prev || t.start > L.leadout) std::abort();
    if (t.pregap > t.start) std::abort();
    if (L.TrackEnd(i) < t.start || L.TrackEnd(i) > L.leadout) std::abort();
    prev = t.start;
  }
  return 0;
}
