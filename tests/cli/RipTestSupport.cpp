#include "RipTestSupport.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace riptest {

namespace {
std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}
}  // namespace

Result Trackwell(const std::string& cwd, const std::string& windows, const std::string& args,
                 const std::string& env) {
  Result r;
  const std::string errFile = cwd + "/.stderr.txt";
  r.status = qltest::RunCapture("cd " + Quote(cwd) + " && QL_WINDOWS_DIR=" + Quote(windows) + " " +
                                    env + " " TRACKWELL_PATH " " + args + " 2>" + Quote(errFile),
                                &r.out);
  r.err = qltest::ReadFile(errFile);
  unlink(errFile.c_str());
  return r;
}

Summary ParseSummary(const std::string& json) {
  // python's json module is the judge of the document; it hands the fields back one per line,
  // with the strings' bytes in hexadecimal.
  char tmpl[] = "/tmp/ripjsonXXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0) return {};
  close(fd);
  qltest::WriteFile(tmpl, json);
  std::string out;
  const int rc = qltest::RunCapture(
      std::string("/usr/bin/python3 -c '\n"
                  "import json, sys\n"
                  "d = json.load(open(sys.argv[1], encoding=\"utf-8\"))\n"
                  "h = lambda s: s.encode(\"utf-8\").hex() or \"-\"\n"
                  "print(\"ok\" if d[\"ok\"] is True else \"failed\")\n"
                  "for t in d[\"tracks\"]:\n"
                  "    print(t[\"number\"], h(t[\"name\"]), h(t[\"file\"]), t[\"bytes\"], "
                  "h(t[\"status\"]), h(t[\"crc32\"]), t[\"audio_bytes\"], t[\"skipped_sectors\"], "
                  "h(t.get(\"reason\", \"\")))\n"
                  "' ") +
          tmpl,
      &out);
  unlink(tmpl);
  Summary s;
  if (rc != 0) return s;
  auto unhex = [](const std::string& h) {
    std::string b;
    if (h == "-") return b;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
      b += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return b;
  };
  std::istringstream in(out);
  std::string first;
  in >> first;
  s.ok = first == "ok";
  JsonTrack t;
  std::string name, file, status, crc, reason;
  while (in >> t.number >> name >> file >> t.bytes >> status >> crc >> t.audioBytes >> t.skipped >>
         reason) {
    t.name = unhex(name);
    t.file = unhex(file);
    t.status = unhex(status);
    t.crc32 = unhex(crc);
    t.reason = unhex(reason);
    s.tracks.push_back(t);
  }
  s.parsed = true;
  return s;
}

std::string WaveAudio(const std::string& path) {
  std::string w = qltest::ReadFile(path);
  std::size_t p = 12;
  while (p + 8 <= w.size()) {
    std::uint32_t size;
    std::memcpy(&size, w.data() + p + 4, 4);
    if (w.compare(p, 4, "data") == 0) return w.substr(p + 8, size);
    p += 8 + size + (size & 1);
  }
  return {};
}

std::string ImageAudio(const qltest::CdImage& img, std::uint32_t first, std::uint32_t count) {
  return qltest::ReadFile(img.bin).substr(std::size_t(first) * 2352, std::size_t(count) * 2352);
}

std::string PythonCrc32(const std::string& file, long long offset, long long size) {
  std::string out;
  qltest::RunCapture(
      "/usr/bin/python3 -c 'import sys, zlib; f = open(sys.argv[1], \"rb\"); "
      "f.seek(int(sys.argv[2])); "
      "print(\"%08x\" % zlib.crc32(f.read(int(sys.argv[3]))))' " +
          Quote(file) + " " + std::to_string(offset) + " " + std::to_string(size),
      &out);
  return out.substr(0, out.find('\n'));
}

bool IsSideFile(const std::string& name) {
  auto ends = [&](const char* ext) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ext) == 0;
  };
  return ends(".log") || ends(".cue") || ends(".m3u");
}

std::vector<std::string> ListDir(const std::string& dir, bool all) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0 &&
          (all || !IsSideFile(e->d_name)))
        names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string StartCddbServer(const std::string& dir, const std::string& portFile,
                            const std::string& options) {
  // The server ends when sleep closes its input; nothing of it holds the test's own output.
  FILE* server = popen(("(sleep 30 | /usr/bin/python3 " QL_CDDB_SERVER " --dir " + Quote(dir) +
                        " " + options + ") > " + Quote(portFile) + " 2>/dev/null </dev/null &")
                           .c_str(),
                       "r");
  if (!server) return {};
  pclose(server);
  for (int i = 0; i < 200; ++i) {
    std::string text = qltest::ReadFile(portFile);
    if (text.rfind("PORT ", 0) == 0 && text.find('\n') != std::string::npos)
      return text.substr(5, text.find('\n') - 5);
    usleep(50000);
  }
  return {};
}

double BestSnr(const std::string& original, const std::string& decoded) {
  auto sample = [](const std::string& s, std::size_t frame, int ch) {
    std::int16_t v;
    std::memcpy(&v, s.data() + frame * 4 + ch * 2, 2);
    return static_cast<double>(v);
  };
  const std::size_t a = original.size() / 4, b = decoded.size() / 4;
  if (a < 8192 || b < 8192) return -100;
  std::size_t best = 0;
  double bestErr = 1e300;
  for (std::size_t off = 0; off < 4000 && off + 4096 < b; ++off) {
    double err = 0;
    for (std::size_t i = 2048; i < 4096; ++i) {
      double d = sample(decoded, i + off, 0) - sample(original, i, 0);
      err += d * d;
    }
    if (err < bestErr) bestErr = err, best = off;
  }
  double sig = 0, noise = 0;
  for (std::size_t i = 0; i + best < b && i < a; ++i)
    for (int ch = 0; ch < 2; ++ch) {
      const double o = sample(original, i, ch), d = sample(decoded, i + best, ch) - o;
      sig += o * o;
      noise += d * d;
    }
  return 10 * std::log10(sig / std::max(noise, 1.0));
}

}  // namespace riptest
