#pragma once
// The "http" command of the command-line front end:
//   http get URL -o FILE [--proxy HOST:PORT] [--timeout MS]
// args are the words after "http". Writes "status<TAB>N", "bytes<TAB>N" and
// "content-type<TAB>T" to out; errors go to err. Returns the exit code.
#include <ostream>
#include <string>
#include <vector>

namespace ql::net {
int RunHttpCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
}
