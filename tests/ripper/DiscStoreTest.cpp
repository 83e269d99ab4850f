// The disc store through the real ini files: names in, names out, nothing planted.
#include "DiscStore.h"

#include <gtest/gtest.h>

#include "Profile.h"
#include "TestFiles.h"

namespace {

struct Store {
  qltest::TempDir dir;
  std::string discs = dir / "cdplayer.ini", settings = dir / "QuillonTrackwell.ini";
  void Save(const ripper::TDiscNames& names, const std::string& section = "3a1f7") {
    TIniBatch d(discs), s(settings);
    ripper::AddDiscWrites(d, s, section, names);
    d.Commit();
    s.Commit();
  }
};

}  // namespace

TEST(DiscStore, ADiscSavedReadsBackInTheCdPlayerFormat) {
  Store st;
  ripper::TDiscNames in{"Band", "Live", {"One", "Two", "Three"}, {"a.wav", "", "c.mp3"}};
  st.Save(in);
  EXPECT_EQ(qltest::ReadFile(st.discs),
            "[3a1f7]\r\nartist=Band\r\ntitle=Live\r\nnumtracks=3\r\nnumplay=3\r\nEntryType=1\r\n"
            "0=One\r\n1=Two\r\n2=Three\r\norder=0 1 2 \r\n");
  ripper::TDiscNames out = ripper::LoadDiscNames(st.discs, st.settings, "3A1F7", 3);
  EXPECT_EQ(out.artist, "Band");
  EXPECT_EQ(out.title, "Live");
  EXPECT_EQ(out.names, in.names);
  EXPECT_EQ(out.savedAs, in.savedAs);
  // A disc never seen: everything empty, one entry per track.
  ripper::TDiscNames none = ripper::LoadDiscNames(st.discs, st.settings, "ffff", 2);
  EXPECT_EQ(none.names, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(none.savedAs, (std::vector<std::string>{"", ""}));
}

TEST(DiscStore, AHostileNamePlantsNoKeyAndNamesNoFileOutside) {
  Store st;
  ripper::TDiscNames in{"A\r\n[x]", "T", {"Intro\nf2=victim.txt", "x"}, {"ok.wav", "../up.wav"}};
  st.Save(in);
  EXPECT_FALSE(ql::profile::HasKey(st.discs, "3a1f7", "f2"));
  EXPECT_EQ(ql::profile::SectionNames(st.discs), (std::vector<std::string>{"3a1f7"}));
  EXPECT_EQ(ql::profile::GetString(st.discs, "3a1f7", "0", ""), "Introf2=victim.txt");
  EXPECT_EQ(ql::profile::GetString(st.discs, "3a1f7", "artist", ""), "A[x]");
  EXPECT_EQ(ql::profile::GetString(st.settings, "3a1f7", "f1", ""), "-up.wav");
  ripper::StoreSavedAs(st.settings, "3a1f7", 0, "x\nf5=victim.txt");
  EXPECT_FALSE(ql::profile::HasKey(st.settings, "3a1f7", "f5"));
  EXPECT_EQ(ql::profile::GetString(st.settings, "3a1f7", "f0", ""), "xf5=victim.txt");
  ripper::StoreSavedAs(st.settings, "3a1f7", 0, "");
  EXPECT_EQ(ql::profile::GetString(st.settings, "3a1f7", "f0", "?"), "");
  // Saved-as values written by someone else are checked when read.
  qltest::WriteFile(st.settings, "[3a1f7]\nf0=../../victim.txt\nf1=.profile\nf2=good.wav\n");
  auto out = ripper::LoadDiscNames(st.discs, st.settings, "3a1f7", 3);
  EXPECT_EQ(out.savedAs, (std::vector<std::string>{"", "", "good.wav"}));
  EXPECT_FALSE(ripper::StoredFileInside("/out", "../../victim.txt"));
  EXPECT_FALSE(ripper::StoredFileInside("/out", ""));
  EXPECT_FALSE(ripper::StoredFileInside("/out", "sub/x.wav"));
  EXPECT_EQ(ripper::StoredFileInside("/out", "good.wav").value_or(""), "/out/good.wav");
  EXPECT_EQ(ripper::StoredFileInside("/out/", "good.wav").value_or(""), "/out/good.wav");
}

TEST(DiscStore, AFailedSaveLeavesBothFilesAsTheyWere) {
  Store st;
  st.Save({"Band", "Live", {"One"}, {"one.wav"}});
  std::string before = qltest::ReadFile(st.discs);
  // The folder turns read-only: the replace cannot be made.
  ASSERT_EQ(qltest::Run("chmod a-w '" + st.dir.path() + "'"), 0);
  if (geteuid() != 0) {
    EXPECT_THROW(st.Save({"Other", "X", {"Two"}, {"two.wav"}}), std::exception);
    EXPECT_THROW(ripper::StoreSavedAs(st.settings, "3a1f7", 0, "x.wav"), std::exception);
  }
  qltest::Run("chmod u+w '" + st.dir.path() + "'");
  EXPECT_EQ(qltest::ReadFile(st.discs), before);
  EXPECT_EQ(ql::profile::GetString(st.settings, "3a1f7", "f0", ""), "one.wav");
}
