// The fault injector (see FaultInject.h). Written in C so that its definitions of the libc
// entry points need not match C++ exception specifications.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include "FaultInject.h"

#define QL_EXPORT __attribute__((visibility("default")))
#define SHORT_WRITE (-1)

enum Family { kWrite, kRead, kOpen, kFsync, kRename, kFamilies };

typedef struct {
  int on;
  long n;
  int onward;
  int err;  // errno to set, or SHORT_WRITE
} Switch;

static const char* const kSwitchEnv[kFamilies] = {QL_FAULT_ENV_WRITE, QL_FAULT_ENV_READ,
                                                  QL_FAULT_ENV_OPEN, QL_FAULT_ENV_FSYNC,
                                                  QL_FAULT_ENV_RENAME};
static const char* const kSwitchName[kFamilies] = {"write", "read", "open", "fsync", "rename"};
static const int kDefaultErr[kFamilies] = {ENOSPC, EIO, ENOSPC, EIO, ENOSPC};

static pthread_once_t g_once = PTHREAD_ONCE_INIT;
static int g_active;  // the program filter matched and some switch is set
static char g_dir[PATH_MAX];
static char g_log[PATH_MAX];
static Switch g_sw[kFamilies];
static long g_count[kFamilies];
static long g_kill_write;
static int g_read_at_on;
static long long g_read_at;
static int g_read_at_err = EIO;
static int g_flip_on;
static long long g_flip_at;
static long g_flip_nth = 1, g_flip_seen;
static pthread_mutex_t g_flip_mutex = PTHREAD_MUTEX_INITIALIZER;

// The next definitions of the calls we replace.
static ssize_t (*real_write)(int, const void*, size_t);
static ssize_t (*real_pwrite)(int, const void*, size_t, off_t);
static ssize_t (*real_pwrite64)(int, const void*, size_t, off64_t);
static ssize_t (*real_writev)(int, const struct iovec*, int);
static ssize_t (*real_pwritev)(int, const struct iovec*, int, off_t);
static ssize_t (*real_pwritev64)(int, const struct iovec*, int, off64_t);
static ssize_t (*real_read)(int, void*, size_t);
static ssize_t (*real_pread)(int, void*, size_t, off_t);
static ssize_t (*real_pread64)(int, void*, size_t, off64_t);
static ssize_t (*real_readv)(int, const struct iovec*, int);
static ssize_t (*real_preadv)(int, const struct iovec*, int, off_t);
static ssize_t (*real_preadv64)(int, const struct iovec*, int, off64_t);
static int (*real_open)(const char*, int, ...);
static int (*real_open64)(const char*, int, ...);
static int (*real_openat)(int, const char*, int, ...);
static int (*real_openat64)(int, const char*, int, ...);
static int (*real_open_2)(const char*, int);
static int (*real_open64_2)(const char*, int);
static int (*real_openat_2)(int, const char*, int);
static int (*real_openat64_2)(int, const char*, int);
static int (*real_creat)(const char*, mode_t);
static int (*real_creat64)(const char*, mode_t);
static FILE* (*real_fopen)(const char*, const char*);
static FILE* (*real_fopen64)(const char*, const char*);
static size_t (*real_fread)(void*, size_t, size_t, FILE*);
static size_t (*real_fwrite)(const void*, size_t, size_t, FILE*);
static int (*real_fsync)(int);
static int (*real_fdatasync)(int);
static int (*real_rename)(const char*, const char*);
static int (*real_renameat)(int, const char*, int, const char*);
static int (*real_renameat2)(int, const char*, int, const char*, unsigned);

#define BIND(name, sym) name = (__typeof__(name))dlsym(RTLD_NEXT, sym)

