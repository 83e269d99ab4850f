#pragma once
// The HTTP/1.0 client: one request at a time over a TWSocket, the body written into a receive
// stream, redirections followed, every event delivered on the user-interface thread.
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Dispatch.h"
#include "Exception.h"
#include "HttpHeader.h"
#include "WSocket.h"

namespace ql::net {

class EHttpException : public Exception {
 public:
  EHttpException(const std::string& msg, int code) : Exception(msg), ErrorCode(code) {}
  int ErrorCode;
};

enum THttpRequest { httpGET, httpPOST, httpHEAD };
enum THttpState {
  httpReady,
  httpNotConnected,
  httpConnected,
  httpDnsLookup,
  httpDnsLookupDone,
  httpWaitingHeader,
  httpWaitingBody,
  httpAborting
};

// Request-done error codes besides the socket's.
enum : int {
  httperrBusy = 1,
  httperrNoData = 2,
  httperrAborted = 3,
  httperrOverflow = 4,
  httperrTooManyRedirects = 5,
  httperrTimeout = 6,
  httperrIncomplete = 7,
  httperrProtocol = 8,  // an address this client cannot fetch (https, ftp, ...)
  httperrBadReply = 9,  // no valid status line, a broken chunked body
};

class THttpCli;
using THttpNotify = std::function<void(THttpCli* Sender)>;
using THttpDataEvent = std::function<void(THttpCli* Sender, const char* Buffer, int Len)>;
using THttpRequestDone = std::function<void(THttpCli* Sender, THttpRequest RqType, int Error)>;
using THttpCommandEvent = std::function<void(THttpCli* Sender, std::string& S)>;
using THttpTraceEvent = std::function<void(THttpCli* Sender, const std::string& Msg)>;

class THttpCli {
 public:
  THttpCli();
  ~THttpCli();
  THttpCli(const THttpCli&) = delete;
  THttpCli& operator=(const THttpCli&) = delete;

  const std::string& GetURL() const { return FURL; }
  void SetURL(const std::string& v) { FURL = v; }
  const std::string& GetProxy() const { return FProxy; }
  void SetProxy(const std::string& v) { FProxy = v; }
  const std::string& GetProxyPort() const { return FProxyPort; }
  void SetProxyPort(const std::string& v) { FProxyPort = v; }
  const std::string& GetSender() const { return FSender; }
  void SetSender(const std::string& v) { FSender = v; }
  const std::string& GetAgent() const { return FAgent; }
  void SetAgent(const std::string& v) { FAgent = v; }
  const std::string& GetReference() const { return FReference; }
  void SetReference(const std::string& v) { FReference = v; }
  const std::string& GetUsername() const { return FUsername; }
  void SetUsername(const std::string& v) { FUsername = v; }
  const std::string& GetPassword() const { return FPassword; }
  void SetPassword(const std::string& v) { FPassword = v; }
  const std::string& GetProxyUsername() const { return FProxyUsername; }
  void SetProxyUsername(const std::string& v) { FProxyUsername = v; }
  const std::string& GetProxyPassword() const { return FProxyPassword; }
  void SetProxyPassword(const std::string& v) { FProxyPassword = v; }
  bool GetNoCache() const { return FNoCache; }
  void SetNoCache(bool v) { FNoCache = v; }
  double GetModifiedSince() const { return FModifiedSince; }
  void SetModifiedSince(double v) { FModifiedSince = v; }
  const std::string& GetCookie() const { return FCookie; }
  void SetCookie(const std::string& v) { FCookie = v; }
  const std::string& GetContentTypePost() const { return FContentTypePost; }
  void SetContentTypePost(const std::string& v) { FContentTypePost = v; }
  bool GetMultiThreaded() const { return FMultiThreaded; }
  void SetMultiThreaded(bool v) { FMultiThreaded = v; }
  // Milliseconds without any network progress after which a request is abandoned (0: never).
  int GetTimeout() const { return FTimeout; }
  void SetTimeout(int ms) { FTimeout = ms < 0 ? 0 : ms; }

