// Names from outside (CDDB, CD-Text, typed) made fit for file names and stored values.
#include "SafeName.h"

#include <gtest/gtest.h>

#include "RipperText.h"

using ripper::MakeDistinct;
using ripper::SafeFileName;
using ripper::SafeName;
using ripper::SafeValue;

namespace {
bool ValidUtf8(const std::string& s) {
  return SafeValue(s) == s;
}
}  // namespace

TEST(SafeName, LineBreaksTabsAndOtherControlsNeverSurvive) {
  EXPECT_EQ(SafeValue("Intro\nf2=victim.txt"), "Introf2=victim.txt");
  EXPECT_EQ(SafeValue("a\r\nb\tc\x7f"
                      "d\xc2\x85"
                      "e"),
            "abcde");  // C1 NEL as well
  EXPECT_EQ(SafeValue("Song \"Live\"\t--preset"), "Song \"Live\"--preset");
  EXPECT_EQ(SafeValue("Caf\xc3\xa9 \xe2\x82\xac"), "Caf\xc3\xa9 \xe2\x82\xac");
}

TEST(SafeName, InvalidUtf8IsRepaired) {
  EXPECT_EQ(SafeValue("a\xff"
                      "b"),
            "a\xef\xbf\xbd"
            "b");
  EXPECT_EQ(SafeValue("\xc0\xaf"), "\xef\xbf\xbd\xef\xbf\xbd");                  // overlong "/"
  EXPECT_EQ(SafeValue("\xed\xa0\x80"), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");  // surrogate
  EXPECT_EQ(SafeValue("x\xe2\x82"), "x\xef\xbf\xbd\xef\xbf\xbd");                // cut short
}

TEST(SafeName, NothingLeavesTheFolder) {
  EXPECT_EQ(SafeName("../../etc/passwd"), "-..-etc-passwd");
  EXPECT_EQ(SafeName(".."), "track");
  EXPECT_EQ(SafeName(".", 4), "04");
  EXPECT_EQ(SafeName(".hidden"), "hidden");
  EXPECT_EQ(SafeName("a\\b"), "a-b");
  EXPECT_EQ(SafeName("  \n ", 7), "07");
  EXPECT_EQ(SafeName("", 12), "12");
  EXPECT_TRUE(ripper::IsSafeName("Band-Live-03-Intro.wav"));
  for (const char* bad : {"", ".", "..", "../x", "a/b", ".x", "a\nb", " a"})
    EXPECT_FALSE(ripper::IsSafeName(bad)) << bad;
}

TEST(SafeName, LongNamesAreCutOnACharacterBoundaryKeepingTheExtension) {
  std::string e_acute = "\xc3\xa9";
  std::string long_name;
  for (int i = 0; i < 150; ++i) long_name += e_acute;  // 300 bytes
  std::string name = SafeName(long_name);
  EXPECT_EQ(name.size(), 254u);  // 255 would split a character
  EXPECT_TRUE(ValidUtf8(name));
  std::string file = SafeFileName(long_name, "wav", 1);
  EXPECT_LE(file.size(), ripper::kMaxNameBytes);
  EXPECT_EQ(file.substr(file.size() - 4), ".wav");
  EXPECT_TRUE(ValidUtf8(file));
  // Through the window's naming, with artist and title added.
  ripper::TNamingOptions all{true, true, true, false};
  std::string track = ripper::MakeTrackFileName(long_name, "T", "3", long_name, "mp3", all);
  EXPECT_LE(track.size(), ripper::kMaxNameBytes);
  EXPECT_EQ(track.substr(track.size() - 4), ".mp3");
  EXPECT_TRUE(ValidUtf8(track));
}

TEST(SafeName, TrackNamesFromOutsideMakeSafeFileNames) {
  ripper::TNamingOptions none{false, false, false, false};
  ripper::TNamingOptions numbered{false, false, true, false};
  EXPECT_EQ(ripper::MakeTrackFileName("", "", "2", "Intro\nf2=victim.txt", "wav", none),
            "Introf2=victim.txt.wav");
  EXPECT_EQ(ripper::MakeTrackFileName("", "", "5", "", "wav", none), "05.wav");
  EXPECT_EQ(ripper::MakeTrackFileName("", "", "5", "..", "wav", numbered), "05-05.wav");
  EXPECT_EQ(ripper::MakeTrackFileName("", "", "5", "..", "wav", none), "05.wav");
  EXPECT_EQ(ripper::MakeTrackFileName(".Band", "", "1", "x", "wav",
                                      ripper::TNamingOptions{true, false, false, false}),
            "Band-x.wav");
}

TEST(SafeName, TracksOfOneRunGetDistinctNames) {
  std::vector<std::string> names = {"Intro.wav", "intro.WAV", "Intro (2).wav", "Intro.wav",
                                    "Outro.wav", "noext",     "noext"};
  MakeDistinct(names);
  std::vector<std::string> want = {"Intro.wav", "intro (3).WAV", "Intro (2).wav", "Intro (4).wav",
                                   "Outro.wav", "noext",         "noext (2)"};
  EXPECT_EQ(names, want);
  // A long duplicate stays within the limit.
  std::vector<std::string> longs(2, std::string(251, 'x') + ".wav");
  MakeDistinct(longs);
  EXPECT_NE(longs[0], longs[1]);
  EXPECT_EQ(longs[1].size(), ripper::kMaxNameBytes);
  EXPECT_EQ(longs[1].substr(longs[1].size() - 8), " (2).wav");
}
