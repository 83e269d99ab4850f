// The player window with its real parts: ini and list files on disk, the libmpv device with
// null outputs, and the scripted user-interface service in place of the dialogs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <chrono>
#include <thread>

#include "About.h"
#include "Fs.h"
#include "GuiTest.h"
#include "MediaPlayer.h"
#include "Profile.h"
#include "QLChList.h"
#include "TestFiles.h"

using namespace std::chrono_literals;
using qltest::ReadFile;
using qltest::TempDir;
using qltest::WriteFile;

namespace {
ql::ScriptedUi::DialogAnswer Accept(std::vector<std::string> files, int filter_index = 0,
                                    std::string folder = "") {
  ql::ScriptedUi::DialogAnswer a;
  a.files = std::move(files);
  a.filter_index = filter_index;
  a.folder = std::move(folder);
  return a;
}
ql::ScriptedUi::DialogAnswer CancelAfterChanges(std::vector<int> changes) {
  ql::ScriptedUi::DialogAnswer a;
  a.accept = false;
  a.type_changes = std::move(changes);
  return a;
}
}  // namespace

namespace {

// Each test starts the window in a folder of its own, as a user starting the program there.
class PlayerWindow : public testing::Test {
 protected:
  void SetUp() override {
    before_ = ql::fs::GetCurrentDir();
    ql::fs::SetCurrentDir(dir_.path());
    g_ui->Clear();
    g_ui->confirm_answers.clear();
    g_ui->dialog_answers.clear();
  }
  void TearDown() override { ql::fs::SetCurrentDir(before_); }

  std::unique_ptr<TFormMediaPlayer> Start() {
    auto w = std::make_unique<TFormMediaPlayer>();
    w->SeedRandom(7);
    return w;
  }
  std::string Ini() const { return dir_ / "QuillonMediaPlayer.ini"; }
  std::vector<std::string> Entries(TFormMediaPlayer& w) const { return w.Files()->Strings(); }
  std::vector<bool> Marks(TFormMediaPlayer& w) const {
    std::vector<bool> m;
    for (int i = 0; i < w.Files()->Count(); ++i) m.push_back(w.Files()->Checked(i));
    return m;
  }
  template <typename T>
  T* Find(QWidget& w, const char* name) {
    return w.findChild<T*>(name);
  }

  TempDir dir_;
  std::string before_;
};

}  // namespace

TEST_F(PlayerWindow, FirstStartHasTheDesignStateAndAnEmptyList) {
  auto w = Start();
  EXPECT_EQ(w->windowTitle().toStdString(),
            dir_.path() + "/default-List.qlm - Quillon Media Player");
  EXPECT_TRUE(w->miInOrder->isChecked());
  EXPECT_FALSE(w->miPostOrder->isChecked());
  EXPECT_FALSE(w->miRandom->isChecked());
  EXPECT_TRUE(w->miAutoSave->isChecked());
  EXPECT_TRUE(w->miBlackMediaList->isChecked());
  EXPECT_TRUE(w->miShowControls->isChecked());
  EXPECT_EQ(w->Files()->Count(), 0);
  EXPECT_EQ(w->StatusText(), "Closed");
  EXPECT_EQ(w->ListKind(), 1);
  EXPECT_EQ(w->HelpFile(), dir_.path() + "/QLMMPLAY.HLP");
  EXPECT_EQ(g_ui->Texts(), std::vector<std::string>{"File not found"});
  EXPECT_EQ(w->width(), 573);
  EXPECT_EQ(w->height(), 540);
  EXPECT_EQ(w->minimumWidth(), 490);
  EXPECT_EQ(w->minimumHeight(), 295);
  // Controls carry their design names, places and colours.
  for (auto [name, left] :
       {std::pair{"sbPlay", 8}, std::pair{"sbPause", 56}, std::pair{"sbStop", 104},
        std::pair{"sbPrevious", 152}, std::pair{"sbNext", 200}, std::pair{"sbClose", 248}}) {
    auto* b = Find<QToolButton>(*w, name);
    ASSERT_NE(b, nullptr) << name;
    EXPECT_EQ(b->geometry(), QRect(left, 8, 38, 30)) << name;
    EXPECT_TRUE(b->text().isEmpty() || b->toolButtonStyle() == Qt::ToolButtonIconOnly);
    EXPECT_FALSE(b->icon().isNull());
  }
  EXPECT_EQ(Find<QWidget>(*w, "PanelTop")->height(), 49);
  QPalette pal = w->Files()->palette();
  EXPECT_EQ(pal.color(QPalette::Base), QColor(0, 0, 0));
  EXPECT_EQ(pal.color(QPalette::Text), QColor(0, 255, 0));
  EXPECT_EQ(w->OpenDialog().FileName, "*.mp3;*.wav");
  EXPECT_EQ(w->OpenDialog().DefaultExt, "mp3");
  EXPECT_EQ(w->SaveDialog().Filter, w->OpenDialog().Filter);
  EXPECT_EQ(w->OpenDialog().Title, "Save Media List");
}

