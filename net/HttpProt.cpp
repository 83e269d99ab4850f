#include "HttpProt.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "NetWait.h"

namespace ql::net {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

constexpr int kMaxRedirects = 20;
constexpr size_t kHeaderMax = 1048576;
constexpr int kPieceSize = 8193;

}  // namespace

THttpCli::THttpCli() {
  FCtrlSocket.OnDnsLookupDone = [this](TCustomWSocket*, int e) { SocketDnsLookupDone(e); };
  FCtrlSocket.OnSessionConnected = [this](TCustomWSocket*, int e) { SocketSessionConnected(e); };
  FCtrlSocket.OnDataAvailable = [this](TCustomWSocket*, int) { SocketDataAvailable(); };
  FCtrlSocket.OnDataSent = [this](TCustomWSocket*, int) { SocketDataSent(); };
  FCtrlSocket.OnSessionClosed = [this](TCustomWSocket*, int e) { SocketSessionClosed(e); };
}

THttpCli::~THttpCli() {
  FAlive.Kill();
  if (FTimer) Dispatch().KillTimer(FTimer);
  FCtrlSocket.OnSessionClosed = nullptr;
}

void THttpCli::SetState(THttpState s) {
  if (FState == s) return;
  FState = s;
  if (OnStateChange) OnStateChange(this);
}

void THttpCli::DoRequestAsync(THttpRequest rq) {
  if (FState != httpReady) throw EHttpException("HTTP component is busy", httperrBusy);
  if (rq == httpPOST && !FSendStream)
    throw EHttpException("HTTP component has nothing to post", httperrNoData);
  FRequestType = rq;
  FRcvdHeader.clear();
  FAuthenticate.clear();
  FStatusCode = 0;
  FReasonPhrase.clear();
  FContentLength = -1;
  FContentType.clear();
  FRcvdCount = 0;
  FRequestDoneError = 0;
  FRedirects = 0;
  FLocation = FURL;

  TUrlParts u = ParseURL(FURL);
  FProtocol = Lower(u.Proto.empty() ? "http" : u.Proto);
  // Anything but plain HTTP would be fetched in clear text on the wrong port, or not at all.
  if (FProtocol != "http")
    throw EHttpException("Unsupported protocol \"" + FProtocol + "\" (only http is supported)",
                         httperrProtocol);
  FReqUser = FUsername;
  FReqPass = FPassword;
  if (!u.User.empty() || !u.Pass.empty()) {
    FReqUser = u.User;
    FReqPass = u.Pass;
  }
  if (!FProxy.empty()) {
    TUrlParts pu = ParseURL(FProxy);
    FConnHost = pu.Host.empty() ? FProxy : pu.Host;
    FConnPort = pu.Port.empty() ? (FProxyPort.empty() ? "80" : FProxyPort) : pu.Port;
  }
  SetTarget(u);
  const std::string& path = FTargetPath;
  std::string doc = path.substr(0, path.find('?'));
  if (doc.empty() || doc == "/") {
    FDocName = "document.htm";
  } else {
    if (doc.back() == '/') doc.pop_back();
    FDocName = doc.substr(doc.rfind('/') + 1);
  }
  SetState(httpNotConnected);
  Touch();
  if (FTimeout > 0 && !FTimer) FTimer = Dispatch().SetTimer(100, [this] { TimerTick(); });
  try {
    StartLookup();
  } catch (...) {
    FCtrlSocket.Abort();
    FStatusCode = 404;
    FReasonPhrase = "can't resolve hostname to IP address";
    EndRequest();
    throw;
  }
}

// The target of the request (host, port, path) and what is asked of the server: the path, or
// through a proxy the whole address (its port included, or the proxy would use port 80).
void THttpCli::SetTarget(const TUrlParts& u) {
  FTargetHost = FHostName = u.Host;
  FTargetPort = u.Port.empty() ? "80" : u.Port;
  FTargetPath = u.Path.empty() ? "/" : u.Path;
  if (FProxy.empty()) {
    FPath = FTargetPath;
    FConnHost = FTargetHost;
    FConnPort = FTargetPort;
  } else {
    FPath = FProtocol + "://" + UrlHost(FTargetHost) + (u.Port.empty() ? "" : ":" + u.Port) +
            FTargetPath;
  }
}

void THttpCli::StartLookup() {
  FStatusSeen = FChunked = false;
  FChunks = THttpChunkDecoder();
  FLines.Clear();
  FHeaderBytes = 0;
  FContentLength = -1;  // a redirection's header says nothing about the document
  FContentType.clear();
  FHeaderStarted = FBodyStarted = FLocationFlag = false;
  SetState(httpDnsLookup);
  FCtrlSocket.DnsLookup(FConnHost);
}

