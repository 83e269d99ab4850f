#include "Profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "Exception.h"
#include "TestFiles.h"

using qltest::ReadFile;
using qltest::TempDir;
using qltest::WriteFile;

TEST(Profile, MissingFileSectionOrKeyYieldsTheDefault) {
  TempDir dir;
  TIniFile ini(dir / "none.ini");
  EXPECT_EQ(ini.ReadString("Options", "Left", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("Options", "Left", 348), 348);
  EXPECT_TRUE(ini.ReadBool("Options", "AutoSave", true));
  WriteFile(dir / "some.ini", "[Other]\r\nLeft=1\r\n[Options]\r\nTop=2\r\n");
  TIniFile some(dir / "some.ini");
  EXPECT_EQ(some.ReadInteger("Options", "Left", 7), 7);
  EXPECT_EQ(some.ReadInteger("Options", "Top", 7), 2);
}

TEST(Profile, SectionsAndKeysMatchWithoutCaseAndValuesAreTrimmed) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[OPTIONS]\nLEFT = 12 \n; Left=99\nName=\"quoted value\"\n");
  TIniFile ini(dir / "a.ini");
  EXPECT_EQ(ini.ReadInteger("options", "left", 0), 12);
  EXPECT_EQ(ini.ReadString("Options", "name", ""), "quoted value");
  EXPECT_EQ(ini.ReadSection("Options"), (std::vector<std::string>{"LEFT", "Name"}));
}

TEST(Profile, IntegersAndBooleansReadAsTheSystemReadsThem) {
  EXPECT_EQ(ql::profile::ParseInt("42", 0), 42);
  EXPECT_EQ(ql::profile::ParseInt(" -7", 0), -7);
  EXPECT_EQ(ql::profile::ParseInt("$1F", 0), 31);
  EXPECT_EQ(ql::profile::ParseInt("0x10", 0), 16);
  EXPECT_EQ(ql::profile::ParseInt("12abc", 5), 5);
  EXPECT_EQ(ql::profile::ParseInt("true", 5), 5);
  EXPECT_EQ(ql::profile::ParseInt("99999999999", 5), 5);
  TempDir dir;
  WriteFile(dir / "b.ini", "[S]\nA=1\nB=0\nC=-3\nD=yes\nE=\n");
  TIniFile ini(dir / "b.ini");
  EXPECT_TRUE(ini.ReadBool("S", "A", false));
  EXPECT_FALSE(ini.ReadBool("S", "B", true));
  EXPECT_TRUE(ini.ReadBool("S", "C", false));  // any non-zero value
  EXPECT_TRUE(ini.ReadBool("S", "D", true));   // not a number: the default
  EXPECT_FALSE(ini.ReadBool("S", "E", false));
}

TEST(Profile, WritingOneKeyKeepsEverythingElseOfTheFile) {
  TempDir dir;
  std::string before =
      "; settings\r\n[Options]\r\nLeft=1\r\n; a comment\r\nTop=2\r\n\r\n[Other]\r\nx=y\r\n";
  WriteFile(dir / "c.ini", before);
  TIniFile ini(dir / "c.ini");
  ini.WriteInteger("options", "LEFT", 300);
  EXPECT_EQ(
      ReadFile(dir / "c.ini"),
      "; settings\r\n[Options]\r\nLeft=300\r\n; a comment\r\nTop=2\r\n\r\n[Other]\r\nx=y\r\n");
  ini.WriteBool("Options", "AutoSave", true);  // new key: at the end of its section
  ini.WriteString("New", "K", "v");            // new section: at the end of the file
  EXPECT_EQ(ReadFile(dir / "c.ini"),
            "; settings\r\n[Options]\r\nLeft=300\r\n; a comment\r\nTop=2\r\nAutoSave=1\r\n\r\n"
            "[Other]\r\nx=y\r\n\r\n[New]\r\nK=v\r\n");
  ini.DeleteKey("Options", "Top");
  ini.EraseSection("other");
  EXPECT_EQ(ReadFile(dir / "c.ini"),
            "; settings\r\n[Options]\r\nLeft=300\r\n; a comment\r\nAutoSave=1\r\n\r\n"
            "[New]\r\nK=v\r\n");
}

TEST(Profile, ABatchStoresItsWritesTogetherKeepingTheRestOfTheFile) {
  TempDir dir;
  WriteFile(dir / "b.ini", "; top\r\n[Options]\r\nLeft=1\r\n\r\n[Other]\r\nx=y\r\n");
  TIniBatch batch(dir / "b.ini");
  batch.WriteInteger("options", "LEFT", 5);
  batch.WriteString("Disc", "0", "Intro");
  batch.WriteBool("Options", "Hints", true);
  batch.WriteString("Disc", "0", "Intro 2");  // a later write of the same key wins
  // Nothing reaches the file before Commit.
  EXPECT_EQ(TIniFile(dir / "b.ini").ReadString("Options", "Left", ""), "1");
  EXPECT_EQ(batch.Pending(), 4u);
  batch.Commit();
  EXPECT_EQ(batch.Pending(), 0u);
  EXPECT_EQ(ReadFile(dir / "b.ini"),
            "; top\r\n[Options]\r\nLeft=5\r\nHints=1\r\n\r\n[Other]\r\nx=y\r\n\r\n"
            "[Disc]\r\n0=Intro 2\r\n");
  // A batch over a file that cannot be replaced writes nothing and says so.
  std::string path = dir / "dir.ini";
  mkdir(path.c_str(), 0755);
  TIniBatch refused(path);
  refused.WriteString("S", "k", "v");
  EXPECT_THROW(refused.Commit(), EInOutError);
  EXPECT_EQ(refused.Pending(), 0u);
  TIniBatch empty(dir / "never.ini");
  empty.Commit();
  EXPECT_FALSE(std::filesystem::exists(dir / "never.ini"));
}

