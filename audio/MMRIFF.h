#pragma once
// The buffered RIFF file layer: byte I/O through one buffer, and chunks (descend into a chunk,
// ascend out of it completing its size and pad byte, create a chunk).
#include <cstdint>
#include <string>
#include <vector>

using FOURCC = std::uint32_t;
constexpr FOURCC MakeFourCC(const char (&s)[5]) {
  return FOURCC(std::uint8_t(s[0])) | FOURCC(std::uint8_t(s[1])) << 8 |
         FOURCC(std::uint8_t(s[2])) << 16 | FOURCC(std::uint8_t(s[3])) << 24;
}
std::string FourCCText(FOURCC id);

struct TMMCKInfo {
  FOURCC ckid = 0;
  std::uint32_t cksize = 0;
  FOURCC fccType = 0;             // form or list type of RIFF and LIST chunks
  std::int64_t dwDataOffset = 0;  // file offset of the chunk's body (after the size field)
  bool dirty = false;             // created here: its size is written on ascend
};

enum TMMIOMode { mmioRead, mmioReadWrite, mmioCreate };  // create: create + read/write
enum TMMIOFind { mmioFindChunk = 1, mmioFindRiff = 2, mmioFindList = 4 };

class TMMIOFile {
 public:
  TMMIOFile() = default;
  ~TMMIOFile();
  TMMIOFile(const TMMIOFile&) = delete;
  TMMIOFile& operator=(const TMMIOFile&) = delete;

  bool Open(const std::string& name, TMMIOMode mode);
  // Reads and writes through a duplicate of fd (an open regular file), from its start.
  bool Attach(int fd);
  bool Close();  // flushes; false when a write failed
  // The errno of the first failed write, flush or truncation; 0 while none failed.
  int LastError() const { return err_; }
  bool IsOpen() const { return fd_ >= 0; }
  bool SetBuffer(std::size_t size);

  // Returns the bytes transferred, -1 on error.
  std::int64_t Read(void* buf, std::int64_t count);
  std::int64_t Write(const void* buf, std::int64_t count);
  std::int64_t Seek(std::int64_t pos);  // absolute
  std::int64_t Tell() const { return pos_; }
  std::int64_t FileSize() const;
  bool Flush();
  bool Truncate(std::int64_t size);
  void Swap(TMMIOFile& other);

  // Reads the chunk header at the current position. With a find flag the chunks are walked until
  // one matches ck.ckid (FindChunk) or ck.fccType (FindRiff/FindList). A parent bounds the walk.
  bool Descend(TMMCKInfo& ck, const TMMCKInfo* parent, int find);
  // Leaves the chunk: a created chunk gets its size (from the current position) and pad byte.
  bool Ascend(TMMCKInfo& ck);
  // Writes the header of a new chunk at the current position (RIFF/LIST with their type).
  bool CreateChunk(TMMCKInfo& ck, int kind);

 private:
  // Takes an open descriptor (or -1) as the file: a regular file only.
  bool Adopt(int fd);
  bool Fill();
  int fd_ = -1;
  std::vector<char> buf_ = std::vector<char>(8192);
  std::int64_t bufStart_ = 0;
  std::size_t bufValid_ = 0;
  bool dirty_ = false;
  bool failed_ = false;
  int err_ = 0;
  std::int64_t pos_ = 0;
  std::int64_t size_ = 0;  // largest known end of file
};

// Why a wave format read from a file cannot be used ("the format has no channels", ...), or
// none when it can: no channels, a rate of 0, more channels or a higher rate than any sound
// hardware has, and PCM samples that are not 8, 16, 24 or 32 bits.
struct TWaveFormatEx;
const char* WaveFormatProblem(const TWaveFormatEx* f);
