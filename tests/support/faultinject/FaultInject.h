#pragma once
// The fault injector: a shared library (target `ql_faultinject`, file libql_faultinject.so) that
// a test puts in LD_PRELOAD to make file calls of the program under test fail as a full disk, a
// failing disk or a sudden death would. It is configured by environment variables only, read
// once when the library loads:
//
//   QL_FAULT_DIR=/abs/folder   Only calls on paths or descriptors under this folder are counted
//                              and failed (descriptors are resolved through /proc/self/fd), so the
//                              test runner's own output is never hit. Unset: every call counts.
//   QL_FAULT_PROGRAM=name      Only a process whose executable's base name is `name` is touched
//                              (child processes inherit LD_PRELOAD; this keeps e.g. an encoder
//                              started by the program out of it).
//   QL_FAULT_LOG=/abs/file     Every injected fault appends one line "<switch> <call number>
//                              <errno name> <path>" (a kill: "kill <n> <path>"), so a test can
//                              prove its fault was reached.
//
// Switches, each "N[+][:ERR]": the Nth counted call of that family fails with ERR; with "+" the
// Nth and every later one (a disk that stays full). ERR is ENOSPC, EIO, EDQUOT, EROFS, EACCES
// or a number; for QL_FAULT_WRITE it may also be SHORT: the call writes only the first half of
// its bytes and reports that count (as a disk filling up does), or fails with ENOSPC when there
// is less than two bytes to write. Counts are per family and per process, starting at 1.
//
//   QL_FAULT_WRITE    write, pwrite, writev, pwritev, fwrite              (default ENOSPC)
//   QL_FAULT_READ     read, pread, readv, preadv, fread                   (default EIO)
//   QL_FAULT_OPEN     open/openat/creat/fopen for writing (O_WRONLY, O_RDWR, O_CREAT, O_TRUNC,
//                     O_APPEND; fopen modes w, a, +); opens for reading are not counted
//                                                                         (default ENOSPC)
//   QL_FAULT_FSYNC    fsync, fdatasync                                    (default EIO)
//   QL_FAULT_RENAME   rename, renameat, renameat2 (either name in scope)  (default ENOSPC)
//
//   QL_FAULT_KILL_WRITE=N     SIGKILL before the Nth counted write-family call (the same count
//                             as QL_FAULT_WRITE); the earlier writes reached the file.
//   QL_FAULT_READ_AT=OFFSET[:ERR]
//                             A bad spot: every read whose byte range covers byte OFFSET of a
//                             file in scope fails (default EIO), however often it is tried.
//   QL_FAULT_FLIP_AT=OFFSET[:N]
//                             A read that silently goes wrong: the Nth (default 1st) read, pread
//                             or pread64 whose bytes cover byte OFFSET of a file in scope
//                             succeeds with that byte inverted; earlier and later reads are
//                             right (a drive that misreads once).
//
// glibc's stdio reaches the kernel through internal calls that a preload cannot see: fread and
// fwrite on a stream in scope count as one call each of their family (a fault sets the stream's
// error flag; SHORT writes half the items); other stdio calls are not counted. C++ file streams
// write through write/writev and are counted as those.
//
// Programs built with AddressSanitizer refuse a preload that comes before their runtime; run
// them with ASAN_OPTIONS=verify_asan_link_order=0. The library itself is never sanitized.
//
// A test program that has the library preloaded itself re-arms it between the saves it walks:
// ql_fault_arm("NAME=value\nNAME=value...") (found with dlsym) takes the settings from these
// lines instead of the environment (a name not given is off; NULL or "" disarms) and restarts
// every count. No environment is changed, so other threads of the program are never disturbed.
// FaultWalk.h wraps this for window tests.
//
// Tests get the library's path as the compile definition QL_FAULTINJECT_PATH: call
// ql_use_faultinject(<test target>) in CMake (it also builds the library first).

#define QL_FAULT_ENV_DIR "QL_FAULT_DIR"
#define QL_FAULT_ENV_PROGRAM "QL_FAULT_PROGRAM"
#define QL_FAULT_ENV_LOG "QL_FAULT_LOG"
#define QL_FAULT_ENV_WRITE "QL_FAULT_WRITE"
#define QL_FAULT_ENV_READ "QL_FAULT_READ"
#define QL_FAULT_ENV_OPEN "QL_FAULT_OPEN"
#define QL_FAULT_ENV_FSYNC "QL_FAULT_FSYNC"
#define QL_FAULT_ENV_RENAME "QL_FAULT_RENAME"
#define QL_FAULT_ENV_KILL_WRITE "QL_FAULT_KILL_WRITE"
#define QL_FAULT_ENV_READ_AT "QL_FAULT_READ_AT"
#define QL_FAULT_ENV_FLIP_AT "QL_FAULT_FLIP_AT"
#define QL_FAULT_ARM_SYMBOL "ql_fault_arm"