TEST(Profile, NothingIsCachedBetweenCalls) {
  TempDir dir;
  TIniFile ini(dir / "d.ini");
  ini.WriteString("S", "k", "one");
  WriteFile(dir / "d.ini", "[S]\r\nk=two\r\n");  // changed behind the object's back
  EXPECT_EQ(ini.ReadString("S", "k", ""), "two");
}

TEST(Profile, AFailedWriteLeavesTheOldFileWhole) {
  if (geteuid() == 0) {
    // root writes into read-only folders; use a full device instead where one exists.
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP();
  }
  TempDir dir;
  std::string sub = dir / "ro";
  mkdir(sub.c_str(), 0755);
  WriteFile(sub + "/e.ini", "[S]\r\nk=old\r\n");
  chmod(sub.c_str(), 0555);
  TIniFile ini(sub + "/e.ini");
  if (geteuid() != 0) {
    EXPECT_THROW(ini.WriteString("S", "k", "new"), EInOutError);
    EXPECT_EQ(ReadFile(sub + "/e.ini"), "[S]\r\nk=old\r\n");
  }
  chmod(sub.c_str(), 0755);
  // No temporary file is left behind either way.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(sub)) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST(Profile, UnreadableFileIsNeverOverwritten) {
  TempDir dir;
  std::string path = dir / "dir.ini";
  mkdir(path.c_str(), 0755);  // "file" that exists but cannot be read as one
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("S", "k", "d"), "d");
  EXPECT_THROW(ini.WriteString("S", "k", "v"), EInOutError);
}

TEST(Profile, BareNamesLiveInTheWindowsDirectory) {
  TempDir dir;
  setenv("QL_WINDOWS_DIR", (dir / "win").c_str(), 1);
  EXPECT_EQ(ql::profile::ResolvePath("cdplayer.ini"), dir / "win/cdplayer.ini");
  TIniFile ini("cdplayer.ini");
  ini.WriteString("Disc", "artist", "A");  // creates the folder
  EXPECT_EQ(ReadFile(dir / "win/cdplayer.ini"), "[Disc]\r\nartist=A\r\n");
  unsetenv("QL_WINDOWS_DIR");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(ql::profile::WindowsDirectory(), "/cfg/quillon");
  unsetenv("XDG_CONFIG_HOME");
}

// No value, key or section name can plant a key or a section: a write that holds a line break,
// a key with '=' or one that reads as a section or a comment, a section with ']' are refused
// and the file is not touched.
TEST(Profile, AWriteThatCouldPlantALineIsRefused) {
  TempDir dir;
  const std::string before = "[Disc]\r\nf1=Intro.wav\r\n";
  WriteFile(dir / "store.ini", before);
  TIniFile ini(dir / "store.ini");
  EXPECT_FALSE(ini.WriteString("Disc", "t1", "Intro\nf2=victim.txt"));
  EXPECT_FALSE(ini.WriteString("Disc", "t1", "Intro\rf2=victim.txt"));
  EXPECT_FALSE(ini.WriteString("Disc", "t1", "x\r\n[Other]"));
  EXPECT_FALSE(ini.WriteString("Disc", "f2=victim.txt", "x"));
  EXPECT_FALSE(ini.WriteString("Disc", "[Other]", "x"));
  EXPECT_FALSE(ini.WriteString("Disc", "  [Other", "x"));
  EXPECT_FALSE(ini.WriteString("Disc", ";f2", "x"));
  EXPECT_FALSE(ini.WriteString("Disc", "t\n1", "x"));
  EXPECT_FALSE(ini.WriteString("Disc]\r\nf2=victim.txt", "t1", "x"));
  EXPECT_FALSE(ini.WriteString("Di]sc", "t1", "x"));
  EXPECT_FALSE(ini.DeleteKey("Disc", "f1\n"));
  EXPECT_FALSE(ini.EraseSection("Disc\n"));
  EXPECT_EQ(ReadFile(dir / "store.ini"), before);
  EXPECT_FALSE(ini.ValueExists("Disc", "f2"));
  EXPECT_FALSE(ini.SectionExists("Other"));

  // One bad write refuses the whole set; a batch refuses it when it is collected.
  EXPECT_FALSE(ql::profile::WriteStrings(
      dir / "store.ini", {{"Disc", "t1", "Intro"}, {"Disc", "t2", "a\nf2=victim.txt"}}));
  EXPECT_EQ(ReadFile(dir / "store.ini"), before);
  TIniBatch batch(dir / "store.ini");
  EXPECT_TRUE(batch.WriteString("Disc", "t1", "Intro [live]; = ok"));
  EXPECT_FALSE(batch.WriteString("Disc", "t2", "Outro\nf2=victim.txt"));
  EXPECT_EQ(batch.Pending(), 1u);
  batch.Commit();
  EXPECT_EQ(ini.ReadString("Disc", "t1", ""), "Intro [live]; = ok");
  EXPECT_EQ(ini.ReadSection("Disc"), (std::vector<std::string>{"f1", "t1"}));

  // Characters that are not line breaks are kept as they are.
  EXPECT_TRUE(ini.WriteString("Disc", "t3", "tab\there \"quoted\""));
  EXPECT_EQ(ini.ReadString("Disc", "t3", ""), "tab\there \"quoted\"");
}
