// trackwell: the command-line front end over the sound components.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CDImages.h"
#include "CommandLine.h"
#include "Commands.h"
#include "Exception.h"
#include "PartialFile.h"

int main(int argc, char** argv) {
  using namespace trackwell;
  ql::SetCommandLine(argc, argv);
  // Ctrl-C or a kill leaves no unfinished output: live temporaries are removed, then the
  // process ends with the signal's status.
  ql::InstallSignalCleanup();
  // Leading "--image FILE" pairs offer disc images as drives to every command.
  std::vector<char*> rest{argv[0]};
  int i = 1;
  for (; i + 1 < argc && !std::strcmp(argv[i], "--image"); i += 2) {
    try {
      AddImage(argv[i + 1]);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "trackwell: %s\n", e.what());
      return 1;
    }
  }
  if (i < argc && !std::strcmp(argv[i], "--image")) {
    std::fprintf(stderr, "trackwell: --image needs a file\n");
    return 2;
  }
  for (; i < argc; ++i) rest.push_back(argv[i]);
  argc = static_cast<int>(rest.size());
  argv = rest.data();
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