void THttpCli::Touch() {
  FLastActivity = std::chrono::steady_clock::now();
}

void THttpCli::TimerTick() {
  if (FState == httpReady || FState == httpAborting) return;
  auto idle = std::chrono::steady_clock::now() - FLastActivity;
  if (idle < std::chrono::milliseconds(FTimeout)) return;
  FailRequest(404, "Request timed out", httperrTimeout);
}

void THttpCli::SocketDnsLookupDone(int Error) {
  if (FState != httpDnsLookup) return;
  Touch();
  if (Error != 0) {
    FStatusCode = 404;
    FReasonPhrase = "can't resolve hostname to IP address";
    FRequestDoneError = Error;
    EndRequest();
    return;
  }
  SetState(httpDnsLookupDone);
  FCtrlSocket.SetAddr(FCtrlSocket.GetDnsResult());
  FCtrlSocket.SetPort(FConnPort);
  FCtrlSocket.SetProto("tcp");
  FCtrlSocket.Connect();
}

void THttpCli::SocketSessionConnected(int Error) {
  if (FState == httpAborting) return;
  Touch();
  if (OnSessionConnected) OnSessionConnected(this);
  if (Error != 0) {
    FStatusCode = 404;
    FReasonPhrase =
        "can't connect: " + WSocketErrorDesc(Error) + " (Error #" + std::to_string(Error) + ")";
    FRequestDoneError = Error;
    // The socket closes after this notification; the request ends there.
    return;
  }
  SetState(httpConnected);
  SendRequest();
}

void THttpCli::SendCommand(const std::string& cmd) {
  std::string line = cmd;
  if (OnCommand) OnCommand(this, line);
  FRequestBuf += line + "\r\n";
}

void THttpCli::SendRequest() {
  SetState(httpWaitingHeader);
  FRequestBuf.clear();
  static const char* methods[] = {"GET", "POST", "HEAD"};
  if (OnRequestHeaderBegin) OnRequestHeaderBegin(this);
  SendCommand(std::string(methods[FRequestType]) + " " + FPath + " HTTP/1.0");
  if (!FSender.empty()) SendCommand("From: " + FSender);
  if (!FReference.empty()) SendCommand("Referer: " + FReference);
  if (FRequestType == httpPOST && !FContentTypePost.empty())
    SendCommand("Content-Type: " + FContentTypePost);
  if (!FAgent.empty()) SendCommand("User-Agent: " + FAgent);
  SendCommand("Host: " + UrlHost(FHostName));
  if (FNoCache) SendCommand("Pragma: no-cache");
  std::int64_t post_size = 0;
  if (FRequestType == httpPOST) {
    FSendStream->clear();
    FSendStream->seekg(0, std::ios::end);
    post_size = static_cast<std::int64_t>(FSendStream->tellg());
    FSendStream->seekg(0, std::ios::beg);
    SendCommand("Content-Length: " + std::to_string(post_size));
  }
  if (FModifiedSince != 0)
    SendCommand("If-Modified-Since: " + RFC1123Date(FModifiedSince) + " GMT");
  if (!FReqUser.empty())
    SendCommand("Authorization: Basic " + EncodeBase64(FReqUser + ":" + FReqPass));
  if (!FProxy.empty() && !FProxyUsername.empty())
    SendCommand("Proxy-Authorization: Basic " +
                EncodeBase64(FProxyUsername + ":" + FProxyPassword));
  if (!FCookie.empty()) SendCommand("Cookie: " + FCookie);
  if (OnRequestHeaderEnd) OnRequestHeaderEnd(this);
  SendCommand("");
  FSending = FRequestType == httpPOST;
  if (FSending && OnSendBegin) OnSendBegin(this);
  FCtrlSocket.SendStr(FRequestBuf);
}

void THttpCli::SocketDataSent() {
  Touch();
  if (!FSending || FState == httpAborting) return;
  SendNextPiece();
}

void THttpCli::SendNextPiece() {
  char buf[kPieceSize];
  FSendStream->read(buf, kPieceSize);
  int n = static_cast<int>(FSendStream->gcount());
  if (n <= 0) {
    FSending = false;
    if (OnSendEnd) OnSendEnd(this);
    return;
  }
  if (OnSendData) OnSendData(this, buf, n);
  FCtrlSocket.Send(buf, n);
}

