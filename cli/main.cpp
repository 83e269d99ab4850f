// trackwell: the command-line front end over the sound components.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CDImages.h"
#include "CommandLine.h"
#include "Commands.h"
#include "Exception.h"
#include "MMCDRead.h"
#include "PartialFile.h"

#ifndef QL_VERSION
#define QL_VERSION "1.09"
#endif

namespace {

using namespace trackwell;

bool IsNumber(const std::string& s) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// "--device /dev/sr0" or "--device disc.cue": the index of that drive (an image not yet
// offered is added). Throws with a message when there is no such drive.
std::string DeviceIndex(const std::string& value) {
  char buf[PATH_MAX];
  if (!realpath(value.c_str(), buf))
    throw std::runtime_error("--device: no drive or disc image '" + value + "'");
  std::string path = buf;
  struct stat st;
  if (stat(buf, &st) == 0 && S_ISREG(st.st_mode)) {
    bool known = false;
    for (const auto& p : ImagePaths()) known = known || p == path;
    if (!known) AddImage(value);
  }
  TMMCDReader reader;
  for (int i = 0; i < reader.NumDevices(); ++i) {
    // A drive may be listed under a link ("/dev/cdrom") to the path given ("/dev/sr0").
    std::string name = reader.DeviceName(i);
    char real[PATH_MAX];
    if (name == path || name == value || (realpath(name.c_str(), real) && path == real))
      return std::to_string(i);
  }
  throw std::runtime_error("--device: no drive or disc image '" + value + "'");
}

// A private folder for an output that goes to standard output once it is whole.
struct StdoutOutput {
  std::string dir, file;
  ~StdoutOutput() {
    if (!file.empty()) unlink(file.c_str());
    if (!dir.empty()) rmdir(dir.c_str());
  }
};

bool CopyToStdout(const std::string& file, int out) {
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  close(fd);
  return ok;
}

int Main(int argc, char** argv) {
  ql::SetCommandLine(argc, argv);
  // Ctrl-C or a kill leaves no unfinished output: live temporaries are removed, then the
  // process ends with the signal's status.
  ql::InstallSignalCleanup();
  // Options as scripts write them: "--name=value" is "--name value"; "--image FILE" may stand
  // anywhere on the line (before or after the command) and offers a disc image as a drive.
  std::vector<std::string> line;
  bool literal = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (literal) {
      line.push_back(a);
      continue;
    }
    if (a == "--") {
      literal = true;
      line.push_back(a);
      continue;
    }
    size_t eq = a.find('=');
    if (a.size() > 2 && a.compare(0, 2, "--") == 0 && eq != std::string::npos && eq > 2) {
      line.push_back(a.substr(0, eq));
      line.push_back(a.substr(eq + 1));
    } else {
      line.push_back(a);
    }
  }
  std::vector<std::string> rest;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == "--") {
      rest.insert(rest.end(), line.begin() + static_cast<long>(i), line.end());
      break;
    }
    if (line[i] != "--image") {
      rest.push_back(line[i]);
      continue;
    }
    if (i + 1 >= line.size() || line[i + 1].empty()) {
      std::fprintf(stderr, "trackwell: --image needs a file\n");
      return 2;
    }
    try {
      AddImage(line[++i]);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "trackwell: --image: %s\n", e.what());
      return 1;
    }
  }
  if (rest.empty() || rest[0] == "help" || rest[0] == "--help" || rest[0] == "-h") {
    PrintUsage(rest.empty() ? stderr : stdout);
    return rest.empty() ? 2 : 0;
  }
  if (rest[0] == "--version") {
    std::printf("trackwell %s\n", QL_VERSION);
    return 0;
  }
  const TCommand* command = FindCommand(rest[0]);
  if (!command) {
    std::fprintf(stderr, "trackwell: unknown command '%s'\n", rest[0].c_str());
    PrintUsage(stderr);
    return 2;
  }
  std::vector<std::string> args(rest.begin() + 1, rest.end());
  for (const auto& a : args)
    if (a == "--help" || a == "-h") {
      std::printf("usage: trackwell %s %s\n%s\n", command->name.c_str(), command->usage.c_str(),
                  command->summary.c_str());
      return 0;
    }
  StdoutOutput to_stdout;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--") break;
    if (args[i] == "--device" && i + 1 < args.size() && !IsNumber(args[i + 1])) {
      try {
        args[i + 1] = DeviceIndex(args[i + 1]);
      } catch (const std::exception& e) {
        return UsageError(*command, e.what());
      }
    }
    if (args[i] == "-o" && i + 1 < args.size() && args[i + 1] == "-") {
      // "-o -": the output is made whole in a private folder, then copied to standard
      // output (a wave file's header is completed at its end, so it cannot be streamed).
      const char* tmp = std::getenv("TMPDIR");
      std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/trackwell.XXXXXX";
      if (!mkdtemp(templ.data())) {
        std::fprintf(stderr, "trackwell %s: cannot make a temporary folder: %s\n",
                     command->name.c_str(), std::strerror(errno));
        return 1;
      }
      to_stdout.dir = templ;
      to_stdout.file = templ + "/output";
      args[i + 1] = to_stdout.file;
    }
  }
  int saved_stdout = -1;
  if (!to_stdout.file.empty()) {
    // What the command prints goes to standard error; standard output carries the file only.
    std::fflush(stdout);
    saved_stdout = dup(1);
    dup2(2, 1);
  }
  int rc;
  try {
    rc = command->run(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trackwell %s: %s\n", command->name.c_str(), e.what());
    rc = 1;
  }
  if (saved_stdout >= 0) {
    std::fflush(stdout);
    dup2(saved_stdout, 1);
    close(saved_stdout);
    if (rc == 0 && !CopyToStdout(to_stdout.file, 1)) {
      std::fprintf(stderr, "trackwell %s: writing to standard output failed: %s\n",
                   command->name.c_str(), std::strerror(errno));
      rc = 1;
    }
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trackwell: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "trackwell: unknown error\n");
  }
  return 1;
}