static int ParseErr(const char* s, int dflt, int allowShort) {
  if (!s || !*s) return dflt;
  if (allowShort && strcmp(s, "SHORT") == 0) return SHORT_WRITE;
  if (strcmp(s, "ENOSPC") == 0) return ENOSPC;
  if (strcmp(s, "EIO") == 0) return EIO;
  if (strcmp(s, "EDQUOT") == 0) return EDQUOT;
  if (strcmp(s, "EROFS") == 0) return EROFS;
  if (strcmp(s, "EACCES") == 0) return EACCES;
  int v = atoi(s);
  return v > 0 ? v : dflt;
}

// Where the settings come from: the environment, or the lines a test gave ql_fault_arm.
static const char* g_settings;  // "NAME=value" lines, or NULL for the environment
static char g_value[PATH_MAX];

// The value of one setting (NULL when it is not set); good until the next call.
static const char* Lookup(const char* name) {
  if (!g_settings) return getenv(name);
  size_t len = strlen(name);
  for (const char* line = g_settings; *line;) {
    const char* end = strchr(line, '\n');
    if (!end) end = line + strlen(line);
    if ((size_t)(end - line) > len && strncmp(line, name, len) == 0 && line[len] == '=') {
      snprintf(g_value, sizeof g_value, "%.*s", (int)(end - line - len - 1), line + len + 1);
      return g_value;
    }
    line = *end ? end + 1 : end;
  }
  return NULL;
}

static void ParseSwitch(enum Family f) {
  const char* v = Lookup(kSwitchEnv[f]);
  if (!v || !*v) return;
  char* end = NULL;
  long n = strtol(v, &end, 10);
  if (n <= 0) return;
  Switch* s = &g_sw[f];
  s->on = 1;
  s->n = n;
  if (*end == '+') {
    s->onward = 1;
    ++end;
  }
  s->err = kDefaultErr[f];
  if (*end == ':') s->err = ParseErr(end + 1, kDefaultErr[f], f == kWrite);
}

static int ProgramMatches(void) {
  const char* want = Lookup(QL_FAULT_ENV_PROGRAM);
  if (!want || !*want) return 1;
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n < 0) return 0;
  exe[n] = 0;
  const char* base = strrchr(exe, '/');
  return strcmp(base ? base + 1 : exe, want) == 0;
}

static void Configure(void);

static void Init(void) {
  BIND(real_write, "write");
  BIND(real_pwrite, "pwrite");
  BIND(real_pwrite64, "pwrite64");
  BIND(real_writev, "writev");
  BIND(real_pwritev, "pwritev");
  BIND(real_pwritev64, "pwritev64");
  BIND(real_read, "read");
  BIND(real_pread, "pread");
  BIND(real_pread64, "pread64");
  BIND(real_readv, "readv");
  BIND(real_preadv, "preadv");
  BIND(real_preadv64, "preadv64");
  BIND(real_open, "open");
  BIND(real_open64, "open64");
  BIND(real_openat, "openat");
  BIND(real_openat64, "openat64");
  BIND(real_open_2, "__open_2");
  BIND(real_open64_2, "__open64_2");
  BIND(real_openat_2, "__openat_2");
  BIND(real_openat64_2, "__openat64_2");
  BIND(real_creat, "creat");
  BIND(real_creat64, "creat64");
  BIND(real_fopen, "fopen");
  BIND(real_fopen64, "fopen64");
  BIND(real_fread, "fread");
  BIND(real_fwrite, "fwrite");
  BIND(real_fsync, "fsync");
  BIND(real_fdatasync, "fdatasync");
  BIND(real_rename, "rename");
  BIND(real_renameat, "renameat");
  BIND(real_renameat2, "renameat2");

  if (!ProgramMatches()) return;
  Configure();
}