TEST_F(PlayerWindow, MenusHaveTheirCaptionsAndShortcuts) {
  auto w = Start();
  struct Item {
    const char* name;
    const char* caption;
    const char* key;
  };
  for (const Item& i :
       {Item{"NewMedia1", "&New", "Ctrl+N"}, Item{"miLoadMedia", "&Load", "Ctrl+L"},
        Item{"miSearch", "S&earch", "Ctrl+E"}, Item{"miSave", "&Save", "Ctrl+S"},
        Item{"miSaveMediaAs", "Save &As", "Ctrl+A"}, Item{"miDelete", "&Delete", ""},
        Item{"miExit", "E&xit", ""}, Item{"miAdd", "&Add", "Ins"},
        Item{"miRemove", "&Remove", "Del"}, Item{"miRemoveAll", "Remove &All", ""},
        Item{"miInOrder", "&In order", ""}, Item{"miPostOrder", "&Post order", ""},
        Item{"miRandom", "&Random", ""}, Item{"miAutoSave", "&Auto Save", ""},
        Item{"miBlackMediaList", "&Black Media List", ""},
        Item{"miShowControls", "Show &Controls", ""}, Item{"miAbout", "&About", ""},
        Item{"miIndex", "&Index", ""}}) {
    auto* a = w->findChild<QAction*>(i.name);
    ASSERT_NE(a, nullptr) << i.name;
    EXPECT_EQ(a->text().toStdString(), i.caption);
    EXPECT_EQ(a->shortcut().toString().toStdString(), i.key) << i.name;
  }
  EXPECT_EQ(w->mFile->title().toStdString(), "&Media");
  EXPECT_EQ(w->miPlayOrder->title().toStdString(), "Play &Order");
}

TEST_F(PlayerWindow, ShortcutsReachTheirCommands) {
  auto w = Start();
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
  w->activateWindow();
  g_ui->Clear();
  QTest::keyClick(w.get(), Qt::Key_Insert);  // Add: shows the open dialog
  ASSERT_EQ(g_ui->dialogs.size(), 1u);
  EXPECT_EQ(g_ui->dialogs[0].FileName, "*.mp3;*.wav");
  QTest::keyClick(w.get(), Qt::Key_E, Qt::ControlModifier);  // Search
  ASSERT_EQ(g_ui->dialogs.size(), 2u);
  EXPECT_EQ(g_ui->dialogs[1].Title, "Search Media Files");
  EXPECT_EQ(g_ui->dialogs[1].FilterIndex, 2);
  w->Files()->Add("x");
  QTest::keyClick(w.get(), Qt::Key_N, Qt::ControlModifier);  // New
  EXPECT_EQ(w->Files()->Count(), 0);
  EXPECT_EQ(w->ListFileName(), dir_.path() + "/newfile.qlm");
  EXPECT_EQ(w->windowTitle().toStdString(), dir_.path() + "/newfile.qlm - Quillon Media Player");
}

