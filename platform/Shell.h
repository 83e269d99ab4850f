#pragma once
// The shell's "open" of a document or an address, through the desktop's opener (xdg-open).
#include <chrono>
#include <string>

namespace ql::shell {

// How long Open waits for the opener's answer.
inline constexpr std::chrono::milliseconds kAnswerWait{1500};

// Starts the opener for target and waits up to kAnswerWait for its exit status. Throws
// Exception, naming the target and the reason, when it cannot be started or reports a failure
// (for instance no program is set up for mailto addresses); an opener still running by then is
// left to run. $QL_SHELL_OPEN names another opener program (tests record what was opened).
void Open(const std::string& target);

}  // namespace ql::shell
