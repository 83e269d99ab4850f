#include "AccurateRip.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ripper {

namespace {
constexpr std::uint32_t kSectorFrames = 588;

std::uint32_t Le32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// The sums over n frames from p at positions at, at + 1, ...: lo gathers the low and hi the
// high 32 bits of each product (v1 is lo, v2 is lo + hi, both modulo 2^32). Positions stay
// below 2^32: a track has fewer frames.
void SumPlain(const unsigned char* p, std::size_t n, std::uint64_t at, std::uint64_t& lo,
              std::uint64_t& hi) {
  for (std::size_t i = 0; i < n; ++i, ++at) {
    const std::uint64_t product = std::uint64_t(Le32(p + 4 * i)) * at;
    lo += static_cast<std::uint32_t>(product);
    hi += product >> 32;
  }
}

#if defined(__x86_64__)
// Four frames at a time: each 32-bit frame widened to a 64-bit lane and multiplied by its
// position; the low and high halves of the products summed in 64-bit lanes.
__attribute__((target("avx2"))) void SumAvx2(const unsigned char* p, std::size_t n,
                                             std::uint64_t at, std::uint64_t& lo,
                                             std::uint64_t& hi) {
  const __m256i four = _mm256_set1_epi64x(4), low = _mm256_set1_epi64x(0xFFFFFFFF);
  const auto first = static_cast<long long>(at);
  __m256i pos = _mm256_set_epi64x(first + 3, first + 2, first + 1, first);
  __m256i sumLo = _mm256_setzero_si256(), sumHi = _mm256_setzero_si256();
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256i frames =
        _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * i)));
    const __m256i product = _mm256_mul_epu32(frames, pos);
    sumLo = _mm256_add_epi64(sumLo, _mm256_and_si256(product, low));
    sumHi = _mm256_add_epi64(sumHi, _mm256_srli_epi64(product, 32));
    pos = _mm256_add_epi64(pos, four);
  }
  alignas(32) std::uint64_t l[4], h[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(l), sumLo);
  _mm256_store_si256(reinterpret_cast<__m256i*>(h), sumHi);
  lo += l[0] + l[1] + l[2] + l[3];
  hi += h[0] + h[1] + h[2] + h[3];
  SumPlain(p + 4 * i, n - i, at + i, lo, hi);
}
bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#else
void SumAvx2(const unsigned char* p, std::size_t n, std::uint64_t at, std::uint64_t& lo,
             std::uint64_t& hi) {
  SumPlain(p, n, at, lo, hi);
}
bool HaveAvx2() {
  return false;
}
#endif
}  // namespace

void TAccurateRip::Reset(std::uint32_t frames, bool firstTrack, bool lastTrack) {
  first_ = firstTrack ? 5 * kSectorFrames - 1 : 1;
  last_ = lastTrack ? (frames > 5 * kSectorFrames ? frames - 5 * kSectorFrames : 0) : frames;
  pos_ = 0;
  v1_ = v2_ = 0;
  carried_ = 0;
}

void TAccurateRip::Update(const void* data, std::size_t bytes) {
  const auto* p = static_cast<const unsigned char*>(data);
  auto take = [this](std::uint32_t word) {
    const std::uint64_t at = ++pos_;
    if (at < first_ || at > last_) return;
    const std::uint64_t product = std::uint64_t(word) * at;
    v1_ += static_cast<std::uint32_t>(product);
    v2_ += static_cast<std::uint32_t>(product) + static_cast<std::uint32_t>(product >> 32);
  };
  while (carried_ > 0 && carried_ < 4 && bytes > 0) {
    carry_[carried_++] = *p++;
    --bytes;
    if (carried_ == 4) {
      take(Le32(carry_));
      carried_ = 0;
    }
  }
  const std::size_t whole = bytes / 4;
  // The frames lie at positions pos_ + 1 ... pos_ + whole; only those in [first_, last_] count.
  const std::uint64_t begin = std::max<std::uint64_t>(pos_ + 1, first_);
  const std::uint64_t end = std::min<std::uint64_t>(pos_ + whole, last_);
  if (begin <= end) {
    std::uint64_t lo = 0, hi = 0;
    const unsigned char* from = p + 4 * (begin - pos_ - 1);
    const std::size_t count = static_cast<std::size_t>(end - begin + 1);
    if (HaveAvx2())
      SumAvx2(from, count, begin, lo, hi);
    else
      SumPlain(from, count, begin, lo, hi);
    v1_ += static_cast<std::uint32_t>(lo);
    v2_ += static_cast<std::uint32_t>(lo + hi);
  }
  pos_ += whole;
  p += 4 * whole;
  bytes -= 4 * whole;
  for (std::size_t i = 0; i < bytes; ++i) carry_[carried_++] = p[i];
}

std::string TAccurateRipDisc::Path() const {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%x/%x/%x/dBAR-%03d-%08x-%08x-%08x.bin", id1 & 0xF,
                (id1 >> 4) & 0xF, (id1 >> 8) & 0xF, tracks, id1, id2, cddbId);
  return buf;
}

TAccurateRipDisc AccurateRipDisc(const std::vector<std::uint32_t>& trackStarts,
                                 std::uint32_t leadOut, std::uint32_t cddbId) {
  TAccurateRipDisc d;
  d.tracks = static_cast<int>(trackStarts.size());
  d.cddbId = cddbId;
  for (std::size_t i = 0; i < trackStarts.size(); ++i) {
    d.id1 += trackStarts[i];
    d.id2 += std::max<std::uint32_t>(trackStarts[i], 1) * static_cast<std::uint32_t>(i + 1);
  }
  d.id1 += leadOut;
  d.id2 += leadOut * static_cast<std::uint32_t>(trackStarts.size() + 1);
  return d;
}

bool AccurateRipLookup(const std::string& entry, const TAccurateRipDisc& disc, int track,
                       std::uint32_t v1, std::uint32_t v2, TAccurateRipMatch& match) {
  match = TAccurateRipMatch{};
  const auto* p = reinterpret_cast<const unsigned char*>(entry.data());
  std::size_t left = entry.size();
  int bestCount = -1;
  if (left == 0) return false;
  while (left > 0) {
    if (left < 13) return false;
    const int count = p[0];
    const std::uint32_t id1 = Le32(p + 1), id2 = Le32(p + 5), cddb = Le32(p + 9);
    const std::size_t size = 13 + std::size_t(count) * 9;
    if (count == 0 || left < size) return false;
    if (count == disc.tracks && id1 == disc.id1 && id2 == disc.id2 && cddb == disc.cddbId &&
        track >= 1 && track <= count) {
      const unsigned char* t = p + 13 + std::size_t(track - 1) * 9;
      const int confidence = t[0];
      const std::uint32_t crc = Le32(t + 1);
      match.found = true;
      if (confidence > bestCount) {
        bestCount = confidence;
        match.best = crc;
      }
      if ((crc == v1 || crc == v2) && confidence > match.confidence) {
        match.confidence = confidence;
        match.v2 = crc == v2 && crc != v1;
      }
    }
    p += size;
    left -= size;
  }
  return true;
}

}  // namespace ripper
