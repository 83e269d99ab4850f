// The AccurateRip checksums against a plain computation over the whole track, whatever the
// pieces they are fed in; the disc's identifiers and entry address; reading entries.
#include "AccurateRip.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using ripper::TAccurateRip;

namespace {

// The published rule written out once more, over the whole track at once.
void Plain(const std::vector<std::uint32_t>& words, bool first, bool last, std::uint32_t& v1,
           std::uint32_t& v2) {
  v1 = v2 = 0;
  const std::uint64_t n = words.size();
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint64_t mult = i + 1;
    if (first && mult < 5 * 588 - 1) continue;
    if (last && mult > n - 5 * 588) continue;
    const std::uint64_t p = std::uint64_t(words[i]) * mult;
    v1 += static_cast<std::uint32_t>(p);
    v2 += static_cast<std::uint32_t>(p >> 32) + static_cast<std::uint32_t>(p);
  }
}

std::string Le(std::uint32_t v) {
  return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

}  // namespace

TEST(AccurateRip, ChecksumsEqualThePlainRuleForEveryPlaceOnTheDiscAndAnySplit) {
  // Two products: 1*1 + 2*2 + 3*3, then one whose high half counts in v2 only.
  TAccurateRip small(3, false, false);
  const std::uint32_t w[] = {1, 2, 3};
  small.Update(w, sizeof w);
  EXPECT_EQ(small.V1(), 14u);
  EXPECT_EQ(small.V2(), 14u);
  TAccurateRip high(2, false, false);
  const std::uint32_t h[] = {0, 0xFFFFFFFFu};
  high.Update(h, sizeof h);
  EXPECT_EQ(high.V1(), 0xFFFFFFFEu);
  EXPECT_EQ(high.V2(), 0xFFFFFFFFu);

  std::mt19937 rng(11);
  std::vector<std::uint32_t> words(588 * 40 + 7);
  for (auto& x : words) x = rng();
  const auto* bytes = reinterpret_cast<const unsigned char*>(words.data());
  for (bool first : {false, true})
    for (bool last : {false, true}) {
      std::uint32_t v1, v2;
      Plain(words, first, last, v1, v2);
      TAccurateRip ar(static_cast<std::uint32_t>(words.size()), first, last);
      std::size_t at = 0, step = 1;
      while (at < words.size() * 4) {
        const std::size_t n = std::min(step, words.size() * 4 - at);
        ar.Update(bytes + at, n);
        at += n;
        step = step * 3 % 9973 + 1;  // 1, 4, 13, ... odd pieces that split frames
      }
      EXPECT_EQ(ar.Frames(), words.size());
      EXPECT_EQ(ar.V1(), v1) << first << last;
      EXPECT_EQ(ar.V2(), v2) << first << last;
    }
  // A track shorter than the five sectors the last track leaves out sums nothing.
  TAccurateRip tiny(100, false, true);
  tiny.Update(words.data(), 400);
  EXPECT_EQ(tiny.V1(), 0u);
}

TEST(AccurateRip, DiscIdentifiersAndEntriesOfSeveralBlocks) {
  const auto disc = ripper::AccurateRipDisc({0, 300, 337}, 412, 0x0a000303);
  EXPECT_EQ(disc.id1, 1049u);                   // 0 + 300 + 337 + 412
  EXPECT_EQ(disc.id2, 1 + 600 + 1011 + 1648u);  // each start (at least 1) times its number
  EXPECT_EQ(disc.Path(), "9/1/4/dBAR-003-00000419-00000cbc-0a000303.bin");

  auto block = [](const ripper::TAccurateRipDisc& d,
                  const std::vector<std::pair<int, std::uint32_t>>& t) {
    std::string b(1, char(t.size()));
    b += Le(d.id1) + Le(d.id2) + Le(d.cddbId);
    for (auto [confidence, crc] : t) b += std::string(1, char(confidence)) + Le(crc) + Le(0);
    return b;
  };
  auto other = disc;
  other.id2 += 1;
  const std::string entry = block(other, {{200, 0x11}, {200, 0x22}, {200, 0x33}}) +
                            block(disc, {{5, 0xAAAA}, {7, 0xBBBB}, {2, 0xCCCC}}) +
                            block(disc, {{9, 0xAAAA}, {3, 0x2222}, {1, 0xCCCD}});
  ripper::TAccurateRipMatch m;
  ASSERT_TRUE(ripper::AccurateRipLookup(entry, disc, 1, 0xAAAA, 0x1234, m));
  EXPECT_TRUE(m.found);
  EXPECT_EQ(m.confidence, 9);  // the better of the two blocks
  EXPECT_FALSE(m.v2);
  ASSERT_TRUE(ripper::AccurateRipLookup(entry, disc, 2, 0x9999, 0x2222, m));
  EXPECT_EQ(m.confidence, 3);
  EXPECT_TRUE(m.v2);
  // Another disc's blocks never match, even with its checksum.
  ASSERT_TRUE(ripper::AccurateRipLookup(entry, disc, 2, 0x22, 0x22, m));
  EXPECT_TRUE(m.found);
  EXPECT_EQ(m.confidence, 0);
  EXPECT_EQ(m.best, 0xBBBBu);
  // A track the entry lacks; data that is no entry.
  ASSERT_TRUE(ripper::AccurateRipLookup(entry, disc, 4, 0, 0, m));
  EXPECT_FALSE(m.found);
  EXPECT_FALSE(ripper::AccurateRipLookup(entry.substr(0, entry.size() - 3), disc, 1, 0, 0, m));
  EXPECT_FALSE(ripper::AccurateRipLookup("<html>404</html>", disc, 1, 0, 0, m));
  EXPECT_FALSE(ripper::AccurateRipLookup("", disc, 1, 0, 0, m));
}
