#include "PartialFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "Exception.h"

namespace ql {

namespace {

// The registry of live temporaries. A signal handler may read it at any moment, so it is a
// fixed array: a slot is claimed (1), filled, then published (2); the handler only reads
// published slots. Temporary names are unique, so unlinking a name whose file was already
// renamed or removed does no harm.
constexpr int kSlots = 256;
struct Slot {
  std::atomic<int> state{0};
  char path[PATH_MAX];
};
Slot g_slots[kSlots];
std::atomic<unsigned> g_counter{0};

int Register(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (g_slots[i].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
      g_slots[i].state.store(2);
      return i;
    }
  }
  // Full: the file is still removed by Abandon, and by RemoveLeftovers after a signal.
  return -1;
}

void Unregister(int& slot) {
  if (slot >= 0) g_slots[slot].state.store(0);
  slot = -1;
}

std::string DirOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Cuts s to at most n bytes without splitting a UTF-8 character.
std::string CutUtf8(const std::string& s, std::size_t n) {
  if (s.size() <= n) return s;
  std::size_t end = n;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

[[noreturn]] void Fail(int err) {
  ThrowInOutError(err);
}

void FsyncFolder(const std::string& dir) {
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // The file itself is on the disk already; a folder that cannot be flushed (some file
  // systems refuse) only weakens what survives a machine crash.
  ::fsync(fd);
  ::close(fd);
}

extern "C" void OnFatalSignal(int sig) {
  int saved = errno;
  RemoveLiveTemporaries();
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  errno = saved;
  // Delivered with the default action as soon as the handler returns.
  raise(sig);
}

}  // namespace

namespace {

// The extension a temporary carries after its suffix: the target's own (".mp3"), when it is
// short and plain, so a program that picks its output format by the extension still can.
std::string KeptExtension(const std::string& base) {
  std::size_t dot = base.rfind('.');
  if (dot == std::string::npos || dot == 0 || base.size() - dot > 9 || dot + 1 == base.size())
    return {};
  for (std::size_t i = dot + 1; i < base.size(); ++i)
    if (!std::isalnum(static_cast<unsigned char>(base[i]))) return {};
  return base.substr(dot);
}

// ".<name>.<pid>-<n>.qlpart" or ".<name>.<pid>-<n>.qlpart.<ext>": the pid, or -1 when name
// is no temporary.
long PartialPid(const std::string& name) {
  if (name.size() < 2 || name[0] != '.') return -1;
  std::size_t end = name.rfind(kPartialSuffix);
  if (end == std::string::npos) return -1;
  const std::size_t after = end + std::strlen(kPartialSuffix);
  if (after != name.size() && KeptExtension(name) != name.substr(after)) return -1;
  if (end == 0) return -1;
  std::size_t dash = name.rfind('-', end - 1);
  if (dash == std::string::npos || dash + 1 == end) return -1;
  for (std::size_t i = dash + 1; i < end; ++i)
    if (name[i] < '0' || name[i] > '9') return -1;
  std::size_t dot = name.rfind('.', dash);
  if (dot == std::string::npos || dot == 0 || dot + 1 == dash || dash - dot - 1 > 9) return -1;
  long pid = 0;
  for (std::size_t i = dot + 1; i < dash; ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    pid = pid * 10 + (name[i] - '0');
  }
  return pid;
}

}  // namespace

bool IsPartialName(const std::string& name) {
  return PartialPid(name) >= 0;
}

std::string ResolveOutputTarget(const std::string& name) {
  std::string p = name;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return p;  // a new file (or a folder open will refuse)
    if (S_ISREG(st.st_mode)) return p;
    if (S_ISDIR(st.st_mode))
      throw EInOutError(5, "Cannot write " + name + ": it is a folder, not a file");
    if (!S_ISLNK(st.st_mode))
      throw EInOutError(5, "Cannot write " + name +
                               ": it is a device, a pipe or a socket, "
                               "not a file");
    char buf[PATH_MAX];
    ssize_t n = ::readlink(p.c_str(), buf, sizeof buf - 1);
    if (n < 0) return p;
    std::string link(buf, static_cast<std::size_t>(n));
    if (link.empty()) return p;
    if (link[0] == '/') {
      p = link;
    } else {
      std::string dir = DirOf(p);
      p = dir.empty() ? link : (dir == "/" ? "/" + link : dir + "/" + link);
    }
  }
  throw EInOutError(5, "Cannot write " + name + ": too many symbolic links");
}

