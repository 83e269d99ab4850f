#pragma once
// A loopback peer for the client fuzzers: it answers each request with the next piece of the fuzz
// input (pieces separated by a NUL byte), and closes when the pieces run out.
//
// The peer runs on the client's own thread, inside the dispatcher the client waits in: loopback
// delivers at once, so when a few rounds of the loop pass with nothing to read on either side,
// the client is waiting for a reply the input never gives, and the peer closes at once instead of
// after a time-out. No input waits on a clock.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Dispatch.h"

namespace qlfuzz {

class FuzzPeer {
 public:
  // http: a request ends with an empty line and gets one answer, then the connection closes
  // (else a request ends with a line end); greet: the first piece is sent on connecting, before
  // any request (the line protocol's greeting). The client's dispatcher must be set already.
  FuzzPeer(bool http, bool greet) : http_(http), greet_(greet) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listen_, 8);
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ql::Dispatcher& d = ql::Dispatch();
    listen_watch_ = d.WatchFd(listen_, ql::kFdRead, [this](unsigned) { Accept(); });
    // Runs once every round of the loop (a time of 0): counts the rounds with nothing to do.
    idle_timer_ = d.SetTimer(0, [this] { Tick(); });
  }
  FuzzPeer(const FuzzPeer&) = delete;
  FuzzPeer& operator=(const FuzzPeer&) = delete;
  ~FuzzPeer() {
    CloseAll();
    ql::Dispatch().KillTimer(idle_timer_);
    ql::Dispatch().Unwatch(listen_watch_);
    close(listen_);
  }
  int port() const { return port_; }
  // The pieces answered from now on, shared by every connection of one input; a connection left
  // open by the last input is closed.
  void SetInput(const std::uint8_t* data, std::size_t size) {
    CloseAll();
    pieces_.clear();
    std::string cur;
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] == 0) {
        pieces_.push_back(cur);
        cur.clear();
      } else {
        cur += static_cast<char>(data[i]);
      }
    }
    pieces_.push_back(cur);
    next_ = 0;
    idle_ = 0;
  }

 private:
  struct Conn {
    ql::WatchId watch = 0;
    std::string got;
  };
  // Rounds of the loop with nothing to read before the client counts as waiting for good: one
  // round lets it read what was sent, the others let what it posted to itself run.
  static constexpr int kIdleRounds = 4;

  bool NextPiece(std::string& piece) {
    if (next_ >= pieces_.size()) return false;
    piece = pieces_[next_++];
    return true;
  }
  void Accept() {
    idle_ = 0;
    int c = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) return;
    std::string piece;
    if (greet_ && !(NextPiece(piece) && Send(c, piece))) {
      close(c);
      return;
    }
    conns_[c].watch = ql::Dispatch().WatchFd(c, ql::kFdRead, [this, c](unsigned) { Readable(c); });
  }
  void Readable(int c) {
    idle_ = 0;
    auto it = conns_.find(c);
    if (it == conns_.end()) return;
    char buf[4096];
    ssize_t n = recv(c, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return Close(c);
    if (n < 0) return;
    std::string& got = it->second.got;
    got.append(buf, static_cast<std::size_t>(n));
    const char* end = http_ ? "\r\n\r\n" : "\n";
    std::size_t p;
    while ((p = got.find(end)) != std::string::npos) {
      got.erase(0, p + std::strlen(end));
      std::string piece;
      if (!NextPiece(piece) || !Send(c, piece) || http_) return Close(c);  // one request each
    }
  }
  // Once every round: a round where the peer had nothing to do and nothing waits to be read on
  // its side counts as idle; enough of them in a row close what is open.
  void Tick() {
    if (conns_.empty()) return;
    std::vector<pollfd> fds{{listen_, POLLIN, 0}};
    for (const auto& [c, conn] : conns_) fds.push_back({c, POLLIN, 0});
    if (poll(fds.data(), fds.size(), 0) > 0) {
      idle_ = 0;
      return;
    }
    if (++idle_ >= kIdleRounds) CloseAll();
  }
  void Close(int c) {
    auto it = conns_.find(c);
    if (it == conns_.end()) return;
    ql::Dispatch().Unwatch(it->second.watch);
    conns_.erase(it);
    close(c);
  }
  void CloseAll() {
    while (!conns_.empty()) Close(conns_.begin()->first);
    idle_ = 0;
  }
  static bool Send(int c, const std::string& s) {
    return send(c, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
  }

  bool http_, greet_;
  int listen_ = -1, port_ = 0;
  ql::WatchId listen_watch_ = 0;
  ql::TimerId idle_timer_ = 0;
  std::map<int, Conn> conns_;
  std::vector<std::string> pieces_;
  std::size_t next_ = 0;
  int idle_ = 0;
};

}  // namespace qlfuzz
