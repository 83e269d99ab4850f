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

bool StartsNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && Lower(s.substr(0, prefix.size())) == prefix;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

constexpr size_t kLineMax = 8192;
constexpr int kMaxRedirects = 20;
constexpr int kPieceSize = 8193;

}  // namespace

TUrlParts ParseURL(const std::string& url) {
  TUrlParts u;
  std::string rest;
  size_t p = url.find("://");
  if (p != std::string::npos) {
    u.Proto = url.substr(0, p);
    rest = url.substr(p + 3);
  } else if (!url.empty() && url[0] == '/') {
    u.Proto = "http";
    if (url.size() < 2 || url[1] != '/') {
      u.Path = url;
      return u;
    }
    rest = url.substr(2);
  } else if (StartsNoCase(url, "mailto:")) {
    u.Proto = "mailto";
    rest = url.substr(url.find(':') + 1);
  } else if (StartsNoCase(url, "http:")) {
    u.Proto = "http";
    if (url.size() > 6 && url[6] != '/') {
      u.Path = url.substr(5);
      return u;
    }
    rest = url.size() > 6 ? url.substr(6) : std::string();
  } else {
    rest = url;
  }
  size_t slash = rest.find('/');
  std::string hostpart = rest.substr(0, slash);
  if (slash != std::string::npos) u.Path = rest.substr(slash);
  size_t at = hostpart.rfind('@');
  if (at != std::string::npos) {
    std::string user = hostpart.substr(0, at);
    hostpart = hostpart.substr(at + 1);
    size_t c = user.find(':');
    u.User = user.substr(0, c);
    if (c != std::string::npos) u.Pass = user.substr(c + 1);
  }
  size_t colon = hostpart.rfind(':');
  if (colon != std::string::npos) {
    u.Port = hostpart.substr(colon + 1);
    hostpart = hostpart.substr(0, colon);
  }
  u.Host = hostpart;
  return u;
}

std::string EncodeBase64(const std::string& s) {
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < s.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(s[i]) << 16) |
                 (static_cast<unsigned char>(s[i + 1]) << 8) | static_cast<unsigned char>(s[i + 2]);
    out += abc[(v >> 18) & 63];
    out += abc[(v >> 12) & 63];
    out += abc[(v >> 6) & 63];
    out += abc[v & 63];
  }
  if (i < s.size()) {
    unsigned v = static_cast<unsigned char>(s[i]) << 16;
    if (i + 1 < s.size()) v |= static_cast<unsigned char>(s[i + 1]) << 8;
    out += abc[(v >> 18) & 63];
    out += abc[(v >> 12) & 63];
    out += i + 1 < s.size() ? abc[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string RFC1123Date(double date_time) {
  static const char* days = "MonTueWedThuFriSatSun";
  static const char* months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  double whole = std::floor(date_time);
  long long secs = std::llround((date_time - whole) * 86400.0);
  long long z = static_cast<long long>(whole) - 25569 + 719468;  // days since 0000-03-01
  if (secs >= 86400) {
    secs -= 86400;
    ++z;
  }
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long d = doy - (153 * mp + 2) / 5 + 1;
  long long m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  // 1970-01-01 (unix day 0) was a Thursday, index 3 of the day names.
  long long unix_day = static_cast<long long>(whole) - 25569;
  int wd = static_cast<int>(((unix_day % 7) + 7 + 3) % 7);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3s, %2.2d %.3s %4.4d %2.2d:%2.2d:%2.2d", days + wd * 3,
                static_cast<int>(d), months + (m - 1) * 3, static_cast<int>(y),
                static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60));
  return buf;
}

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
  FProtocol = u.Proto.empty() ? "http" : u.Proto;
  FReqUser = FUsername;
  FReqPass = FPassword;
  if (!u.User.empty() || !u.Pass.empty()) {
    FReqUser = u.User;
    FReqPass = u.Pass;
  }
  FTargetHost = u.Host;
  FTargetPort = u.Port.empty() ? "80" : u.Port;
  std::string path = u.Path.empty() ? "/" : u.Path;
  FHostName = u.Host;
  if (FProxy.empty()) {
    FPath = path;
    FConnHost = FTargetHost;
    FConnPort = FTargetPort;
  } else {
    // The port belongs in the rebuilt address, or the proxy would go to port 80.
    FPath = FProtocol + "://" + u.Host + (u.Port.empty() ? "" : ":" + u.Port) + path;
    TUrlParts pu = ParseURL(FProxy);
    FConnHost = pu.Host.empty() ? FProxy : pu.Host;
    FConnPort = pu.Port.empty() ? (FProxyPort.empty() ? "80" : FProxyPort) : pu.Port;
  }
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

