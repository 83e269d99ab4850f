#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "NetTestSupport.h"
#include "WSocket.h"

using namespace ql::net;

namespace {

// A listening loopback socket; accepted peers are plain blocking sockets.
class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(listen(fd_, 4), 0);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() { close(fd_); }
  int Accept() { return accept(fd_, nullptr, nullptr); }
  std::string port() const { return std::to_string(port_); }

 private:
  int fd_;
  int port_;
};

std::string ReadAll(int fd, size_t n) {
  std::string s;
  char buf[65536];
  while (s.size() < n) {
    ssize_t r = read(fd, buf, sizeof buf);
    if (r <= 0) break;
    s.append(buf, static_cast<size_t>(r));
  }
  return s;
}

}  // namespace

TEST(WSocket, ConnectExchangeAndPeerCloseInOrder) {
  qltest::Loop loop;
  Listener server;
  TWSocket sock;
  std::vector<std::string> events;
  std::string received;
  sock.OnChangeState = [&](TCustomWSocket*, TSocketState, TSocketState s) {
    events.push_back("state" + std::to_string(s));
  };
  sock.OnSessionConnected = [&](TCustomWSocket* s, int e) {
    events.push_back("connected" + std::to_string(e));
    s->SendStr("hello");
  };
  sock.OnDataSent = [&](TCustomWSocket*, int e) { events.push_back("sent" + std::to_string(e)); };
  sock.OnDataAvailable = [&](TCustomWSocket* s, int) { received += s->ReceiveStr(); };
  sock.OnSessionClosed = [&](TCustomWSocket*, int e) {
    events.push_back("closed" + std::to_string(e));
  };
  sock.SetAddr("127.0.0.1");
  sock.SetPort(server.port());
  sock.Connect();
  EXPECT_EQ(sock.GetState(), wsConnecting);
  EXPECT_THROW(sock.SetAddr("x"), ESocketException);
  int peer = server.Accept();
  ASSERT_GE(peer, 0);
  ASSERT_TRUE(loop.RunUntil([&] { return events.size() >= 4; }));
  EXPECT_EQ(ReadAll(peer, 5), "hello");
  ASSERT_EQ(write(peer, "world", 5), 5);
  ASSERT_TRUE(loop.RunUntil([&] { return received == "world"; }));
  close(peer);
  ASSERT_TRUE(loop.RunUntil([&] { return sock.GetState() == wsClosed; }));
  loop.RunUntil([] { return false; }, 50);
  std::vector<std::string> want = {"state1", "state3", "state4", "connected0",
                                   "sent0",  "state7", "closed0"};
  EXPECT_EQ(events, want);
  // Closing resets the settings for the next connection.
  EXPECT_EQ(sock.GetAddr(), "");
  EXPECT_EQ(sock.GetPort(), "");
  EXPECT_EQ(sock.GetProto(), "tcp");
}

TEST(WSocket, RefusedConnectionReportsErrorThenCloses) {
  qltest::Loop loop;
  TWSocket sock;
  int connected_error = -1, closed = 0;
  sock.OnSessionConnected = [&](TCustomWSocket*, int e) { connected_error = e; };
  sock.OnSessionClosed = [&](TCustomWSocket*, int) { ++closed; };
  sock.SetAddr("127.0.0.1");
  sock.SetPort(std::to_string(qltest::FreePort()));
  sock.Connect();
  ASSERT_TRUE(loop.RunUntil([&] { return closed > 0; }));
  EXPECT_EQ(connected_error, 10061);
  EXPECT_EQ(WSocketErrorDesc(connected_error), "Connection refused");
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(sock.GetState(), wsClosed);
}

TEST(WSocket, NameLookup) {
  qltest::Loop loop;
  TWSocket sock;
  int done = 0, error = -1;
  sock.OnDnsLookupDone = [&](TCustomWSocket*, int e) {
    ++done;
    error = e;
  };
  sock.DnsLookup("127.0.0.1");  // a dotted address completes inside the call
  EXPECT_EQ(done, 1);
  EXPECT_EQ(sock.GetDnsResult(), "127.0.0.1");
  sock.DnsLookup("localhost");
  EXPECT_EQ(done, 1);
  ASSERT_TRUE(loop.RunUntil([&] { return done == 2; }));
  EXPECT_EQ(error, 0);
  EXPECT_EQ(sock.GetDnsResult(), "127.0.0.1");
  ASSERT_FALSE(sock.GetDnsResultList().empty());

  EXPECT_THROW(sock.DnsLookup(""), ESocketException);
  std::string msg;
  sock.OnError = [&](TCustomWSocket* s) { msg = s->GetLastErrorMessage(); };
  sock.DnsLookup("");
  EXPECT_EQ(msg, "DNS lookup: invalid host name.");
  EXPECT_EQ(error, 10022);
}

