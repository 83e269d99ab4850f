// ini_write_probe FILE SECTION KEY VALUE: one profile write, for tests that run it under the
// fault injector. Exit 0 when written, 1 (with the message) when it failed, 2 when refused.
#include <cstdio>
#include <exception>

#include "Profile.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: ini_write_probe FILE SECTION KEY VALUE\n");
    return 2;
  }
  try {
    if (!TIniFile(argv[1]).WriteString(argv[2], argv[3], argv[4])) {
      std::fprintf(stderr, "ini_write_probe: refused\n");
      return 2;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ini_write_probe: %s\n", e.what());
    return 1;
  }
  return 0;
}
