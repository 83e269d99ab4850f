// trackwell discid [--device N]
// trackwell cddb query|sites|categories ...
// The table of contents comes from the drive opener of the CD commands.
#include <iostream>

#include "CddbCommands.h"
#include "Commands.h"
#include "Drives.h"

namespace trackwell {
namespace {

TCommandRegistration discid({"discid", "[--device N]",
                             "Print the disc IDs and the CDDB query line of a disc.",
                             [](const std::vector<std::string>& args) {
                               return ql::RunDiscIdCommand(args, OpenTrackTable, std::cout,
                                                           std::cerr);
                             }});

TCommandRegistration cddb({"cddb",
                           "query [--device N] [--server HOST] [--port P] --email E "
                           "[--first-match] [--http] [--no-cache] | "
                           "sites|categories [--server HOST] [--port P] --email E",
                           "Name a disc through a CDDB server, or list its sites or categories.",
                           [](const std::vector<std::string>& args) {
                             return ql::RunCddbCommand(args, OpenTrackTable, std::cout, std::cerr);
                           }});

}  // namespace
}  // namespace trackwell
