#include "WSockbuf.h"

#include <algorithm>
#include <cstring>

namespace ql::net {

TBuffer::TBuffer(int size) : Buf(static_cast<size_t>(std::max(size, 1))) {}

int TBuffer::Write(const char* data, int len) {
  int n = std::min(len, GetSize() - WrCount);
  if (n <= 0) return 0;
  std::memcpy(Buf.data() + WrCount, data, static_cast<size_t>(n));
  WrCount += n;
  return n;
}

const char* TBuffer::Peek(int& len) const {
  len = WrCount - RdCount;
  return Buf.data() + RdCount;
}

void TBuffer::Remove(int len) {
  RdCount = std::min(WrCount, RdCount + std::max(len, 0));
  if (RdCount == WrCount) RdCount = WrCount = 0;
}

}  // namespace ql::net