void THttpCli::StartLookup() {
  FLineBuf.clear();
  FHeaderStarted = FBodyStarted = FLocationFlag = false;
  SetState(httpDnsLookup);
  FCtrlSocket.DnsLookup(FConnHost);
}

void THttpCli::Touch() { FLastActivity = std::chrono::steady_clock::now(); }

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
    FReasonPhrase = "can't connect: " + WSocketErrorDesc(Error) + " (Error #" +
                    std::to_string(Error) + ")";
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
  SendCommand("Host: " + FHostName);
  if (FNoCache) SendCommand("Pragma: no-cache");
  std::int64_t post_size = 0;
  if (FRequestType == httpPOST) {
    FSendStream->clear();
    FSendStream->seekg(0, std::ios::end);
    post_size = static_cast<std::int64_t>(FSendStream->tellg());
    FSendStream->seekg(0, std::ios::beg);
    SendCommand("Content-Length: " + std::to_string(post_size));
  }
  if (FModifiedSince != 0) SendCommand("If-Modified-Since: " + RFC1123Date(FModifiedSince) + " GMT");
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
  FLineBuf.append(buf, static_cast<size_t>(n));
  while (FState == httpWaitingHeader) {
    size_t lf = FLineBuf.find('\n');
    if (lf == std::string::npos) break;
    if (lf > kLineMax) break;
    std::string line = FLineBuf.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!FHeaderStarted && StartsNoCase(line, "<html>")) {
      // No header at all: the whole answer is the body.
      FHeaderStarted = true;
      if (OnHeaderBegin) OnHeaderBegin(this);
      if (FContentType.empty()) FContentType = "text/html";
      HeaderEnd();
      return;
    }
    FLineBuf.erase(0, lf + 1);
    ProcessHeaderLine(line);
    if (FCtrlSocket.GetState() != wsConnected) return;
  }
  size_t lf = FLineBuf.find('\n');
  if (FState == httpWaitingHeader && (lf == std::string::npos ? FLineBuf.size() : lf) > kLineMax)
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
  if (line.rfind("HTTP/1.0", 0) == 0 || line.rfind("HTTP/1.1", 0) == 0) {
    std::string code = line.size() > 9 ? line.substr(9, 3) : "";
    FStatusCode = std::all_of(code.begin(), code.end(), ::isdigit) && !code.empty()
                      ? std::stoi(code)
                      : 0;
    FReasonPhrase = line.size() > 13 ? line.substr(13) : "";
  } else if (size_t colon = line.find(':'); colon != std::string::npos) {
    std::string name = Lower(Trim(line.substr(0, colon)));
    std::string value = Trim(line.substr(colon + 1));
    if (name == "content-length") {
      try {
        FContentLength = std::stoll(value);
      } catch (...) {
        FContentLength = -1;
      }
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
  if (!value.empty() && value[0] == '/') {
    FPath = FProxy.empty() ? value : FProtocol + "://" + FTargetHost + ":" + FTargetPort + value;
  } else {
    TUrlParts u = ParseURL(value);
    if (!FProxy.empty()) {
      FPath = value;
      if (!u.Host.empty()) {
        FTargetHost = FHostName = u.Host;
        FTargetPort = u.Port.empty() ? "80" : u.Port;
      }
    } else if (u.Path.empty()) {
      if (!u.Port.empty()) FTargetPort = u.Port;
      FPath = FProtocol + "://" + FTargetHost + "/" + u.Host;
    } else if (!u.Host.empty()) {
      // Another host: its own port, or the default one.
      FTargetHost = FHostName = FConnHost = u.Host;
      FTargetPort = u.Port.empty() ? "80" : u.Port;
      FPath = u.Path;
    } else {
      if (!u.Port.empty()) FTargetPort = u.Port;
      FPath = FProtocol + "://" + FTargetHost + u.Path;
    }
    if (FProxy.empty()) FConnPort = FTargetPort;
  }
  FLocation = FPath;
}

void THttpCli::HeaderEnd() {
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
  if (!FLineBuf.empty()) {
    std::string rest;
    rest.swap(FLineBuf);
    GotBody(rest.data(), static_cast<int>(rest.size()));
  }
}

void THttpCli::GotBody(const char* data, int len) {
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
  if (FLocationFlag && FState != httpAborting && FRequestDoneError == 0) {
    Dispatch().Post(FAlive, [this] {
      if (FState == httpReady || FState == httpAborting) return;
      if (OnLocationChange) OnLocationChange(this);
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
  if (FRequestDoneError == httperrOverflow)
    throw EHttpException("HTTP line too long", httperrOverflow);
  if (FStatusCode >= 400)
    throw EHttpException(FReasonPhrase, FRequestDoneError ? FRequestDoneError : FStatusCode);
}

}  // namespace ql::net
