#include "Shell.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "Exception.h"

extern char** environ;

namespace ql::shell {

void Open(const std::string& target) {
  const char* opener = std::getenv("QL_SHELL_OPEN");
  std::string program = opener && *opener ? opener : "xdg-open";
  char* argv[] = {program.data(), const_cast<char*>(target.c_str()), nullptr};
  pid_t pid;
  int rc = posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ);
  if (rc != 0)
    throw Exception("Unable to open " + target + ": " + program + ": " + std::strerror(rc));
  // Reap the opener in the background; it exits as soon as it has handed the target over.
  std::thread([pid] {
    int status;
    waitpid(pid, &status, 0);
  }).detach();
}

}  // namespace ql::shell
