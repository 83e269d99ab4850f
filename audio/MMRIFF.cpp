#include "MMRIFF.h"

#include "MMUtils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

std::string FourCCText(FOURCC id) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((id >> (8 * i)) & 0xFF);
  return s;
}

TMMIOFile::~TMMIOFile() {
  Close();
}

bool TMMIOFile::Open(const std::string& name, TMMIOMode mode) {
  Close();
  int flags = mode == mmioCreate      ? (O_RDWR | O_CREAT | O_TRUNC)
              : mode == mmioReadWrite ? O_RDWR
                                      : O_RDONLY;
  // Not blocking: opening a FIFO for reading would wait for a writer. Anything but a regular
  // file is refused by Adopt; the descriptor blocks again for the reads and writes.
  int fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return Adopt(fd);
}

bool TMMIOFile::Attach(int fd) {
  Close();
  return Adopt(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

bool TMMIOFile::Adopt(int fd) {
  fd_ = fd;
  if (fd_ < 0) return false;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  size_ = st.st_size;
  pos_ = bufStart_ = 0;
  bufValid_ = 0;
  dirty_ = failed_ = false;
  err_ = 0;
  return true;
}

bool TMMIOFile::Close() {
  if (fd_ < 0) return true;
  bool ok = Flush() && !failed_;
  ::close(fd_);
  fd_ = -1;
  return ok;
}

bool TMMIOFile::SetBuffer(std::size_t size) {
  if (!Flush()) return false;
  try {
    buf_.assign(std::max<std::size_t>(size, 8192), 0);
  } catch (...) {
    return false;
  }
  bufValid_ = 0;
  bufStart_ = pos_;
  return true;
}

bool TMMIOFile::Flush() {
  if (fd_ < 0 || !dirty_) return !failed_;
  std::size_t done = 0;
  while (done < bufValid_) {
    ssize_t n = ::pwrite(fd_, buf_.data() + done, bufValid_ - done, bufStart_ + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      if (!err_) err_ = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  dirty_ = false;
  return true;
}

bool TMMIOFile::Truncate(std::int64_t size) {
  if (fd_ < 0 || !Flush()) return false;
  if (::ftruncate(fd_, size) != 0) {
    if (!err_) err_ = errno;
    return false;
  }
  size_ = size;
  if (bufStart_ + static_cast<std::int64_t>(bufValid_) > size)
    bufValid_ = size > bufStart_ ? static_cast<std::size_t>(size - bufStart_) : 0;
  return true;
}

void TMMIOFile::Swap(TMMIOFile& o) {
  std::swap(fd_, o.fd_);
  buf_.swap(o.buf_);
  std::swap(bufStart_, o.bufStart_);
  std::swap(bufValid_, o.bufValid_);
  std::swap(dirty_, o.dirty_);
  std::swap(failed_, o.failed_);
  std::swap(err_, o.err_);
  std::swap(pos_, o.pos_);
  std::swap(size_, o.size_);
}

std::int64_t TMMIOFile::FileSize() const {
  return std::max<std::int64_t>(size_, bufStart_ + static_cast<std::int64_t>(bufValid_));
}

bool TMMIOFile::Fill() {
  if (!Flush()) return false;
  bufStart_ = pos_;
  bufValid_ = 0;
  ssize_t n = ::pread(fd_, buf_.data(), buf_.size(), pos_);
  if (n < 0) return false;
  bufValid_ = static_cast<std::size_t>(n);
  return true;
}

std::int64_t TMMIOFile::Read(void* buf, std::int64_t count) {
  if (fd_ < 0 || count < 0) return -1;
  auto* out = static_cast<char*>(buf);
  std::int64_t done = 0;
  while (done < count) {
    std::int64_t end = bufStart_ + static_cast<std::int64_t>(bufValid_);
    if (pos_ < bufStart_ || pos_ >= end) {
      if (!Fill()) return done ? done : -1;
      if (bufValid_ == 0) break;
      continue;
    }
    std::int64_t n = std::min(count - done, end - pos_);
    std::memcpy(out + done, buf_.data() + (pos_ - bufStart_), static_cast<std::size_t>(n));
    done += n;
    pos_ += n;
  }
  return done;
}

std::int64_t TMMIOFile::Write(const void* buf, std::int64_t count) {
  if (fd_ < 0 || count < 0) return -1;
  const auto* in = static_cast<const char*>(buf);
  std::int64_t done = 0;
  const auto cap = static_cast<std::int64_t>(buf_.size());
  while (done < count) {
    std::int64_t valid = static_cast<std::int64_t>(bufValid_);
    if (pos_ < bufStart_ || pos_ > bufStart_ + valid || pos_ >= bufStart_ + cap) {
      if (!Flush()) return -1;
      bufStart_ = pos_;
      bufValid_ = 0;
      continue;
    }
    std::int64_t off = pos_ - bufStart_;
    std::int64_t n = std::min(count - done, cap - off);
    std::memcpy(buf_.data() + off, in + done, static_cast<std::size_t>(n));
    bufValid_ = static_cast<std::size_t>(std::max(valid, off + n));
    dirty_ = true;
    done += n;
    pos_ += n;
  }
  size_ = std::max(size_, pos_);
  return done;
}

std::int64_t TMMIOFile::Seek(std::int64_t pos) {
  if (fd_ < 0 || pos < 0) return -1;
  pos_ = pos;
  return pos_;
}

namespace {
std::uint32_t Le32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
void PutLe32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
const FOURCC kRIFF = MakeFourCC("RIFF");
const FOURCC kLIST = MakeFourCC("LIST");
}  // namespace

bool TMMIOFile::Descend(TMMCKInfo& ck, const TMMCKInfo* parent, int find) {
  std::int64_t limit = parent ? parent->dwDataOffset + parent->cksize : FileSize();
  const FOURCC wantId = ck.ckid, wantType = ck.fccType;
  for (;;) {
    if (pos_ + 8 > limit) return false;
    unsigned char head[12];
    if (Read(head, 8) != 8) return false;
    TMMCKInfo found;
    found.ckid = Le32(head);
    found.cksize = Le32(head + 4);
    found.dwDataOffset = pos_;
    if (found.ckid == kRIFF || found.ckid == kLIST) {
      if (Read(head + 8, 4) != 4) return false;
      found.fccType = Le32(head + 8);
    }
    bool match = !find || ((find & mmioFindChunk) && found.ckid == wantId) ||
                 ((find & mmioFindRiff) && found.ckid == kRIFF && found.fccType == wantType) ||
                 ((find & mmioFindList) && found.ckid == kLIST && found.fccType == wantType);
    if (match) {
      ck = found;
      return true;
    }
    Seek(found.dwDataOffset + found.cksize + (found.cksize & 1));
  }
}

bool TMMIOFile::Ascend(TMMCKInfo& ck) {
  if (ck.dirty) {
    std::int64_t size = pos_ - ck.dwDataOffset;
    if (size < 0) return false;
    std::int64_t here = pos_;
    if (size != ck.cksize) {
      unsigned char b[4];
      PutLe32(b, static_cast<std::uint32_t>(size));
      Seek(ck.dwDataOffset - 4);
      if (Write(b, 4) != 4) return false;
      ck.cksize = static_cast<std::uint32_t>(size);
    }
    Seek(here);
    if (size & 1) {
      char pad = 0;
      if (Write(&pad, 1) != 1) return false;
    }
    ck.dirty = false;
    return true;
  }
  Seek(ck.dwDataOffset + ck.cksize + (ck.cksize & 1));
  return true;
}

bool TMMIOFile::CreateChunk(TMMCKInfo& ck, int kind) {
  unsigned char head[12];
  if (kind & mmioFindRiff) ck.ckid = kRIFF;
  if (kind & mmioFindList) ck.ckid = kLIST;
  PutLe32(head, ck.ckid);
  PutLe32(head + 4, ck.cksize);
  int n = 8;
  if (ck.ckid == kRIFF || ck.ckid == kLIST) {
    PutLe32(head + 8, ck.fccType);
    n = 12;
  }
  if (Write(head, n) != n) return false;
  ck.dwDataOffset = pos_ - (n - 8);
  ck.dirty = true;
  return true;
}

const char* WaveFormatProblem(const TWaveFormatEx* f) {
  if (!f) return "the file has no format";
  if (f->nChannels == 0) return "the format has no channels";
  if (f->nChannels > 64) return "the format has more than 64 channels";
  if (f->nSamplesPerSec == 0) return "the sample rate is 0";
  if (f->nSamplesPerSec > 1536000) return "the sample rate is above 1536000 Hz";
  if (f->wFormatTag == WAVE_FORMAT_PCM &&
      (f->wBitsPerSample == 0 || f->wBitsPerSample % 8 != 0 || f->wBitsPerSample > 32))
    return "PCM samples must have 8, 16, 24 or 32 bits";
  if (f->wFormatTag != WAVE_FORMAT_PCM && f->nBlockAlign == 0) return "the block alignment is 0";
  return nullptr;
}
