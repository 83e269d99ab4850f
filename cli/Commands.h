#pragma once
// The subcommands of trackwell. Each lives in a file of its own (CmdProcess.cpp, ...) and
// registers itself with a static TCommandRegistration; main() dispatches on the first argument.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace trackwell {

struct TCommand {
  std::string name;
  std::string usage;    // the arguments, for the help text
  std::string summary;  // one line
  // Gets the arguments after the command name; returns the exit status.
  std::function<int(const std::vector<std::string>& args)> run;
};

struct TCommandRegistration {
  explicit TCommandRegistration(TCommand command);
};

const std::vector<TCommand>& Commands();
const TCommand* FindCommand(const std::string& name);
void PrintUsage(std::FILE* out);

// A wrong command line: the message, then the command's usage; exit status 2.
int UsageError(const TCommand& command, const std::string& message);

}  // namespace trackwell
