#pragma once
// Outputs written as a whole are written under a temporary name in their target folder and
// renamed over the final name only when complete, so no reader ever sees a half-written file
// under the final name, and an earlier file of that name stays whole until its successor is.
//
// The temporary is ".<name>.<pid>-<n>.qlpart" (or with the target's extension after it) beside the
// target (hidden, and no reader takes it for a finished file). Commit() flushes it to the disk,
// renames it over the target and flushes the folder. Abandon() (and the destructor) removes it.
// Every live temporary is in a process-wide registry; InstallSignalCleanup() makes SIGINT and
// SIGTERM remove them before the process dies of the signal, and RemoveLeftovers() removes those of
// processes that are gone (a kill -9, a power cut).
//
// A final name that is a symbolic link is written through: the link stays, its target is
// replaced. A final name that is a device, a FIFO, a socket or a folder is refused.
#include <cstddef>
#include <memory>
#include <ostream>
#include <string>

namespace ql {

// The file name suffix of every temporary.
inline constexpr const char* kPartialSuffix = ".qlpart";

// Whether a file name (without folder) has the form of a temporary.
bool IsPartialName(const std::string& fileName);

// The path a write to name replaces: name itself, or the end of its chain of symbolic links
// (a dangling link gives the path it points to). Throws EInOutError with a message naming the
// file when that is not a regular file (device, FIFO, socket, folder) or the links loop.
std::string ResolveOutputTarget(const std::string& name);

class PartialFile {
 public:
  PartialFile() = default;
  explicit PartialFile(const std::string& finalName, bool keepExtension = false) {
    Create(finalName, keepExtension);
  }
  ~PartialFile() { Abandon(); }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // Creates the temporary for finalName (any earlier one of this object is abandoned). The
  // temporary takes the permissions of the file it will replace. keepExtension ends the
  // temporary's name with the target's extension too (".x.mp3.<pid>-<n>.qlpart.mp3"), for a
  // program given the temporary that picks its format by the name. Throws EInOutError ("Disk
  // full", "Access denied", ... or the message of ResolveOutputTarget).
  void Create(const std::string& finalName, bool keepExtension = false);
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& FinalName() const { return final_; }
  // Where the file lands on Commit (the final name with its links resolved).
  const std::string& TargetPath() const { return target_; }
  const std::string& TempPath() const { return temp_; }
  // The temporary's descriptor (read and write), -1 when none is open. Others may write
  // through it or open TempPath() themselves; Commit() still owns the closing.
  int Fd() const { return fd_; }

  // Appends all bytes at the descriptor's position. Throws EInOutError; the temporary stays
  // until Abandon() or the destructor.
  void Write(const void* data, std::size_t size);
  // fsync, close, rename over the target, fsync of the folder. Throws EInOutError; the
  // temporary is then removed and the target untouched. sync false leaves out both fsyncs,
  // for a caller that renames the file once more after syncing it itself.
  void Commit(bool sync = true);
  // Closes and removes the temporary; nothing happens to the target. Never throws.
  void Abandon() noexcept;

 private:
  std::string final_, target_, temp_;
  int fd_ = -1;
  int slot_ = -1;  // registry slot
};

// An output stream whose bytes go to a PartialFile (through a buffer of its own). A failed
// write sets badbit; Commit() then throws that write's error instead of renaming.
class PartialFileStream : public std::ostream {
 public:
  PartialFileStream();
  ~PartialFileStream() override;
  // As PartialFile::Create; clears the stream's state.
  void Create(const std::string& finalName);
  // Flushes and commits. Throws EInOutError (the failed write's, or the commit's); the
  // temporary is then removed and the target untouched.
  void Commit();
  void Abandon() noexcept;
  const PartialFile& File() const;

 private:
  class Buf;
  std::unique_ptr<Buf> buf_;
};

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove every live temporary, then let
// the process die of the signal (its exit status says so). Idempotent.
void InstallSignalCleanup();
// Removes every live temporary of this process. Async-signal-safe.
void RemoveLiveTemporaries() noexcept;
// Removes temporaries in dir (empty: the current folder) left by processes that no longer
// run. Returns how many were removed.
int RemoveLeftovers(const std::string& dir);

}  // namespace ql
