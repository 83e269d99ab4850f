#include "HttpCommands.h"

#include <cstdio>
#include <memory>

#include "HttpProt.h"
#include "PartialFile.h"
#include "PollDispatcher.h"

namespace ql::net {

int RunHttpCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const char* usage = "usage: http get URL -o FILE [--proxy HOST:PORT] [--timeout MS]\n";
  if (args.empty() || args[0] != "get") {
    err << usage;
    return 2;
  }
  std::string url, file, proxy;
  int timeout = 60000;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool more = i + 1 < args.size();
    if ((a == "-o" || a == "--output") && more) {
      file = args[++i];
    } else if (a == "--proxy" && more) {
      proxy = args[++i];
    } else if (a == "--timeout" && more) {
      timeout = std::atoi(args[++i].c_str());
    } else if (url.empty() && !a.empty() && a[0] != '-') {
      url = a;
    } else {
      err << usage;
      return 2;
    }
  }
  if (url.empty() || file.empty()) {
    err << usage;
    return 2;
  }
  std::unique_ptr<PollDispatcher> own;
  if (!CurrentDispatcher()) {
    own = std::make_unique<PollDispatcher>();
    SetDispatcher(own.get());
  }
  int rc = 0;
  {
    // The body goes to a temporary beside the file and takes the file's name only after a
    // complete, successful transfer: a failed one leaves an earlier file as it was.
    ql::PartialFileStream stream;
    try {
      const std::string target = ql::ResolveOutputTarget(file);
      const std::size_t slash = target.rfind('/');
      ql::RemoveLeftovers(slash == std::string::npos ? std::string() : target.substr(0, slash + 1));
      stream.Create(file);
    } catch (const std::exception& e) {
      err << "Cannot create file " << file << ": " << e.what() << "\n";
      if (own) SetDispatcher(nullptr);
      return 1;
    }
    THttpCli cli;
    cli.SetURL(url);
    cli.SetTimeout(timeout);
    if (!proxy.empty()) {
      size_t colon = proxy.rfind(':');
      cli.SetProxy(proxy.substr(0, colon));
      if (colon != std::string::npos) cli.SetProxyPort(proxy.substr(colon + 1));
    }
    cli.SetRcvdStream(&stream);
    try {
      cli.Get();
      cli.SetRcvdStream(nullptr);
      try {
        stream.Commit();
      } catch (const std::exception& e) {
        err << "Cannot write file " << file << ": " << e.what() << "\n";
        rc = 1;
      }
      out << "status\t" << cli.GetStatusCode() << "\n";
      out << "bytes\t" << cli.GetRcvdCount() << "\n";
      out << "content-type\t" << cli.GetContentType() << "\n";
    } catch (const std::exception& e) {
      cli.SetRcvdStream(nullptr);
      stream.Abandon();
      err << e.what() << "\n";
      rc = 1;
    }
  }
  if (own) SetDispatcher(nullptr);
  return rc;
}

}  // namespace ql::net
