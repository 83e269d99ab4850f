#include "NrgCheck.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace cdda {
namespace {

// The chunks of a real image take a few kilobytes (CD-Text the most): more is not an image.
constexpr std::uint64_t kMaxChunks = 1 << 20;

std::uint64_t Be(const std::string& s, std::size_t at, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

bool ReadAt(int fd, std::string& out, std::uint64_t at, std::uint64_t n) {
  out.assign(n, '\0');
  std::uint64_t done = 0;
  while (done < n) {
    ssize_t r = pread(fd, out.data() + done, n - done, static_cast<off_t>(at + done));
    if (r <= 0) return false;
    done += static_cast<std::uint64_t>(r);
  }
  return true;
}

// A track table of a disc-at-once chunk: header, then one entry per track with its index 0,
// index 1 and end as offsets into the file.
std::string CheckDao(const std::string& c, std::size_t body, std::uint64_t len, bool v2,
                     std::uint64_t data_end) {
  const std::uint64_t entry = v2 ? 42 : 30, head = 22;
  if (len < head) return "a track table too short";
  const unsigned first = static_cast<unsigned char>(c[body + 20]);
  const unsigned last = static_cast<unsigned char>(c[body + 21]);
  if (first < 1 || last > 99 || first > last) return "track numbers out of order";
  if (len - head != (last - first + 1) * entry) return "a track table of the wrong size";
  for (std::uint64_t at = body + head; at < body + len; at += entry) {
    const std::size_t p = static_cast<std::size_t>(at);
    const std::uint64_t sector = Be(c, p + 12, 2);
    const int w = v2 ? 8 : 4;
    const std::uint64_t index0 = Be(c, p + 18, w), index1 = Be(c, p + 18 + w, w),
                        end = Be(c, p + 18 + 2 * w, w);
    if (sector == 0 || sector > 4096) return "a track with no sector size";
    if (index0 > index1 || index1 > end || end > data_end) return "a track outside the file";
  }
  return {};
}

// Track-at-once entries: offset and length of each track in the file.
std::string CheckTao(const std::string& c, std::size_t body, std::uint64_t len, bool v2,
                     std::uint64_t data_end) {
  const std::uint64_t entry = v2 ? 32 : 20;
  if (len == 0 || len % entry != 0) return "a track list of the wrong size";
  const int w = v2 ? 8 : 4;
  for (std::uint64_t at = body; at < body + len; at += entry) {
    const std::size_t p = static_cast<std::size_t>(at);
    const std::uint64_t offset = Be(c, p, w), length = Be(c, p + w, w);
    if (offset > data_end || length > data_end - offset) return "a track outside the file";
  }
  return {};
}

}  // namespace

bool IsNrgPath(const std::string& path) {
  return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".nrg") == 0;
}

std::string NrgProblemIn(std::uint64_t file_size, std::uint64_t tail_offset,
                         const std::string& tail) {
  if (tail.size() < 12 || tail_offset + tail.size() != file_size) return "no Nero footer";
  bool v2;
  std::uint64_t chunks, footer;
  if (tail.compare(tail.size() - 12, 4, "NER5") == 0) {
    v2 = true;
    chunks = Be(tail, tail.size() - 8, 8);
    footer = file_size - 12;
  } else if (tail.compare(tail.size() - 8, 4, "NERO") == 0) {
    v2 = false;
    chunks = Be(tail, tail.size() - 4, 4);
    footer = file_size - 8;
  } else {
    return "no Nero footer";
  }
  if (chunks < tail_offset || chunks >= footer) return "the footer points outside the file";
  // The chunks in order: each session's cue sheet with its track table (or a track-at-once
  // list), then the session, media and CD-Text records, and "END!" last.
  const std::string c = tail.substr(static_cast<std::size_t>(chunks - tail_offset),
                                    static_cast<std::size_t>(footer - chunks));
  std::size_t at = 0;
  bool cue = false, tracks = false, ended = false;
  while (!ended) {
    if (c.size() - at < 8) return "a chunk cut short";
    const std::string id = c.substr(at, 4);
    const std::uint64_t len = Be(c, at + 4, 4);
    const std::size_t body = at + 8;
    if (len > c.size() - body) return "chunk \"" + id + "\" runs past the end";
    std::string why;
    if (id == (v2 ? "CUEX" : "CUES")) {
      if (cue || len == 0 || len % 8 != 0) why = "a cue sheet of the wrong size or out of place";
      cue = true;
    } else if (id == (v2 ? "DAOX" : "DAOI")) {
      if (!cue) why = "a track table without its cue sheet";
      if (why.empty()) why = CheckDao(c, body, len, v2, chunks);
      cue = false;
      tracks = true;
    } else if (id == (v2 ? "ETN2" : "ETNF")) {
      if (cue) why = "a cue sheet without its track table";
      if (why.empty()) why = CheckTao(c, body, len, v2, chunks);
      tracks = true;
    } else if (id == "SINF" || id == "MTYP" || id == "DINF" || id == "RELO") {
      if (len != 4) why = "chunk \"" + id + "\" of the wrong size";
    } else if (id == "TOCT") {
      if (len != 2) why = "chunk \"" + id + "\" of the wrong size";
    } else if (id == "CDTX") {
      if (len == 0 || len % 18 != 0) why = "CD-Text of the wrong size";
    } else if (id == "END!") {
      if (len != 0) why = "an end chunk that is not empty";
      ended = true;
    } else {
      why = "an unknown chunk";
    }
    if (!why.empty()) return why;
    at = body + static_cast<std::size_t>(len);
  }
  if (cue) return "a cue sheet without its track table";
  if (!tracks) return "no tracks";
  return {};
}

std::string NrgProblem(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  auto check = [fd]() -> std::string {
    struct stat st;
    std::string footer, tail;
    if (fstat(fd, &st) != 0 || st.st_size < 12) return "no Nero footer";
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (!ReadAt(fd, footer, size - 12, 12)) return "cannot be read";
    std::uint64_t chunks;
    if (footer.compare(0, 4, "NER5") == 0)
      chunks = Be(footer, 4, 8);
    else if (footer.compare(4, 4, "NERO") == 0)
      chunks = Be(footer, 8, 4);
    else
      return "no Nero footer";
    if (chunks >= size - 8 || size - chunks > kMaxChunks)
      return "the footer points outside the file";
    if (!ReadAt(fd, tail, chunks, size - chunks)) return "cannot be read";
    return NrgProblemIn(size, chunks, tail);
  };
  std::string why = check();
  close(fd);
  return why;
}

}  // namespace cdda