  int GetStatusCode() const { return FStatusCode; }
  const std::string& GetReasonPhrase() const { return FReasonPhrase; }
  std::int64_t GetContentLength() const { return FContentLength; }
  const std::string& GetContentType() const { return FContentType; }
  const std::vector<std::string>& GetRcvdHeader() const { return FRcvdHeader; }
  const std::vector<std::string>& GetAuthenticate() const { return FAuthenticate; }
  const std::string& GetLocation() const { return FLocation; }
  const std::string& GetDocName() const { return FDocName; }
  std::int64_t GetRcvdCount() const { return FRcvdCount; }
  int GetRequestDoneError() const { return FRequestDoneError; }
  THttpState GetState() const { return FState; }
  std::ostream* GetRcvdStream() const { return FRcvdStream; }
  void SetRcvdStream(std::ostream* s) { FRcvdStream = s; }
  std::istream* GetSendStream() const { return FSendStream; }
  void SetSendStream(std::istream* s) { FSendStream = s; }
  TWSocket& GetCtrlSocket() { return FCtrlSocket; }

  // Synchronous GET: returns when the client is ready again; a status of 400 or more (also a
  // failed lookup, connect or an abort) raises EHttpException with the reason text.
  void Get();
  void GetASync() { DoRequestAsync(httpGET); }
  void PostASync() { DoRequestAsync(httpPOST); }
  void HeadASync() { DoRequestAsync(httpHEAD); }
  void Abort();

  THttpNotify OnStateChange, OnSessionConnected, OnRequestHeaderBegin, OnRequestHeaderEnd;
  THttpCommandEvent OnCommand;
  THttpNotify OnHeaderBegin, OnHeaderData, OnHeaderEnd, OnDocBegin, OnDocEnd;
  THttpDataEvent OnDocData;
  THttpNotify OnSendBegin, OnSendEnd;
  THttpDataEvent OnSendData;
  THttpNotify OnLocationChange;
  THttpRequestDone OnRequestDone;
  THttpTraceEvent OnTrace;

 private:
  void DoRequestAsync(THttpRequest rq);
  void StartLookup();
  void SetState(THttpState s);
  void SocketDnsLookupDone(int Error);
  void SocketSessionConnected(int Error);
  void SocketDataAvailable();
  void SocketDataSent();
  void SocketSessionClosed(int Error);
  void SendRequest();
  void SendCommand(const std::string& cmd);
  void SendNextPiece();
  void ProcessHeaderLine(const std::string& line);
  void HeaderEnd();
  void GotBody(const char* data, int len);
  void DeliverBody(const char* data, int len);
  void FailRequest(int status, const std::string& reason, int error);
  void EndRequest();
  void LocationToTarget(const std::string& value);
  void SetTarget(const TUrlParts& u);
  void Touch();
  void TimerTick();

  TWSocket FCtrlSocket;
  Alive FAlive;
  std::string FURL, FProxy, FProxyPort = "80", FSender, FAgent, FReference, FUsername, FPassword,
                            FProxyUsername, FProxyPassword, FCookie,
                            FContentTypePost = "application/x-www-form-urlencoded";
  bool FNoCache = false;
  double FModifiedSince = 0;
  bool FMultiThreaded = false;
  int FTimeout = 0;

  THttpState FState = httpReady;
  THttpRequest FRequestType = httpGET;
  int FStatusCode = 0;
  std::string FReasonPhrase;
  std::int64_t FContentLength = -1;
  std::string FContentType;
  std::vector<std::string> FRcvdHeader, FAuthenticate;
  std::string FLocation, FDocName;
  std::int64_t FRcvdCount = 0;
  int FRequestDoneError = 0;
  std::ostream* FRcvdStream = nullptr;
  std::istream* FSendStream = nullptr;

  // Target of the current connection.
  std::string FTargetHost, FTargetPort, FTargetPath, FHostName, FPath, FProtocol, FConnHost,
      FConnPort;
  std::string FReqUser, FReqPass;
  THttpLineBuffer FLines;
  std::size_t FHeaderBytes = 0;
  bool FHeaderStarted = false, FBodyStarted = false, FLocationFlag = false;
  bool FStatusSeen = false, FChunked = false;
  THttpChunkDecoder FChunks;
  int FRedirects = 0;
  std::string FRequestBuf;
  bool FSending = false;
  TimerId FTimer = 0;
  std::chrono::steady_clock::time_point FLastActivity;
};

}  // namespace ql::net
