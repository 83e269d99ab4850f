#pragma once
// Files that `trackwell rip` writes appear under their final names only when complete: each is
// written under a temporary name beside its target and renamed over it at the end. Unlike
// ql::PartialFile only the name is reserved, as the chain's file components create their
// files themselves (a wave file refuses to record over an existing file that is no wave).
#include <string>

namespace trackwell {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { Abandon(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Picks the temporary for finalPath; the writer creates the file.
  void Create(const std::string& finalPath);
  const std::string& FinalPath() const { return final_; }
  const std::string& TempPath() const { return temp_; }
  bool Active() const { return !temp_.empty(); }
  // Renames the temporary over the final name. Throws with a message naming the file.
  void Commit();
  // Removes the temporary. Never throws.
  void Abandon() noexcept;

 private:
  std::string final_, temp_;
  int slot_ = -1;
};

// SIGINT, SIGTERM and SIGHUP remove every live temporary, then end the process as the signal
// does. The temporaries are named as ql::PartialFile names its own, so ql::RemoveLeftovers
// removes those of a run that is gone.
void InstallOutputCleanup();

}  // namespace trackwell
