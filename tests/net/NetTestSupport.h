#pragma once
// Peers for the network tests: server processes on loopback (started, their port read from
// their output, stopped with the object) and a dispatcher loop for the test's thread.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PollDispatcher.h"

namespace qltest {

// A program that prints a line holding "port N" (any case) once it listens.
class ServerProcess {
 public:
  explicit ServerProcess(const std::vector<std::string>& argv, int wait_ms = 10000);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  int port() const { return port_; }
  bool running() const { return port_ > 0; }

 private:
  int pid_ = -1;
  int stdin_fd_ = -1;
  int port_ = 0;
};

// The test CDDB server serving the entry folder dir, with extra switches.
std::unique_ptr<ServerProcess> StartCddbServer(const std::string& dir,
                                               const std::vector<std::string>& switches = {});
// "python3 -m http.server" on dir.
std::unique_ptr<ServerProcess> StartHttpServer(const std::string& dir);
// The scripted HTTP server of the tests (misbehaviours: no header, long lines, redirects).
// With "--ipv6" it listens on ::1.
std::unique_ptr<ServerProcess> StartScriptedHttpServer(
    const std::string& dir, const std::vector<std::string>& switches = {});

// tinyproxy on a free loopback port; port() is 0 when it cannot be started.
class Proxy {
 public:
  explicit Proxy(const std::string& work_dir);
  ~Proxy();
  int port() const { return port_; }

 private:
  int pid_ = -1;
  int port_ = 0;
};

int FreePort();
bool WaitConnectable(int port, int wait_ms);

// A poll loop installed as the process's dispatcher for the life of the object.
class Loop {
 public:
  Loop();
  ~Loop();
  bool RunUntil(const std::function<bool()>& pred, int ms = 10000);
  ql::PollDispatcher& dispatcher() { return d_; }

 private:
  ql::PollDispatcher d_;
};

}  // namespace qltest
