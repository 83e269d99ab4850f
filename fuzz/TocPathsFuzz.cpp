// Any bytes as a cdrdao table of contents: the file names are made absolute, nothing else
// changes, and the text never shrinks.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "TocPaths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string out = cdda::AbsoluteTocPaths(text, "/some/dir/");
  if (out.size() < text.size()) std::abort();
  if (cdda::AbsoluteTocPaths(text, "") != text) std::abort();
  return 0;
}
