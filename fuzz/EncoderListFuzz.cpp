// Any bytes as one of the external encoder's list files (programs, names, argument templates):
// read as the dialog reads it, written back as it writes it (each item ended by CR LF through
// the atomic replace), and read again: the items come back unchanged, and a list written once
// is written the same way again.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TextFile.h"

namespace {

std::string Format(const std::vector<std::string>& items) {
  std::string bytes;
  for (const auto& i : items) bytes += i + "\r\n";
  return bytes;
}

// A folder in memory where there is one, so that the flush of each replace costs nothing.
std::string ListPath() {
  const std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return dir + "/ql-encoder-list-fuzz-" + std::to_string(getpid()) + ".ini";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = ListPath();
  ql::WriteFileAtomic(path, std::string(reinterpret_cast<const char*>(data), size));
  const auto items = ql::SplitLines(ql::ReadFileBytes(path));
  for (const auto& i : items)
    if (i.find('\n') != std::string::npos) __builtin_trap();
  const std::string written = Format(items);
  ql::WriteFileAtomic(path, written);
  const auto again = ql::SplitLines(ql::ReadFileBytes(path));
  if (again != items) __builtin_trap();
  if (Format(again) != written) __builtin_trap();
  return 0;
}
