#pragma once
// The event-driven client socket. Non-blocking TCP over POSIX; the name lookup runs on a worker
// thread; every notification and event is delivered on the user-interface thread through the
// dispatcher (fd watches and posted calls), in the order: lookup done, session connected, data
// available / data sent, session closed.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <netinet/in.h>

#include "Dispatch.h"
#include "WSockbuf.h"
#include "WSocketErrors.h"

namespace ql::net {

enum TSocketState {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed
};

enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

class TCustomWSocket;
using TSessionEvent = std::function<void(TCustomWSocket* Sender, int Error)>;
using TChangeStateEvent =
    std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TSocketErrorEvent = std::function<void(TCustomWSocket* Sender)>;

class TCustomWSocket {
 public:
  TCustomWSocket();
  virtual ~TCustomWSocket();
  TCustomWSocket(const TCustomWSocket&) = delete;
  TCustomWSocket& operator=(const TCustomWSocket&) = delete;

  const std::string& GetAddr() const { return FAddr; }
  void SetAddr(const std::string& value);
  const std::string& GetPort() const { return FPort; }
  void SetPort(const std::string& value);
  const std::string& GetProto() const { return FProto; }
  void SetProto(const std::string& value);
  const std::string& GetDnsResult() const { return FDnsResult; }
  const std::vector<std::string>& GetDnsResultList() const { return FDnsResultList; }
  TSocketState GetState() const { return FState; }
  // Bytes that can be received now without waiting.
  int GetRcvdCount() const;
  int GetLastError() const { return FLastError; }
  // The message of the last error reported through the error path.
  const std::string& GetLastErrorMessage() const { return FLastErrorMessage; }
  bool GetMultiThreaded() const { return FMultiThreaded; }
  void SetMultiThreaded(bool value) { FMultiThreaded = value; }
  TSocketLingerOnOff GetLingerOnOff() const { return FLingerOnOff; }
  void SetLingerOnOff(TSocketLingerOnOff value) { FLingerOnOff = value; }
  int GetLingerTimeout() const { return FLingerTimeout; }
  void SetLingerTimeout(int value) { FLingerTimeout = value; }
  int GetFlushTimeout() const { return FFlushTimeout; }
  void SetFlushTimeout(int value) { FFlushTimeout = value; }
  // Bytes queued and not yet handed to the system.
  std::size_t BufferedByteCount() const;

  void DnsLookup(const std::string& HostName);
  void CancelDnsLookup();
  bool DnsLookupRunning() const { return FDnsJob != nullptr; }
  void Connect();
  // Queues data and sends what the system takes; returns len, or -1 when not connected.
  int Send(const void* Data, int Len);
  int SendStr(const std::string& Str) { return Send(Str.data(), static_cast<int>(Str.size())); }
  // Returns the count received, 0 at the end of the stream, -1 on error (LastError tells).
  int Receive(void* Buffer, int BufferSize);
  // Everything available now.
  std::string ReceiveStr();
  void Close();
  // Closes at once, dropping what is queued.
  void Abort();

  TSessionEvent OnDnsLookupDone;
  TSessionEvent OnSessionConnected;
  TSessionEvent OnDataAvailable;
  TSessionEvent OnDataSent;
  TSessionEvent OnSessionClosed;
  TChangeStateEvent OnChangeState;
  TSocketErrorEvent OnError;

 protected:
  virtual void TriggerDnsLookupDone(int Error);
  virtual void TriggerSessionConnected(int Error);
  virtual void TriggerDataAvailable(int Error);
  virtual void TriggerDataSent(int Error);
  virtual void TriggerSessionClosed(int Error);
  virtual void TriggerError();
  void ChangeState(TSocketState NewState);
  // "Error <code> in function <func>" CR LF <text>; 10054 and 10057 also close the socket.
  void SocketError(const std::string& Func, int Code);
  // The error path: OnError when assigned, else ESocketException.
  void RaiseException(const std::string& Msg);

 private:
  struct DnsJob;
  void OnFdEvent(unsigned events);
  void DoConnectDone();
  void DoRead();
  void TryToSend();
  void UpdateWatch();
  void InternalClose(bool fire, int error);
  void AssignDefaultValue();
  bool ResolveAddr(sockaddr_storage& ss, socklen_t& len);

  int FHSocket = -1;
  WatchId FWatch = 0;
  std::string FAddr;
  std::string FPort;
  std::string FProto = "tcp";
  std::string FDnsResult;
  std::vector<std::string> FDnsResultList;
  TSocketState FState = wsClosed;
  int FLastError = 0;
  std::string FLastErrorMessage;
  bool FMultiThreaded = false;
  TSocketLingerOnOff FLingerOnOff = wsLingerOn;
  int FLingerTimeout = 0;
  int FFlushTimeout = 60;
  bool FCloseInvoked = false;
  std::uint64_t FReceived = 0;  // bytes taken by Receive, to see whether a handler read
  bool FDestroying = false;
  std::deque<std::unique_ptr<TBuffer>> FBufList;
  int FBufSize = 1514;
  std::shared_ptr<DnsJob> FDnsJob;
  Alive FAlive;
};

// The layers of the class chain that this system does not use (SOCKS, line mode, synchronous
// waits) add nothing here; the chain is kept so that the names hold.
class TCustomSocksWSocket : public TCustomWSocket {};
class TCustomLineWSocket : public TCustomSocksWSocket {};
class TCustomSyncWSocket : public TCustomLineWSocket {};
class TWSocket : public TCustomSyncWSocket {};

}  // namespace ql::net
