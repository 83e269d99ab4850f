#include "ImageDisc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

namespace cdda {
namespace {

std::string ErrnoText(int e) {
  switch (e) {
    case ENOENT:
      return "file not found";
    case EACCES:
    case EPERM:
      return "access denied";
    case EISDIR:
      return "is a folder";
    default:
      return std::strerror(e);
  }
}

bool ReadAll(int fd, uint8_t* out, size_t n, uint64_t at) {
  while (n > 0) {
    ssize_t r = pread(fd, out, n, static_cast<off_t>(at));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    out += r;
    n -= static_cast<size_t>(r);
    at += static_cast<uint64_t>(r);
  }
  return true;
}

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}
uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Finds the audio of a RIFF WAVE file: 16-bit stereo 44100 Hz PCM only.
bool ProbeWave(int fd, uint64_t size, FileInfo* info, std::string* why) {
  uint8_t h[12];
  if (size < 12 || !ReadAll(fd, h, 12, 0) || std::memcmp(h, "RIFF", 4) != 0 ||
      std::memcmp(h + 8, "WAVE", 4) != 0)
    return *why = "not a RIFF WAVE file", false;
  bool haveFmt = false;
  for (uint64_t at = 12; at + 8 <= size;) {
    uint8_t c[8];
    if (!ReadAll(fd, c, 8, at)) return *why = "cannot be read", false;
    uint64_t len = Le32(c + 4);
    uint64_t body = at + 8;
    if (std::memcmp(c, "fmt ", 4) == 0) {
      uint8_t f[40] = {};
      if (len < 16 || !ReadAll(fd, f, static_cast<size_t>(std::min<uint64_t>(len, 40)), body))
        return *why = "has a damaged fmt chunk", false;
      uint16_t tag = Le16(f);
      if (tag == 0xFFFE && len >= 40) tag = Le16(f + 24);  // extensible: the sub-format
      if (tag != 1 || Le16(f + 2) != 2 || Le32(f + 4) != 44100 || Le16(f + 14) != 16)
        return *why = "holds no 16-bit stereo 44100 Hz PCM (" + std::to_string(Le16(f + 2)) +
                      " channels, " + std::to_string(Le32(f + 4)) + " Hz, " +
                      std::to_string(Le16(f + 14)) + " bits, format " + std::to_string(tag) + ")",
               false;
      haveFmt = true;
    } else if (std::memcmp(c, "data", 4) == 0) {
      if (!haveFmt) return *why = "has its data before its fmt chunk", false;
      info->dataOffset = body;
      // Writers that stream (size unknown) leave 0 or 0xFFFFFFFF: the audio runs to the end.
      uint64_t avail = size > body ? size - body : 0;
      info->dataBytes = (len == 0 || len == 0xFFFFFFFF || len > avail) ? avail : len;
      info->dataBytes -= info->dataBytes % 4;
      return true;
    }
    at = body + len + (len & 1);
  }
  return *why = haveFmt ? "has no data chunk" : "has no fmt chunk", false;
}

}  // namespace

bool ProbeImageFile(const std::string& sheetDir, const std::string& name, FileType type,
                    FileInfo* info, std::string* why) {
  std::string rel = name;
  std::replace(rel.begin(), rel.end(), '\\', '/');  // sheets written on Windows
  info->path = rel[0] == '/' ? rel : sheetDir + rel;
  int fd = open(info->path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return *why = ErrnoText(errno), false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    *why = S_ISDIR(st.st_mode) ? "is a folder" : "is no regular file";
    ok = false;
  } else if (ok && type == FileType::wave) {
    ok = ProbeWave(fd, static_cast<uint64_t>(st.st_size), info, why);
  } else if (ok) {
    info->dataOffset = 0;
    info->dataBytes = static_cast<uint64_t>(st.st_size);
  } else {
    *why = ErrnoText(errno);
  }
  close(fd);
  return ok;
}

bool ImageDisc::Handles(const std::string& path) {
  auto ends = [&](const char* s) {
    size_t n = std::strlen(s);
    return path.size() >= n && strcasecmp(path.c_str() + path.size() - n, s) == 0;
  };
  return ends(".cue") || ends(".toc");
}

std::unique_ptr<ImageDisc> ImageDisc::Open(const std::string& sheet, std::string* error) {
  const std::string shown = sheet.substr(sheet.rfind('/') + 1);
  int fd = open(sheet.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = shown + ": " + ErrnoText(errno);
    return nullptr;
  }
  std::string text;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= (1 << 20);
  if (ok) {
    text.resize(static_cast<size_t>(st.st_size));
    ok = ReadAll(fd, reinterpret_cast<uint8_t*>(text.data()), text.size(), 0);
  }
  close(fd);
  if (!ok) {
    *error = shown + ": cannot be read (a sheet is a text file of at most 1 MiB)";
    return nullptr;
  }
  const std::string dir = sheet.substr(0, sheet.rfind('/') + 1);
  auto probe = [&](const std::string& name, FileType type, FileInfo* info, std::string* why) {
    if (name.empty()) return *why = "no name", false;
    return ProbeImageFile(dir, name, type, info, why);
  };
  std::unique_ptr<ImageDisc> disc(new ImageDisc);
  std::string why;
  bool toc = sheet.size() >= 4 && strcasecmp(sheet.c_str() + sheet.size() - 4, ".toc") == 0;
  if (!(toc ? ParseTocFile(text, probe, &disc->layout_, &why)
            : ParseCueSheet(text, probe, &disc->layout_, &why))) {
    *error = shown + ": " + why;
    return nullptr;
  }
  std::map<std::string, int> byPath;
  for (const FileInfo& f : disc->layout_.files) {
    auto it = byPath.find(f.path);
    if (it == byPath.end()) {
      int h = open(f.path.c_str(), O_RDONLY | O_CLOEXEC);
      if (h < 0) {
        *error = shown + ": " + f.path + ": " + ErrnoText(errno);
        return nullptr;
      }
      disc->owned_.push_back(h);
      it = byPath.emplace(f.path, h).first;
    }
    disc->fds_.push_back(it->second);
  }
  return disc;
}

ImageDisc::~ImageDisc() {
  for (int fd : owned_) close(fd);
}

bool ImageDisc::Read(uint8_t* out, int32_t first, uint32_t count) {
  if (first < 0) return false;
  uint64_t at = static_cast<uint64_t>(first) * kSectorBytes;
  uint64_t end = at + static_cast<uint64_t>(count) * kSectorBytes;
  const auto& segs = layout_.segments;
  auto it = std::upper_bound(segs.begin(), segs.end(), at,
                             [](uint64_t v, const Segment& s) { return v < s.first; });
  if (it != segs.begin()) --it;
  while (at < end) {
    if (it == segs.end() || at < it->first) return false;
    uint64_t segEnd = it->first + it->bytes;
    if (at >= segEnd) {
      ++it;
      continue;
    }
    size_t n = static_cast<size_t>(std::min(end, segEnd) - at);
    if (it->kind == Segment::file) {
      const uint64_t pos = layout_.files[static_cast<size_t>(it->fileIndex)].dataOffset +
                           it->fileOffset + (at - it->first);
      if (!ReadAll(fds_[static_cast<size_t>(it->fileIndex)], out, n, pos)) return false;
      if (it->swap)
        for (size_t i = 0; i + 1 < n; i += 2) std::swap(out[i], out[i + 1]);
    } else {
      std::memset(out, 0, n);
    }
    out += n;
    at += n;
  }
  return true;
}

}  // namespace cdda
