#include "QLChList.h"

#include <gtest/gtest.h>

#include <sstream>

#include "Exception.h"
#include "GuiTest.h"
#include "TestFiles.h"

using qltest::ReadFile;
using qltest::TempDir;
using qltest::WriteFile;

namespace {
std::vector<std::pair<std::string, bool>> Rows(const TQLCheckListBox& box) {
  std::vector<std::pair<std::string, bool>> rows;
  for (int i = 0; i < box.Count(); ++i) rows.emplace_back(box.Items(i), box.Checked(i));
  return rows;
}
}  // namespace

TEST(QLChList, FileFormIsStrictlyPositionalAndRoundTrips) {
  TempDir dir;
  TQLCheckListBox box;
  box.Add("1");
  box.Add("0");
  box.Add("/music/a b.mp3");
  box.Add("");
  box.SetChecked(0, true);
  box.SetChecked(2, true);
  box.SaveToFile(dir / "l.qlm");
  EXPECT_EQ(ReadFile(dir / "l.qlm"), "1\r\n1\r\n0\r\n0\r\n1\r\n/music/a b.mp3\r\n0\r\n\r\n");
  TQLCheckListBox back;
  back.Add("old row");
  back.LoadFromFile(dir / "l.qlm");
  EXPECT_EQ(Rows(back), Rows(box));
}

TEST(QLChList, OnlyAOneChecksAndAnOddLineCountEndsWithAnEmptyRow) {
  TempDir dir;
  WriteFile(dir / "odd.qlm", "1 \r\na\r\ntrue\nb\n1\r\nc\r\n0");
  TQLCheckListBox box;
  box.LoadFromFile(dir / "odd.qlm");
  EXPECT_EQ(Rows(box), (std::vector<std::pair<std::string, bool>>{
                           {"a", false}, {"b", false}, {"c", true}, {"", false}}));
}

TEST(QLChList, EmptyListsAndFileErrors) {
  TempDir dir;
  TQLCheckListBox box;
  box.SaveToFile(dir / "e.qlm");
  EXPECT_EQ(ReadFile(dir / "e.qlm"), "");
  box.Add("x");
  box.LoadFromFile(dir / "e.qlm");
  EXPECT_EQ(box.Count(), 0);
  try {
    box.LoadFromFile(dir / "missing.qlm");
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
  EXPECT_THROW(box.SaveToFile(dir / "no/dir/x.qlm"), EInOutError);
  EXPECT_THROW(box.Items(0), EListError);
  try {
    box.Items(-1);
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (-1)");
  }
}

TEST(QLChList, CountedTextFormKeepsReadRowsOnAShortFile) {
  TQLCheckListBox box;
  box.Add("a");
  box.Add("b");
  box.SetChecked(1, true);
  std::stringstream s;
  box.SaveToText(s);
  EXPECT_EQ(s.str(), "2\r\n0\r\na\r\n1\r\nb\r\n");
  TQLCheckListBox back;
  back.LoadFromText(s);
  EXPECT_EQ(Rows(back), Rows(box));
  std::stringstream shorter("3\r\n1\r\nx\r\n0\r\n");
  EXPECT_THROW(back.LoadFromText(shorter), EInOutError);
  EXPECT_EQ(Rows(back), (std::vector<std::pair<std::string, bool>>{{"x", true}}));
}

TEST(QLChList, AddStringsAndAssign) {
  TQLCheckListBox box;
  EXPECT_EQ(box.AddStrings({}), -1);
  EXPECT_EQ(box.AddStrings({"a", "b", "a"}), 3);
  EXPECT_EQ(box.Count(), 2);  // a string already there is found, not added again
  EXPECT_EQ(box.AddString("b"), 1);
  EXPECT_EQ(box.AddString("c"), 2);
  box.SetChecked(2, true);
  TQLCheckListBox copy;
  copy.Add("gone");
  copy.AssignFrom(box);
  EXPECT_EQ(Rows(copy), Rows(box));
  copy.SetItemIndex(5);
  EXPECT_EQ(copy.ItemIndex(), -1);
  copy.SetItemIndex(1);
  EXPECT_EQ(copy.ItemIndex(), 1);
}
