#include "RipOutput.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "Exception.h"
#include "PartialFile.h"

namespace trackwell {

namespace {

constexpr const char* kSuffix = ".qlpart";
constexpr int kSlots = 64;

// The live temporaries, for the signal handler (no allocation there).
struct Slot {
  std::atomic<bool> used{false};
  char path[PATH_MAX];
};
Slot g_slots[kSlots];
std::atomic<unsigned> g_counter{0};

void OnSignal(int sig) {
  for (auto& s : g_slots)
    if (s.used.load()) unlink(s.path);
  // The file components' own temporaries too.
  ql::RemoveLiveTemporaries();
  signal(sig, SIG_DFL);
  raise(sig);
}

std::string DirOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

void OutputFile::Create(const std::string& finalPath) {
  Abandon();
  const auto slash = finalPath.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : finalPath.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  // The temporary's name must fit in 255 bytes too: a long final name is cut (on a character
  // boundary) in it.
  if (name.size() > 200) {
    std::size_t cut = 200;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xc0) == 0x80) --cut;
    name.resize(cut);
  }
  // The name is only reserved: the component that writes the file creates it (a wave file
  // refuses to record over an existing file that holds no wave).
  for (;;) {
    std::string temp = dir + "." + name + "." + std::to_string(getpid()) + "-" +
                       std::to_string(++g_counter) + kSuffix;
    if (access(temp.c_str(), F_OK) == 0) continue;
    final_ = finalPath;
    temp_ = temp;
    break;
  }
  for (int i = 0; i < kSlots; ++i) {
    bool expected = false;
    if (temp_.size() < PATH_MAX && !g_slots[i].used.load()) {
      std::memcpy(g_slots[i].path, temp_.c_str(), temp_.size() + 1);
      if (g_slots[i].used.compare_exchange_strong(expected, true)) {
        slot_ = i;
        break;
      }
    }
  }
}

void OutputFile::Commit() {
  if (temp_.empty()) throw EInOutError(0, final_ + ": nothing written");
  int fd = open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0 && fsync(fd) == 0;
  int err = errno;
  if (fd >= 0) close(fd);
  if (ok && rename(temp_.c_str(), final_.c_str()) != 0) ok = false, err = errno;
  if (!ok) {
    Abandon();
    throw EInOutError(err, final_ + ": " + ql::InOutError(err).what());
  }
  int dfd = open(DirOf(final_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  if (slot_ >= 0) g_slots[slot_].used = false;
  slot_ = -1;
  temp_.clear();
}

void OutputFile::Abandon() noexcept {
  if (!temp_.empty()) unlink(temp_.c_str());
  if (slot_ >= 0) g_slots[slot_].used = false;
  slot_ = -1;
  temp_.clear();
}

void InstallOutputCleanup() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
}

}  // namespace trackwell
