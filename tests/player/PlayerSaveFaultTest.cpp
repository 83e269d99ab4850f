// The player's saves on a failing disk: a full disk, an I/O error, a short write, a failed
// flush, rename or creation at each call of the save in turn. The settings file and the list
// keep their earlier bytes or hold the complete new ones, and the user is told when the save
// did not happen.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QAction>
#include <csignal>

#include "FaultWalk.h"
#include "Fs.h"
#include "GuiTest.h"
#include "MediaPlayer.h"
#include "Profile.h"
#include "QLChList.h"
#include "TestFiles.h"

using qltest::WriteFile;

namespace {

class PlayerSaveFaults : public testing::Test {
 protected:
  void SetUp() override {
    before_ = ql::fs::GetCurrentDir();
    ql::fs::SetCurrentDir(dir_.path());
    g_ui->Clear();
    g_ui->confirm_answers.clear();
    g_ui->dialog_answers.clear();
  }
  void TearDown() override { ql::fs::SetCurrentDir(before_); }

  std::string Ini() const { return dir_ / "QuillonMediaPlayer.ini"; }
  // Earlier settings and list that every save replaces.
  void WriteEarlier(const std::string& list, const std::string& list_bytes) {
    WriteFile(Ini(), "; kept by hand\r\n[Options]\r\nLeft=5\r\nDefaultFile=" + list +
                         "\r\nFileExtension=1\r\n[Other]\r\nKey=1\r\n");
    WriteFile(list, list_bytes);
  }
  // A window with three entries, the second one checked.
  std::unique_ptr<TFormMediaPlayer> Start(const std::string& list) {
    WriteEarlier(list, "1\r\n/m/a.mp3\r\n0\r\n/m/b.mp3\r\n0\r\n/m/c.mp3\r\n");
    auto w = std::make_unique<TFormMediaPlayer>();
    w->SeedRandom(7);
    w->Files()->SetChecked(0, false);
    w->Files()->SetChecked(1, true);
    w->Files()->SetItemIndex(2);
    return w;
  }

