#include "WSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace ql::net {

// A running name lookup. The worker only touches the dispatcher while the lookup is not
// cancelled; cancelling (also by destroying the socket) happens under the same lock.
struct TCustomWSocket::DnsJob {
  std::mutex mutex;
  bool cancelled = false;
  Dispatcher* dispatcher = nullptr;
};

namespace {

// A dotted IPv4 address or an IPv6 literal (with or without its URL brackets).
std::string Unbracketed(const std::string& s) {
  return s.size() >= 2 && s.front() == '[' && s.back() == ']' ? s.substr(1, s.size() - 2) : s;
}

bool IsDottedAddress(const std::string& s) {
  in_addr a;
  in6_addr a6;
  return !s.empty() && (inet_pton(AF_INET, s.c_str(), &a) == 1 ||
                        inet_pton(AF_INET6, Unbracketed(s).c_str(), &a6) == 1);
}

// The text of an address found by the lookup, IPv4 or IPv6.
bool AddressText(const sockaddr* sa, std::string& text) {
  char buf[INET6_ADDRSTRLEN];
  const void* addr =
      sa->sa_family == AF_INET6
          ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr)
          : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(sa)->sin_addr);
  if (!inet_ntop(sa->sa_family, addr, buf, sizeof buf)) return false;
  text = buf;
  return true;
}

}  // namespace

TCustomWSocket::TCustomWSocket() = default;

TCustomWSocket::~TCustomWSocket() {
  FDestroying = true;
  FAlive.Kill();
  CancelDnsLookup();
  InternalClose(false, 0);
}

void TCustomWSocket::SetAddr(const std::string& value) {
  if (FState != wsClosed) {
    RaiseException("Cannot change Addr if not closed");
    return;
  }
  FAddr = value;
}

void TCustomWSocket::SetPort(const std::string& value) {
  if (FState != wsClosed) {
    RaiseException("Cannot change Port if not closed");
    return;
  }
  FPort = value;
}

void TCustomWSocket::SetProto(const std::string& value) {
  if (FState != wsClosed) {
    RaiseException("Cannot change Proto if not closed");
    return;
  }
  FProto = value;
}

int TCustomWSocket::GetRcvdCount() const {
  if (FHSocket < 0) return 0;
  int n = 0;
  if (ioctl(FHSocket, FIONREAD, &n) < 0) return 0;
  return n;
}

std::size_t TCustomWSocket::BufferedByteCount() const {
  std::size_t n = 0;
  for (const auto& b : FBufList) {
    int len;
    b->Peek(len);
    n += static_cast<std::size_t>(len);
  }
  return n;
}

void TCustomWSocket::RaiseException(const std::string& Msg) {
  FLastErrorMessage = Msg;
  if (OnError) {
    TriggerError();
    return;
  }
  throw ESocketException(Msg);
}

void TCustomWSocket::SocketError(const std::string& Func, int Code) {
  FLastError = Code;
  std::string msg =
      "Error " + std::to_string(Code) + " in function " + Func + "\r\n" + WSocketErrorDesc(Code);
  if (Code == WSAECONNRESET || Code == WSAENOTCONN) InternalClose(true, Code);
  RaiseException(msg);
}

void TCustomWSocket::TriggerError() {
  if (OnError) OnError(this);
}
void TCustomWSocket::TriggerDnsLookupDone(int Error) {
  if (OnDnsLookupDone) OnDnsLookupDone(this, Error);
}
void TCustomWSocket::TriggerSessionConnected(int Error) {
  if (OnSessionConnected) OnSessionConnected(this, Error);
}
void TCustomWSocket::TriggerDataAvailable(int Error) {
  if (OnDataAvailable) OnDataAvailable(this, Error);
}
void TCustomWSocket::TriggerDataSent(int Error) {
  if (OnDataSent) OnDataSent(this, Error);
}
void TCustomWSocket::TriggerSessionClosed(int Error) {
  if (OnSessionClosed) OnSessionClosed(this, Error);
}

void TCustomWSocket::ChangeState(TSocketState NewState) {
  TSocketState old = FState;
  FState = NewState;
  if (old != NewState && OnChangeState && !FDestroying) OnChangeState(this, old, NewState);
}

