#pragma once
// One block of a socket's send queue: a byte array with a write count and a read count.
#include <vector>

namespace ql::net {

class TBuffer {
 public:
  explicit TBuffer(int size = 1514);
  // Copies as much of data as fits; returns the count taken.
  int Write(const char* data, int len);
  // The bytes written and not yet read.
  const char* Peek(int& len) const;
  void Remove(int len);
  bool IsEmpty() const { return RdCount >= WrCount; }
  bool IsFull() const { return WrCount >= static_cast<int>(Buf.size()); }
  int GetSize() const { return static_cast<int>(Buf.size()); }

 private:
  std::vector<char> Buf;
  int WrCount = 0;
  int RdCount = 0;
};

}  // namespace ql::net