  qltest::TempDir dir_;
  std::string before_;
};

TEST_F(PlayerSaveFaults, SaveKeepsTheSettingsAndTheCheckListWholeOrNew) {
  QL_RUN_WITH_FAULT_INJECTOR();
  const std::string list = dir_ / "mine.qlm";
  auto w = Start(list);
  qltest::SaveWalk walk;
  walk.scope = dir_.path();
  walk.files = {Ini(), list};
  walk.restore = [&] { WriteEarlier(list, "0\r\n/old/x.mp3\r\n"); };
  walk.save = [&] { w->miSave->trigger(); };
  qltest::WalkSaveFaults(walk, *g_ui);
  // The last save was complete: the next start reads it back.
  auto again = std::make_unique<TFormMediaPlayer>();
  EXPECT_EQ(again->Files()->Strings(),
            (std::vector<std::string>{"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"}));
  EXPECT_TRUE(again->Files()->Checked(1));
  EXPECT_EQ(TIniFile(Ini()).ReadString("Other", "Key", ""), "1");
}

TEST_F(PlayerSaveFaults, SaveAsAPlainListSaysUnableToSave) {
  QL_RUN_WITH_FAULT_INJECTOR();
  const std::string list = dir_ / "mine.qlm", plain = dir_ / "saved.txt";
  auto w = Start(list);
  qltest::SaveWalk walk;
  walk.scope = dir_.path();
  walk.files = {Ini(), plain};
  walk.restore = [&] {
    WriteEarlier(list, "0\r\n/old/x.mp3\r\n");
    WriteFile(plain, "/old/y.mp3\r\n");
    ql::ScriptedUi::DialogAnswer a;
    a.files = {plain};
    a.filter_index = 3;
    g_ui->dialog_answers.push_back(a);
  };
  walk.save = [&] { w->miSaveMediaAs->trigger(); };
  walk.check_message = [&](const std::vector<std::string>& texts) {
    ASSERT_EQ(texts.size(), 1u);
    // The settings file fails as an input/output error; the list as "Cannot create file".
    EXPECT_TRUE(texts[0] == "Unable to save media files!" ||
                texts[0] == "Cannot create file " + plain)
        << texts[0];
  };
  qltest::WalkSaveFaults(walk, *g_ui);
  EXPECT_EQ(qltest::ReadFile(plain), "/m/a.mp3\r\n/m/b.mp3\r\n/m/c.mp3\r\n");
}

TEST_F(PlayerSaveFaults, ExitWithAutoSaveSaysUnableToSaveAndStillCloses) {
  QL_RUN_WITH_FAULT_INJECTOR();
  const std::string list = dir_ / "mine.qlm";
  auto w = Start(list);
  w->miAutoSave->setChecked(true);
  qltest::SaveWalk walk;
  walk.scope = dir_.path();
  walk.files = {Ini(), list};
  walk.restore = [&] {
    WriteEarlier(list, "0\r\n/old/x.mp3\r\n");
    w->show();
  };
  walk.save = [&] {
    w->miExit->trigger();
    EXPECT_FALSE(w->isVisible());
  };
  walk.check_message = [](const std::vector<std::string>& texts) {
    EXPECT_EQ(texts, std::vector<std::string>{"Unable to save ini file or media files!"});
  };
  qltest::WalkSaveFaults(walk, *g_ui);
}

// Killed (a power cut, kill -9) before each write of Save in turn: the settings file and the
// list each hold their earlier bytes or the complete new ones, and the next start of the player
// removes what the killed save left behind.
TEST_F(PlayerSaveFaults, KilledWhileSavingLeavesEachFileWholeAndTheNextStartCleansUp) {
  const std::string list = dir_ / "mine.qlm";
  if (const char* folder = std::getenv("QL_SAVE_CHILD_DIR")) {
    // The child's part: start in the parent's folder, change the list and save.
    ql::fs::SetCurrentDir(folder);
    auto w = std::make_unique<TFormMediaPlayer>();
    ASSERT_EQ(w->Files()->Count(), 2);
    w->Files()->SetChecked(1, true);
    w->resize(500, 300);
    w->miSave->trigger();
    EXPECT_TRUE(g_ui->Texts().empty());
    return;
  }
  qltest::TempDir side;  // outside the injector's scope: the child's output goes there
  auto restore = [&] { WriteEarlier(list, "1\r\n/m/a.mp3\r\n0\r\n/m/b.mp3\r\n"); };
  auto child = [&](long n) {
    return qltest::RunKilledChild("QL_SAVE_CHILD_DIR=" + dir_.path(), dir_.path(), n,
                                  side / "child.txt");
  };
  restore();
  const std::string earlierIni = qltest::ReadFile(Ini()), earlierList = qltest::ReadFile(list);
  ASSERT_EQ(child(0), 0) << qltest::ReadFile(side / "child.txt");
  const std::string newIni = qltest::ReadFile(Ini()), newList = qltest::ReadFile(list);
  ASSERT_NE(newIni, earlierIni);
  ASSERT_NE(newList, earlierList);
  int killed = 0, leftovers = 0;
  long n = 1;
  for (; n < 50; ++n) {
    restore();
    const int status = child(n);
    SCOPED_TRACE("killed before write " + std::to_string(n) + "\n" +
                 qltest::ReadFile(side / "child.txt"));
    const std::string ini = qltest::ReadFile(Ini()), saved = qltest::ReadFile(list);
    EXPECT_TRUE(ini == earlierIni || ini == newIni) << ini;
    EXPECT_TRUE(saved == earlierList || saved == newList) << saved;
    if (!WIFSIGNALED(status)) {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      EXPECT_EQ(ini, newIni);
      EXPECT_EQ(saved, newList);
      break;
    }
    ASSERT_EQ(WTERMSIG(status), SIGKILL);
    ++killed;
    leftovers += !qltest::Temporaries(dir_.path()).empty();
  }
  EXPECT_GE(killed, 2);  // one write per file at least
  ASSERT_GT(leftovers, 0);
  // Killed once more while writing the list; the next start removes the leftover.
  restore();
  ASSERT_TRUE(WIFSIGNALED(child(2)));
  ASSERT_FALSE(qltest::Temporaries(dir_.path()).empty());
  auto w = std::make_unique<TFormMediaPlayer>();
  EXPECT_TRUE(qltest::Temporaries(dir_.path()).empty()) << qltest::Temporaries(dir_.path())[0];
}

}  // namespace
