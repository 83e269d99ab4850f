#include "Process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace ql::process {

std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> args;
  size_t i = 0, n = line.size();
  auto blank = [&](size_t k) { return line[k] == ' ' || line[k] == '\t'; };
  while (i < n && blank(i)) ++i;
  if (i >= n) return args;
  // The program: quotes group and are dropped, nothing escapes.
  std::string program;
  bool quoted = false;
  for (; i < n; ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && blank(i)) {
      break;
    } else {
      program += line[i];
    }
  }
  args.push_back(program);
  for (;;) {
    while (i < n && blank(i)) ++i;
    if (i >= n) break;
    std::string arg;
    quoted = false;
    while (i < n && (quoted || !blank(i))) {
      if (line[i] == '\\') {
        size_t start = i;
        while (i < n && line[i] == '\\') ++i;
        size_t slashes = i - start;
        if (i < n && line[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2) {
            arg += '"';
            ++i;
          }
          // An even count leaves the quote to toggle quoting below.
        } else {
          arg.append(slashes, '\\');
        }
        continue;
      }
      if (line[i] == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg += '"';  // "" inside quotes
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += line[i++];
    }
    args.push_back(std::move(arg));
  }
  return args;
}

int Start(const std::string& command_line, ShowMode show) {
  return Start(SplitCommandLine(command_line), show);
}

int Start(const std::vector<std::string>& args, ShowMode) {
  if (args.empty() || args[0].empty()) return -1;
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Descriptors the parent holds open (sockets, files being recorded, pipes) stay out of the
  // child whether or not they were opened close-on-exec.
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  pid_t pid;
  int rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (rc == 0) rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int Wait(int pid) {
  if (pid <= 0) return -1;
  int status;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Run(const std::string& command_line, ShowMode show) {
  int pid = Start(command_line, show);
  return pid < 0 ? -1 : Wait(pid);
}

int Run(const std::vector<std::string>& argv, ShowMode show) {
  int pid = Start(argv, show);
  return pid < 0 ? -1 : Wait(pid);
}

}  // namespace ql::process
