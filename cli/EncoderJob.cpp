#include "EncoderJob.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Process.h"

extern char** environ;

namespace trackwell {

std::vector<std::string> EncoderArgv(const std::string& program, const std::string& argsTemplate,
                                     const std::string& wave, const std::string& output) {
  // The template is split as the dialog's command line is (quotes group words); the paths are
  // put in afterwards, so nothing in a file name can add or split an argument.
  std::vector<std::string> words = ql::process::SplitCommandLine("x " + argsTemplate);
  words.erase(words.begin());
  bool waveDone = false, outDone = false;
  for (auto& w : words) {
    if (!waveDone) {
      auto p = w.find("$1");
      if (p != std::string::npos) w.replace(p, 2, wave), waveDone = true;
    }
    if (!outDone) {
      auto p = w.find("$2");
      if (p != std::string::npos) w.replace(p, 2, output), outDone = true;
    }
  }
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), words.begin(), words.end());
  if (!waveDone) argv.push_back(wave);
  if (!outDone) argv.push_back(output);
  return argv;
}

EncoderResult RunEncoder(const std::vector<std::string>& argv) {
  EncoderResult r;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Only standard input, output and error reach the encoder.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    r.startError = std::strerror(rc);
    return r;
  }
  r.started = true;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return r;
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  return r;
}

}  // namespace trackwell
