// The player window as a desktop user meets it: activation, drops, files from the command
// line, the playing mark, the device after mpv shut down, special files, saves through links
// and the shell opener's failures. Real parts: files on disk, libmpv with null outputs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <chrono>

#include "About.h"
#include "Fs.h"
#include "GuiTest.h"
#include "MediaPlayer.h"
#include "QLChList.h"
#include "TestFiles.h"

using namespace std::chrono_literals;
using qltest::ReadFile;
using qltest::TempDir;
using qltest::WriteFile;

namespace {

class PlayerDesktop : public testing::Test {
 protected:
  void SetUp() override {
    before_ = ql::fs::GetCurrentDir();
    ql::fs::SetCurrentDir(dir_.path());
    g_ui->Clear();
    g_ui->dialog_answers.clear();
  }
  void TearDown() override {
    w_.reset();
    ql::fs::SetCurrentDir(before_);
  }
  // A start in a folder without a list shows "File not found": forgotten unless kept.
  void Start(bool keep_messages = false) {
    w_ = std::make_unique<TFormMediaPlayer>();
    if (!keep_messages) g_ui->Clear();
  }
  std::string Tone(const std::string& name, double seconds = 2.0) {
    std::string path = dir_ / name;
    qltest::WriteToneWav(path, seconds);
    return path;
  }
  int PlayingRow() { return w_->Files()->model().PlayingRow(); }

  TempDir dir_;
  std::string before_;
  std::unique_ptr<TFormMediaPlayer> w_;
};

void Drop(QWidget* target, const std::vector<std::string>& paths) {
  auto* mime = new QMimeData;
  QList<QUrl> urls;
  for (const auto& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
  mime->setUrls(urls);
  QPoint at(10, 10);
  QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  EXPECT_TRUE(drop.isAccepted());
  delete mime;
}

}  // namespace

TEST_F(PlayerDesktop, EnterAndDoubleClickPlayTheEntryAndTheRowIsMarked) {
  Start();
  std::string a = Tone("a.wav"), b = Tone("b.wav");
  w_->AddPaths({a, b});
  w_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w_.get()));
  EXPECT_EQ(PlayingRow(), -1);
  w_->Files()->setFocus();
  w_->Files()->SetItemIndex(1);
  QTest::keyClick(w_->Files(), Qt::Key_Return);
  EXPECT_EQ(w_->MediaDevice().FileName, b);
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPlaying);
  EXPECT_EQ(w_->StatusText(), "Playing");
  EXPECT_TRUE(w_->Files()->Checked(1));
  EXPECT_EQ(PlayingRow(), 1);
  EXPECT_TRUE(
      w_->Files()->model().data(w_->Files()->model().index(1), Qt::FontRole).value<QFont>().bold());
  // A paused entry: double-clicking another plays that one, not the paused one.
  w_->sbPause->click();
  ASSERT_EQ(w_->MediaDevice().Mode(), mpPaused);
  QRect row0 = w_->Files()->visualRect(w_->Files()->model().index(0));
  // As the window system delivers a double click: a click, then the second press.
  QTest::mouseClick(w_->Files()->viewport(), Qt::LeftButton, {}, row0.center());
  QTest::mouseDClick(w_->Files()->viewport(), Qt::LeftButton, {}, row0.center());
  EXPECT_EQ(w_->MediaDevice().FileName, a);
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPlaying);
  EXPECT_EQ(PlayingRow(), 0);
  w_->sbStop->click();
  EXPECT_EQ(PlayingRow(), -1);
  EXPECT_TRUE(g_ui->shown.empty()) << g_ui->Texts()[0];
}

