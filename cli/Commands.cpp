#include "Commands.h"

#include <algorithm>

namespace trackwell {

namespace {
std::vector<TCommand>& Registry() {
  static std::vector<TCommand> commands;
  return commands;
}
}  // namespace

TCommandRegistration::TCommandRegistration(TCommand command) {
  auto& r = Registry();
  r.push_back(std::move(command));
  std::sort(r.begin(), r.end(),
            [](const TCommand& a, const TCommand& b) { return a.name < b.name; });
}

const std::vector<TCommand>& Commands() {
  return Registry();
}

const TCommand* FindCommand(const std::string& name) {
  for (const auto& c : Registry())
    if (c.name == name) return &c;
  return nullptr;
}

void PrintUsage(std::FILE* out) {
  std::fprintf(out, "usage: trackwell COMMAND [ARGUMENTS]\n\ncommands:\n");
  for (const auto& c : Registry())
    std::fprintf(out, "  %-10s %s\n", c.name.c_str(), c.summary.c_str());
  std::fprintf(out, "\n'trackwell COMMAND --help' shows the arguments of a command.\n");
}

int UsageError(const TCommand& command, const std::string& message) {
  std::fprintf(stderr, "trackwell %s: %s\nusage: trackwell %s %s\n", command.name.c_str(),
               message.c_str(), command.name.c_str(), command.usage.c_str());
  return 2;
}

}  // namespace trackwell
