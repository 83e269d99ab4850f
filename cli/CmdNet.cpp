// trackwell http get URL -o FILE [--proxy HOST:PORT] [--timeout MS]
#include <iostream>

#include "Commands.h"
#include "HttpCommands.h"

namespace trackwell {
namespace {

TCommandRegistration http({"http", "get URL -o FILE [--proxy HOST:PORT] [--timeout MS]",
                           "Fetch a document over HTTP into a file.",
                           [](const std::vector<std::string>& args) {
                             return ql::net::RunHttpCommand(args, std::cout, std::cerr);
                           }});

}  // namespace
}  // namespace trackwell
