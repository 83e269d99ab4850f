#include "MediaSearch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "Fs.h"
#include "TestFiles.h"

using qltest::TempDir;
using qltest::WriteFile;

namespace {
void Mkdir(const std::string& p) {
  ASSERT_EQ(mkdir(p.c_str(), 0755), 0) << p;
}
}  // namespace

TEST(MediaSearch, WalkIsDepthFirstWithSubfoldersBeforeFiles) {
  TempDir dir;
  std::string root = dir / "music";
  Mkdir(root);
  Mkdir(root + "/a");
  Mkdir(root + "/a/deep");
  Mkdir(root + "/b");
  WriteFile(root + "/top.mp3", "");
  WriteFile(root + "/a/one.MP3", "");
  WriteFile(root + "/a/deep/two.mp3", "");
  WriteFile(root + "/b/three.mp3", "");
  WriteFile(root + "/b/notes.txt", "");
  std::string before = ql::fs::GetCurrentDir();
  std::vector<std::string> found;
  ASSERT_TRUE(player::Walk(root, "*.mp3", found));
  EXPECT_EQ(ql::fs::GetCurrentDir(), root);  // the walked directory is current at its end
  ql::fs::SetCurrentDir(before);
  ASSERT_EQ(found.size(), 4u);
  // Each folder's files come after everything below it.
  auto pos = [&](const std::string& p) {
    return std::find(found.begin(), found.end(), p) - found.begin();
  };
  EXPECT_EQ(found.back(), root + "/top.mp3");
  EXPECT_LT(pos(root + "/a/deep/two.mp3"), pos(root + "/a/one.MP3"));
  EXPECT_LT(pos(root + "/b/three.mp3"), pos(root + "/top.mp3"));
}

TEST(MediaSearch, HiddenSpecialAndLinkedEntriesAreLeftOut) {
  TempDir dir;
  std::string root = dir / "m";
  Mkdir(root);
  Mkdir(root + "/.hidden");
  WriteFile(root + "/.hidden/in-hidden.mp3", "");
  WriteFile(root + "/.dot.mp3", "");
  Mkdir(root + "/ro");
  WriteFile(root + "/ro/readonly.mp3", "");
  chmod((root + "/ro/readonly.mp3").c_str(), 0444);
  chmod((root + "/ro").c_str(), 0555);
  Mkdir(dir / "elsewhere");
  WriteFile(dir / "elsewhere/linked.mp3", "");
  ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (root + "/link").c_str()), 0);
  ASSERT_EQ(symlink((dir / "elsewhere/linked.mp3").c_str(), (root + "/filelink.mp3").c_str()), 0);
  ASSERT_EQ(mkfifo((root + "/fifo.mp3").c_str(), 0644), 0);
  std::string before = ql::fs::GetCurrentDir();
  std::vector<std::string> found;
  player::Walk(root, "*.mp3", found);
  ql::fs::SetCurrentDir(before);
  chmod((root + "/ro").c_str(), 0755);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{root + "/filelink.mp3", root + "/ro/readonly.mp3"}));
}

TEST(MediaSearch, PathsNeverHoldTwoSeparatorsInARow) {
  EXPECT_EQ(player::CollapseSeparators("//a///b//c.mp3"), "/a/b/c.mp3");
  TempDir dir;
  WriteFile(dir / "x.wav", "");
  std::string before = ql::fs::GetCurrentDir();
  std::vector<std::string> found;
  player::Walk(dir.path() + "/", "*.wav", found);  // a start that ends in a separator
  ql::fs::SetCurrentDir(before);
  EXPECT_EQ(found, (std::vector<std::string>{dir / "x.wav"}));
  EXPECT_EQ(player::SearchPattern(1), "*.wav");
  EXPECT_EQ(player::SearchPattern(4), "*.mov");
  EXPECT_EQ(player::SearchPattern(5), "");
}

TEST(MediaSearch, AnUnreadableStartEndsTheWalkSilently) {
  std::vector<std::string> found;
  std::string before = ql::fs::GetCurrentDir();
  EXPECT_FALSE(player::Walk("/no/such/folder", "*.mp3", found));
  EXPECT_TRUE(found.empty());
  ql::fs::SetCurrentDir(before);
}

TEST(MediaSearch, FoldersAndFilesComeInFileManagerOrder) {
  // Names a ripper and a file manager produce: numbers without leading zeros, mixed case.
  EXPECT_TRUE(player::NaturalLess("2 b.mp3", "10 a.mp3"));
  EXPECT_TRUE(player::NaturalLess("track9.mp3", "track10.mp3"));
  EXPECT_TRUE(player::NaturalLess("Alpha.mp3", "beta.mp3"));
  EXPECT_TRUE(player::NaturalLess("disc 1", "Disc 2"));
  EXPECT_TRUE(player::NaturalLess("a.mp3", "a1.mp3"));
  EXPECT_TRUE(player::NaturalLess("x99999999999999999999.mp3", "x100000000000000000000.mp3"));
  EXPECT_FALSE(player::NaturalLess("same.mp3", "same.mp3"));
  // Names equal but for case or leading zeros still have one fixed order.
  EXPECT_NE(player::NaturalLess("A.mp3", "a.mp3"), player::NaturalLess("a.mp3", "A.mp3"));
  EXPECT_NE(player::NaturalLess("01.mp3", "1.mp3"), player::NaturalLess("1.mp3", "01.mp3"));

  TempDir dir;
  std::string root = dir / "album";
  Mkdir(root);
  // Created in a scrambled order, so that the directory's own order is not the answer.
  for (int n : {15, 3, 18, 1, 13, 2, 10, 7})
    WriteFile(root + "/" + std::to_string(n) + " song.mp3", "");
  Mkdir(root + "/CD10");
  Mkdir(root + "/cd2");
  Mkdir(root + "/CD1");
  WriteFile(root + "/CD10/b.mp3", "");
  WriteFile(root + "/CD10/A.mp3", "");
  WriteFile(root + "/cd2/x.mp3", "");
  WriteFile(root + "/CD1/y.mp3", "");
  std::string before = ql::fs::GetCurrentDir();
  std::vector<std::string> found;
  ASSERT_TRUE(player::Walk(root, "*.mp3", found));
  ql::fs::SetCurrentDir(before);
  std::vector<std::string> want = {root + "/CD1/y.mp3", root + "/cd2/x.mp3", root + "/CD10/A.mp3",
                                   root + "/CD10/b.mp3"};
  for (int n : {1, 2, 3, 7, 10, 13, 15, 18})
    want.push_back(root + "/" + std::to_string(n) + " song.mp3");
  EXPECT_EQ(found, want);
}

TEST(MediaSearch, SeveralMasksFindEveryKindOfMediaFile) {
  TempDir dir;
  WriteFile(dir / "a.FLAC", "");
  WriteFile(dir / "b.ogg", "");
  WriteFile(dir / "c.txt", "");
  WriteFile(dir / "d.mp3", "");
  std::string before = ql::fs::GetCurrentDir();
  std::vector<std::string> found;
  ASSERT_TRUE(player::Walk(dir.path(), player::kMediaPatterns, found));
  ql::fs::SetCurrentDir(before);
  EXPECT_EQ(found, (std::vector<std::string>{dir / "a.FLAC", dir / "b.ogg", dir / "d.mp3"}));
}