// Reads the scope and the switches from the environment.
static void Configure(void) {
  const char* dir = Lookup(QL_FAULT_ENV_DIR);
  if (dir && *dir) {
    if (!realpath(dir, g_dir)) snprintf(g_dir, sizeof g_dir, "%s", dir);
    size_t len = strlen(g_dir);
    while (len > 1 && g_dir[len - 1] == '/') g_dir[--len] = 0;
  }
  const char* log = Lookup(QL_FAULT_ENV_LOG);
  if (log) snprintf(g_log, sizeof g_log, "%s", log);
  int any = 0;
  for (int f = 0; f < kFamilies; ++f) {
    ParseSwitch((enum Family)f);
    any |= g_sw[f].on;
  }
  const char* kill = Lookup(QL_FAULT_ENV_KILL_WRITE);
  if (kill) g_kill_write = atol(kill);
  if (g_kill_write > 0) any = 1;
  const char* at = Lookup(QL_FAULT_ENV_READ_AT);
  if (at && *at) {
    char* end = NULL;
    g_read_at = strtoll(at, &end, 10);
    if (end != at && g_read_at >= 0) {
      g_read_at_on = any = 1;
      if (*end == ':') g_read_at_err = ParseErr(end + 1, EIO, 0);
    }
  }
  const char* flip = Lookup(QL_FAULT_ENV_FLIP_AT);
  if (flip && *flip) {
    char* end = NULL;
    g_flip_at = strtoll(flip, &end, 10);
    if (end != flip && g_flip_at >= 0) {
      g_flip_on = any = 1;
      if (*end == ':') g_flip_nth = atol(end + 1);
    }
  }
  __atomic_store_n(&g_active, any, __ATOMIC_SEQ_CST);
}

__attribute__((constructor)) static void Load(void) {
  pthread_once(&g_once, Init);
}
static void Ensure(void) {
  pthread_once(&g_once, Init);
}

QL_EXPORT void ql_fault_arm(const char* settings) {
  Ensure();
  // Nothing is injected while the switches change; calls of other threads meanwhile pass.
  __atomic_store_n(&g_active, 0, __ATOMIC_SEQ_CST);
  g_settings = settings ? settings : "";
  if (ProgramMatches()) {
    g_dir[0] = 0;
    g_log[0] = 0;
    memset(g_sw, 0, sizeof g_sw);
    for (int f = 0; f < kFamilies; ++f) __atomic_store_n(&g_count[f], 0, __ATOMIC_SEQ_CST);
    g_kill_write = 0;
    g_read_at_on = 0;
    g_read_at_err = EIO;
    g_flip_on = 0;
    g_flip_nth = 1;
    g_flip_seen = 0;
    Configure();
  }
  g_settings = NULL;
}

static int UnderDir(const char* abs) {
  size_t len = strlen(g_dir);
  if (len == 1 && g_dir[0] == '/') return abs[0] == '/';
  return strncmp(abs, g_dir, len) == 0 && (abs[len] == '/' || abs[len] == 0);
}

static int FdPath(int fd, char* out, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, out, size - 1);
  if (n < 0) return 0;
  out[n] = 0;
  return 1;
}

static int FdInScope(int fd, char* path, size_t size) {
  if (!FdPath(fd, path, size)) snprintf(path, size, "fd %d", fd);
  if (!g_dir[0]) return 1;
  return UnderDir(path);
}

// The absolute, resolved form of a name given relative to dirfd; the last component need not
// exist (a file about to be created).
static void AbsPath(int dirfd, const char* name, char* out, size_t size) {
  char joined[PATH_MAX * 2];
  if (name[0] == '/') {
    snprintf(joined, sizeof joined, "%s", name);
  } else {
    char base[PATH_MAX] = "";
    if (dirfd == AT_FDCWD) {
      if (!getcwd(base, sizeof base)) base[0] = 0;
    } else if (!FdPath(dirfd, base, sizeof base)) {
      base[0] = 0;
    }
    snprintf(joined, sizeof joined, "%s/%s", base, name);
  }
  if (realpath(joined, out)) return;
  char* slash = strrchr(joined, '/');
  if (slash && slash != joined) {
    *slash = 0;
    char parent[PATH_MAX];
    if (realpath(joined, parent)) {
      snprintf(out, size, "%s/%s", parent, slash + 1);
      return;
    }
    *slash = '/';
  }
  snprintf(out, size, "%s", joined);
}

