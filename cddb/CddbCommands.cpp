#include "CddbCommands.h"

#include <cstdlib>
#include <memory>

#include "CddbCache.h"
#include "DiscID.h"
#include "MMCDDB.h"
#include "PollDispatcher.h"

namespace ql {

namespace {

struct Options {
  int device = 0;
  std::string server, email;
  int port = 0;
  bool first_match = false;
  TCddbTransportOptions transport;
};

bool ParseNumber(const std::string& s, int& v) {
  char* end = nullptr;
  long n = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end || n < 0 || n > 1000000000) return false;
  v = static_cast<int>(n);
  return true;
}

// Parses the options from index first on; false on an unknown or incomplete option.
bool ParseOptions(const std::vector<std::string>& args, size_t first, Options& o, bool device_ok,
                  bool network) {
  for (size_t i = first; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool more = i + 1 < args.size();
    if (a == "--device" && device_ok && more) {
      if (!ParseNumber(args[++i], o.device)) return false;
    } else if (a == "--server" && network && more) {
      o.server = args[++i];
    } else if (a == "--port" && network && more) {
      if (!ParseNumber(args[++i], o.port) || o.port > 65535) return false;
    } else if (a == "--email" && network && more) {
      o.email = args[++i];
    } else if (a == "--first-match" && network && device_ok) {
      o.first_match = true;
    } else if (!network || TakeCddbTransportOption(args, i, o.transport) != 1) {
      return false;
    }
  }
  // The cache serves the lookups of a disc only.
  return !o.transport.noCache || device_ok;
}

// A dispatcher for the command when the program has none yet.
class CommandLoop {
 public:
  CommandLoop() {
    if (!CurrentDispatcher()) {
      own_ = std::make_unique<PollDispatcher>();
      SetDispatcher(own_.get());
    }
  }
  ~CommandLoop() {
    if (own_) SetDispatcher(nullptr);
  }

 private:
  std::unique_ptr<PollDispatcher> own_;
};

// A value as one field of a tab-separated line: the tabs and line ends an entry's escapes give
// become blanks.
std::string Field(std::string s) {
  for (char& c : s)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return s;
}

void Configure(TMMCDDB& cddb, const Options& o) {
  if (!o.server.empty()) cddb.SetServer(o.server);
  ApplyCddbTransport(cddb, o.transport);
  if (o.port) cddb.SetPort(o.port);
  cddb.SetAppName("trackwell");
  cddb.SetRevision("1.0");
  cddb.SetEmail(o.email);
}

}  // namespace

int TakeCddbTransportOption(const std::vector<std::string>& args, size_t& i,
                            TCddbTransportOptions& o) {
  const std::string& a = args[i];
  const bool more = i + 1 < args.size();
  if (a == "--http") {
    o.http = true;
  } else if (a == "--no-cache") {
    o.noCache = true;
  } else if (a == "--path") {
    if (!more) return -1;
    o.path = args[++i];
  } else if (a == "--proto") {
    if (!more || !ParseNumber(args[++i], o.proto) || o.proto < 1 || o.proto > 6) return -1;
  } else if (a == "--timeout") {
    if (!more || !ParseNumber(args[++i], o.timeout)) return -1;
  } else {
    return 0;
  }
  return 1;
}

void ApplyCddbTransport(TMMCDDB& cddb, const TCddbTransportOptions& o) {
  if (o.http) {
    cddb.SetTransport(ctHttp);
    cddb.SetPort(TMMCDDB::kDefaultHttpPort);
    cddb.SetHttpPath(o.path);
  }
  if (o.proto) cddb.SetMaxProtoLevel(o.proto);
  if (o.timeout) cddb.SetConnectTimeOut(o.timeout);
  if (!o.noCache) cddb.SetCacheDir(CddbDefaultCacheDir());
}