void TCustomWSocket::DnsLookup(const std::string& HostName) {
  CancelDnsLookup();
  FDnsResult.clear();
  FDnsResultList.clear();
  if (HostName.empty()) {
    FLastError = WSAEINVAL;
    RaiseException("DNS lookup: invalid host name.");
    TriggerDnsLookupDone(WSAEINVAL);
    return;
  }
  if (IsDottedAddress(HostName)) {
    FDnsResult = Unbracketed(HostName);
    FDnsResultList.push_back(FDnsResult);
    TriggerDnsLookupDone(0);
    return;
  }
  auto job = std::make_shared<DnsJob>();
  job->dispatcher = &Dispatch();
  FDnsJob = job;
  auto alive = FAlive.state();
  try {
    std::thread([this, job, alive, host = HostName] {
      // IPv4 and IPv6 (AAAA) addresses, in the order the resolver prefers them.
      addrinfo hints{};
      hints.ai_family = AF_UNSPEC;
      hints.ai_socktype = SOCK_STREAM;
      hints.ai_flags = AI_ADDRCONFIG;
      addrinfo* res = nullptr;
      int rc = getaddrinfo(host.c_str(), nullptr, &hints, &res);
      std::vector<std::string> list;
      if (rc == 0) {
        for (addrinfo* p = res; p; p = p->ai_next) {
          std::string t;
          if ((p->ai_family == AF_INET || p->ai_family == AF_INET6) && AddressText(p->ai_addr, t)) {
            bool seen = false;
            for (auto& e : list) seen = seen || e == t;
            if (!seen) list.push_back(t);
          }
        }
        freeaddrinfo(res);
      }
      int error = rc == 0 ? (list.empty() ? WSANO_DATA : 0) : WsaFromGai(rc);
      std::lock_guard lock(job->mutex);
      if (job->cancelled) return;
      job->dispatcher->Post([this, job, alive, error, list = std::move(list)] {
        std::lock_guard alive_lock(alive->mutex);
        if (!alive->alive || FDnsJob != job) return;
        FDnsJob.reset();
        FDnsResultList = list;
        FDnsResult = list.empty() ? std::string() : list.front();
        FLastError = error;
        TriggerDnsLookupDone(error);
      });
    }).detach();
  } catch (const std::system_error& e) {
    FDnsJob.reset();
    RaiseException(HostName + ": can't start DNS lookup, error #" +
                   std::to_string(e.code().value()));
  }
}

void TCustomWSocket::CancelDnsLookup() {
  if (!FDnsJob) return;
  std::lock_guard lock(FDnsJob->mutex);
  FDnsJob->cancelled = true;
  FDnsJob.reset();
}

bool TCustomWSocket::ResolveAddr(sockaddr_storage& ss, socklen_t& len) {
  std::memset(&ss, 0, sizeof ss);
  auto* sin = reinterpret_cast<sockaddr_in*>(&ss);
  auto* sin6 = reinterpret_cast<sockaddr_in6*>(&ss);
  std::string addr = Unbracketed(FAddr);
  if (inet_pton(AF_INET, addr.c_str(), &sin->sin_addr) == 1) {
    sin->sin_family = AF_INET;
    len = sizeof *sin;
  } else if (inet_pton(AF_INET6, addr.c_str(), &sin6->sin6_addr) == 1) {
    sin6->sin6_family = AF_INET6;
    len = sizeof *sin6;
  } else {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(addr.c_str(), nullptr, &hints, &res) != 0 || !res) {
      RaiseException("connect: Cannot convert host address '" + FAddr + "'");
      return false;
    }
    std::memcpy(&ss, res->ai_addr, res->ai_addrlen);
    len = res->ai_addrlen;
    freeaddrinfo(res);
  }
  std::uint16_t net_port = 0;
  char* end = nullptr;
  long port = std::strtol(FPort.c_str(), &end, 10);
  if (end && *end == 0 && port >= 0 && port <= 65535) {
    net_port = htons(static_cast<uint16_t>(port));
  } else if (servent* se = getservbyname(FPort.c_str(), FProto.c_str())) {
    net_port = static_cast<uint16_t>(se->s_port);
  } else {
    RaiseException("connect: Cannot convert port '" + FPort + "'");
    return false;
  }
  // Only stream sockets are offered; any other protocol name is refused.
  if (FProto != "tcp") {
    RaiseException("connect: Cannot convert protocol '" + FProto + "'");
    return false;
  }
  if (ss.ss_family == AF_INET6)
    sin6->sin6_port = net_port;
  else
    sin->sin_port = net_port;
  return true;
}