static int PathInScope(int dirfd, const char* name, char* path, size_t size) {
  if (!name) return 0;
  AbsPath(dirfd, name, path, size);
  if (!g_dir[0]) return 1;
  return UnderDir(path);
}

static const char* ErrName(int err) {
  switch (err) {
    case ENOSPC:
      return "ENOSPC";
    case EIO:
      return "EIO";
    case EDQUOT:
      return "EDQUOT";
    case EROFS:
      return "EROFS";
    case EACCES:
      return "EACCES";
    case SHORT_WRITE:
      return "SHORT";
    default:
      return "E?";
  }
}

static void Log(const char* what, long n, const char* err, const char* path) {
  if (!g_log[0]) return;
  int fd =
      (int)syscall(SYS_openat, AT_FDCWD, g_log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  char line[PATH_MAX + 128];
  int len = snprintf(line, sizeof line, "%s %ld %s %s\n", what, n, err, path);
  if (len > (int)sizeof line) len = (int)sizeof line;
  if (len > 0) (void)syscall(SYS_write, fd, line, (size_t)len);
  syscall(SYS_close, fd);
}

// Counts one call of the family; returns the error to inject (0: none, SHORT_WRITE possible).
static int Decide(enum Family f, const char* path) {
  long n = __atomic_add_fetch(&g_count[f], 1, __ATOMIC_SEQ_CST);
  if (f == kWrite && g_kill_write > 0 && n == g_kill_write) {
    Log("kill", n, "SIGKILL", path);
    kill(getpid(), SIGKILL);
  }
  const Switch* s = &g_sw[f];
  if (!s->on) return 0;
  if (!(s->onward ? n >= s->n : n == s->n)) return 0;
  Log(kSwitchName[f], n, ErrName(s->err), path);
  return s->err;
}

static int FdFault(enum Family f, int fd) {
  Ensure();
  if (!g_active) return 0;
  if (!g_sw[f].on && !(f == kWrite && g_kill_write > 0)) return 0;
  char path[PATH_MAX];
  if (!FdInScope(fd, path, sizeof path)) return 0;
  return Decide(f, path);
}

static int ReadAtFault(int fd, long long pos, size_t count) {
  if (!g_read_at_on || pos < 0 || count == 0) return 0;
  if (!(pos <= g_read_at && g_read_at < pos + (long long)count)) return 0;
  char path[PATH_MAX];
  if (!FdInScope(fd, path, sizeof path)) return 0;
  Log("read_at", (long)g_read_at, ErrName(g_read_at_err), path);
  return g_read_at_err;
}

static size_t IovTotal(const struct iovec* iov, int cnt) {
  size_t total = 0;
  for (int i = 0; i < cnt; ++i) total += iov[i].iov_len;
  return total;
}

// ---- writes ----

// A short write: the first half of the bytes, or ENOSPC when that is nothing.
static ssize_t ShortWrite(int fd, const void* buf, size_t count, long long offset) {
  size_t half = count / 2;
  if (half == 0) {
    errno = ENOSPC;
    return -1;
  }
  return offset < 0 ? real_write(fd, buf, half) : real_pwrite64(fd, buf, half, offset);
}

static ssize_t ShortWritev(int fd, const struct iovec* iov, int cnt, long long offset) {
  size_t half = IovTotal(iov, cnt) / 2;
  if (half == 0) {
    errno = ENOSPC;
    return -1;
  }
  struct iovec part[IOV_MAX];
  int used = 0;
  for (int i = 0; i < cnt && used < IOV_MAX && half > 0; ++i) {
    part[used] = iov[i];
    if (part[used].iov_len > half) part[used].iov_len = half;
    half -= part[used].iov_len;
    ++used;
  }
  return offset < 0 ? real_writev(fd, part, used) : real_pwritev64(fd, part, used, offset);
}

QL_EXPORT ssize_t write(int fd, const void* buf, size_t count) {
  int err = FdFault(kWrite, fd);
  if (err == SHORT_WRITE) return ShortWrite(fd, buf, count, -1);
  if (err) {
    errno = err;
    return -1;
  }
  return real_write(fd, buf, count);
}

QL_EXPORT ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
  int err = FdFault(kWrite, fd);
  if (err == SHORT_WRITE) return ShortWrite(fd, buf, count, offset);
  if (err) {
    errno = err;
    return -1;
  }
  return real_pwrite(fd, buf, count, offset);
}

