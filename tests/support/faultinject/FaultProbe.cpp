// A tiny program for the fault injector's own test: it makes COUNT calls of one kind on one
// file and prints one line per call: "<i> ok", "<i> short <bytes>" or "<i> <errno name>".
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

const char* ErrName(int err) {
  switch (err) {
    case ENOSPC:
      return "ENOSPC";
    case EIO:
      return "EIO";
    case EDQUOT:
      return "EDQUOT";
    case ENOENT:
      return "ENOENT";
    default:
      return "E?";
  }
}

void Report(int i, long long got, long long want) {
  if (got < 0)
    std::printf("%d %s\n", i, ErrName(errno));
  else if (got < want)
    std::printf("%d short %lld\n", i, got);
  else
    std::printf("%d ok\n", i);
  std::fflush(stdout);
}

constexpr int kChunk = 100;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s KIND PATH COUNT\n", argv[0]);
    return 2;
  }
  const std::string kind = argv[1];
  const char* path = argv[2];
  const int count = std::atoi(argv[3]);
  char buf[kChunk];
  std::memset(buf, 'x', sizeof buf);

  if (kind == "write" || kind == "pwrite" || kind == "writev") {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return 3;
    for (int i = 1; i <= count; ++i) {
      ssize_t n;
      if (kind == "write") {
        n = ::write(fd, buf, kChunk);
      } else if (kind == "pwrite") {
        n = ::pwrite(fd, buf, kChunk, static_cast<off_t>(i - 1) * kChunk);
      } else {
        iovec iov[2] = {{buf, kChunk / 2}, {buf, kChunk / 2}};
        n = ::writev(fd, iov, 2);
      }
      Report(i, n, kChunk);
    }
    ::close(fd);
  } else if (kind == "fwrite") {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return 3;
    for (int i = 1; i <= count; ++i) {
      size_t n = std::fwrite(buf, 1, kChunk, f);
      int rc = std::fflush(f);
      Report(i, rc == 0 && n == kChunk ? kChunk : -1, kChunk);
      std::clearerr(f);
    }
    std::fclose(f);
  } else if (kind == "ofstream") {
    std::ofstream out(path, std::ios::binary);
    if (!out) return 3;
    for (int i = 1; i <= count; ++i) {
      out.write(buf, kChunk);
      out.flush();
      errno = out ? 0 : ENOSPC;  // a stream keeps no errno: any failure reads as ENOSPC
      Report(i, out ? kChunk : -1, kChunk);
      out.clear();
    }
  } else if (kind == "read" || kind == "pread" || kind == "fread") {
    std::FILE* f = kind == "fread" ? std::fopen(path, "rb") : nullptr;
    int fd = kind == "fread" ? -1 : ::open(path, O_RDONLY);
    if (fd < 0 && !f) return 3;
    for (int i = 1; i <= count; ++i) {
      long long n;
      if (kind == "read") {
        n = ::read(fd, buf, kChunk);
      } else if (kind == "pread") {
        n = ::pread(fd, buf, kChunk, static_cast<off_t>(i - 1) * kChunk);
      } else {
        std::fseek(f, static_cast<long>(i - 1) * kChunk, SEEK_SET);
        size_t got = std::fread(buf, 1, kChunk, f);
        n = std::ferror(f) ? -1 : static_cast<long long>(got);
        std::clearerr(f);
      }
      if (kind == "read" && n < 0) ::lseek(fd, kChunk, SEEK_CUR);  // step over the bad spot
      Report(i, n, kChunk);
    }
    if (f) std::fclose(f);
    if (fd >= 0) ::close(fd);
  } else if (kind == "open") {
    for (int i = 1; i <= count; ++i) {
      int fd = ::open(path, O_WRONLY | O_CREAT, 0644);
      Report(i, fd, 0);
      if (fd >= 0) ::close(fd);
    }
    int fd = ::open(path, O_RDONLY);  // reading is never counted
    Report(0, fd, 0);
    if (fd >= 0) ::close(fd);
  } else if (kind == "fsync" || kind == "fdatasync") {
    int fd = ::open(path, O_WRONLY | O_CREAT, 0644);
    if (fd < 0) return 3;
    for (int i = 1; i <= count; ++i) Report(i, kind == "fsync" ? ::fsync(fd) : ::fdatasync(fd), 0);
    ::close(fd);
  } else if (kind == "rename") {
    const std::string other = std::string(path) + ".moved";
    for (int i = 1; i <= count; ++i) {
      bool forth = ::access(path, F_OK) == 0;
      int rc = forth ? std::rename(path, other.c_str())
                     : ::renameat(AT_FDCWD, other.c_str(), AT_FDCWD, path);
      Report(i, rc, 0);
    }
  } else {
    return 2;
  }
  return 0;
}