void THttpCli::SocketDataAvailable() {
  Touch();
  char buf[65536];
  int n = FCtrlSocket.Receive(buf, sizeof buf);
  if (n <= 0) return;
  if (FState == httpAborting) return;
  if (FState == httpWaitingBody) {
    GotBody(buf, n);
    return;
  }
  if (FState != httpWaitingHeader) return;
  FLines.Append(buf, static_cast<size_t>(n));
  std::string line;
  while (FState == httpWaitingHeader) {
    if (!FHeaderStarted && FLines.StartsWithNoCase("<html>")) {
      // No header at all: the whole answer is the body.
      FHeaderStarted = true;
      if (OnHeaderBegin) OnHeaderBegin(this);
      if (FContentType.empty()) FContentType = "text/html";
      HeaderEnd();
      return;
    }
    if (!FLines.NextLine(line)) break;
    FHeaderBytes += line.size() + 2;
    if (FHeaderBytes > kHeaderMax) {
      // An endless header would otherwise grow the header list without bound.
      FailRequest(FStatusCode, "HTTP header too long", httperrOverflow);
      return;
    }
    ProcessHeaderLine(line);
    if (FCtrlSocket.GetState() != wsConnected) return;
  }
  if (FState == httpWaitingHeader && FLines.Overflow())
    FailRequest(FStatusCode, "HTTP line too long", httperrOverflow);
}

