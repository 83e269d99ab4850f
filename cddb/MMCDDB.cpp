#include "MMCDDB.h"

#include <algorithm>
#include <cstring>

#include "CddbCache.h"
#include "DiscID.h"
#include "NetWait.h"

namespace ql {

namespace {
const std::string kCrLf = "\r\n";
}

TMMCDDB::TMMCDDB() {
  FSocket.OnDataAvailable = [this](net::TCustomWSocket*, int) { SocketDataAvailable(); };
  FSocket.OnSessionClosed = [this](net::TCustomWSocket*, int) { SocketClosed(); };
  FSocket.OnDnsLookupDone = [this](net::TCustomWSocket* s, int error) {
    if (error != 0) {
      FClosed = true;  // the name does not resolve: no greeting will come
      return;
    }
    s->SetAddr(s->GetDnsResult());
    s->SetPort(std::to_string(FPort));
    s->Connect();
  };
  FSocket.OnSessionConnected = [this](net::TCustomWSocket*, int error) {
    if (error != 0) FClosed = true;
  };
  // Socket failures end the wait like a closed connection; they never escape as exceptions.
  FSocket.OnError = [this](net::TCustomWSocket*) { FClosed = true; };
}

TMMCDDB::~TMMCDDB() {
  if (FTimer) Dispatch().KillTimer(FTimer);
  if (FCDReader) FCDReader->RemoveFreeNotification(this);
  FSocket.OnSessionClosed = nullptr;
}

void TMMCDDB::SetConnectTimeOut(int ms) {
  FConnectTimeOut = std::clamp(ms, 5000, 65535);
}

void TMMCDDB::SetEmail(const std::string& v) {
  if (v.find_first_of(" \t\r\n") != std::string::npos) DoError("No spaces allowed in Email");
  size_t at = v.find('@');
  if (at == std::string::npos || at == 0 || at + 1 == v.size()) DoError("Invalid Email address");
  FEmail = v;
  // The host field always follows the address: a changed address never keeps the old host.
  if (at != std::string::npos) FHostName = v.substr(at + 1);
}

std::string TMMCDDB::GetUser() const {
  return FEmail.substr(0, FEmail.find('@'));
}

void TMMCDDB::SetMaxProtoLevel(int v) {
  FMaxProtoLevel = std::clamp(v, 1, kMaxProtoLevel);
}

void TMMCDDB::SetHostName(const std::string& v) {
  if (v.find(' ') != std::string::npos) DoError("No spaces allowed in HostName");
  FHostName = v;
}

void TMMCDDB::SetAppName(const std::string& v) {
  if (v.find(' ') != std::string::npos) DoError("No spaces allowed in AppName");
  FAppName = v;
}

void TMMCDDB::SetRevision(const std::string& v) {
  if (v.find(' ') != std::string::npos) DoError("No spaces allowed in Revision");
  FRevision = v;
}

void TMMCDDB::SetCDReader(TMMTrackTable* reader) {
  if (FCDReader == reader) return;
  if (FCDReader) FCDReader->RemoveFreeNotification(this);
  FCDReader = reader;
  if (FCDReader) FCDReader->AddFreeNotification(this);
}

void TMMCDDB::TrackTableFreed(TMMTrackTable* table) {
  if (FCDReader == table) FCDReader = nullptr;
}

void TMMCDDB::DoError(const std::string& Msg) {
  bool handled = false;
  if (OnError) OnError(this, Msg, handled);
  FSocket.Close();
  if (!handled) throw EMMCDDBError(Msg);
}

void TMMCDDB::DoSendData(const std::string& Msg) {
  if (OnSendData) OnSendData(this, Msg.substr(0, Msg.find(kCrLf)));
}

void TMMCDDB::DoReceiveData(const std::string& Msg) {
  if (!OnReceiveData) return;
  size_t start = 0;
  for (size_t p = Msg.find(kCrLf); p != std::string::npos; p = Msg.find(kCrLf, start)) {
    OnReceiveData(this, Msg.substr(start, p - start));
    start = p + 2;
  }
}

void TMMCDDB::DoState(const std::string& Msg) {
  if (OnState) OnState(this, Msg);
}

std::uint32_t TMMCDDB::CalcDiscID() {
  if (!FCDReader) throw EMMCDDBError("Not connected to CDReader");
  if (!FCDReader->GetDeviceReady())
    DoError("Device is not ready");
  else if (!FCDReader->ReadTOC())
    DoError("Unable to read CD directory");
  std::uint32_t id = CddbDiscID(FCDReader->Tracks());
  FDiscID = DiscIDText(id, true);
  return id;
}

std::string TMMCDDB::QueryText() {
  if (FDiscID.empty()) CalcDiscID();
  return CddbQueryLine(FDiscID, FCDReader ? FCDReader->Tracks() : std::vector<TMMTrackInfo>()) +
         kCrLf;
}

void TMMCDDB::ClearResults() {
  FTrackTitles.clear();
  FMatches.clear();
  FTrackExtras.clear();
  FDiscTitle.clear();
  FTitle.clear();
  FArtist.clear();
  FEntryCategory.clear();
  FYear.clear();
  FGenre.clear();
  FTrackArtists.clear();
  FFromCache = false;
}

void TMMCDDB::OpenSocket() {
  FProtoLevel = 1;
  FClosed = false;
  FTooLong = false;
  FSocket.Close();
  // The lookup (and for a dotted address also the connect) may finish inside this call.
  FSocket.DnsLookup(FServer);
}

void TMMCDDB::Wait() {
  FTimer = Dispatch().SetTimer(
      FConnectTimeOut,
      [this] {
        FTimer = 0;
        FTimedOut = true;
        FSocket.Close();
      },
      true);
  while (FWaiting && !FTimedOut && !FAborted && !FClosed) net::WaitForMessages(50);
  if (FTimer) Dispatch().KillTimer(FTimer);
  FTimer = 0;
}

bool TMMCDDB::Connect() {
  if (FSocket.GetState() != net::wsClosed || FSocket.DnsLookupRunning()) {
    DoSendData("Socket was already open");
    return true;
  }
  DoState("Finding Host...");
  if (FServer.empty()) FServer = kDefaultServer;
  if (FPort == 0) FPort = FTransport == ctHttp ? kDefaultHttpPort : kDefaultPort;
  if (FTransport == ctHttp) {
    // Every command is a request of its own: there is no greeting to wait for.
    FHttpSession = true;
    FProtoLevel = FMaxProtoLevel;
    return true;
  }
  FResponse.clear();
  FMultiLine.clear();
  FWaiting = true;
  FTimedOut = false;
  OpenSocket();
  DoSendData("Connecting to: " + FServer + " Port: " + std::to_string(FPort) + kCrLf);
  Wait();
  bool ok = !FWaiting && !FTimedOut && !FAborted && !FClosed && !FTooLong;
  FWaiting = false;
  if (!ok) {
    FSocket.CancelDnsLookup();
    FSocket.Close();
  }
  return ok;
}

int TMMCDDB::SendCommand(const std::string& Text) {
  if (!Connected()) Connect();
  if (FTransport == ctHttp) return Text.empty() ? 0 : HttpCommand(Text);
  if (Text.empty() || !Connected()) {
    FMultiLine.clear();
    return 0;
  }
  FResponse.clear();
  FWaiting = true;
  FTimedOut = false;
  FClosed = false;
  FTooLong = false;
  DoSendData(Text);
  FSocket.SendStr(Text);
  Wait();
  FWaiting = false;
  FMultiLine.clear();
  if (FTimedOut) return -1;
  if (FAborted) {
    FSocket.Close();
    return -2;
  }
  if (FTooLong) return -4;
  if (FClosed) return -3;
  return 1;
}

void TMMCDDB::SocketDataAvailable() {
  if (!Connected()) return;
  std::string data = FSocket.ReceiveStr();
  if (data.empty() || !FWaiting) return;  // nothing asked for it
  if (FResponse.size() + data.size() > kMaxReply) {
    FTooLong = true;
    FWaiting = false;
    FSocket.Close();
    return;
  }
  FResponse += data;
  // Both kinds of reply are complete only with their line end: a status line that TCP delivers
  // in pieces is not cut short, and a request that expects text but gets one error line (a code
  // without text following) does not wait for a "." that never comes.
  if (!CddbReplyComplete(FResponse)) return;
  ReplyReceived();
}

void TMMCDDB::ReplyReceived() {
  FResponse = CddbDecodeText(FResponse, FProtoLevel);
  DoReceiveData(FResponse);
  FMultiLine.clear();
  FWaiting = false;
}

void TMMCDDB::SocketClosed() {
  if (FWaiting) FClosed = true;
}

std::string TMMCDDB::FailureText(int rc) const {
  switch (rc) {
    case -1:
      return "600 Timeout";
    case -2:
      return "700 Abort";
    case -3:
      return kClosedReply;
    case -4:
      return kTooLongReply;
    case -5:
      return kHttpFailure + FHttpFailure;
    default:
      return "";
  }
}

bool TMMCDDB::Handshake() {
  if (FEmail.empty()) throw EMMCDDBError("Need an email address");
  size_t at = FEmail.find('@');
  if (at == std::string::npos) throw EMMCDDBError("Invalid email address");
  FRefusal.clear();
  DoState("Logging in...");
  if (FHostName.empty()) FHostName = FEmail.substr(at + 1);
  if (FTransport == ctHttp) return true;  // the hello goes with every request
  if (SendCommand("cddb hello " + GetUser() + " " + FHostName + " " + FAppName + " " + FRevision +
                  kCrLf) != 1)
    return false;
  int code = CddbReplyCode(FResponse);
  if (code != 200 && code != 402) {  // 402: already shook hands
    FRefusal = CddbReplyLine(FResponse);
    return false;
  }
  return NegotiateLevel();
}

bool TMMCDDB::NegotiateLevel() {
  if (FMaxProtoLevel <= 1) return true;
  auto level_after = [this](const char* word) {
    size_t p = FResponse.find(word);
    return p == std::string::npos ? 0 : std::atoi(FResponse.c_str() + p + std::strlen(word));
  };
  if (SendCommand("proto " + std::to_string(FMaxProtoLevel) + kCrLf) != 1) return false;
  int code = CddbReplyCode(FResponse);
  if (code == 201 || code == 502) {  // now at the level, or already there
    FProtoLevel = FMaxProtoLevel;
    return true;
  }
  if (code != 501) return true;  // no "proto" at all: the initial level
  // The server does not offer that level: ask which it does.
  if (SendCommand(std::string("proto") + kCrLf) != 1) return false;
  if (CddbReplyCode(FResponse) != 200) return true;
  int current = level_after("current"), supported = level_after("supported");
  if (current >= 1) FProtoLevel = current;
  if (supported > FProtoLevel && supported < FMaxProtoLevel) {
    if (SendCommand("proto " + std::to_string(supported) + kCrLf) != 1) return false;
    if (CddbReplyCode(FResponse) == 201 || CddbReplyCode(FResponse) == 502) FProtoLevel = supported;
  }
  return true;
}

std::string TMMCDDB::Query() {
  DoState("Querying database...");
  int rc = SendCommand(QueryText());
  return rc == 1 ? FResponse : FailureText(rc);
}

std::string TMMCDDB::ReadEntry(const std::string& Category, const std::string& DiscID) {
  FMultiLine = ".";
  DoState("Retrieving data...");
  int rc = SendCommand("cddb read " + Category + " " + DiscID + kCrLf);
  if (rc < 0) FResponse = FailureText(rc);
  return FResponse;
}

std::string TMMCDDB::ListSites() {
  FSites.clear();
  FMultiLine = ".";
  DoState("Asking for server list...");
  int rc = SendCommand(std::string("sites") + kCrLf);
  if (rc < 0) return FailureText(rc);
  switch (CddbReplyCode(FResponse)) {
    case 210:
      FSites = CddbParseSites(FResponse);
      return "210 Ok, site information follows.";
    case 401:
      return "401 No site information available.";
    default:
      return FResponse;
  }
}

std::string TMMCDDB::ListCategories() {
  FMultiLine = ".";
  DoState("Asking for category list...");
  int rc = SendCommand(std::string("cddb lscat") + kCrLf);
  if (rc < 0) return FailureText(rc);
  if (FResponse.compare(0, 3, "210") != 0) return "401";
  FCategories = CddbParseCategories(FResponse);
  return "210 Okay category list follows";
}

void TMMCDDB::Disconnect() {
  if (!Connected()) return;
  if (FTransport == ctHttp) {
    FHttpSession = false;
    return;
  }
  DoState("Disconnecting...");
  SendCommand(std::string("quit") + kCrLf);
  FResponse.clear();
  FSocket.Close();
}

std::string TMMCDDB::ParseEntry(const std::string& Reply) {
  if (Reply.compare(0, 3, "600") == 0) return "600 Timeout";
  if (Reply.compare(0, 3, "700") == 0) return "700 Abort";
  TCddbEntry e = CddbParseEntry(Reply);
  FEntry = TCddbEntryText(Reply);
  FEntryCategory = e.Category;
  FEntryRevision = e.Revision;
  FYear = e.Year;
  FGenre = e.Genre;
  FTrackArtists = e.TrackArtists;
  FDiscTitle = e.DiscTitle;
  FArtist = e.Artist;
  FTitle = e.Title;
  FTrackTitles = e.TrackTitles;
  FTrackExtras = e.TrackExtras;
  return CddbEntrySummary(e);
}

std::string TMMCDDB::EntryValue(const std::string& Key) {
  return FEntry.Value(Key);
}

bool TMMCDDB::ProtocolFailure(const std::string& reply) {
  if (reply == kClosedReply || reply == kTooLongReply || reply.compare(0, 4, kHttpFailure) == 0) {
    DoError(reply.substr(4));
    return true;
  }
  return false;
}

// Connects and checks the greeting: a server that refuses (432, 433, 434) is reported with its
// own line.
bool TMMCDDB::Open() {
  if (!Connect()) {
    if (!FAborted) DoError("000 Failure to Connect");
    return false;
  }
  if (FTransport == ctHttp) return true;
  int code = CddbReplyCode(FResponse);
  if (code != 200 && code != 201) {
    DoError(FResponse.empty() ? "000 Failure to Connect" : CddbReplyLine(FResponse));
    return false;
  }
  return true;
}

// Reads the entry chosen by the query and takes it as the result; every failure is reported
// and leaves the results as they were (empty after ClearResults).
std::string TMMCDDB::ReadAndParse(std::string& Result) {
  std::string entry = ReadEntry(FQueryCategory, FQueryDiscID);
  if (ProtocolFailure(entry) || FAborted) return "";
  if (entry.compare(0, 3, "600") == 0) {
    DoError("Timeout");
    return "";
  }
  if (CddbReplyCode(entry) != 210) {
    Result = CddbReplyLine(entry);
    DoError(Result);
    return "";
  }
  Result = ParseEntry(entry);
  CddbCacheStore(FCacheDir, FEntryCategory, FQueryDiscID, CddbEntryBody(entry));
  return entry;
}

namespace {
// Runs the pending Disconnect whatever happens after the connection is made.
struct DisconnectGuard {
  TMMCDDB* cddb;
  ~DisconnectGuard() {
    try {
      cddb->Disconnect();
    } catch (...) {
    }
  }
};
}  // namespace

void TMMCDDB::QueryDisc(std::string& Result) {
  Result.clear();
  FAborted = false;
  ClearResults();
  CalcDiscID();
  std::string cached_category, cached;
  if (CddbCacheFind(FCacheDir, FDiscID, cached_category, cached)) {
    DoState("Reading cache...");
    FQueryCategory = cached_category;
    FQueryDiscID = DiscIDText(static_cast<std::uint32_t>(std::stoul(FDiscID, nullptr, 16)), false);
    Result = ParseEntry(CddbEntryReply(FQueryCategory, FQueryDiscID, CddbDecodeText(cached, 6)));
    FFromCache = true;
    return;
  }
  if (!Open()) return;
  DisconnectGuard guard{this};
  if (!Handshake()) {
    if (FAborted) {
      Result = "700 User Abort";
    } else {
      Result = FRefusal.empty() ? "431 Handshake not successful, closing connection" : FRefusal;
      DoError(Result);
    }
    return;
  }
  std::string reply = Query();
  if (ProtocolFailure(reply)) return;
  int code = CddbReplyCode(reply);
  switch (code) {
    case 200:
      CddbParseExact(reply, FQueryCategory, FQueryDiscID, FQueryTitle);
      ReadAndParse(Result);
      break;
    case 210:  // several exact matches (level 3 on)
    case 211: {
      FMatches = CddbParseMatches(reply);
      if (FMatches.empty()) {
        Result = "202 No exact match";
        break;
      }
      int match = 0;
      if (!FUseFirstMatch && OnSelectMatch) {
        match = -1;
        OnSelectMatch(this, FMatches, match);
      }
      if (match < 0 || match >= static_cast<int>(FMatches.size())) break;
      FQueryCategory = FMatches[static_cast<size_t>(match)].Category;
      FQueryDiscID = FMatches[static_cast<size_t>(match)].DiscID;
      FQueryTitle = FMatches[static_cast<size_t>(match)].DiscTitle;
      if (!ReadAndParse(Result).empty()) FMatches.clear();
      break;
    }
    case 202:
      Result = "202 No exact match";
      DoError(CddbReplyLine(reply));
      break;
    case 600:
      DoError("Timeout");
      break;
    case 700:
    case 0:
      break;
    default:
      // Every other reply is a refusal (403 corrupt entry, 409 no handshake, 500 syntax or an
      // unknown client, 530 server error, ...): the user sees the server's own line.
      Result = CddbReplyLine(reply);
      DoError(Result);
      break;
  }
}

// A listing request of its own session: connect, greet, ask, disconnect. The number of entries
// the reply gave (count() after the request) on success, 0 otherwise.
int TMMCDDB::ListRequest(std::string (TMMCDDB::*request)(),
                         const std::function<std::size_t()>& count) {
  FAborted = false;
  if (!Open()) return 0;
  DisconnectGuard guard{this};
  if (!Handshake()) {
    if (!FAborted)
      DoError(FRefusal.empty() ? "431 Handshake not successful, closing connection" : FRefusal);
    return 0;
  }
  std::string result = (this->*request)();
  if (ProtocolFailure(result) || FAborted) return 0;
  if (result.compare(0, 3, "210") == 0) return static_cast<int>(count());
  if (result.compare(0, 3, "600") == 0)
    DoError("Timeout");
  else
    DoError(CddbReplyLine(FResponse.empty() ? result : FResponse));
  return 0;
}

int TMMCDDB::GetSites() {
  FSites.clear();
  return ListRequest(&TMMCDDB::ListSites, [this] { return FSites.size(); });
}

int TMMCDDB::GetCategories() {
  FCategories.clear();
  return ListRequest(&TMMCDDB::ListCategories, [this] { return FCategories.size(); });
}

}  // namespace ql
