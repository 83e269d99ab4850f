// The Qt user-interface service with real dialogs, driven as a user would drive them.
#include "QtUi.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "Fs.h"
#include "GuiTest.h"
#include "MediaPlayer.h"
#include "TestFiles.h"

namespace {

// Runs action on the first visible modal dialog of type T as soon as one is up. Offscreen
// windows are not always activated, so the dialog is looked for among the top-level widgets.
template <typename T>
void WhenModal(std::function<void(T*)> action) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, action] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<T*>(w);
      if (!dialog || !w->isVisible() || !w->isModal()) continue;
      timer->stop();
      timer->deleteLater();
      action(dialog);
      if (dialog->isVisible()) dialog->reject();  // a failed check never leaves it open
      return;
    }
  });
  timer->start(20);
}

}  // namespace

TEST(QtUi, FiltersOfferBothLetterCasesAndKeepTheirDescriptions) {
  ql::FileDialog d;
  d.Filter = "Quillon Media List (*.QLM)|*.QLM|All files (*.*), treated as text files|*.*";
  EXPECT_EQ(ql::QtNameFilters(d),
            (std::vector<std::string>{"Quillon Media List (*.QLM) (*.QLM *.qlm)",
                                      "All files (*.*), treated as text files (*)"}));
}

TEST(QtUi, OpenDialogReportsFilterChangesTheChosenFileAndEntersItsFolder) {
  qltest::TempDir dir;
  qltest::WriteFile(dir / "list.txt", "x\r\n");
  std::string before = ql::fs::GetCurrentDir();
  ql::QtUi ui;
  ql::FileDialog d;
  d.Title = "Save Media List";
  d.Filter = "Quillon Media List (*.QLM)|*.QLM|Text File (*.TXT)|*.TXT";
  d.InitialDir = dir.path();
  d.FileName = "*.qlm";
  std::vector<int> changes;
  d.OnTypeChange = [&](int index) { changes.push_back(index); };
  WhenModal<QFileDialog>([&](QFileDialog* dlg) {
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Save Media List");
    auto* types = dlg->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    types->setCurrentIndex(1);  // the user picks "Text File"
    emit types->activated(1);
    emit types->textActivated(types->itemText(1));
    // The folder's listing arrives in the background, as it does for a user; let it settle.
    SpinUntil([] { return false; }, std::chrono::milliseconds(300));
    dlg->findChild<QLineEdit*>("fileNameEdit")->setText("list.txt");  // typed by the user
    QMetaObject::invokeMethod(dlg, "accept");
  });
  ASSERT_TRUE(ui.Execute(d));
  EXPECT_EQ(changes, std::vector<int>{2});
  EXPECT_EQ(d.FilterIndex, 2);
  EXPECT_EQ(d.FileName, dir / "list.txt");
  EXPECT_EQ(ql::fs::GetCurrentDir(), dir.path());
  ql::fs::SetCurrentDir(before);
}

TEST(QtUi, CancelledDialogAndConfirmationAnswers) {
  ql::QtUi ui;
  ql::FileDialog d;
  d.Filter = "All (*.*)|*.*";
  WhenModal<QFileDialog>([](QFileDialog* w) { w->reject(); });
  EXPECT_FALSE(ui.Execute(d));
  WhenModal<QMessageBox>([](QMessageBox* box) {
    EXPECT_EQ(box->text().toStdString(), "Do you want to delete the file \"x\"");
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_TRUE(ui.Confirm("Do you want to delete the file \"x\"", "Confirm"));
  WhenModal<QMessageBox>([](QMessageBox* w) { w->button(QMessageBox::No)->click(); });
  EXPECT_FALSE(ui.Confirm("Again?", "Confirm"));
}

TEST(QtUi, HelpOpensAtItsTopic) {
  qltest::TempDir dir;
  std::string before = ql::fs::GetCurrentDir();
  ql::fs::SetCurrentDir(dir.path());
  TFormMediaPlayer window;  // brings the program's help pages
  ql::fs::SetCurrentDir(before);
  ql::QtUi ui;
  bool shown = false;
  WhenModal<QDialog>([&](QDialog* w) {
    shown = w->objectName() == "HelpWindow";
    w->reject();
  });
  ui.ShowHelp("/somewhere/QLMMPLAY.HLP", 2200);
  EXPECT_TRUE(shown);
}

TEST(QtUi, SearchDialogConfirmsTheFolderItShows) {
  qltest::TempDir dir;
  std::string before = ql::fs::GetCurrentDir();
  ql::QtUi ui;
  ql::FileDialog d;
  d.Title = "Search Media Files";
  d.Filter = "Wave Files (*.wav)|*.wav|MP3 files (*.mp3)|*.mp3";
  d.FilterIndex = 2;
  d.FileName = "*";
  d.NoValidate = true;
  d.InitialDir = dir.path();
  d.HelpContext = 2200;
  d.HelpFile = "QLMMPLAY.HLP";
  WhenModal<QFileDialog>([](QFileDialog* dlg) {
    auto* box = dlg->findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_NE(dlg->findChild<QPushButton*>("HelpButton"), nullptr);
    box->button(QDialogButtonBox::Open)->click();  // the user confirms the folder
  });
  ASSERT_TRUE(ui.Execute(d));
  EXPECT_EQ(d.FilterIndex, 2);
  EXPECT_EQ(ql::fs::GetCurrentDir(), dir.path());
  ql::fs::SetCurrentDir(before);
}
