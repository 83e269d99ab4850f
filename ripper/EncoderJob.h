#pragma once
// External encoder jobs: a command-line encoder run on a finished wave file. Used by the
// CD-extraction window's encoder jobs and by trackwell's rip. Any thread.
#include <string>
#include <vector>

namespace ripper {

// The argument vector of an encoder: the program, then the words of the argument template
// (split by the command-line rules: blanks separate, quotes group) where the first "$1" stands
// for the wave file and the first "$2" for the MP3 file, each as one argument of its own (text
// around a placeholder in the same word becomes an argument of its own too, as the quoted path
// with a blank on each side did on a command line). A placeholder missing from the template
// is appended: the wave file, then the MP3 file. The paths are never split or searched for
// placeholders, whatever they hold.
std::vector<std::string> EncoderArgv(const std::string& program, const std::string& arguments,
                                     const std::string& wave_path, const std::string& mp3_path);

struct TEncoderJob {
  std::string program, arguments;  // as in the External MP3 Encoder dialog
  std::string wavePath, mp3Path;
};

enum class TEncodeStatus {
  kDone,        // exit 0 and a non-empty MP3: the wave was deleted
  kNotStarted,  // the program could not be started
  kFailed,      // it exited non-zero or was ended by a signal
  kNoOutput,    // it exited 0 but left no MP3, or an empty one
};

struct TEncodeResult {
  TEncodeStatus status = TEncodeStatus::kNotStarted;
  int exitCode = -1;
  // For the user: why the wave was kept, or that a finished wave could not be erased. Empty
  // when there is nothing to tell.
  std::string message;
  bool ok() const { return status == TEncodeStatus::kDone; }
};

// Runs the job's encoder and waits for it. The wave is deleted only when the encoder exited 0
// and its MP3 exists and is not empty; otherwise the wave stays and the message says why.
TEncodeResult RunEncoderJob(const TEncoderJob& job);

}  // namespace ripper
