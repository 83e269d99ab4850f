#pragma once
// The error classes every layer raises. Messages are the system's own texts.
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// A file operation failed: "File not found", "Access denied", "Disk full", ...
class EInOutError : public Exception {
 public:
  EInOutError(int code, const std::string& message) : Exception(message), ErrorCode(code) {}
  int ErrorCode;
};

// A file could not be opened for a stream: "Cannot open file NAME".
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
};

// A file could not be created for a stream: "Cannot create file NAME".
class EFCreateError : public Exception {
 public:
  using Exception::Exception;
};

// A list was indexed outside its rows: "List index out of bounds (%d)".
class EListError : public Exception {
 public:
  explicit EListError(int index)
      : Exception("List index out of bounds (" + std::to_string(index) + ")") {}
};

// An ini file could not be written.
class EIniFileException : public Exception {
 public:
  using Exception::Exception;
};

namespace ql {
// The input/output error for an errno value, with the texts the system shows for them.
EInOutError InOutError(int err);
[[noreturn]] void ThrowInOutError(int err);
}  // namespace ql
