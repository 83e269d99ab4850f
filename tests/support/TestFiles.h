#pragma once
// Fixtures the tests generate: temporary folders and tone files.
#include <string>

namespace qltest {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// 16-bit stereo 44.1 kHz sine tone of the given length as a RIFF WAVE file.
void WriteToneWav(const std::string& path, double seconds, double hz = 440.0);
// An MP3 of the tone, made by ffmpeg from a tone wave file. False when ffmpeg is missing.
bool WriteToneMp3(const std::string& path, double seconds);
// Runs a shell command, returns its exit status.
int Run(const std::string& command);
// Runs a shell command; its standard output goes to *output; returns its exit status (-1 when
// it could not run or was killed).
int RunCapture(const std::string& command, std::string* output);

}  // namespace qltest