TEST(WSocket, CancelledOrDestroyedLookupNeverReports) {
  qltest::Loop loop;
  int done = 0;
  {
    TWSocket gone;
    gone.OnDnsLookupDone = [&](TCustomWSocket*, int) { ++done; };
    gone.DnsLookup("localhost");
  }
  TWSocket sock;
  sock.OnDnsLookupDone = [&](TCustomWSocket*, int) { ++done; };
  sock.DnsLookup("localhost");
  sock.CancelDnsLookup();
  loop.RunUntil([] { return false; }, 300);
  EXPECT_EQ(done, 0);
}

TEST(WSocket, SendWhenNotConnectedIsError10057) {
  qltest::Loop loop;
  TWSocket sock;
  try {
    sock.SendStr("x");
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Error 10057 in function Send\r\nSocket is not connected");
  }
  int errors = 0;
  sock.OnError = [&](TCustomWSocket*) { ++errors; };
  EXPECT_EQ(sock.SendStr("x"), -1);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(sock.GetLastError(), 10057);
  EXPECT_EQ(WSocketErrorDesc(12345), "Not a WinSock error");
}

TEST(WSocket, LargeSendIsQueuedAndDeliveredWhole) {
  qltest::Loop loop;
  Listener server;
  TWSocket sock;
  std::string data(3 * 1024 * 1024, '\0');
  std::mt19937 rng(7);
  for (auto& c : data) c = static_cast<char>(rng());
  int sent = 0;
  sock.OnSessionConnected = [&](TCustomWSocket* s, int) { s->SendStr(data); };
  sock.OnDataSent = [&](TCustomWSocket*, int) { ++sent; };
  sock.SetAddr("127.0.0.1");
  sock.SetPort(server.port());
  sock.Connect();
  int peer = server.Accept();
  std::string got;
  std::thread reader([&] { got = ReadAll(peer, data.size()); });
  ASSERT_TRUE(loop.RunUntil([&] { return sent > 0; }, 20000));
  reader.join();
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(sock.BufferedByteCount(), 0u);
  EXPECT_TRUE(got == data);
  close(peer);
}

TEST(WSocket, DataTheHandlerLeavesIsDropped) {
  qltest::Loop loop;
  Listener server;
  TWSocket sock;
  int calls = 0;
  bool connected = false;
  sock.OnSessionConnected = [&](TCustomWSocket*, int) { connected = true; };
  sock.OnDataAvailable = [&](TCustomWSocket*, int) { ++calls; };
  sock.SetAddr("127.0.0.1");
  sock.SetPort(server.port());
  sock.Connect();
  int peer = server.Accept();
  ASSERT_TRUE(loop.RunUntil([&] { return connected; }));
  ASSERT_EQ(write(peer, "ignored", 7), 7);
  ASSERT_TRUE(loop.RunUntil([&] { return calls > 0; }));
  loop.RunUntil([] { return false; }, 100);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(sock.GetRcvdCount(), 0);
  close(peer);
}

TEST(WSocket, ConnectChecksItsSettings) {
  qltest::Loop loop;
  TWSocket sock;
  std::string msg;
  sock.OnError = [&](TCustomWSocket* s) { msg = s->GetLastErrorMessage(); };
  sock.SetAddr("127.0.0.1");
  sock.Connect();
  EXPECT_EQ(msg, "Connect: No Port Specified");
  sock.SetPort("80");
  sock.SetAddr("");
  sock.Connect();
  EXPECT_EQ(msg, "Connect: No IP Address Specified");
  sock.SetAddr("127.0.0.1");
  sock.SetProto("");
  sock.Connect();
  EXPECT_EQ(msg, "Connect: No Protocol Specified");
}
