#pragma once
// The disc-naming commands of the command-line front end. Each takes the words after its
// command name, writes tab-separated lines to out and messages to err, and returns the exit
// code (0 success, 1 failure, 2 usage, 3 inexact matches not chosen).
//
//   discid [--device N]
//       DiscID<TAB>XXXXXXXX, classic<TAB>xxxxxxxx, query<TAB>cddb query ...
//   cddb query [--device N] [--server HOST] [--port P] --email E [--first-match] [--timeout MS]
//              [--http [--path CGI]] [--proto LEVEL] [--no-cache]
//       artist<TAB>..., title<TAB>..., disctitle<TAB>..., [year<TAB>...], [genre<TAB>...],
//       category<TAB>..., then track<TAB>N<TAB>title per title and trackartist<TAB>N<TAB>artist
//       per compilation track; without --first-match inexact matches are listed as
//       match<TAB>cat<TAB>id<TAB>title. Entries fetched are kept in the user's cache folder,
//       which answers later lookups unless --no-cache is given. --http speaks to the server's
//       CGI (port 80, /~cddb/cddb.cgi unless given).
//   cddb sites [--server HOST] [--port P] --email E      host<TAB>port<TAB>location per site
//   cddb categories [--server HOST] [--port P] --email E one category per line
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "TrackTable.h"

namespace ql {

class TMMCDDB;

// How a lookup reaches its server, shared by every command that names a disc over CDDB (cddb
// query, rip --all --cddb): --http (the server's CGI, port 80 unless a port is given), --path
// CGI, --proto LEVEL (1-6), --timeout MS, --no-cache.
struct TCddbTransportOptions {
  bool http = false, noCache = false;
  std::string path;
  int proto = 0, timeout = 0;
};

// Takes the option at args[i] when it is one of them (i then at its value): 1 taken, 0 not one
// of them, -1 a missing or bad value.
int TakeCddbTransportOption(const std::vector<std::string>& args, size_t& i,
                            TCddbTransportOptions& o);
// Sets the client up: transport, CGI path and port for HTTP, protocol level, time-out, and the
// user's cache folder unless noCache. A port given later overrides HTTP's.
void ApplyCddbTransport(TMMCDDB& cddb, const TCddbTransportOptions& o);

// Gives the table of contents of drive N (0 = the first), or nullptr with a message in err.
using TTrackTableOpener = std::function<TMMTrackTable*(int device, std::ostream& err)>;

int RunDiscIdCommand(const std::vector<std::string>& args, const TTrackTableOpener& open,
                     std::ostream& out, std::ostream& err);
int RunCddbCommand(const std::vector<std::string>& args, const TTrackTableOpener& open,
                   std::ostream& out, std::ostream& err);

}  // namespace ql
