#pragma once
// The CDDB client component: the disc ID of a table of contents, and the CDDB protocol
// (greeting, "cddb hello", "proto", "cddb query", "cddb read", "sites", "cddb lscat", "quit")
// over one TCP connection, or the same commands as HTTP requests of the server's CGI. Everything
// runs on the user-interface thread: each step sends one command and then processes messages
// until the reply is in, the time-out has passed or Aborted is set. Reply texts are UTF-8.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CddbReply.h"
#include "Dispatch.h"
#include "Exception.h"
#include "TrackTable.h"
#include "WSocket.h"

namespace ql {

class EMMCDDBError : public Exception {
 public:
  using Exception::Exception;
};

enum TMMCDDBTransport { ctLine, ctHttp };

class TMMCDDB;
using TMMCDDBErrorEvent =
    std::function<void(TMMCDDB* Sender, const std::string& Msg, bool& Handled)>;
using TMMCDDBSendData = std::function<void(TMMCDDB* Sender, const std::string& Msg)>;
using TMMCDDBReceivedData = std::function<void(TMMCDDB* Sender, const std::string& Msg)>;
using TMMCDDBSelectMatch =
    std::function<void(TMMCDDB* Sender, TMMCDDBMatches& Matches, int& Match)>;
using TMMCDDBState = std::function<void(TMMCDDB* Sender, const std::string& Msg)>;

class TMMCDDB : public TMMTrackTableClient {
 public:
  static constexpr const char* kDefaultServer = "gnudb.gnudb.org";
  static constexpr int kDefaultPort = 8880;
  static constexpr int kDefaultHttpPort = 80;
  static constexpr const char* kDefaultHttpPath = "/~cddb/cddb.cgi";
  // The highest protocol level this client speaks (UTF-8 entries).
  static constexpr int kMaxProtoLevel = 6;
  // The longest reply accepted. Real entries are a few kilobytes to some tens of kilobytes; a
  // server that sends more is treated as broken rather than buffered without end.
  static constexpr std::size_t kMaxReply = 1048576;
  // Results of failed transfers besides "600 Timeout" and "700 Abort".
  static constexpr const char* kClosedReply = "800 Connection closed by server";
  static constexpr const char* kTooLongReply = "801 Reply too long (more than 1048576 bytes)";
  // Holds the HTTP failure text (status or transfer error) after it.
  static constexpr const char* kHttpFailure = "802 ";
  static constexpr const char* kCrLfText = "\r\n";

  TMMCDDB();
  ~TMMCDDB() override;
  TMMCDDB(const TMMCDDB&) = delete;
  TMMCDDB& operator=(const TMMCDDB&) = delete;

  const std::string& GetServer() const { return FServer; }
  void SetServer(const std::string& v) { FServer = v; }
  int GetPort() const { return FPort; }
  void SetPort(int v) { FPort = v; }
  int GetConnectTimeOut() const { return FConnectTimeOut; }
  void SetConnectTimeOut(int ms);
  const std::string& GetEmail() const { return FEmail; }
  void SetEmail(const std::string& v);
  // No address: a lookup then refuses to start ("Need an email address").
  void ResetEmail() {
    FEmail.clear();
    FHostName.clear();
  }
  const std::string& GetHostName() const { return FHostName; }
  void SetHostName(const std::string& v);
  const std::string& GetAppName() const { return FAppName; }
  void SetAppName(const std::string& v);
  const std::string& GetRevision() const { return FRevision; }
  void SetRevision(const std::string& v);
  // The user field of the hello: the address before its "@".
  std::string GetUser() const;
  TMMCDDBTransport GetTransport() const { return FTransport; }
  void SetTransport(TMMCDDBTransport v) { FTransport = v; }
  const std::string& GetHttpPath() const { return FHttpPath; }
  void SetHttpPath(const std::string& v) { FHttpPath = v.empty() ? kDefaultHttpPath : v; }
  // The level asked for after the greeting (1..6), and the level the connection runs at.
  int GetMaxProtoLevel() const { return FMaxProtoLevel; }
  void SetMaxProtoLevel(int v);
  // 0 until a server has been asked.
  int GetProtoLevel() const { return FProtoLevel; }
  // Folder of the entry cache (CddbCache.h); empty: no cache.
  const std::string& GetCacheDir() const { return FCacheDir; }
  void SetCacheDir(const std::string& v) { FCacheDir = v; }
  // The last QueryDisc was answered from the cache.
  bool GetFromCache() const { return FFromCache; }
  bool GetUseFirstMatch() const { return FUseFirstMatch; }
  void SetUseFirstMatch(bool v) { FUseFirstMatch = v; }
  TMMTrackTable* GetCDReader() const { return FCDReader; }
  void SetCDReader(TMMTrackTable* reader);

  TMMCDDBErrorEvent OnError;
  TMMCDDBSendData OnSendData;
  TMMCDDBReceivedData OnReceiveData;
  TMMCDDBSelectMatch OnSelectMatch;
  TMMCDDBState OnState;