void TCustomWSocket::Connect() {
  if (FHSocket >= 0 && FState != wsClosed) return RaiseException("Connect: Socket already in use");
  if (FPort.empty()) return RaiseException("Connect: No Port Specified");
  if (FAddr.empty()) return RaiseException("Connect: No IP Address Specified");
  if (FProto.empty()) return RaiseException("Connect: No Protocol Specified");
  sockaddr_storage sin;
  socklen_t sin_len = 0;
  if (!ResolveAddr(sin, sin_len)) return;

  FHSocket = socket(sin.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (FHSocket < 0) return SocketError("Connect (socket)", WsaFromErrno(errno));
  FCloseInvoked = false;
  ChangeState(wsOpened);
  if (FLingerOnOff != wsLingerNoSet) {
    linger l{FLingerOnOff == wsLingerOn ? 1 : 0, FLingerTimeout};
    // A zero linger time with lingering on would reset the connection on close; the sockets of
    // the documents keep the graceful close there, which is the system's default.
    if (!(l.l_onoff && l.l_linger == 0)) setsockopt(FHSocket, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  }
  int one = 1;
  setsockopt(FHSocket, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  setsockopt(FHSocket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  FWatch = Dispatch().WatchFd(FHSocket, kFdWrite, [this](unsigned ev) { OnFdEvent(ev); });
  ChangeState(wsConnecting);
  if (::connect(FHSocket, reinterpret_cast<sockaddr*>(&sin), sin_len) != 0 &&
      errno != EINPROGRESS) {
    // Reported like an asynchronous failure: the connect notification carries the error.
    int err = WsaFromErrno(errno);
    Dispatch().Unwatch(FWatch);
    FWatch = 0;
    Dispatch().Post(FAlive, [this, err] {
      if (FState != wsConnecting) return;
      ChangeState(wsConnected);
      FLastError = err;
      TriggerSessionConnected(err);
      if (FState != wsClosed) InternalClose(true, err);
    });
  }
}

void TCustomWSocket::OnFdEvent(unsigned events) {
  if (FState == wsConnecting) {
    DoConnectDone();
    return;
  }
  if (FState != wsConnected) return;
  if (events & (kFdRead | kFdError)) DoRead();
  if (FState == wsConnected && (events & kFdWrite)) {
    TryToSend();
    if (FState == wsConnected && FBufList.size() <= 1 && BufferedByteCount() == 0) {
      UpdateWatch();
      TriggerDataSent(0);
    }
  }
}

void TCustomWSocket::DoConnectDone() {
  int soerr = 0;
  socklen_t len = sizeof soerr;
  getsockopt(FHSocket, SOL_SOCKET, SO_ERROR, &soerr, &len);
  int err = WsaFromErrno(soerr);
  ChangeState(wsConnected);
  FLastError = err;
  if (err == 0) UpdateWatch();
  TriggerSessionConnected(err);
  if (err != 0 && FState != wsClosed) InternalClose(true, err);
}

void TCustomWSocket::UpdateWatch() {
  if (!FWatch) return;
  unsigned ev = kFdRead;
  if (BufferedByteCount() > 0) ev |= kFdWrite;
  Dispatch().ModifyWatch(FWatch, ev);
}

void TCustomWSocket::DoRead() {
  int avail = GetRcvdCount();
  if (avail > 0) {
    while (avail > 0 && FState == wsConnected) {
      std::uint64_t before = FReceived;
      TriggerDataAvailable(0);
      if (FState != wsConnected) return;
      avail = GetRcvdCount();
      if (FReceived == before && avail > 0) {  // the handler took nothing: drop what it left
        std::vector<char> sink(static_cast<size_t>(avail));
        [[maybe_unused]] ssize_t n = recv(FHSocket, sink.data(), sink.size(), 0);
        return;
      }
    }
    return;
  }
  char probe;
  ssize_t n = recv(FHSocket, &probe, 1, MSG_PEEK);
  if (n > 0) return;  // data arrived meanwhile; the next notification takes it
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  int err = n == 0 ? 0 : WsaFromErrno(errno);
  FLastError = err;
  InternalClose(true, err);
}

int TCustomWSocket::Send(const void* Data, int Len) {
  if (FState != wsConnected) {
    SocketError("Send", WSAENOTCONN);
    return -1;
  }
  const char* p = static_cast<const char*>(Data);
  int left = Len;
  if (FBufList.empty()) FBufList.push_back(std::make_unique<TBuffer>(FBufSize));
  while (left > 0) {
    if (FBufList.back()->IsFull()) FBufList.push_back(std::make_unique<TBuffer>(FBufSize));
    int n = FBufList.back()->Write(p, left);
    p += n;
    left -= n;
  }
  TryToSend();
  if (FState != wsConnected) return Len;
  if (BufferedByteCount() == 0) {
    Dispatch().Post(FAlive, [this] {
      if (FState == wsConnected && BufferedByteCount() == 0) TriggerDataSent(0);
    });
  } else {
    UpdateWatch();
  }
  return Len;
}

void TCustomWSocket::TryToSend() {
  while (FHSocket >= 0 && !FBufList.empty()) {
    int len;
    const char* data = FBufList.front()->Peek(len);
    if (len <= 0) {
      if (FBufList.size() == 1) break;
      FBufList.pop_front();
      continue;
    }
    ssize_t n = ::send(FHSocket, data, static_cast<size_t>(len), MSG_NOSIGNAL);
    if (n < 0) {
      int err = WsaFromErrno(errno);
      if (errno == EINTR) continue;
      if (err == WSAEWOULDBLOCK) {
        UpdateWatch();
        return;
      }
      FLastError = err;
      if (err == WSAEINVAL || err == WSAENOTSOCK || err == WSAECONNRESET || err == WSAENOTCONN) {
        InternalClose(true, err);
        return;
      }
      RaiseException("TryToSend failed: Error " + std::to_string(err) + " " +
                     WSocketErrorDesc(err));
      return;
    }
    FBufList.front()->Remove(static_cast<int>(n));
  }
  UpdateWatch();
}

int TCustomWSocket::Receive(void* Buffer, int BufferSize) {
  if (FHSocket < 0) {
    FLastError = WSAENOTCONN;
    return -1;
  }
  ssize_t n = recv(FHSocket, Buffer, static_cast<size_t>(BufferSize < 0 ? 0 : BufferSize), 0);
  if (n < 0) {
    FLastError = WsaFromErrno(errno);
    return -1;
  }
  FReceived += static_cast<std::uint64_t>(n);
  return static_cast<int>(n);
}

std::string TCustomWSocket::ReceiveStr() {
  std::string s;
  int n = GetRcvdCount();
  if (n <= 0) return s;
  s.resize(static_cast<size_t>(n));
  int got = Receive(s.data(), n);
  s.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return s;
}

void TCustomWSocket::Close() {
  InternalClose(true, 0);
}

void TCustomWSocket::Abort() {
  FBufList.clear();
  CancelDnsLookup();
  InternalClose(true, 0);
}

void TCustomWSocket::InternalClose(bool fire, int error) {
  if (FHSocket < 0) {
    if (FState != wsClosed) {
      ChangeState(wsClosed);
      AssignDefaultValue();
    }
    return;
  }
  if (FWatch) Dispatch().Unwatch(FWatch);
  FWatch = 0;
  ::close(FHSocket);
  FHSocket = -1;
  FBufList.clear();
  ChangeState(wsClosed);
  // Reset first, so that a handler may set up the next connection.
  AssignDefaultValue();
  if (fire && !FDestroying && !FCloseInvoked) {
    FCloseInvoked = true;
    TriggerSessionClosed(error);
  }
}

void TCustomWSocket::AssignDefaultValue() {
  FAddr.clear();
  FPort.clear();
  FProto = "tcp";
}

}  // namespace ql::net
