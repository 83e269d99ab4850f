// trackwell: the command-line front end over the sound components.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Commands.h"
#include "Exception.h"

int main(int argc, char** argv) {
  using namespace trackwell;
  if (argc < 2 || !std::strcmp(argv[1], "help") || !std::strcmp(argv[1], "--help") ||
      !std::strcmp(argv[1], "-h")) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const TCommand* command = FindCommand(argv[1]);
  if (!command) {
    std::fprintf(stderr, "trackwell: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return 2;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto& a : args)
    if (a == "--help" || a == "-h") {
      std::printf("usage: trackwell %s %s\n%s\n", command->name.c_str(), command->usage.c_str(),
                  command->summary.c_str());
      return 0;
    }
  try {
    return command->run(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trackwell %s: %s\n", command->name.c_str(), e.what());
    return 1;
  }
}