TEST_F(PlayerDesktop, DropsAndCommandLineFilesAddFilesFoldersAndPlayLists) {
  Start();
  ASSERT_EQ(mkdir((dir_ / "album").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir_ / "album/cd2").c_str(), 0755), 0);
  for (const char* f :
       {"album/10 ten.mp3", "album/9 nine.wav", "album/cover.jpg", "album/cd2/1.ogg"})
    WriteFile(dir_ / f, "");
  WriteFile(dir_ / "list.m3u", "#EXTM3U\nalbum/9 nine.wav\n/elsewhere/x.mp3\n");
  WriteFile(dir_ / "single.mp3", "");
  std::string cwd = ql::fs::GetCurrentDir();
  Drop(w_->Files()->viewport(), {dir_ / "album", dir_ / "single.mp3"});
  EXPECT_EQ(ql::fs::GetCurrentDir(), cwd);  // the walk put the current folder back
  EXPECT_EQ(w_->Files()->Strings(),
            (std::vector<std::string>{dir_ / "album/cd2/1.ogg", dir_ / "album/9 nine.wav",
                                      dir_ / "album/10 ten.mp3", dir_ / "single.mp3"}));
  EXPECT_EQ(w_->PendingPool(), w_->Files()->Strings());
  // As qlplayer's arguments: relative names are taken from the current folder; a play list
  // gives its entries; a list that cannot be read is named in a message and the rest added.
  w_->Files()->Clear();
  std::string fifo = dir_ / "pipe.m3u";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  w_->AddPaths({"list.m3u", fifo, "single.mp3"});
  EXPECT_EQ(w_->Files()->Strings(),
            (std::vector<std::string>{dir_ / "album/9 nine.wav", "/elsewhere/x.mp3",
                                      dir_ / "single.mp3"}));
  ASSERT_EQ(g_ui->shown.size(), 1u);
  EXPECT_NE(g_ui->shown[0].text.find("pipe.m3u"), std::string::npos);
}

TEST_F(PlayerDesktop, AddReplacesAChosenPlayListByItsEntries) {
  Start();
  WriteFile(dir_ / "a.pls", "[playlist]\nFile1=one.mp3\nFile2=/abs/two.mp3\n");
  g_ui->dialog_answers.push_back({true, {dir_ / "a.pls", dir_ / "three.mp3"}, 1, {}, ""});
  w_->miAdd->trigger();
  EXPECT_EQ(w_->Files()->Strings(),
            (std::vector<std::string>{dir_ / "one.mp3", "/abs/two.mp3", dir_ / "three.mp3"}));
  EXPECT_TRUE(g_ui->shown.empty());
}

TEST_F(PlayerDesktop, AfterMpvShutsDownTheStatusFollowsAndTheNextPlayWorks) {
  Start();
  std::string a = Tone("a.wav", 3.0);
  w_->AddPaths({a});
  w_->Files()->SetItemIndex(0);
  w_->sbPlay->click();
  ASSERT_EQ(w_->StatusText(), "Playing");
  // mpv's own keys are off: "q" in its window does not end the device.
  w_->MediaDevice().Command({"keypress", "q"});
  QTest::qWait(300);
  w_->TimerTimer();
  EXPECT_EQ(w_->StatusText(), "Playing");
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPlaying);
  // Its window closed: mpv shuts down. The next tick shows "Stopped" and does not advance.
  w_->MediaDevice().Command({"keypress", "CLOSE_WIN"});
  ASSERT_TRUE(SpinUntil(
      [&] {
        w_->TimerTimer();
        return w_->StatusText() == "Stopped";
      },
      5s));
  EXPECT_FALSE(w_->Playing());
  EXPECT_EQ(PlayingRow(), -1);
  w_->TimerTimer();
  EXPECT_EQ(w_->StatusText(), "Stopped");
  auto start = std::chrono::steady_clock::now();
  w_->sbPlay->click();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(w_->StatusText(), "Playing");
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPlaying);
  w_->TimerTimer();
  EXPECT_EQ(w_->StatusText(), "Playing");
  EXPECT_TRUE(g_ui->shown.empty());
}

TEST_F(PlayerDesktop, FifosAreRefusedQuicklyAsListAndAsEntry) {
  std::string fifo = dir_ / "pipe.qlm";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  WriteFile(dir_ / "QuillonMediaPlayer.ini",
            "[Options]\r\nFileExtension=1\r\nDefaultFile=" + fifo + "\r\n");
  auto start = std::chrono::steady_clock::now();
  Start(true);  // would wait for a writer for ever
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  ASSERT_EQ(g_ui->shown.size(), 1u);
  EXPECT_NE(g_ui->shown[0].text.find("pipe.qlm"), std::string::npos);
  EXPECT_EQ(w_->Files()->Count(), 0);
  // As a plain-text list: the file-open error, shown by the default error display.
  w_.reset();
  g_ui->Clear();
  WriteFile(dir_ / "QuillonMediaPlayer.ini",
            "[Options]\r\nFileExtension=3\r\nDefaultFile=" + fifo + "\r\n");
  Start(true);
  EXPECT_EQ(g_ui->Texts(), std::vector<std::string>{"Cannot open file " + fifo});
  // As an entry.
  g_ui->Clear();
  w_->AddPaths({dir_ / "pipe.qlm"});
  w_->Files()->SetItemIndex(0);
  start = std::chrono::steady_clock::now();
  w_->sbPlay->click();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(g_ui->Texts(),
            (std::vector<std::string>{"Unable to close Media Player!", "No MCI device open"}));
}

