// File names, cells and texts of the CD-extraction window.
#include <gtest/gtest.h>

#include "RipperText.h"

using ripper::MakeTrackFileName;
using ripper::TNamingOptions;

TEST(RipperText, TrackFileNamesFollowTheNamingOptions) {
  TNamingOptions all{true, true, true, false};
  EXPECT_EQ(MakeTrackFileName("Band", "Live", "3", "Intro", "wav", all), "Band-Live-03-Intro.wav");
  EXPECT_EQ(MakeTrackFileName("A/B", "T", "12", "x", "mp3", all), "A-B-T-12-x.mp3");
  TNamingOptions none{false, false, false, false};
  EXPECT_EQ(MakeTrackFileName("Band", "Live", "3", "My Song", "wav", none), "My Song.wav");
  TNamingOptions external{false, false, false, true};
  EXPECT_EQ(MakeTrackFileName("", "", "1", "My Song", "wav", external), "My_Song.wav");
  // Every one of ! / < > ? [ \ ] | becomes "-"; control characters go and broken UTF-8 is
  // repaired; other characters stay.
  EXPECT_EQ(MakeTrackFileName("", "", "1", "a!b/c<d>e?f[g\\h]i|j:k*\x01\xe9\xc3\xa9", "wav", none),
            "a-b-c-d-e-f-g-h-i-j:k*\xef\xbf\xbd\xc3\xa9.wav");
  // Artist and title only, and a three-digit number.
  TNamingOptions artistOnly{true, false, false, false};
  EXPECT_EQ(MakeTrackFileName("Band", "Live", "3", "Intro", "wav", artistOnly), "Band-Intro.wav");
  EXPECT_EQ(MakeTrackFileName("", "", "100", "x", "wav", TNamingOptions{false, false, true, false}),
            "100-x.wav");
}

TEST(RipperText, ATrackCellThatIsNoNumberIsRefusedOnlyWhenTheNumberIsAdded) {
  TNamingOptions number{false, false, true, false};
  try {
    MakeTrackFileName("", "", "x1", "n", "wav", number);
    FAIL() << "no error";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "'x1' is not a valid integer value");
  }
  EXPECT_THROW(MakeTrackFileName("", "", "", "n", "wav", number), std::exception);
  EXPECT_EQ(MakeTrackFileName("", "", " 7 ", "n", "wav", number), "07-n.wav");
  EXPECT_EQ(MakeTrackFileName("", "", "x1", "n", "wav", TNamingOptions{false, false, false, false}),
            "n.wav");
}

TEST(RipperText, CellsSectionNamesAndTheCddbTitle) {
  // Packed minute:second:frame, minute in the low byte.
  EXPECT_EQ(ripper::FormatMinSec(0x0A0203), "03:02");
  EXPECT_EQ(ripper::FormatMinSec(0x00003D), "01:00");  // 61 minutes: modulo one hour
  EXPECT_EQ(ripper::DiscSectionName(0x3A1F7), "3a1f7");
  EXPECT_EQ(ripper::DiscSectionName(0), "0");
  EXPECT_EQ(ripper::SizeKB(300), "689");
  EXPECT_EQ(ripper::SizeKB(0xFFFFFFFFu), "9865003005");
  EXPECT_EQ(ripper::TitleAfterSlash("Some One / A Disc"), "A Disc");
  EXPECT_EQ(ripper::TitleAfterSlash("No slash"), "");
  EXPECT_EQ(ripper::TitleAfterSlash("Ends/"), "");
  EXPECT_EQ(ripper::TitleAfterSlash("a/b/c"), "/c");
  auto page = ripper::HintsPage({{"sbPlay", "Play."}, {"sbStop", ""}, {"Grid", "Tracks."}});
  std::vector<std::string> want = {"<html>",
                                   "<title>Quillon Trackwell: Functions</title>",
                                   "<body>",
                                   "<B>sbPlay</B><br>Play.<br><br>",
                                   "<B>Grid</B><br>Tracks.<br><br>",
                                   "</body>",
                                   "</html>"};
  EXPECT_EQ(page, want);
}
