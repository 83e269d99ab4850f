#include "CommandLine.h"

#include <strings.h>

namespace ql {

namespace {
std::vector<std::string>& Params() {
  static std::vector<std::string> params;
  return params;
}
}  // namespace

void SetCommandLine(int argc, char** argv) {
  Params().assign(argv, argv + argc);
}

int ParamCount() {
  return Params().empty() ? 0 : static_cast<int>(Params().size()) - 1;
}

std::string ParamStr(int index) {
  if (index < 0 || index >= static_cast<int>(Params().size())) return {};
  return Params()[static_cast<size_t>(index)];
}

bool FindCmdLineSwitch(const std::string& name) {
  for (int i = 1; i <= ParamCount(); ++i) {
    const std::string& p = Params()[static_cast<size_t>(i)];
    if (p.size() == name.size() + 1 && (p[0] == '-' || p[0] == '/') &&
        strcasecmp(p.c_str() + 1, name.c_str()) == 0)
      return true;
  }
  return false;
}

}  // namespace ql