TEST_F(PlayerDesktop, SavesWriteThroughLinksInOneReplaceAndRefuseDevices) {
  ASSERT_EQ(mkdir((dir_ / "real").c_str(), 0755), 0);
  WriteFile(dir_ / "real/settings.ini", "; kept\r\n[Other]\r\nx=1\r\n");
  WriteFile(dir_ / "real/list.qlm", "");
  ASSERT_EQ(symlink("real/settings.ini", (dir_ / "QuillonMediaPlayer.ini").c_str()), 0);
  ASSERT_EQ(symlink("real/list.qlm", (dir_ / "linked.qlm").c_str()), 0);
  Start();
  w_->SetListFileName(dir_ / "linked.qlm");
  w_->AddPaths({dir_ / "one.mp3"});
  w_->miSave->trigger();
  EXPECT_TRUE(g_ui->shown.empty());
  struct stat st;
  ASSERT_EQ(lstat((dir_ / "QuillonMediaPlayer.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(lstat((dir_ / "linked.qlm").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir_ / "real/list.qlm"), "0\r\n" + (dir_ / "one.mp3") + "\r\n");
  std::string ini = ReadFile(dir_ / "real/settings.ini");
  EXPECT_EQ(ini.rfind("; kept\r\n[Other]\r\nx=1\r\n", 0), 0u) << ini;
  for (const char* key :
       {"Left=", "Top=", "Width=", "Height=", "FileExtension=1", "InOrder=1", "PostOrder=0",
        "Random=0", "AutoSave=1", "BlackMediaList=1", "PlayOrder=0", "ItemIndex=-1"})
    EXPECT_NE(ini.find(key), std::string::npos) << key;
  EXPECT_NE(ini.find("DefaultFile=" + (dir_ / "linked.qlm")), std::string::npos);
  // A device as the list file: refused with a message naming it; nothing is written to it.
  g_ui->Clear();
  w_->SetListFileName("/dev/null");
  w_->miSave->trigger();
  ASSERT_EQ(g_ui->shown.size(), 1u);
  EXPECT_NE(g_ui->shown[0].text.find("/dev/null"), std::string::npos) << g_ui->shown[0].text;
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  // A list name that would plant a line in the ini file: refused, the ini file untouched.
  g_ui->Clear();
  std::string before = ReadFile(dir_ / "real/settings.ini");
  w_->SetListFileName(dir_ / "evil\r\n[Options]\r\nAutoSave=0.qlm");
  w_->miSave->trigger();
  EXPECT_EQ(g_ui->shown.size(), 1u);
  EXPECT_EQ(ReadFile(dir_ / "real/settings.ini"), before);
}

TEST_F(PlayerDesktop, AFailingOpenerShowsTheErrorBoxWithTheReason) {
  TFormAboutMediaPlayer about;
  std::string opener = dir_ / "opener.sh";
  // What xdg-open does when no program is set up for the address.
  WriteFile(opener, "#!/bin/sh\necho 'no method available' >&2\nexit 3\n");
  chmod(opener.c_str(), 0755);
  setenv("QL_SHELL_OPEN", opener.c_str(), 1);
  about.btnEmail->click();
  ASSERT_EQ(g_ui->shown.size(), 1u);
  EXPECT_EQ(g_ui->shown[0].kind, ql::MsgKind::kError);
  EXPECT_NE(g_ui->shown[0].text.find(TFormAboutBox::kEmailAddress), std::string::npos);
  EXPECT_NE(g_ui->shown[0].text.find("no program is set up"), std::string::npos);
  g_ui->Clear();
  WriteFile(opener, "#!/bin/sh\nkill -9 $$\n");
  about.btnHomepage->click();
  ASSERT_EQ(g_ui->shown.size(), 1u);
  EXPECT_NE(g_ui->shown[0].text.find(TFormAboutBox::kHomepage), std::string::npos);
  // An opener that succeeds shows nothing.
  g_ui->Clear();
  WriteFile(opener, "#!/bin/sh\nexit 0\n");
  about.btnHomepage->click();
  EXPECT_TRUE(g_ui->shown.empty());
  unsetenv("QL_SHELL_OPEN");
}