QL_EXPORT ssize_t pwrite64(int fd, const void* buf, size_t count, off64_t offset) {
  int err = FdFault(kWrite, fd);
  if (err == SHORT_WRITE) return ShortWrite(fd, buf, count, offset);
  if (err) {
    errno = err;
    return -1;
  }
  return real_pwrite64(fd, buf, count, offset);
}

QL_EXPORT ssize_t writev(int fd, const struct iovec* iov, int cnt) {
  int err = FdFault(kWrite, fd);
  if (err == SHORT_WRITE) return ShortWritev(fd, iov, cnt, -1);
  if (err) {
    errno = err;
    return -1;
  }
  return real_writev(fd, iov, cnt);
}

QL_EXPORT ssize_t pwritev(int fd, const struct iovec* iov, int cnt, off_t offset) {
  int err = FdFault(kWrite, fd);
  if (err == SHORT_WRITE) return ShortWritev(fd, iov, cnt, offset);
  if (err) {
    errno = err;
    return -1;
  }
  return real_pwritev(fd, iov, cnt, offset);
}

QL_EXPORT ssize_t pwritev64(int fd, const struct iovec* iov, int cnt, off64_t offset) {
  int err = FdFault(kWrite, fd);
  if (err == SHORT_WRITE) return ShortWritev(fd, iov, cnt, offset);
  if (err) {
    errno = err;
    return -1;
  }
  return real_pwritev64(fd, iov, cnt, offset);
}

// ---- reads ----

static int ReadFault(int fd, long long pos, size_t count) {
  int err = FdFault(kRead, fd);
  if (!err && g_active) err = ReadAtFault(fd, pos, count);
  return err;
}

static long long CurrentPos(int fd) {
  return g_read_at_on || g_flip_on ? (long long)lseek(fd, 0, SEEK_CUR) : -1;
}

// After a read of got bytes at pos into buf: inverts the flip byte on its Nth read.
static void Flip(int fd, long long pos, void* buf, ssize_t got) {
  if (!g_flip_on || !g_active || got <= 0 || pos < 0) return;
  if (!(pos <= g_flip_at && g_flip_at < pos + (long long)got)) return;
  char path[PATH_MAX];
  if (!FdInScope(fd, path, sizeof path)) return;
  pthread_mutex_lock(&g_flip_mutex);
  const long n = ++g_flip_seen;
  pthread_mutex_unlock(&g_flip_mutex);
  if (n != g_flip_nth) return;
  ((unsigned char*)buf)[g_flip_at - pos] ^= 0xff;
  Log("flip_at", n, "-", path);
}

QL_EXPORT ssize_t read(int fd, void* buf, size_t count) {
  Ensure();
  const long long pos = CurrentPos(fd);
  int err = ReadFault(fd, pos, count);
  if (err) {
    errno = err;
    return -1;
  }
  const ssize_t got = real_read(fd, buf, count);
  Flip(fd, pos, buf, got);
  return got;
}

QL_EXPORT ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
  int err = ReadFault(fd, offset, count);
  if (err) {
    errno = err;
    return -1;
  }
  const ssize_t got = real_pread(fd, buf, count, offset);
  Flip(fd, offset, buf, got);
  return got;
}

QL_EXPORT ssize_t pread64(int fd, void* buf, size_t count, off64_t offset) {
  int err = ReadFault(fd, offset, count);
  if (err) {
    errno = err;
    return -1;
  }
  const ssize_t got = real_pread64(fd, buf, count, offset);
  Flip(fd, offset, buf, got);
  return got;
}

