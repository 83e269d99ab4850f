#include "Fs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "Exception.h"
#include "TestFiles.h"
#include "TextFile.h"

using namespace ql::fs;
using qltest::TempDir;

TEST(Fs, MasksMatchWithoutCaseAndStarDotStarMatchesAll) {
  EXPECT_TRUE(MatchesMask("song.mp3", "*.mp3"));
  EXPECT_TRUE(MatchesMask("SONG.MP3", "*.mp3"));
  EXPECT_FALSE(MatchesMask("song.mp3x", "*.mp3"));
  EXPECT_TRUE(MatchesMask("a.b.mp3", "*.mp3"));
  EXPECT_TRUE(MatchesMask("noext", "*.*"));
  EXPECT_TRUE(MatchesMask("ab", "a?"));
  EXPECT_FALSE(MatchesMask("abc", "a?"));
  EXPECT_TRUE(MatchesMask("xaaab", "*a*b"));
}

TEST(Fs, ListingGivesTheAttributesTheWalkTests) {
  TempDir dir;
  mkdir((dir / "sub").c_str(), 0755);
  mkdir((dir / "rosub").c_str(), 0555);
  mkdir((dir / ".hidden").c_str(), 0755);
  qltest::WriteFile(dir / "a.mp3", "x");
  qltest::WriteFile(dir / "ro.mp3", "x");
  chmod((dir / "ro.mp3").c_str(), 0444);
  ASSERT_EQ(symlink((dir / "sub").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "pipe.mp3").c_str(), 0644), 0);
  std::map<std::string, int> attrs;
  for (const auto& rec : FindFiles(dir.path(), "*")) attrs[rec.Name] = rec.Attr;
  EXPECT_EQ(attrs.size(), 7u);
  EXPECT_EQ(attrs["sub"], faDirectory);
  EXPECT_EQ(attrs["rosub"], faDirectory | faReadOnly);
  EXPECT_EQ(attrs[".hidden"], faDirectory | faHidden);
  EXPECT_EQ(attrs["a.mp3"], faArchive);
  EXPECT_EQ(attrs["ro.mp3"], faArchive | faReadOnly);
  EXPECT_EQ(attrs["link"], faDirectory | faReparsePoint);
  EXPECT_EQ(attrs["pipe.mp3"], faSysFile);
  auto mp3 = FindFiles(dir.path(), "*.MP3");
  EXPECT_EQ(mp3.size(), 3u);
  EXPECT_TRUE(FindFiles(dir / "missing", "*").empty());
}

TEST(Fs, AtomicWriteReplacesWholeAndReadSplitsBothLineEnds) {
  TempDir dir;
  ql::WriteFileAtomic(dir / "f.txt", "one\r\ntwo\nthree");
  EXPECT_EQ(ql::SplitLines(ql::ReadFileBytes(dir / "f.txt")),
            (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_TRUE(ql::SplitLines("").empty());
  EXPECT_EQ(ql::SplitLines("\r\n\r\n"), (std::vector<std::string>{"", ""}));
  chmod((dir / "f.txt").c_str(), 0600);
  ql::WriteFileAtomic(dir / "f.txt", "new");
  struct stat st;
  stat((dir / "f.txt").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // permissions survive the replace
  try {
    ql::ReadFileBytes(dir / "nope");
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
  EXPECT_THROW(ql::WriteFileAtomic(dir / "no/such/dir.txt", "x"), EInOutError);
}

TEST(Fs, PathHelpers) {
  EXPECT_EQ(ExtractFilePath("/a/b/c.qlm"), "/a/b/");
  EXPECT_EQ(ExtractFileName("/a/b/c.qlm"), "c.qlm");
  EXPECT_EQ(ExtractFilePath("c.qlm"), "");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
  EXPECT_GT(DiskFree("/tmp"), 0);
}
