// A section read at once answers as key reads of the file do.
#include "ProfileSection.h"

#include <gtest/gtest.h>

#include "Profile.h"
#include "TestFiles.h"

TEST(ProfileSection, ReadsAsTheKeyReadsOfTheFileDo) {
  qltest::TempDir dir;
  std::string file = dir / "s.ini";
  qltest::WriteFile(file,
                    "; comment\r\n[Options: Settings]\r\nLeft=12\r\nleft=99\r\nName= spaced \r\n"
                    "Flag=0\r\nText=abc\r\nHex=$1F\r\n[other]\r\nTop=5\r\n[OPTIONS: SETTINGS]\r\n"
                    "Top=7\r\n");
  ql::profile::TIniSection s(file, "OPTIONS: SETTINGS");
  TIniFile ini(file);
  for (const char* key : {"LEFT", "Name", "Flag", "Text", "Hex", "Top", "Missing"}) {
    EXPECT_EQ(s.ReadString(key, "def"), ini.ReadString("options: settings", key, "def")) << key;
    EXPECT_EQ(s.ReadInteger(key, -1), ini.ReadInteger("options: settings", key, -1)) << key;
    EXPECT_EQ(s.ReadBool(key, true), ini.ReadBool("options: settings", key, true)) << key;
    EXPECT_EQ(s.ValueExists(key), ini.ValueExists("options: settings", key)) << key;
  }
  EXPECT_EQ(s.ReadInteger("Left", 0), 12);  // the first of a key written twice
  EXPECT_EQ(s.ReadInteger("Top", 0), 7);    // a section written twice counts as one
  // A missing file reads as empty.
  ql::profile::TIniSection none(dir / "missing.ini", "x");
  EXPECT_EQ(none.ReadInteger("a", 3), 3);
}

TEST(ProfileSection, BatchesJoinForOneReplaceAndRefuseWhatCouldPlantAKey) {
  qltest::TempDir dir;
  std::string file = dir / "s.ini";
  qltest::WriteFile(file, "[a]\r\nx=1\r\n");
  ql::profile::TIniWriteBatch first(file), second(file);
  first.WriteString("a", "x", "2");
  second.WriteInteger("b", "n", 7);
  second.WriteBool("a", "x", false);  // joined later: the last write of a key wins
  first.Append(second);
  EXPECT_EQ(second.Pending(), 0u);
  EXPECT_TRUE(first.Commit());
  EXPECT_EQ(first.Pending(), 0u);
  EXPECT_EQ(qltest::ReadFile(file), "[a]\r\nx=0\r\n\r\n[b]\r\nn=7\r\n");
  ql::profile::TIniWriteBatch bad(file);
  bad.WriteString("a", "ok", "1");
  bad.WriteString("a", "k", "v\nf2=victim");
  EXPECT_FALSE(bad.Commit());
  EXPECT_EQ(qltest::ReadFile(file), "[a]\r\nx=0\r\n\r\n[b]\r\nn=7\r\n");
}