TEST_F(PlayerWindow, SettingsRoundTripThroughTheIniFile) {
  WriteFile(dir_ / "mine.qlm", "1\r\n/m/a.mp3\r\n0\r\n/m/b.mp3\r\n0\r\n/m/c.mp3\r\n");
  {
    auto w = Start();
    w->SetListFileName(dir_ / "mine.qlm");
    w->LoadListFile();
    w->Files()->SetItemIndex(2);
    w->miRandom->trigger();
    w->miAutoSave->trigger();
    w->move(20, 30);
    w->resize(600, 400);
    g_ui->Clear();
    w->miSave->trigger();
    EXPECT_TRUE(g_ui->shown.empty());
  }
  TIniFile ini(Ini());
  EXPECT_EQ(ini.ReadSection("Options"),
            (std::vector<std::string>{"Left", "Top", "Width", "Height", "FileExtension", "InOrder",
                                      "PostOrder", "Random", "AutoSave", "BlackMediaList",
                                      "DefaultFile", "PlayOrder", "ItemIndex"}));
  EXPECT_EQ(ini.ReadString("Options", "Random", ""), "1");
  EXPECT_EQ(ini.ReadString("Options", "InOrder", ""), "0");
  EXPECT_EQ(ini.ReadString("Options", "AutoSave", ""), "0");
  EXPECT_EQ(ini.ReadString("Options", "ItemIndex", ""), "2");
  EXPECT_EQ(ini.ReadString("Options", "PlayOrder", ""), "0");
  EXPECT_EQ(ini.ReadString("Options", "Width", ""), "600");
  EXPECT_EQ(ini.ReadString("Options", "DefaultFile", ""), dir_ / "mine.qlm");
  auto w = Start();
  EXPECT_TRUE(w->miRandom->isChecked());
  EXPECT_FALSE(w->miInOrder->isChecked());
  EXPECT_FALSE(w->miAutoSave->isChecked());
  EXPECT_EQ(w->Files()->ItemIndex(), 2);
  EXPECT_EQ(Entries(*w), (std::vector<std::string>{"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"}));
  EXPECT_EQ(Marks(*w), (std::vector<bool>{true, false, false}));
  EXPECT_EQ(w->PendingPool(), (std::vector<std::string>{"/m/b.mp3", "/m/c.mp3"}));
  EXPECT_EQ(w->pos(), QPoint(20, 30));
  EXPECT_EQ(w->size(), QSize(600, 400));
}

TEST_F(PlayerWindow, StoredMarksAndIndexesAreReadAsTheyAre) {
  WriteFile(dir_ / "l.qlm", "0\r\na\r\n0\r\nb\r\n");
  WriteFile(Ini(), "[Options]\r\nInOrder=1\r\nRandom=1\r\nBlackMediaList=0\r\nDefaultFile=" +
                       dir_ / "l.qlm" + "\r\nItemIndex=2\r\n");
  auto w = Start();
  EXPECT_TRUE(w->miRandom->isChecked());  // a later true mark wins the radio group
  EXPECT_FALSE(w->miInOrder->isChecked());
  EXPECT_EQ(w->Files()->ItemIndex(), -1);  // ItemIndex equal to the count: nothing selected
  // Black Media List stored as 0: unchecked while still black on lime, then flipped twice.
  EXPECT_FALSE(w->miBlackMediaList->isChecked());
  EXPECT_EQ(w->Files()->palette().color(QPalette::Base), QColor(0, 0, 0));
  w->miBlackMediaList->trigger();
  EXPECT_TRUE(w->miBlackMediaList->isChecked());
  EXPECT_EQ(w->Files()->palette().color(QPalette::Text), QColor(0, 255, 0));
  w->miBlackMediaList->trigger();
  EXPECT_EQ(w->Files()->palette().color(QPalette::Base), QColor(255, 255, 255));
  EXPECT_EQ(w->Files()->palette().color(QPalette::Text), QColor(0, 0, 0));

  WriteFile(Ini(),
            "[Options]\r\nInOrder=0\r\nPostOrder=0\r\nRandom=0\r\nItemIndex=-1\r\n"
            "DefaultFile=" +
                dir_ / "l.qlm" + "\r\n");
  auto none = Start();
  EXPECT_FALSE(none->miInOrder->isChecked() || none->miPostOrder->isChecked() ||
               none->miRandom->isChecked());
  EXPECT_EQ(none->Files()->ItemIndex(), -1);
}