void PartialFile::Create(const std::string& finalName, bool keepExtension) {
  Abandon();
  std::string target = ResolveOutputTarget(finalName);
  std::string dir = DirOf(target);
  std::string tail = "." + std::to_string(::getpid()) + "-" + std::to_string(++g_counter) +
                     kPartialSuffix + (keepExtension ? KeptExtension(BaseOf(target)) : "");
  // A file name holds at most 255 bytes; the temporary's name gives way, never the target's.
  std::string temp = "." + CutUtf8(BaseOf(target), 255 - 1 - tail.size()) + tail;
  if (!dir.empty()) temp = (dir == "/" ? "/" : dir + "/") + temp;

  // Published before the file exists, so a signal never leaves it behind.
  int slot = Register(temp);
  int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    int err = errno;
    Unregister(slot);
    Fail(err);
  }
  // Keep the permissions of the file being replaced.
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
  final_ = finalName;
  target_ = std::move(target);
  temp_ = std::move(temp);
  fd_ = fd;
  slot_ = slot;
}

void PartialFile::Write(const void* data, std::size_t size) {
  if (fd_ < 0) Fail(EBADF);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail(n < 0 ? errno : ENOSPC);
    p += n;
    size -= static_cast<std::size_t>(n);
  }
}

void PartialFile::Commit(bool sync) {
  if (temp_.empty()) Fail(EBADF);
  auto fail = [this](int err) {
    Abandon();
    Fail(err);
  };
  if (fd_ >= 0) {
    if (sync && ::fsync(fd_) != 0 && errno != EINVAL) fail(errno);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) fail(errno);
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) fail(errno);
  Unregister(slot_);
  temp_.clear();
  if (sync) FsyncFolder(DirOf(target_));
}

void PartialFile::Abandon() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
  Unregister(slot_);
}

class PartialFileStream::Buf : public std::streambuf {
 public:
  Buf() { setp(space_.data(), space_.data() + space_.size()); }
  PartialFile file;
  std::optional<EInOutError> error;
  void Reset() {
    error.reset();
    setp(space_.data(), space_.data() + space_.size());
  }
  bool Drain() {
    const std::size_t n = static_cast<std::size_t>(pptr() - pbase());
    setp(space_.data(), space_.data() + space_.size());
    if (error) return false;
    try {
      file.Write(space_.data(), n);
    } catch (const EInOutError& e) {
      error = e;
      return false;
    }
    return true;
  }

 protected:
  int_type overflow(int_type c) override {
    if (!Drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Drain() ? 0 : -1; }

 private:
  std::vector<char> space_ = std::vector<char>(65536);
};

PartialFileStream::PartialFileStream() : std::ostream(nullptr), buf_(std::make_unique<Buf>()) {
  rdbuf(buf_.get());
}

PartialFileStream::~PartialFileStream() {
  Abandon();
}

void PartialFileStream::Create(const std::string& finalName) {
  buf_->Reset();
  buf_->file.Create(finalName);
  clear();
}

void PartialFileStream::Commit() {
  if (!buf_->Drain() || buf_->error) {
    EInOutError e = buf_->error ? *buf_->error : InOutError(EIO);
    Abandon();
    throw e;
  }
  buf_->file.Commit();
}

void PartialFileStream::Abandon() noexcept {
  buf_->Reset();
  buf_->file.Abandon();
}

const PartialFile& PartialFileStream::File() const {
  return buf_->file;
}

void RemoveLiveTemporaries() noexcept {
  for (Slot& s : g_slots)
    if (s.state.load() == 2) ::unlink(s.path);
}

void InstallSignalCleanup() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  struct sigaction sa {};
  sa.sa_handler = OnFatalSignal;
  sigemptyset(&sa.sa_mask);
  // Either signal arriving during the cleanup waits for it.
  sigaddset(&sa.sa_mask, SIGINT);
  sigaddset(&sa.sa_mask, SIGTERM);
  sigaddset(&sa.sa_mask, SIGHUP);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  // A closed terminal ends the program as Ctrl-C does.
  sigaction(SIGHUP, &sa, nullptr);
}

int RemoveLeftovers(const std::string& dir) {
  const std::string folder = dir.empty() ? std::string(".") : dir;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return 0;
  const pid_t self = ::getpid();
  int removed = 0;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    const long found = PartialPid(name);
    if (found <= 0) continue;
    const pid_t pid = static_cast<pid_t>(found);
    if (pid <= 0 || pid == self) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // still running (or not ours to ask)
    std::string path = folder == "/" ? "/" + name : folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  ::closedir(d);
  return removed;
}

}  // namespace ql
