#pragma once
// An image described by a cue sheet or a cdrdao table of contents, read from its files: the
// layout of ImageSheet.h and the reads of its audio sectors.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ImageSheet.h"

namespace cdda {

class ImageDisc {
 public:
  // Reads the sheet (.cue or .toc by its ending) and opens every file it names; nullptr with
  // `error` ("<sheet>: line N: reason") when the image cannot be used.
  static std::unique_ptr<ImageDisc> Open(const std::string& sheet, std::string* error);
  // Whether the path names a sheet this reader takes.
  static bool Handles(const std::string& path);
  ~ImageDisc();
  ImageDisc(const ImageDisc&) = delete;
  ImageDisc& operator=(const ImageDisc&) = delete;

  const ImageLayout& Layout() const { return layout_; }
  // Sectors [first, first + count) as the disc's little-endian samples; false when a file
  // cannot be read there (cut short, an I/O error). Silence and data sectors read as zeros.
  bool Read(uint8_t* out, int32_t first, uint32_t count);

 private:
  ImageDisc() = default;
  ImageLayout layout_;
  std::vector<int> fds_;  // one per layout file
  std::vector<int> owned_;
};

// The probe of a sheet's files: names relative to the sheet's folder; wave files must hold
// 16-bit stereo 44100 Hz PCM. Exposed for the tests.
bool ProbeImageFile(const std::string& sheetDir, const std::string& name, FileType type,
                    FileInfo* info, std::string* why);

}  // namespace cdda
