#include "EncoderJob.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "PartialFile.h"
#include "Process.h"

namespace ripper {

namespace {

struct Part {
  std::string text;
  bool path = false;  // an inserted path: never searched again
};

}  // namespace

std::vector<std::string> EncoderArgv(const std::string& program, const std::string& arguments,
                                     const std::string& wave_path, const std::string& mp3_path) {
  // The template is split as the arguments of a command line (a stand-in program in front,
  // whose own rules differ).
  std::vector<std::string> words = ql::process::SplitCommandLine("x " + arguments);
  std::vector<Part> parts;
  for (std::size_t i = 1; i < words.size(); ++i) parts.push_back({words[i], false});
  std::vector<Part> tail;
  for (auto [digit, path] : {std::pair{'1', &wave_path}, std::pair{'2', &mp3_path}}) {
    const char needle[] = {'$', digit, 0};
    bool found = false;
    for (std::size_t w = 0; w < parts.size() && !found; ++w) {
      if (parts[w].path) continue;
      std::size_t pos = parts[w].text.find(needle);
      if (pos == std::string::npos) continue;
      found = true;
      std::string before = parts[w].text.substr(0, pos), after = parts[w].text.substr(pos + 2);
      std::vector<Part> repl;
      if (!before.empty()) repl.push_back({before, false});
      repl.push_back({*path, true});
      if (!after.empty()) repl.push_back({after, false});
      parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(w));
      parts.insert(parts.begin() + static_cast<std::ptrdiff_t>(w), repl.begin(), repl.end());
    }
    if (!found) tail.push_back({*path, true});
  }
  std::vector<std::string> argv = {program};
  for (auto& p : parts) argv.push_back(p.text);
  for (auto& p : tail) argv.push_back(p.text);
  return argv;
}

TEncodeResult RunEncoderJob(const TEncoderJob& job) {
  TEncodeResult r;
  const std::string kept = "; the wave file \"" + job.wavePath + "\" was kept.";
  // The encoder writes a temporary beside the MP3 (with its extension, for encoders that pick
  // the format by the name), named only when the encoding succeeded: a failing encoder never
  // leaves a half-written MP3 nor replaces an earlier one.
  ql::PartialFile out;
  try {
    out.Create(job.mp3Path, true);
  } catch (const std::exception& e) {
    r.status = TEncodeStatus::kNotStarted;
    r.message = "External MP3 encoder failed! " + std::string(e.what()) + kept;
    return r;
  }
  int pid = ql::process::Start(
      EncoderArgv(job.program, job.arguments, job.wavePath, out.TempPath()), ql::process::kHide);
  if (pid < 0) {
    r.status = TEncodeStatus::kNotStarted;
    r.message = "External MP3 encoder failed! \"" + job.program + "\" could not be started" + kept;
    return r;
  }
  r.exitCode = ql::process::Wait(pid);
  if (r.exitCode != 0) {
    r.status = TEncodeStatus::kFailed;
    r.message = "External MP3 encoder failed! \"" + job.program + "\" " +
                (r.exitCode < 0 ? std::string("ended abnormally")
                                : "exited with code " + std::to_string(r.exitCode)) +
                kept;
    return r;
  }
  struct stat st;
  if (stat(out.TempPath().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
    r.status = TEncodeStatus::kNoOutput;
    r.message = "External MP3 encoder failed! \"" + job.program + "\" wrote no MP3 file \"" +
                job.mp3Path + "\"" + kept;
    return r;
  }
  try {
    out.Commit();
  } catch (const std::exception& e) {
    r.status = TEncodeStatus::kNoOutput;
    r.message = "External MP3 encoder failed! " + std::string(e.what()) + kept;
    return r;
  }
  r.status = TEncodeStatus::kDone;
  if (unlink(job.wavePath.c_str()) != 0 && errno != ENOENT)
    r.message = "Failed to erase the file \"" + job.wavePath + "\".";
  return r;
}

}  // namespace ripper