TEST_F(PlayerWindow, PlainTextListsLoadUncheckedAndLoadErrorsKeepTheWindowWorking) {
  WriteFile(dir_ / "list.mpu", "/m/1.mp3\r\n/m/2.mp3\n/m/3.mp3");
  WriteFile(Ini(), "[Options]\r\nFileExtension=2\r\nDefaultFile=" + dir_ / "list.mpu" + "\r\n");
  {
    auto w = Start();
    EXPECT_EQ(Entries(*w), (std::vector<std::string>{"/m/1.mp3", "/m/2.mp3", "/m/3.mp3"}));
    EXPECT_EQ(Marks(*w), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(w->PendingPool().size(), 3u);
    w->Files()->SetChecked(0, true);
    w->miSave->trigger();
    EXPECT_EQ(ReadFile(dir_ / "list.mpu"), "/m/1.mp3\r\n/m/2.mp3\r\n/m/3.mp3\r\n");
  }
  // The stored kind is the kind the list was written in.
  EXPECT_EQ(TIniFile(Ini()).ReadInteger("Options", "FileExtension", 0), 2);

  WriteFile(Ini(), "[Options]\r\nFileExtension=3\r\nDefaultFile=" + dir_ / "gone.txt" + "\r\n");
  g_ui->Clear();
  auto w = Start();
  ASSERT_EQ(g_ui->shown.size(), 1u);
  EXPECT_EQ(g_ui->shown[0].kind, ql::MsgKind::kException);
  EXPECT_EQ(g_ui->shown[0].text, "Cannot open file " + dir_ / "gone.txt");
  EXPECT_EQ(w->StatusText(), "Closed");  // creation went on
  EXPECT_EQ(w->OpenDialog().FileName, "*.mp3;*.wav");

  WriteFile(Ini(), "[Options]\r\nFileExtension=7\r\n");
  g_ui->Clear();
  auto odd = Start();
  EXPECT_EQ(g_ui->Texts(), std::vector<std::string>{"Unknown file extension"});
}

TEST_F(PlayerWindow, AddRemoveAndRemoveAllKeepThePoolInStep) {
  auto w = Start();
  g_ui->dialog_answers.push_back(Accept({"/m/a.mp3", "/m/b.mp3", "/m/a.mp3", "/m/c.mp3"}));
  w->miAdd->trigger();
  EXPECT_EQ(Entries(*w),
            (std::vector<std::string>{"/m/a.mp3", "/m/b.mp3", "/m/a.mp3", "/m/c.mp3"}));
  EXPECT_EQ(w->PendingPool(), Entries(*w));
  // The second "/m/a.mp3" is selected, the first one goes.
  w->Files()->SetItemIndex(2);
  w->Files()->SetChecked(2, true);
  w->miRemove->trigger();
  EXPECT_EQ(Entries(*w), (std::vector<std::string>{"/m/b.mp3", "/m/a.mp3", "/m/c.mp3"}));
  EXPECT_EQ(Marks(*w), (std::vector<bool>{false, true, false}));
  EXPECT_EQ(w->PendingPool(), (std::vector<std::string>{"/m/b.mp3", "/m/a.mp3", "/m/c.mp3"}));
  EXPECT_EQ(w->Files()->ItemIndex(), 2);
  w->miRemove->trigger();  // removing the last entry selects the first
  EXPECT_EQ(w->Files()->ItemIndex(), 0);
  w->Files()->SetItemIndex(-1);
  g_ui->Clear();
  w->miRemove->trigger();
  EXPECT_EQ(g_ui->Texts(),
            std::vector<std::string>{"Unable to remove media file from the media List!"});
  w->miRemoveAll->trigger();
  EXPECT_EQ(w->Files()->Count(), 0);
  EXPECT_TRUE(w->PendingPool().empty());
}

TEST_F(PlayerWindow, LoadSaveAsAndFilterChanges) {
  WriteFile(dir_ / "other.txt", "/x/1.wav\r\n/x/2.wav\r\n");
  auto w = Start();
  // Changing the filter sets the list kind at once, even when the dialog is cancelled.
  g_ui->dialog_answers.push_back(CancelAfterChanges({4}));
  w->miLoadMedia->trigger();
  EXPECT_EQ(w->ListKind(), 4);
  EXPECT_EQ(g_ui->dialogs.back().InitialDir, dir_.path());
  EXPECT_EQ(g_ui->dialogs.back().FileName, "*.qlm");
  EXPECT_EQ(g_ui->dialogs.back().DefaultExt, "qlm");
  g_ui->dialog_answers.push_back(Accept({dir_ / "other.txt"}, 3));
  w->miLoadMedia->trigger();
  EXPECT_EQ(w->ListKind(), 3);
  EXPECT_EQ(Entries(*w), (std::vector<std::string>{"/x/1.wav", "/x/2.wav"}));
  EXPECT_EQ(w->Files()->ItemIndex(), -1);
  EXPECT_EQ(w->StatusText(), "Closed");
  // Save As in the check-mark format writes the ini file and the list.
  w->Files()->SetChecked(1, true);
  g_ui->dialog_answers.push_back(Accept({dir_ / "saved.qlm"}, 1));
  w->miSaveMediaAs->trigger();
  EXPECT_EQ(ReadFile(dir_ / "saved.qlm"), "0\r\n/x/1.wav\r\n1\r\n/x/2.wav\r\n");
  EXPECT_EQ(TIniFile(Ini()).ReadString("Options", "DefaultFile", ""), dir_ / "saved.qlm");
  EXPECT_EQ(w->windowTitle().toStdString(), dir_ / "saved.qlm - Quillon Media Player");
  // A list that cannot be written: the old file stays whole and the user is told.
  g_ui->Clear();
  g_ui->dialog_answers.push_back(Accept({dir_ / "no/such/dir/x.qlm"}, 1, dir_.path()));
  w->miSaveMediaAs->trigger();
  EXPECT_EQ(g_ui->Texts(), std::vector<std::string>{"Unable to save media files!"});
  g_ui->Clear();
  g_ui->dialog_answers.push_back(Accept({dir_ / "missing.qlm"}, 1));
  w->miLoadMedia->trigger();
  EXPECT_EQ(g_ui->Texts(), std::vector<std::string>{"Unable to save media files!"});
}

TEST_F(PlayerWindow, DeleteAsksThenStoresTheListAsNoname) {
  WriteFile(dir_ / "doomed.qlm", "0\r\n/m/a.mp3\r\n");
  WriteFile(Ini(), "[Options]\r\nDefaultFile=" + dir_ / "doomed.qlm" + "\r\n");
  auto w = Start();
  g_ui->Clear();
  g_ui->confirm_answers.push_back(false);
  w->miDelete->trigger();
  EXPECT_TRUE(ql::fs::FileExists(dir_ / "doomed.qlm"));
  EXPECT_EQ(g_ui->Texts(), std::vector<std::string>{"Do you want to delete the file \"" +
                                                    dir_ / "doomed.qlm" + "\""});
  g_ui->confirm_answers.push_back(true);
  w->miDelete->trigger();
  EXPECT_FALSE(ql::fs::FileExists(dir_ / "doomed.qlm"));
  EXPECT_EQ(w->ListFileName(), "noname.qlm");
  EXPECT_EQ(TIniFile(Ini()).ReadString("Options", "DefaultFile", ""), "noname.qlm");
  EXPECT_EQ(ReadFile(dir_ / "noname.qlm"), "0\r\n/m/a.mp3\r\n");  // the list, still in memory
}

TEST_F(PlayerWindow, ExitSavesOnlyWithAutoSaveAndTheCloseBoxNever) {
  {
    auto w = Start();
    w->Files()->Add("/m/a.mp3");
    w->close();
    EXPECT_FALSE(ql::fs::FileExists(Ini()));
    w->miExit->trigger();
    EXPECT_TRUE(ql::fs::FileExists(Ini()));
    EXPECT_EQ(ReadFile(dir_ / "default-List.qlm"), "0\r\n/m/a.mp3\r\n");
  }
  unlink(Ini().c_str());
  auto w = Start();
  w->miAutoSave->trigger();
  w->miExit->trigger();
  EXPECT_FALSE(ql::fs::FileExists(Ini()));
}

TEST_F(PlayerWindow, SearchAddsTheFilesOfTheChosenKindBelowTheFolder) {
  std::string root = dir_ / "tree";
  mkdir(root.c_str(), 0755);
  mkdir((root + "/sub").c_str(), 0755);
  WriteFile(root + "/a.wav", "");
  WriteFile(root + "/sub/b.wav", "");
  WriteFile(root + "/sub/c.mp3", "");
  auto w = Start();
  g_ui->dialog_answers.push_back(Accept({root + "/*"}, 1, root));
  w->miSearch->trigger();
  EXPECT_EQ(w->SearchKind(), 1);
  EXPECT_EQ(Entries(*w), (std::vector<std::string>{root + "/sub/b.wav", root + "/a.wav"}));
  EXPECT_EQ(w->PendingPool(), Entries(*w));
  EXPECT_EQ(ql::fs::GetCurrentDir(), root);  // the start folder is current again
  EXPECT_EQ(g_ui->dialogs.back().FileName, "*");
  EXPECT_EQ(g_ui->dialogs.back().DefaultExt, "mp3");
}

TEST_F(PlayerWindow, ShowControlsHidesThePanelAndIndexOpensTheHelp) {
  auto w = Start();
  w->show();
  w->miShowControls->trigger();
  EXPECT_FALSE(w->miShowControls->isChecked());
  EXPECT_FALSE(w->PanelTop->isVisible());
  w->miShowControls->trigger();
  EXPECT_TRUE(w->PanelTop->isVisible());
  g_ui->Clear();
  w->miIndex->trigger();
  ASSERT_EQ(g_ui->help.size(), 1u);
  EXPECT_EQ(g_ui->help[0], (std::pair<std::string, int>{dir_ / "QLMMPLAY.HLP", 1000}));
}

TEST_F(PlayerWindow, AboutWindowsHaveTheirCaptionsSizesAndButtons) {
  TFormAboutMediaPlayer about;
  EXPECT_EQ(about.windowTitle().toStdString(), "About Quillon Media Player");
  EXPECT_EQ(about.size(), QSize(496, 326));
  EXPECT_EQ(about.btnEmail->text().toStdString(), "&Email");
  EXPECT_EQ(about.btnHomepage->x(), 304);
  EXPECT_EQ(about.btnClose->x(), 400);
  EXPECT_EQ(about.btnClose->toolTip().toStdString(), "Exit this dialog");
  TFormAboutBox box;
  EXPECT_EQ(box.windowTitle().toStdString(), "About Quillon Trackwell");
  EXPECT_EQ(box.size(), QSize(431, 324));
  EXPECT_EQ(box.btnEmail->geometry().topLeft(), QPoint(152, 280));
  // The addresses go to the shell's opener.
  std::string log = dir_ / "opened.txt";
  std::string opener = dir_ / "opener.sh";
  WriteFile(opener, "#!/bin/sh\necho \"$1\" >> '" + log + "'\n");
  chmod(opener.c_str(), 0755);
  setenv("QL_SHELL_OPEN", opener.c_str(), 1);
  about.btnEmail->click();
  EXPECT_TRUE(SpinUntil([&] { return !ReadFile(log).empty(); }, 5s));
  about.btnHomepage->click();
  EXPECT_TRUE(SpinUntil([&] { return ReadFile(log).find("https") != std::string::npos; }, 5s));
  EXPECT_EQ(ReadFile(log),
            std::string(TFormAboutBox::kEmailAddress) + "\n" + TFormAboutBox::kHomepage + "\n");
  setenv("QL_SHELL_OPEN", (dir_ / "no-such-opener").c_str(), 1);
  g_ui->Clear();
  about.btnEmail->click();
  ASSERT_EQ(g_ui->shown.size(), 1u);
  EXPECT_EQ(g_ui->shown[0].kind, ql::MsgKind::kError);
  unsetenv("QL_SHELL_OPEN");
}
