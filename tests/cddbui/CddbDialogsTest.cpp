#include <gtest/gtest.h>

#include <QHeaderView>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "CDDBList.h"
#include "CDDBSel.h"
#include "GuiTest.h"
#include "diction.h"

TEST(Dictionary, PairsAreFoundAddedOnceAndDeletedWithTheRowsMovingUp) {
  TDictionary d;
  EXPECT_EQ(d.Count(), 0);
  EXPECT_EQ(d.Add("DTITLE", "Artist / Title"), 0);
  EXPECT_EQ(d.Add("TTITLE0", "One"), 1);
  EXPECT_EQ(d.Add("TTITLE0", "One"), 1);  // the exact pair is there already
  EXPECT_EQ(d.Add("TTITLE0", "Uno"), 2);  // same key, other value: a pair of its own
  int row;
  EXPECT_EQ(d.Value("TTITLE0", &row), "One");
  EXPECT_EQ(row, 1);
  EXPECT_EQ(d.Key("Uno"), "TTITLE0");
  EXPECT_EQ(d.Value("missing", &row), "");
  EXPECT_EQ(row, -1);
  EXPECT_TRUE(d.Delete("TTITLE0", "One"));
  EXPECT_EQ(d.Count(), 2);
  EXPECT_EQ(d.KeyAt(1), "TTITLE0");
  EXPECT_EQ(d.ValueAt(1), "Uno");
  EXPECT_TRUE(d.DeleteKey("DTITLE"));
  EXPECT_FALSE(d.DeleteKey("DTITLE"));
  EXPECT_EQ(d.Count(), 1);
}

TEST(Dictionary, MoreThanItsRowsIsAnIndexRangeError) {
  TDictionary d;
  d.setRowCount(TDictionary::kMaxRows);  // filled as far as it goes
  try {
    d.Add("k", "v");
    FAIL();
  } catch (const EDictionaryError& e) {
    EXPECT_STREQ(e.what(), "Index range error");
  }
}

TEST(SiteChooser, APressEndsItWithTheItemHitOrNone) {
  TCDDBSelectDlg dlg;
  EXPECT_EQ(dlg.windowTitle().toStdString(), "Available CDDB sites");
  dlg.SetItems({"gnudb.gnudb.org\tEurope", "cddb.example.org\tUSA"});
  EXPECT_EQ(dlg.Header->sectionSize(0), 169);
  dlg.resize(300, 200);
  dlg.show();
  QRect second = dlg.ListBox->visualItemRect(dlg.ListBox->item(1));
  QTimer::singleShot(
      0, [&] { QTest::mousePress(dlg.ListBox->viewport(), Qt::LeftButton, {}, second.center()); });
  EXPECT_EQ(dlg.exec(), QDialog::Accepted);
  EXPECT_EQ(dlg.SelectedIndex, 1);
  QTimer::singleShot(0, [&] {
    QTest::mousePress(dlg.ListBox->viewport(), Qt::LeftButton, {},
                      QPoint(10, dlg.ListBox->viewport()->height() - 3));
  });
  EXPECT_EQ(dlg.exec(), QDialog::Accepted);  // empty space: OK with no site
  EXPECT_EQ(dlg.SelectedIndex, -1);
}

TEST(SiteChooser, FileNameFilter) {
  bool replaced = false;
  EXPECT_EQ(FilterFileName("AC/DC: \"Live\" [1992]?", &replaced), "AC-DC- -Live- -1992--");
  EXPECT_TRUE(replaced);
  EXPECT_EQ(FilterFileName("Plain name", &replaced), "Plain name");
  EXPECT_FALSE(replaced);
}

TEST(MatchList, KeepsLinesThatAgreeAndReadsTheChosenDisc) {
  EXPECT_TRUE(TFormCDDBList::Agrees("rock 7a0b5c09 Artist / Title", "ROCK 7A0B"));
  EXPECT_TRUE(TFormCDDBList::Agrees("rock", "rock 7a0b5c09"));  // the shorter decides
  EXPECT_TRUE(TFormCDDBList::Agrees("Åke är här", "åKE ÄR"));
  EXPECT_FALSE(TFormCDDBList::Agrees("jazz 1", "rock"));
  EXPECT_FALSE(TFormCDDBList::Agrees("", "rock"));
  EXPECT_FALSE(TFormCDDBList::Agrees("rock", ""));
  TFormCDDBList list;
  EXPECT_EQ(list.windowTitle().toStdString(), "Inexact Match from CDDB");
  list.Fill({"rock 7a0b5c09 First", "jazz 11223344 Other", "rock 0102abcd Second"}, "rock");
  ASSERT_EQ(list.FListBox->count(), 2);
  EXPECT_EQ(list.ChosenDisc(), "");
  list.FListBox->setCurrentRow(1);
  EXPECT_EQ(list.ChosenDisc(), "0102abcd");
  QTableWidget grid(2, 1);
  grid.setItem(0, 0, new QTableWidgetItem("misc 99887766 X"));
  grid.setItem(1, 0, new QTableWidgetItem("rock 55555555 Y"));
  list.FillFromGrid(grid, "misc");
  ASSERT_EQ(list.FListBox->count(), 1);
  QSize fixed = list.size();
  list.resize(fixed * 2);
  EXPECT_EQ(list.size(), fixed);
  QTimer::singleShot(0, [&] { list.btnOK->click(); });
  EXPECT_TRUE(list.Run());
  QTimer::singleShot(0, [&] { list.btnCancel->click(); });
  EXPECT_FALSE(list.Run());
}
