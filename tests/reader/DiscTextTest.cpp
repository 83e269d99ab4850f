// The disc's text as the CD reader gives it, and the names it fills for a disc the store does
// not know.
#include <gtest/gtest.h>

#include "DiscText.h"

using namespace ripper;

TEST(DiscText, ParsesTheReadersLines) {
  TDiscText t = ParseDiscText(
      "0\tTITLE\tThe Album\n0\tPERFORMER\tThe Band\n0\tUPC_EAN\t0123456789012\n"
      "1\tTITLE\tFirst\x01 Song\n1\tISRC\tGBAAA9900001\n3\tPERFORMER\tGuest\n"
      "bad line\n100\tTITLE\tno such track\n\tTITLE\tno number\n2\tTITLE\t\n"
      "4\tTITLE\tBad \xff byte");
  EXPECT_EQ(t.title, "The Album");
  EXPECT_EQ(t.artist, "The Band");
  EXPECT_EQ(t.catalog, "0123456789012");
  ASSERT_NE(t.Track(1), nullptr);
  EXPECT_EQ(t.Track(1)->title, "First Song");  // control characters removed
  EXPECT_EQ(t.Track(1)->isrc, "GBAAA9900001");
  EXPECT_EQ(t.Track(2), nullptr);  // an empty value is no text
  EXPECT_EQ(t.Track(3)->title, "");
  EXPECT_EQ(t.Track(4)->title, "Bad \xEF\xBF\xBD byte");  // repaired to UTF-8
  EXPECT_TRUE(ParseDiscText("").Empty());
}

TEST(DiscText, FillsOnlyWhatTheNamesLack) {
  TDiscText t =
      ParseDiscText("0\tTITLE\tAlbum\n0\tPERFORMER\tBand\n1\tTITLE\tOne\n3\tTITLE\tThree\n");
  TDiscNames n;
  n.names = {"", "Kept"};
  EXPECT_TRUE(FillFromDiscText(n, t, {1, 2, 3}));
  EXPECT_EQ(n.artist, "Band");
  EXPECT_EQ(n.title, "Album");
  ASSERT_EQ(n.names.size(), 3u);
  EXPECT_EQ(n.names[0], "One");
  EXPECT_EQ(n.names[1], "Kept");
  EXPECT_EQ(n.names[2], "Three");
  // Nothing left to fill.
  EXPECT_FALSE(FillFromDiscText(n, t, {1, 2, 3}));
  TDiscNames empty;
  EXPECT_FALSE(FillFromDiscText(empty, TDiscText{}, {1}));
}
