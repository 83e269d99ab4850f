#pragma once
// Programs started from a command line, as the system's own platform starts them: the line is
// split into arguments by the Windows rules (quotes group, backslashes escape only quotes) and
// the program is started directly, never through a shell.
#include <string>
#include <vector>

namespace ql::process {

// Show modes of a started program's window (hide, normal, minimize). Programs without a
// window, as command-line encoders are, ignore them.
enum ShowMode { kHide = 0, kShowNormal = 1, kMinimize = 6 };

// The arguments of a command line. The first one (the program) ends at the first blank outside
// quotes and takes quotes literally otherwise; the others follow the C run-time's rules:
// 2n backslashes before a quote give n backslashes and toggle quoting, 2n+1 give n and a
// literal quote, and "" inside quotes is a literal quote.
std::vector<std::string> SplitCommandLine(const std::string& command_line);

// Starts the program of the command line with the caller's environment and current directory.
// Returns its process id, or -1 when it cannot be started.
int Start(const std::string& command_line, ShowMode show = kShowNormal);
// Starts argv[0] (looked up in PATH when it holds no "/") with exactly these arguments. The
// child inherits standard input, output and error and no other descriptor. -1 when it cannot
// be started.
int Start(const std::vector<std::string>& argv, ShowMode show = kShowNormal);
// Waits without a time limit; the exit status, or -1.
int Wait(int pid);
// Start and Wait; -1 when the program could not be started.
int Run(const std::string& command_line, ShowMode show = kShowNormal);
int Run(const std::vector<std::string>& argv, ShowMode show = kShowNormal);

}  // namespace ql::process
