// The player's search walk as a whole process without Qt, to set beside find(1): prints the
// paths found, as find does.
#include <cstdio>
#include <string>
#include <vector>

#include "MediaSearch.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::vector<std::string> found;
  player::Walk(argv[1], argc > 2 ? argv[2] : "*.mp3", found);
  for (const auto& f : found) std::printf("%s\n", f.c_str());
  return 0;
}