QL_EXPORT ssize_t readv(int fd, const struct iovec* iov, int cnt) {
  Ensure();
  int err = ReadFault(fd, CurrentPos(fd), IovTotal(iov, cnt));
  if (err) {
    errno = err;
    return -1;
  }
  return real_readv(fd, iov, cnt);
}

QL_EXPORT ssize_t preadv(int fd, const struct iovec* iov, int cnt, off_t offset) {
  int err = ReadFault(fd, offset, IovTotal(iov, cnt));
  if (err) {
    errno = err;
    return -1;
  }
  return real_preadv(fd, iov, cnt, offset);
}

QL_EXPORT ssize_t preadv64(int fd, const struct iovec* iov, int cnt, off64_t offset) {
  int err = ReadFault(fd, offset, IovTotal(iov, cnt));
  if (err) {
    errno = err;
    return -1;
  }
  return real_preadv64(fd, iov, cnt, offset);
}

// ---- opens ----

static int WritingFlags(int flags) {
  return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0;
}

static int OpenFault(int dirfd, const char* name, int flags) {
  Ensure();
  if (!g_active || !g_sw[kOpen].on || !WritingFlags(flags)) return 0;
  char path[PATH_MAX];
  if (!PathInScope(dirfd, name, path, sizeof path)) return 0;
  return Decide(kOpen, path);
}

static mode_t ModeArg(int flags, va_list ap) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(ap, int) : 0;
}

#define OPEN_HOOK(name, realfn)                          \
  QL_EXPORT int name(const char* path, int flags, ...) { \
    va_list ap;                                          \
    va_start(ap, flags);                                 \
    mode_t mode = ModeArg(flags, ap);                    \
    va_end(ap);                                          \
    int err = OpenFault(AT_FDCWD, path, flags);          \
    if (err) {                                           \
      errno = err;                                       \
      return -1;                                         \
    }                                                    \
    return realfn(path, flags, mode);                    \
  }

#define OPENAT_HOOK(name, realfn)                                   \
  QL_EXPORT int name(int dirfd, const char* path, int flags, ...) { \
    va_list ap;                                                     \
    va_start(ap, flags);                                            \
    mode_t mode = ModeArg(flags, ap);                               \
    va_end(ap);                                                     \
    int err = OpenFault(dirfd, path, flags);                        \
    if (err) {                                                      \
      errno = err;                                                  \
      return -1;                                                    \
    }                                                               \
    return realfn(dirfd, path, flags, mode);                        \
  }

OPEN_HOOK(open, real_open)
OPEN_HOOK(open64, real_open64)
OPENAT_HOOK(openat, real_openat)
OPENAT_HOOK(openat64, real_openat64)

#define OPEN2_HOOK(name, realfn)                    \
  QL_EXPORT int name(const char* path, int flags) { \
    int err = OpenFault(AT_FDCWD, path, flags);     \
    if (err) {                                      \
      errno = err;                                  \
      return -1;                                    \
    }                                               \
    return realfn(path, flags);                     \
  }
#define OPENAT2_HOOK(name, realfn)                             \
  QL_EXPORT int name(int dirfd, const char* path, int flags) { \
    int err = OpenFault(dirfd, path, flags);                   \
    if (err) {                                                 \
      errno = err;                                             \
      return -1;                                               \
    }                                                          \
    return realfn(dirfd, path, flags);                         \
  }

OPEN2_HOOK(__open_2, real_open_2)
OPEN2_HOOK(__open64_2, real_open64_2)
OPENAT2_HOOK(__openat_2, real_openat_2)
OPENAT2_HOOK(__openat64_2, real_openat64_2)

QL_EXPORT int creat(const char* path, mode_t mode) {
  int err = OpenFault(AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC);
  if (err) {
    errno = err;
    return -1;
  }
  return real_creat(path, mode);
}

QL_EXPORT int creat64(const char* path, mode_t mode) {
  int err = OpenFault(AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC);
  if (err) {
    errno = err;
    return -1;
  }
  return real_creat64(path, mode);
}

