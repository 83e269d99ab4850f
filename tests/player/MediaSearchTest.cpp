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
void Mkdir(const std::string& p) { ASSERT_EQ(mkdir(p.c_str(), 0755), 0) << p; }
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
