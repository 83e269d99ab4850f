#include "Exception.h"

#include <cerrno>
#include <cstring>

namespace ql {

EInOutError InOutError(int err) {
  switch (err) {
    case ENOENT:
      return EInOutError(2, "File not found");
    case ENOTDIR:
      return EInOutError(3, "Path not found");
    case EMFILE:
    case ENFILE:
      return EInOutError(4, "Too many open files");
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return EInOutError(5, "Access denied");
    case ENOSPC:
    case EDQUOT:
      return EInOutError(101, "Disk full");
    default:
      return EInOutError(
          err, std::string("I/O error ") + std::to_string(err) + ": " + std::strerror(err));
  }
}

void ThrowInOutError(int err) {
  throw InOutError(err);
}

}  // namespace ql
