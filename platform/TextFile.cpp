#include "TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "Exception.h"

namespace ql {

std::string ReadFileBytes(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowInOutError(errno);
  std::string data;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    ThrowInOutError(EISDIR);
  }
  if (st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      close(fd);
      ThrowInOutError(err);
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return data;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(pos));
      break;
    }
    size_t stop = end;
    if (stop > pos && text[stop - 1] == '\r') --stop;
    lines.emplace_back(text.substr(pos, stop - pos));
    pos = end + 1;
  }
  return lines;
}

void WriteFileAtomic(const std::string& path, std::string_view bytes) {
  std::random_device rd;
  std::string tmp = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(rd() % 100000);
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) ThrowInOutError(errno);
  auto fail = [&](int err) {
    close(fd);
    unlink(tmp.c_str());
    ThrowInOutError(err);
  };
  // Keep the permissions of the file being replaced.
  struct stat st;
  if (stat(path.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0 && errno != EINVAL) fail(errno);
  if (close(fd) != 0) {
    int err = errno;
    unlink(tmp.c_str());
    ThrowInOutError(err);
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    unlink(tmp.c_str());
    ThrowInOutError(err);
  }
}

}  // namespace ql
