#pragma once
// Socket error codes in the numbering the rest of the system knows (10035 "would block", 11001
// "host not found", ...), their texts, and the mapping from the POSIX error values.
#include <string>

#include "Exception.h"

namespace ql::net {

enum : int {
  WSAEINTR = 10004,
  WSAEBADF = 10009,
  WSAEINVAL = 10022,
  WSAEWOULDBLOCK = 10035,
  WSAENOTSOCK = 10038,
  WSAECONNABORTED = 10053,
  WSAECONNRESET = 10054,
  WSAENOTCONN = 10057,
  WSAETIMEDOUT = 10060,
  WSAECONNREFUSED = 10061,
  WSAHOST_NOT_FOUND = 11001,
  WSATRY_AGAIN = 11002,
  WSANO_RECOVERY = 11003,
  WSANO_DATA = 11004,
};

// The text of an error code: "Connection refused", ..., "Not a WinSock error" for unknown codes.
std::string WSocketErrorDesc(int code);
// errno value -> socket error code (10000 + the classic socket numbering).
int WsaFromErrno(int err);
// getaddrinfo() result -> socket error code.
int WsaFromGai(int gai_error);

}  // namespace ql::net

class ESocketException : public Exception {
 public:
  using Exception::Exception;
};
