#pragma once
// Directory listings with the attribute values the system tests, the current directory, and
// the other small file services. Attributes: read-only 1 (no write permission for the owner),
// hidden 2 (names starting with a dot), directory 16, archive 32 (regular files). A symbolic
// link to a directory carries 16 + 1024 (a reparse point), so a walk that enters only
// directories of exactly 16 or 17 never follows it. Other special files carry system 4.
#include <cstdint>
#include <string>
#include <vector>

namespace ql::fs {

enum : int {
  faReadOnly = 1,
  faHidden = 2,
  faSysFile = 4,
  faDirectory = 16,
  faArchive = 32,
  faReparsePoint = 1024,
};

struct TSearchRec {
  std::string Name;
  int Attr = 0;
  std::int64_t Size = 0;
};

// Whether name matches mask: '*' any run, '?' one character, without regard to case;
// "*.*" matches every name.
bool MatchesMask(const std::string& name, const std::string& mask);
enum FindFlags : int {
  kExactAttributes = 0,
  // Leave out the read-only bit: plain files and directories then need no stat() call.
  kNoReadOnlyBit = 1,
};

// Entries of dir whose names match mask, in the order the directory yields them; "." and ".."
// are not listed. A directory that cannot be read gives an empty list.
std::vector<TSearchRec> FindFiles(const std::string& dir, const std::string& mask,
                                  int flags = kExactAttributes);

std::string GetCurrentDir();
bool SetCurrentDir(const std::string& dir);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
bool DeleteFile(const std::string& path);
// Free bytes for an unprivileged user on the file system holding path; -1 when unknown.
std::int64_t DiskFree(const std::string& path);
std::string ExtractFilePath(const std::string& path);  // with the trailing '/'
std::string ExtractFileName(const std::string& path);
std::string IncludeTrailingPathDelimiter(const std::string& dir);

}  // namespace ql::fs
