// The HTTP form of the protocol: each command is a GET of the server's CGI,
//   PATH?cmd=COMMAND&hello=USER+HOST+APPNAME+REVISION&proto=LEVEL
// answered by the same reply text the line protocol gives.
#include <sstream>

#include "HttpProt.h"
#include "MMCDDB.h"
#include "NetWait.h"

namespace ql {

std::string CddbFormEncode(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += ch;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string CddbHttpURL(const std::string& server, int port, const std::string& path,
                        const std::string& command, const std::string& user,
                        const std::string& host, const std::string& app,
                        const std::string& revision, int level) {
  // An IPv6 literal goes in brackets.
  std::string h =
      server.find(':') != std::string::npos && server.front() != '[' ? "[" + server + "]" : server;
  std::string url = "http://" + h;
  if (port > 0 && port != TMMCDDB::kDefaultHttpPort) url += ":" + std::to_string(port);
  return url + (path.empty() ? TMMCDDB::kDefaultHttpPath : path) +
         "?cmd=" + CddbFormEncode(command) +
         "&hello=" + CddbFormEncode(user + " " + host + " " + app + " " + revision) +
         "&proto=" + std::to_string(level);
}

namespace {

// A body whose lines end in LF alone gets CR LF, as the reply parsers expect.
std::string CrLfLines(const std::string& body) {
  std::string out;
  out.reserve(body.size() + body.size() / 32);
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\n' && (i == 0 || body[i - 1] != '\r')) out += '\r';
    out += body[i];
  }
  return out;
}

// The body of the request, bounded like a line-protocol reply.
class BoundedBody : public std::stringbuf {
 public:
  explicit BoundedBody(std::size_t max) : max_(max) {}
  bool overflowed() const { return overflowed_; }

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (str().size() + static_cast<std::size_t>(n) > max_) {
      overflowed_ = true;
      return 0;
    }
    return std::stringbuf::xsputn(s, n);
  }

 private:
  std::size_t max_;
  bool overflowed_ = false;
};

}  // namespace

int TMMCDDB::HttpCommand(const std::string& Text) {
  std::string cmd = Text.substr(0, Text.find(kCrLfText));
  std::string url = CddbHttpURL(FServer, FPort, FHttpPath, cmd, GetUser(), FHostName, FAppName,
                                FRevision, FProtoLevel);
  FResponse.clear();
  FHttpFailure.clear();
  FWaiting = true;
  FTimedOut = false;
  FClosed = false;
  FTooLong = false;
  DoSendData(Text);

  net::THttpCli cli;
  cli.SetURL(url);
  cli.SetAgent(FAppName + "/" + FRevision);
  cli.SetTimeout(FConnectTimeOut);
  BoundedBody buf(kMaxReply);
  std::ostream body(&buf);
  cli.SetRcvdStream(&body);
  cli.OnDocData = [&](net::THttpCli* c, const char*, int) {
    if (buf.overflowed()) c->Abort();
  };
  bool aborting = false;
  try {
    cli.GetASync();
  } catch (const std::exception& e) {
    FWaiting = false;
    FHttpFailure = e.what();
    return -5;
  }
  while (cli.GetState() != net::httpReady) {
    if (FAborted && !aborting) {
      aborting = true;
      cli.Abort();
    }
    net::WaitForMessages(50);
  }
  FWaiting = false;
  FMultiLine.clear();
  if (FAborted) return -2;
  if (buf.overflowed()) return -4;
  int error = cli.GetRequestDoneError();
  if (error == net::httperrTimeout) {
    FTimedOut = true;
    return -1;
  }
  if (cli.GetStatusCode() != 200 || error != 0 ||
      (cli.GetContentLength() >= 0 && cli.GetRcvdCount() < cli.GetContentLength())) {
    FHttpFailure = "HTTP " + std::to_string(cli.GetStatusCode()) + " " + cli.GetReasonPhrase();
    if (error != 0 && cli.GetStatusCode() < 400)
      FHttpFailure = "Connection lost (error " + std::to_string(error) + ")";
    return -5;
  }
  FResponse = CrLfLines(buf.str());
  if (!CddbReplyComplete(FResponse)) return -3;
  FWaiting = true;
  ReplyReceived();
  return 1;
}

}  // namespace ql
