#include "Fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <memory>

namespace ql::fs {

namespace {

char Fold(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool Match(const char* n, const char* m) {
  // Iterative glob with one backtrack point: linear for the masks the system uses.
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*n) {
    if (*m == '*') {
      star = m++;
      resume = n;
    } else if (*m == '?' || (*m && Fold(*m) == Fold(*n))) {
      ++m;
      ++n;
    } else if (star) {
      m = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (*m == '*') ++m;
  return *m == 0;
}

int AttrOf(int dirfd, const char* name, unsigned char type, std::int64_t* size, int flags) {
  int attr = name[0] == '.' ? faHidden : 0;
  if (flags & kNoReadOnlyBit) {
    if (type == DT_DIR) return attr | faDirectory;
    if (type == DT_REG) return attr | faArchive;
  }
  struct stat st;
  bool link = type == DT_LNK;
  if (type == DT_UNKNOWN) {
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return attr | faArchive;
    link = S_ISLNK(st.st_mode);
  }
  if (fstatat(dirfd, name, &st, 0) != 0) {
    // A dangling link: list it as a plain file nobody can open.
    return attr | faArchive;
  }
  *size = st.st_size;
  if (!(st.st_mode & S_IWUSR)) attr |= faReadOnly;
  if (S_ISDIR(st.st_mode))
    attr |= faDirectory | (link ? faReparsePoint : 0);
  else if (S_ISREG(st.st_mode))
    attr |= faArchive;
  else
    attr |= faSysFile;
  return attr;
}

}  // namespace

bool MatchesMask(const std::string& name, const std::string& mask) {
  if (mask == "*.*" || mask == "*") return true;
  return Match(name.c_str(), mask.c_str());
}

std::vector<TSearchRec> FindFiles(const std::string& dir, const std::string& mask, int flags) {
  std::vector<TSearchRec> result;
  std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.empty() ? "." : dir.c_str()), closedir);
  if (!d) return result;
  int fd = dirfd(d.get());
  while (dirent* e = readdir(d.get())) {
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    if (!MatchesMask(name, mask)) continue;
    TSearchRec rec;
    rec.Name = name;
    rec.Attr = AttrOf(fd, name, e->d_type, &rec.Size, flags);
    result.push_back(std::move(rec));
  }
  return result;
}

std::string GetCurrentDir() {
  char buf[PATH_MAX];
  if (!getcwd(buf, sizeof buf)) return {};
  return buf;
}

bool SetCurrentDir(const std::string& dir) {
  return chdir(dir.c_str()) == 0;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

std::int64_t DiskFree(const std::string& path) {
  struct statvfs vfs;
  if (statvfs(path.empty() ? "." : path.c_str(), &vfs) != 0) return -1;
  return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

std::string ExtractFilePath(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string IncludeTrailingPathDelimiter(const std::string& dir) {
  return !dir.empty() && dir.back() == '/' ? dir : dir + "/";
}

}  // namespace ql::fs
