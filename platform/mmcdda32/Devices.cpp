// Which drives the library offers, and how a drive or image is opened.
#include <sys/stat.h>
#include <unistd.h>

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "Drive.h"
#include "TocPaths.h"

namespace cdda {
namespace {

std::atomic<bool> gDiagnostics{false};

// libcdio writes to stderr unless someone takes its messages.
void LogHandler(cdio_log_level_t level, const char message[]) {
  if (gDiagnostics.load() && level >= CDIO_LOG_INFO)
    std::fprintf(stderr, "mmcdda32: %s\n", message);
}

std::mutex gMutex;
std::vector<DeviceEntry> gAdded;  // append only, so device indices stay valid

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char* cwd = getcwd(nullptr, 0);
  std::string out = cwd ? std::string(cwd) + "/" + path : path;
  std::free(cwd);
  return out;
}

bool EndsWithNoCase(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

}  // namespace

void SetDiagnostics(bool on) {
  static std::once_flag once;
  std::call_once(once, [] { cdio_log_set_handler(LogHandler); });
  if (on) gDiagnostics = true;
}

std::vector<DeviceEntry> ScanDevices() {
  std::vector<DeviceEntry> out;
  static std::vector<DeviceEntry> drives;
  static std::once_flag once;
  std::call_once(once, [] {
    if (char** list = cdio_get_devices(DRIVER_DEVICE)) {
      for (char** p = list; *p; ++p) drives.push_back({*p, false});
      cdio_free_device_list(list);
    }
  });
  out = drives;
  if (const char* env = std::getenv("QL_CD_IMAGES")) {
    std::stringstream ss(env);
    std::string item;
    while (std::getline(ss, item, ':'))
      if (!item.empty()) out.push_back({Absolute(item), true});
  }
  return out;
}

std::vector<DeviceEntry> AddedImagesFrom(size_t known, size_t* total) {
  std::lock_guard lock(gMutex);
  *total = gAdded.size();
  if (known >= gAdded.size()) return {};
  return {gAdded.begin() + static_cast<std::ptrdiff_t>(known), gAdded.end()};
}

uint32_t AddImage(const char* path) {
  if (!path || !*path) return CDDA_E_PARAM;
  std::string full = Absolute(path);
  if (!Exists(full)) return CDDA_E_NOFILE;
  std::lock_guard lock(gMutex);
  for (const auto& d : gAdded)
    if (d.path == full) return CDDA_OK;
  gAdded.push_back({full, true});
  return CDDA_OK;
}

// libcdio resolves the file names of a cdrdao table of contents against the current folder;
// a user expects them relative to the .toc file, as cdrdao itself does. Such a file is read
// through a copy whose relative names are made absolute.
static std::string RewriteToc(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::stringstream buf;
  buf << in.rdbuf();
  std::string text = buf.str();
  std::string out = AbsoluteTocPaths(text, path.substr(0, path.rfind('/') + 1));
  if (out == text) return {};
  // libcdio takes a cdrdao file by its ".toc" ending only.
  const char* tmp = std::getenv("TMPDIR");
  std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/ql-cdda-XXXXXX.toc";
  int fd = mkstemps(name.data(), 4);
  if (fd < 0) return {};
  bool ok = write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
  close(fd);
  if (!ok) {
    unlink(name.c_str());
    return {};
  }
  return name;
}

CdIo_t* OpenSource(const DeviceEntry& entry) {
  // libcdio's image parsers keep state of the process (strtok): one open at a time.
  static std::mutex open_mutex;
  std::lock_guard lock(open_mutex);
  if (!entry.image) return cdio_open(entry.path.c_str(), DRIVER_DEVICE);
  if (!Exists(entry.path)) return nullptr;
  if (EndsWithNoCase(entry.path, ".toc")) {
    std::string copy = RewriteToc(entry.path);
    if (!copy.empty()) {
      CdIo_t* p = cdio_open_cdrdao(copy.c_str());
      unlink(copy.c_str());
      return p;
    }
    return cdio_open_cdrdao(entry.path.c_str());
  }
  if (EndsWithNoCase(entry.path, ".nrg")) return cdio_open_nrg(entry.path.c_str());
  if (EndsWithNoCase(entry.path, ".cue")) return cdio_open_cue(entry.path.c_str());
  return cdio_open(entry.path.c_str(), DRIVER_UNKNOWN);
}

}  // namespace cdda
