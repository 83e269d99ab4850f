#pragma once
// The program's command line as the components ask for it (the CD library looks for "/G").
#include <string>
#include <vector>

namespace ql {

void SetCommandLine(int argc, char** argv);
int ParamCount();
std::string ParamStr(int index);  // 0 is the program
// True when a parameter is "-NAME" or "/NAME" (letters compared without case).
bool FindCmdLineSwitch(const std::string& name);

}  // namespace ql
