#include "AccurateRip.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ripper {

namespace {
constexpr std::uint32_t kSectorFrames = 588;

std::uint32_t Le32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
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
  // The sums in locals: stores through `this` could alias the bytes read, which would keep
  // the compiler from holding them in registers.
  const std::size_t whole = bytes / 4;
  std::uint64_t pos = pos_;
  std::uint32_t v1 = v1_, v2 = v2_;
  const std::uint64_t first = first_, last = last_;
  for (std::size_t i = 0; i < whole; ++i) {
    const std::uint64_t at = ++pos;
    if (at < first || at > last) continue;
    const std::uint64_t product = std::uint64_t(Le32(p + 4 * i)) * at;
    v1 += static_cast<std::uint32_t>(product);
    v2 += static_cast<std::uint32_t>(product) + static_cast<std::uint32_t>(product >> 32);
  }
  pos_ = pos;
  v1_ = v1;
  v2_ = v2;
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
