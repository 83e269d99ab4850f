#include "TestFiles.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qltest {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "qltest-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

namespace {
void Put16(std::string& s, std::uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
void Put32(std::string& s, std::uint32_t v) {
  Put16(s, static_cast<std::uint16_t>(v & 0xFFFF));
  Put16(s, static_cast<std::uint16_t>(v >> 16));
}
}  // namespace

void WriteToneWav(const std::string& path, double seconds, double hz) {
  const std::uint32_t rate = 44100, frames = static_cast<std::uint32_t>(seconds * rate);
  const std::uint32_t data = frames * 4;
  std::string s = "RIFF";
  Put32(s, 36 + data);
  s += "WAVEfmt ";
  Put32(s, 16);
  Put16(s, 1);
  Put16(s, 2);
  Put32(s, rate);
  Put32(s, rate * 4);
  Put16(s, 4);
  Put16(s, 16);
  s += "data";
  Put32(s, data);
  s.reserve(s.size() + data);
  for (std::uint32_t i = 0; i < frames; ++i) {
    auto v = static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * hz * i / rate));
    Put16(s, static_cast<std::uint16_t>(v));
    Put16(s, static_cast<std::uint16_t>(v));
  }
  WriteFile(path, s);
}

bool WriteToneMp3(const std::string& path, double seconds) {
  std::string wav = path + ".src.wav";
  WriteToneWav(wav, seconds);
  int rc = Run("ffmpeg -loglevel error -y -i '" + wav + "' -codec:a libmp3lame -b:a 128k '" + path +
               "'");
  unlink(wav.c_str());
  return rc == 0;
}

int Run(const std::string& command) {
  int rc = std::system(command.c_str());
  return WEXITSTATUS(rc);
}

int RunCapture(const std::string& command, std::string* output) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  const int rc = pclose(p);
  if (output) *output = text;
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace qltest
