#pragma once
// External encoder programs run by `trackwell rip --encoder`: the argument vector built from the
// template of the external encoder dialog ("$1" the wave file, "$2" the output file), the
// program started directly (no shell) with only standard input, output and error inherited.
#include <string>
#include <vector>

namespace trackwell {

// The program, then the template's words with the first "$1" and the first "$2" replaced by the
// paths; a path whose placeholder is missing is appended (wave first, then output).
std::vector<std::string> EncoderArgv(const std::string& program, const std::string& argsTemplate,
                                     const std::string& wave, const std::string& output);

struct EncoderResult {
  bool started = false;
  int status = -1;         // exit status when it exited
  int signal = 0;          // the signal that ended it
  std::string startError;  // why it could not start
};

// Runs the program and waits for it.
EncoderResult RunEncoder(const std::vector<std::string>& argv);

}  // namespace trackwell
