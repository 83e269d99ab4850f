// The folding CRC-32 against zlib's over every length and alignment that takes a different
// path (shorter than one fold, the four-lane loop, the single-lane tail, the byte tail), and
// continued over pieces as the tap feeds it.
#include "Checksums.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

TEST(Checksums, Crc32EqualsZlibForEveryLengthAlignmentAndSplit) {
  std::mt19937 rng(7);
  std::vector<unsigned char> data(70000);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  auto zlib = [&](std::size_t at, std::size_t n) {
    return static_cast<std::uint32_t>(crc32(0, data.data() + at, static_cast<uInt>(n)));
  };
  for (std::size_t n = 0; n <= 300; ++n)
    for (std::size_t at : {0, 1, 7, 15})
      ASSERT_EQ(ripper::Crc32(0, data.data() + at, n), zlib(at, n)) << n << " at " << at;
  EXPECT_EQ(ripper::Crc32(0, data.data(), data.size()), zlib(0, data.size()));
  // Continued: a CD sector's worth, then odd pieces.
  std::uint32_t crc = 0;
  std::size_t at = 0;
  for (std::size_t piece : {2352, 1, 63, 64, 65, 4095, 35280}) {
    crc = ripper::Crc32(crc, data.data() + at, piece);
    at += piece;
  }
  EXPECT_EQ(crc, zlib(0, at));
  // The check value of the zip CRC.
  EXPECT_EQ(ripper::Crc32(0, "123456789", 9), 0xCBF43926u);
  const std::vector<unsigned char> zeros(4096, 0);
  EXPECT_EQ(ripper::Crc32(0, zeros.data(), zeros.size()),
            static_cast<std::uint32_t>(crc32(0, zeros.data(), 4096)));
}
