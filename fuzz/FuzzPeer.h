#pragma once
// A loopback peer for the client fuzzers: it accepts one connection at a time and answers each
// request with the next piece of the fuzz input (pieces separated by a NUL byte), then closes.
// A client therefore never waits for a time-out: every wait ends with an answer or a close.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qlfuzz {

class FuzzPeer {
 public:
  // http: a request ends with an empty line (else with a line end); greet: the first piece is
  // sent on connecting, before any request (the line protocol's greeting).
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
    thread_ = std::thread([this] { Serve(); });
    thread_.detach();
  }
  int port() const { return port_; }
  // The pieces answered from now on, shared by every connection of one input.
  void SetInput(const std::uint8_t* data, std::size_t size) {
    std::lock_guard lock(mutex_);
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
  }

 private:
  bool NextPiece(std::string& piece) {
    std::lock_guard lock(mutex_);
    if (next_ >= pieces_.size()) return false;
    piece = pieces_[next_++];
    return true;
  }
  void Serve() {
    for (;;) {
      int c = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      // A client waits for the rest of a reply the input never gives: close soon instead.
      timeval tv{0, 50000};
      setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      std::string piece, got;
      bool open = true;
      if (greet_) open = NextPiece(piece) && Send(c, piece);
      while (open) {
        char buf[4096];
        ssize_t n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
        const char* end = http_ ? "\r\n\r\n" : "\n";
        std::size_t p;
        while (open && (p = got.find(end)) != std::string::npos) {
          got.erase(0, p + std::strlen(end));
          open = NextPiece(piece) && Send(c, piece);
          if (http_) open = false;  // one request per connection
        }
      }
      close(c);
    }
  }
  static bool Send(int c, const std::string& s) {
    return send(c, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
  }

  bool http_, greet_;
  int listen_ = -1, port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> pieces_;
  std::size_t next_ = 0;
};

}  // namespace qlfuzz