int RunDiscIdCommand(const std::vector<std::string>& args, const TTrackTableOpener& open,
                     std::ostream& out, std::ostream& err) {
  Options o;
  if (!ParseOptions(args, 0, o, true, false)) {
    err << "usage: discid [--device N]\n";
    return 2;
  }
  TMMTrackTable* table = open(o.device, err);
  if (!table) return 1;
  CommandLoop loop;
  try {
    TMMCDDB cddb;
    cddb.SetCDReader(table);
    std::uint32_t id = cddb.CalcDiscID();
    std::string query = cddb.QueryText();
    out << "DiscID\t" << DiscIDText(id, true) << "\n";
    out << "classic\t" << DiscIDText(ClassicDiscID(table->Tracks()), false) << "\n";
    out << "query\t" << query.substr(0, query.find("\r\n")) << "\n";
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return 1;
  }
  return 0;
}

int RunCddbCommand(const std::vector<std::string>& args, const TTrackTableOpener& open,
                   std::ostream& out, std::ostream& err) {
  const char* usage =
      "usage: cddb query [--device N] [--server HOST] [--port P] --email E [--first-match]\n"
      "                  [--http [--path CGI]] [--proto LEVEL] [--no-cache] [--timeout MS]\n"
      "       cddb sites|categories [--server HOST] [--port P] --email E [--http [--path CGI]]\n";
  if (args.empty()) {
    err << usage;
    return 2;
  }
  const std::string& what = args[0];
  bool query = what == "query";
  Options o;
  if ((!query && what != "sites" && what != "categories") ||
      !ParseOptions(args, 1, o, query, true) || o.email.empty()) {
    err << usage;
    return 2;
  }
  TMMTrackTable* table = nullptr;
  if (query) {
    table = open(o.device, err);
    if (!table) return 1;
  }
  CommandLoop loop;
  try {
    TMMCDDB cddb;
    Configure(cddb, o);
    if (what == "sites") {
      int n = cddb.GetSites();
      for (const auto& s : cddb.Sites())
        out << s.Host << "\t" << s.Port << "\t" << s.Location << "\n";
      return n > 0 ? 0 : 1;
    }
    if (what == "categories") {
      int n = cddb.GetCategories();
      for (const auto& c : cddb.Categories()) out << c << "\n";
      return n > 0 ? 0 : 1;
    }
    cddb.SetCDReader(table);
    cddb.SetUseFirstMatch(o.first_match);
    bool unchosen = false;
    cddb.OnSelectMatch = [&](TMMCDDB*, TMMCDDBMatches& matches, int& match) {
      for (const auto& m : matches)
        out << "match\t" << Field(m.Category) << "\t" << Field(m.DiscID) << "\t"
            << Field(m.DiscTitle) << "\n";
      unchosen = true;
      match = -1;
    };
    std::string result;
    cddb.QueryDisc(result);
    if (unchosen) {
      err << "Inexact matches found; choose one with --first-match\n";
      return 3;
    }
    if (cddb.TrackTitles().empty() && cddb.GetDiscTitle().empty()) {
      err << (result.empty() ? std::string("No entry found")
                             : result.substr(0, result.find("\r\n")))
          << "\n";
      return 1;
    }
    out << "artist\t" << Field(cddb.GetArtist()) << "\n";
    out << "title\t" << Field(cddb.GetTitle()) << "\n";
    out << "disctitle\t" << Field(cddb.GetDiscTitle()) << "\n";
    if (!cddb.GetYear().empty()) out << "year\t" << Field(cddb.GetYear()) << "\n";
    if (!cddb.GetGenre().empty()) out << "genre\t" << Field(cddb.GetGenre()) << "\n";
    out << "category\t" << cddb.GetEntryCategory() << "\n";
    int n = 1;
    for (const auto& t : cddb.TrackTitles()) out << "track\t" << n++ << "\t" << Field(t) << "\n";
    n = 1;
    for (const auto& a : cddb.TrackArtists()) {
      if (!a.empty()) out << "trackartist\t" << n << "\t" << Field(a) << "\n";
      ++n;
    }
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace ql