// ---- stdio ----
// glibc's stdio reaches the kernel through internal calls that a preload cannot see, so fread
// and fwrite count as one call each of their family. A failed call sets the stream's error
// flag, as a failed kernel call under it would.

static int ModeFlags(const char* mode) {
  int plus = strchr(mode, '+') != NULL;
  switch (mode[0]) {
    case 'r':
      return plus ? O_RDWR : O_RDONLY;
    case 'w':
      return (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    case 'a':
      return (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    default:
      return O_RDONLY;
  }
}

QL_EXPORT FILE* fopen(const char* path, const char* mode) {
  int err = OpenFault(AT_FDCWD, path, mode ? ModeFlags(mode) : O_RDONLY);
  if (err) {
    errno = err;
    return NULL;
  }
  return real_fopen(path, mode);
}

QL_EXPORT FILE* fopen64(const char* path, const char* mode) {
  int err = OpenFault(AT_FDCWD, path, mode ? ModeFlags(mode) : O_RDONLY);
  if (err) {
    errno = err;
    return NULL;
  }
  return real_fopen64(path, mode);
}

static void SetStreamError(FILE* f, int err) {
  f->_flags |= _IO_ERR_SEEN;
  errno = err;
}

QL_EXPORT size_t fread(void* ptr, size_t size, size_t n, FILE* f) {
  Ensure();
  if (g_active && size && n) {
    int fd = fileno(f);
    long long pos = g_read_at_on ? (long long)ftello(f) : -1;
    int err = fd >= 0 ? ReadFault(fd, pos, size * n) : 0;
    if (err) {
      SetStreamError(f, err);
      return 0;
    }
  }
  return real_fread(ptr, size, n, f);
}

QL_EXPORT size_t fwrite(const void* ptr, size_t size, size_t n, FILE* f) {
  Ensure();
  if (g_active && size && n) {
    int fd = fileno(f);
    int err = fd >= 0 ? FdFault(kWrite, fd) : 0;
    if (err == SHORT_WRITE) {
      size_t half = n / 2;
      size_t done = half ? real_fwrite(ptr, size, half, f) : 0;
      SetStreamError(f, ENOSPC);
      return done;
    }
    if (err) {
      SetStreamError(f, err);
      return 0;
    }
  }
  return real_fwrite(ptr, size, n, f);
}

// ---- syncs and renames ----

QL_EXPORT int fsync(int fd) {
  int err = FdFault(kFsync, fd);
  if (err) {
    errno = err;
    return -1;
  }
  return real_fsync(fd);
}

QL_EXPORT int fdatasync(int fd) {
  int err = FdFault(kFsync, fd);
  if (err) {
    errno = err;
    return -1;
  }
  return real_fdatasync(fd);
}

static int RenameFault(int olddir, const char* oldname, int newdir, const char* newname) {
  Ensure();
  if (!g_active || !g_sw[kRename].on) return 0;
  char a[PATH_MAX], b[PATH_MAX];
  int in = PathInScope(olddir, oldname, a, sizeof a);
  in |= PathInScope(newdir, newname, b, sizeof b);
  if (!in) return 0;
  return Decide(kRename, b);
}

QL_EXPORT int rename(const char* oldpath, const char* newpath) {
  int err = RenameFault(AT_FDCWD, oldpath, AT_FDCWD, newpath);
  if (err) {
    errno = err;
    return -1;
  }
  return real_rename(oldpath, newpath);
}

QL_EXPORT int renameat(int olddir, const char* oldpath, int newdir, const char* newpath) {
  int err = RenameFault(olddir, oldpath, newdir, newpath);
  if (err) {
    errno = err;
    return -1;
  }
  return real_renameat(olddir, oldpath, newdir, newpath);
}

QL_EXPORT int renameat2(int olddir, const char* oldpath, int newdir, const char* newpath,
                        unsigned flags) {
  int err = RenameFault(olddir, oldpath, newdir, newpath);
  if (err) {
    errno = err;
    return -1;
  }
  return real_renameat2(olddir, oldpath, newdir, newpath, flags);
}
