// A section read at once answers as key reads of the file do.
#include "ProfileSection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST(ProfileSection, OnePassWritesGiveTheFileThatWritesOneByOneGive) {
  qltest::TempDir dir;
  const std::string start =
      "; kept\r\n[A]\r\nx=1\r\n\r\n[b]\r\nY = 2\r\ny=dup\r\n\r\n\r\n[a]\r\nz=3\r\nnot a key\r\n"
      "\r\n[C]\r\n";
  std::vector<ql::profile::Write> writes = {
      {"a", "X", "10"},    {"B", "new", "n"},   {"A", "w", "added"},  {"b", "y", "20"},
      {"D", "first", "1"}, {"a", "x", "11"},    {"d", "Second", "2"}, {"E", "k", "v"},
      {"c", "k", "c"},     {"A", "W", "again"}, {"b", "y", "21"}};
  qltest::WriteFile(dir / "one.ini", start);
  qltest::WriteFile(dir / "each.ini", start);
  ql::profile::WriteStringsOnePass(dir / "one.ini", writes);
  ql::profile::WriteStrings(dir / "each.ini", writes);
  EXPECT_EQ(qltest::ReadFile(dir / "one.ini"), qltest::ReadFile(dir / "each.ini"));
  // A new file, and a batch through the batch object.
  ql::profile::TIniWriteBatch batch(dir / "new.ini");
  batch.WriteString("S", "a", "1");
  batch.WriteInteger("S", "n", 7);
  batch.WriteBool("T", "b", true);
  batch.Commit();
  EXPECT_EQ(batch.Pending(), 0u);
  EXPECT_EQ(qltest::ReadFile(dir / "new.ini"), "[S]\r\na=1\r\nn=7\r\n\r\n[T]\r\nb=1\r\n");
  // A file that exists but cannot be read is not written over.
  if (geteuid() != 0) {
    chmod((dir / "one.ini").c_str(), 0);
    EXPECT_THROW(ql::profile::WriteStringsOnePass(dir / "one.ini", writes), std::exception);
  }
}

TEST(ProfileSection, ReadingASectionDirectlyGivesWhatSectionValuesGives) {
  qltest::TempDir dir;
  std::string file = dir / "r.ini";
  qltest::WriteFile(file,
                    "x=before\n [ Disc ] \r\n a = 1 \r\n;c=2\r\nb=\"q\"\rc=\"\"\r\nnoeq\n[x\n"
                    "d=\"half\n\t[other]\nz=9\n[DISC]\ne=last");
  for (const char* section : {"disc", "other", "x", "", "none"})
    EXPECT_EQ(ql::profile::ReadSectionValues(file, section),
              ql::profile::SectionValues(file, section))
        << section;
  EXPECT_TRUE(ql::profile::ReadSectionValues(dir / "missing.ini", "disc").empty());
}

TEST(ProfileSection, OnePassWritesRefuseWhatCouldPlantAKey) {
  qltest::TempDir dir;
  qltest::WriteFile(dir / "s.ini", "[a]\r\nx=1\r\n");
  for (const ql::profile::Write& bad : {ql::profile::Write{"a", "k", std::string("v\nf2=victim")},
                                        ql::profile::Write{"a", "k=x", std::string("v")},
                                        ql::profile::Write{"a]", "k", std::string("v")}}) {
    EXPECT_FALSE(ql::profile::WriteStringsOnePass(dir / "s.ini", {{"a", "ok", "1"}, bad}));
    EXPECT_EQ(qltest::ReadFile(dir / "s.ini"), "[a]\r\nx=1\r\n");
  }
}
