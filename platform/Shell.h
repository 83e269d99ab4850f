#pragma once
// The shell's "open" of a document or an address, through the desktop's opener (xdg-open).
#include <string>

namespace ql::shell {

// Starts the opener for target without waiting for it. Throws Exception when it cannot be
// started. $QL_SHELL_OPEN names another opener program (tests record what was opened).
void Open(const std::string& target);

}  // namespace ql::shell
