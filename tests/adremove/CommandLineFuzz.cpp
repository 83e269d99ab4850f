// Any bytes as a Windows command line: the argument string and its trimming stay inside the
// line, and the trimmed text is the line minus leading blanks, at most one quote at each end
// and the blanks after the closing quote.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Launcher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();  // the system's command line ends at the first NUL
  const char* tail = adremove::ArgumentString(line.c_str());
  if (tail < line.c_str() || tail > line.c_str() + line.size()) abort();

  std::string original = tail;
  std::string buffer = original;
  char* trimmed = adremove::TrimCommandLine(buffer.data());
  size_t start = trimmed - buffer.data();
  size_t length = std::strlen(trimmed);
  if (start > original.size() || start + length > original.size()) abort();
  if (original.compare(start, length, trimmed) != 0) abort();
  size_t blanks = original.find_first_not_of(' ');
  if (blanks == std::string::npos) blanks = original.size();
  if (start != blanks && !(start == blanks + 1 && original[blanks] == '"')) abort();
  if (start + length < original.size()) {
    if (original[start + length] != '"') abort();
    if (original.find_first_not_of(' ', start + length + 1) != std::string::npos) abort();
  }
  return 0;
}
