#include "Checksums.h"

#include <zlib.h>

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ripper {

namespace {

std::uint32_t ZlibCrc(std::uint32_t crc, const unsigned char* p, std::size_t size) {
  while (size > 0) {
    const auto n = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    crc = static_cast<std::uint32_t>(crc32(crc, p, n));
    p += n;
    size -= n;
  }
  return crc;
}

#if defined(__x86_64__)
#define QL_FOLD_TARGET __attribute__((target("pclmul,sse4.1")))

QL_FOLD_TARGET inline __m128i Load(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// x multiplied forward by the two constants of k (one per half), added to next.
QL_FOLD_TARGET inline __m128i FoldInto(__m128i x, __m128i k, __m128i next) {
  const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// Folds the CRC register (not inverted here) over size bytes, size a multiple of 16 and at
// least 64: four 128-bit lanes are multiplied forward by x^(512+32) and x^512 modulo the
// polynomial and added to the next 64 bytes; the lanes are then folded into one, that one to
// 64 and 32 bits, and reduced by Barrett's method. The constants are those powers of x
// (bit-reflected) and the polynomial with its Barrett quotient.
QL_FOLD_TARGET std::uint32_t Fold(std::uint32_t crc, const unsigned char* buf, std::size_t len) {
  alignas(16) static const std::uint64_t k1k2[2] = {0x0154442bd4ULL, 0x01c6e41596ULL};
  alignas(16) static const std::uint64_t k3k4[2] = {0x01751997d0ULL, 0x00ccaa009eULL};
  alignas(16) static const std::uint64_t k5k0[2] = {0x0163cd6124ULL, 0};
  alignas(16) static const std::uint64_t poly[2] = {0x01db710641ULL, 0x01f7011641ULL};
  __m128i x1 = Load(buf), x2 = Load(buf + 16), x3 = Load(buf + 32), x4 = Load(buf + 48);
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  buf += 64;
  len -= 64;
  while (len >= 64) {
    x1 = FoldInto(x1, k, Load(buf));
    x2 = FoldInto(x2, k, Load(buf + 16));
    x3 = FoldInto(x3, k, Load(buf + 32));
    x4 = FoldInto(x4, k, Load(buf + 48));
    buf += 64;
    len -= 64;
  }
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  x1 = FoldInto(x1, k, x2);
  x1 = FoldInto(x1, k, x3);
  x1 = FoldInto(x1, k, x4);
  while (len >= 16) {
    x1 = FoldInto(x1, k, Load(buf));
    buf += 16;
    len -= 16;
  }
  // 128 to 64 bits.
  __m128i x2b = _mm_clmulepi64_si128(x1, k, 0x10);
  const __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2b);
  // 64 to 32 bits.
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2b = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, mask32);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x00), x2b);
  // Barrett reduction.
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2b = _mm_and_si128(x1, mask32);
  x2b = _mm_clmulepi64_si128(x2b, k, 0x10);
  x2b = _mm_and_si128(x2b, mask32);
  x2b = _mm_clmulepi64_si128(x2b, k, 0x00);
  x1 = _mm_xor_si128(x1, x2b);
  return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HasFold() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}
#endif

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
#if defined(__x86_64__)
  if (size >= 64 && HasFold()) {
    const std::size_t whole = size & ~std::size_t{15};
    crc = ~Fold(~crc, p, whole);
    p += whole;
    size -= whole;
  }
#endif
  return ZlibCrc(crc, p, size);
}

}  // namespace ripper
