#include "Shell.h"

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "Exception.h"

extern char** environ;

namespace ql::shell {

namespace {

// The exit statuses of xdg-open, as its manual gives them.
std::string Reason(int status) {
  switch (status) {
    case 1:
      return "the opener was called wrongly";
    case 2:
      return "the file does not exist";
    case 3:
      return "no program is set up to open it";
    case 4:
      return "the program that opens it failed";
    default:
      return "the opener failed with status " + std::to_string(status);
  }
}

}  // namespace

void Open(const std::string& target) {
  const char* opener = std::getenv("QL_SHELL_OPEN");
  std::string program = opener && *opener ? opener : "xdg-open";
  char* argv[] = {program.data(), const_cast<char*>(target.c_str()), nullptr};
  pid_t pid;
  int rc = posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ);
  if (rc != 0)
    throw Exception("Unable to open " + target + ": " + program + ": " + std::strerror(rc));
  // The opener hands the target over and ends; when it cannot (no program for the address,
  // nothing to open it with) it ends at once with a failing status. Wait a moment for that
  // answer; an opener still running after it (one that waits for the program it started) is
  // taken as a success and reaped in the background.
  auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
      if (WIFEXITED(status))
        throw Exception("Unable to open " + target + ": " + Reason(WEXITSTATUS(status)) + " (" +
                        program + ")");
      throw Exception("Unable to open " + target + ": " + program + " was killed by signal " +
                      std::to_string(WTERMSIG(status)));
    }
    if (done < 0) return;  // reaped elsewhere: nothing more to learn
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::thread([pid] {
    int status;
    waitpid(pid, &status, 0);
  }).detach();
}

}  // namespace ql::shell