void THttpCli::ProcessHeaderLine(const std::string& line) {
  if (!FHeaderStarted) {
    FHeaderStarted = true;
    if (OnHeaderBegin) OnHeaderBegin(this);
  }
  if (line.empty()) {
    HeaderEnd();
    return;
  }
  FRcvdHeader.push_back(line);
  std::string name, value;
  if (!FStatusSeen) {
    // A reply is a status line first; anything else (no header, HTTP/2, text) is no reply this
    // client understands, and never a success.
    if (!HttpStatusLine(line, FStatusCode, FReasonPhrase)) {
      FailRequest(404, "Invalid HTTP reply: " + line.substr(0, 80), httperrBadReply);
      return;
    }
    FStatusSeen = true;
  } else if (HttpHeaderField(line, name, value)) {
    if (name == "content-length") {
      bool digits = !value.empty() && value.size() <= 18 &&
                    std::all_of(value.begin(), value.end(),
                                [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
      FContentLength = digits ? std::stoll(value) : -1;
    } else if (name == "transfer-encoding") {
      FChunked = Lower(value).find("chunked") != std::string::npos;
    } else if (name == "content-type") {
      FContentType = Lower(value);
    } else if (name == "www-authenticate") {
      FAuthenticate.push_back(value);
    } else if (name == "location") {
      FLocationFlag = true;
      LocationToTarget(value);
    }
  }
  if (OnHeaderData) OnHeaderData(this);
  if (FStatusCode >= 400) FCtrlSocket.Close();
}

void THttpCli::LocationToTarget(const std::string& value) {
  // Relative references are resolved against the address asked for, as RFC 3986 says; the
  // result is fetched directly or through the proxy alike.
  std::string base = FProtocol + "://" + UrlHost(FTargetHost) + ":" + FTargetPort + FTargetPath;
  std::string target = ResolveURL(base, value);
  TUrlParts u = ParseURL(target);
  if (Lower(u.Proto) != "http" || u.Host.empty()) {
    FailRequest(404, "Redirected to an address this client cannot fetch: " + target.substr(0, 200),
                httperrProtocol);
    return;
  }
  SetTarget(u);
  FLocation = FPath;
}

void THttpCli::HeaderEnd() {
  if (FStatusCode >= 100 && FStatusCode < 200) {
    // An interim reply (100 Continue, 102 Processing): the real one follows.
    FStatusSeen = FChunked = FLocationFlag = false;
    FStatusCode = 0;
    FReasonPhrase.clear();
    FContentLength = -1;
    FRcvdHeader.clear();
    return;
  }
  if (OnHeaderEnd) OnHeaderEnd(this);
  if (FLocationFlag) {
    if (++FRedirects > kMaxRedirects) {
      FailRequest(404, "Too many redirections", httperrTooManyRedirects);
      return;
    }
    FCtrlSocket.Close();  // the request starts again when the close is seen
    return;
  }
  std::string ct = FContentType.substr(0, FContentType.find(';'));
  size_t dot = FDocName.rfind('.');
  std::string ext = dot == std::string::npos ? "" : Lower(FDocName.substr(dot));
  if (ext != ".exe" && Trim(ct) == "text/html") {
    if (dot == std::string::npos)
      FDocName += ".htm";
    else
      FDocName = FDocName.substr(0, dot) + ".htm";
  }
  SetState(httpWaitingBody);
  std::string rest = FLines.TakeRest();
  if (!rest.empty())
    GotBody(rest.data(), static_cast<int>(rest.size()));
  else if (FContentLength == 0 && !FChunked)
    FCtrlSocket.Close();  // nothing to wait for
}

void THttpCli::GotBody(const char* data, int len) {
  std::string decoded;
  bool complete = false;
  if (FChunked) {
    if (!FChunks.Feed(data, static_cast<std::size_t>(len), decoded)) {
      FailRequest(404, "Invalid chunked body", httperrBadReply);
      return;
    }
    data = decoded.data();
    len = static_cast<int>(decoded.size());
    complete = FChunks.Done();
  } else if (FContentLength >= 0) {
    // Bytes past the announced length belong to no document.
    std::int64_t left = FContentLength - FRcvdCount;
    if (len >= left) {
      len = static_cast<int>(std::max<std::int64_t>(left, 0));
      complete = true;
    }
  }
  if (len > 0) DeliverBody(data, len);
  if (complete && FState == httpWaitingBody) FCtrlSocket.Close();
}

void THttpCli::DeliverBody(const char* data, int len) {
  if (!FBodyStarted) {
    FBodyStarted = true;
    if (OnDocBegin) OnDocBegin(this);
  }
  FRcvdCount += len;
  if (OnDocData) OnDocData(this, data, len);
  if (FRcvdStream) FRcvdStream->write(data, len);
}

void THttpCli::SocketSessionClosed(int Error) {
  if (FState == httpReady) return;
  if (FLocationFlag && FState != httpAborting && FRequestDoneError == 0 && FStatusCode < 400) {
    Dispatch().Post(FAlive, [this] {
      if (FState == httpReady || FState == httpAborting) return;
      if (OnLocationChange) OnLocationChange(this);
      // The handler may have aborted the request.
      if (FState == httpReady || FState == httpAborting) return;
      StartLookup();
    });
    return;
  }
  if (Error != 0 && FRequestDoneError == 0) FRequestDoneError = Error;
  EndRequest();
}

void THttpCli::FailRequest(int status, const std::string& reason, int error) {
  FStatusCode = status;
  FReasonPhrase = reason;
  FRequestDoneError = error;
  FLocationFlag = false;
  bool lookup = FState == httpDnsLookup;
  SetState(httpAborting);
  FCtrlSocket.CancelDnsLookup();
  if (lookup || FCtrlSocket.GetState() == wsClosed) {
    FCtrlSocket.Abort();
    EndRequest();
  } else {
    FCtrlSocket.Abort();  // the close notification ends the request
    if (FState != httpReady) EndRequest();
  }
}

void THttpCli::Abort() {
  if (FState == httpReady) {
    if (FCtrlSocket.GetState() != wsClosed) FCtrlSocket.Close();
    return;
  }
  FailRequest(404, "Connection aborted on request", httperrAborted);
}

void THttpCli::EndRequest() {
  if (FState == httpReady) return;
  if (FTimer) {
    Dispatch().KillTimer(FTimer);
    FTimer = 0;
  }
  if (FRcvdStream) FRcvdStream->flush();
  if (FBodyStarted && OnDocEnd) OnDocEnd(this);
  SetState(httpReady);
  THttpRequest rq = FRequestType;
  int error = FRequestDoneError;
  Dispatch().Post(FAlive, [this, rq, error] {
    if (OnRequestDone) OnRequestDone(this, rq, error);
  });
}

void THttpCli::Get() {
  DoRequestAsync(httpGET);
  while (FState != httpReady) WaitForMessages(100);
  if (FRequestDoneError == httperrOverflow) throw EHttpException(FReasonPhrase, httperrOverflow);
  if (FStatusCode >= 400)
    throw EHttpException(FReasonPhrase, FRequestDoneError ? FRequestDoneError : FStatusCode);
  // A document cut short is not a success, or the caller would keep a truncated file.
  if (FRequestDoneError != 0)
    throw EHttpException("Connection lost: " + WSocketErrorDesc(FRequestDoneError) + " (Error #" +
                             std::to_string(FRequestDoneError) + ")",
                         FRequestDoneError);
  if (FChunked && !FChunks.Done())
    throw EHttpException("Document incomplete: the chunked body ended early", httperrIncomplete);
  if (FContentLength >= 0 && FRcvdCount < FContentLength)
    throw EHttpException("Document incomplete: " + std::to_string(FRcvdCount) + " of " +
                             std::to_string(FContentLength) + " bytes received",
                         httperrIncomplete);
}

}  // namespace ql::net