  // Results.
  const std::string& GetDiscID() const { return FDiscID; }
  const std::string& GetDiscTitle() const { return FDiscTitle; }
  const std::string& GetArtist() const { return FArtist; }
  const std::string& GetTitle() const { return FTitle; }
  const std::string& GetEntryCategory() const { return FEntryCategory; }
  int GetEntryRevision() const { return FEntryRevision; }
  const std::string& GetYear() const { return FYear; }
  const std::string& GetGenre() const { return FGenre; }
  // One per track title on a compilation (empty where a title names no artist), else empty.
  std::vector<std::string>& TrackArtists() { return FTrackArtists; }
  std::vector<std::string>& TrackTitles() { return FTrackTitles; }
  std::vector<std::string>& TrackExtras() { return FTrackExtras; }
  std::vector<std::string>& Categories() { return FCategories; }
  TMMCDDBSites& Sites() { return FSites; }
  TMMCDDBMatches& Matches() { return FMatches; }
  const std::string& GetQueryCategory() const { return FQueryCategory; }
  const std::string& GetQueryDiscID() const { return FQueryDiscID; }
  const std::string& GetQueryTitle() const { return FQueryTitle; }
  const std::string& GetResponse() const { return FResponse; }
  bool GetWaiting() const { return FWaiting; }
  bool GetTimedOut() const { return FTimedOut; }
  bool GetAborted() const { return FAborted; }
  // Any code may set it during a wait (the progress window does when it closes).
  void SetAborted(bool v) { FAborted = v; }
  bool Connected() const {
    return FTransport == ctHttp ? FHttpSession : FSocket.GetState() == net::wsConnected;
  }

  std::uint32_t CalcDiscID();
  // The query line with its CR LF.
  std::string QueryText();
  void QueryDisc(std::string& Result);
  int GetSites();
  int GetCategories();
  void ClearResults();

  bool Connect();
  bool Handshake();
  std::string Query();
  std::string ReadEntry(const std::string& Category, const std::string& DiscID);
  std::string ListSites();
  std::string ListCategories();
  void Disconnect();
  // 1 reply received, -1 time-out, -2 aborted, 0 nothing sent, -3 connection closed by the
  // server before the reply was complete, -4 reply longer than kMaxReply, -5 HTTP failure.
  int SendCommand(const std::string& Text);
  std::string ParseEntry(const std::string& Reply);
  // Over the working copy of the last entry given to ParseEntry (see TCddbEntryText).
  std::string EntryValue(const std::string& Key);

  virtual void DoError(const std::string& Msg);
  virtual void DoSendData(const std::string& Msg);
  virtual void DoReceiveData(const std::string& Msg);
  virtual void DoState(const std::string& Msg);

  void TrackTableFreed(TMMTrackTable* table) override;

 private:
  void OpenSocket();
  void SocketDataAvailable();
  void SocketClosed();
  void Wait();
  // Response text for the failure results of SendCommand.
  std::string FailureText(int rc) const;
  bool ProtocolFailure(const std::string& reply);
  int ListRequest(std::string (TMMCDDB::*request)(), const std::function<std::size_t()>& count);
  bool Open();
  bool NegotiateLevel();
  int HttpCommand(const std::string& Text);
  void ReplyReceived();
  std::string ReadAndParse(std::string& Result);

  std::string FServer = kDefaultServer;
  int FPort = kDefaultPort;
  int FConnectTimeOut = 30000;
  std::string FEmail, FHostName, FAppName, FRevision = "1.0";
  bool FUseFirstMatch = false;
  TMMCDDBTransport FTransport = ctLine;
  std::string FHttpPath = kDefaultHttpPath, FCacheDir, FHttpFailure, FRefusal;
  int FMaxProtoLevel = kMaxProtoLevel, FProtoLevel = 0;
  bool FHttpSession = false, FFromCache = false;
  TMMTrackTable* FCDReader = nullptr;

  std::string FDiscID, FDiscTitle, FArtist, FTitle, FEntryCategory, FYear, FGenre;
  std::vector<std::string> FTrackArtists;
  int FEntryRevision = 0;
  std::vector<std::string> FTrackTitles, FTrackExtras, FCategories;
  TMMCDDBSites FSites;
  TMMCDDBMatches FMatches;
  std::string FQueryCategory, FQueryDiscID, FQueryTitle;
  std::string FResponse;
  std::string FMultiLine;
  bool FWaiting = false, FTimedOut = false, FClosed = false, FTooLong = false;
  std::atomic<bool> FAborted{false};
  TCddbEntryText FEntry{std::string()};

  net::TWSocket FSocket;
  TimerId FTimer = 0;
};

// Blanks as "+", everything but unreserved characters percent-encoded.
std::string CddbFormEncode(const std::string& s);
// The CGI address of one command:
//   http://SERVER[:PORT]PATH?cmd=COMMAND&hello=USER+HOST+APP+REVISION&proto=LEVEL
std::string CddbHttpURL(const std::string& server, int port, const std::string& path,
                        const std::string& command, const std::string& user,
                        const std::string& host, const std::string& app,
                        const std::string& revision, int level);

}  // namespace ql
