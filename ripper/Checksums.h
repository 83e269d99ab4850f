#pragma once
// Checksums of ripped audio. Any thread.
#include <cstddef>
#include <cstdint>

namespace ripper {

// The CRC-32 of the zip format (reflected polynomial 0xEDB88320), continued from crc (0 for
// the first bytes): the same value as zlib's crc32(). On processors with carry-less
// multiplication it folds 64 bytes at a time, several times faster than a table; the rest is
// zlib's.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace ripper
