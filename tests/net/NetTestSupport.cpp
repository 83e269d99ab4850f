#include "NetTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

namespace qltest {

namespace {

const char* kPython = "/usr/bin/python3";

int Spawn(const std::vector<std::string>& argv, int* stdin_fd, int* stdout_fd) {
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if (stdin_fd && pipe2(in, O_CLOEXEC) != 0) return -1;
  if (stdout_fd && pipe2(out, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (stdin_fd)
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  else
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (stdout_fd)
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  else
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  if (stdin_fd) {
    close(in[0]);
    *stdin_fd = in[1];
  }
  if (stdout_fd) {
    close(out[1]);
    *stdout_fd = out[0];
  }
  return pid;
}

void Stop(int& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status;
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  pid = -1;
}

int PortInLine(const std::string& line) {
  std::string low;
  for (char c : line) low += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t p = low.find("port ");
  if (p == std::string::npos) return 0;
  return std::atoi(low.c_str() + p + 5);
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& argv, int wait_ms) {
  int out = -1;
  pid_ = Spawn(argv, &stdin_fd_, &out);
  if (pid_ <= 0) return;
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (port_ == 0 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c;
    if (read(out, &c, 1) != 1) break;
    if (c == '\n') {
      port_ = PortInLine(line);
      line.clear();
    } else {
      line += c;
    }
  }
  close(out);
}

ServerProcess::~ServerProcess() {
  if (stdin_fd_ >= 0) close(stdin_fd_);
  Stop(pid_);
}

std::string SourceDir() {
  return QL_TEST_SOURCE_DIR;
}

std::unique_ptr<ServerProcess> StartCddbServer(const std::string& dir,
                                               const std::vector<std::string>& switches) {
  std::vector<std::string> argv = {kPython, SourceDir() + "/cddb/cddb_server.py", "--dir", dir};
  argv.insert(argv.end(), switches.begin(), switches.end());
  return std::make_unique<ServerProcess>(argv);
}

std::unique_ptr<ServerProcess> StartHttpServer(const std::string& dir) {
  return std::make_unique<ServerProcess>(std::vector<std::string>{
      kPython, "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", dir});
}

std::unique_ptr<ServerProcess> StartScriptedHttpServer(const std::string& dir,
                                                       const std::vector<std::string>& switches) {
  std::vector<std::string> argv{kPython, SourceDir() + "/net/http_server.py", "--dir", dir};
  argv.insert(argv.end(), switches.begin(), switches.end());
  return std::make_unique<ServerProcess>(argv);
}

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

bool WaitConnectable(int port, int wait_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

Proxy::Proxy(const std::string& work_dir) {
  if (access("/usr/bin/tinyproxy", X_OK) != 0) return;
  int port = FreePort();
  std::string conf = work_dir + "/tinyproxy.conf";
  std::ofstream(conf) << "Port " << port << "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\n"
                      << "MaxClients 10\nLogLevel Critical\n";
  pid_ = Spawn({"/usr/bin/tinyproxy", "-d", "-c", conf}, nullptr, nullptr);
  if (pid_ > 0 && WaitConnectable(port, 5000)) port_ = port;
}

Proxy::~Proxy() {
  Stop(pid_);
}

Loop::Loop() {
  ql::SetDispatcher(&d_);
}
Loop::~Loop() {
  ql::SetDispatcher(nullptr);
}

bool Loop::RunUntil(const std::function<bool()>& pred, int ms) {
  return d_.RunUntil(pred, std::chrono::milliseconds(ms));
}

}  // namespace qltest
