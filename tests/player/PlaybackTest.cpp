// Playback and play order through the real libmpv device (null outputs) on generated files.
#include <gtest/gtest.h>

#include <QAction>
#include <QToolButton>
#include <chrono>
#include <set>

#include "Fs.h"
#include "GuiTest.h"
#include "MediaPlayer.h"
#include "QLChList.h"
#include "TestFiles.h"

using namespace std::chrono_literals;
using qltest::TempDir;

namespace {

class Playback : public testing::Test {
 protected:
  void SetUp() override {
    before_ = ql::fs::GetCurrentDir();
    ql::fs::SetCurrentDir(dir_.path());
    g_ui->Clear();
    w_ = std::make_unique<TFormMediaPlayer>();
    w_->SeedRandom(11);
    g_ui->Clear();
  }
  void TearDown() override {
    w_.reset();
    ql::fs::SetCurrentDir(before_);
  }
  // Entries of tone files; seconds each.
  void AddTones(int count, double seconds) {
    for (int i = 0; i < count; ++i) {
      std::string path = dir_ / ("t" + std::to_string(i) + ".wav");
      qltest::WriteToneWav(path, seconds, 300 + 100 * i);
      w_->Files()->Add(path);
    }
  }
  std::string Path(int i) const { return dir_ / ("t" + std::to_string(i) + ".wav"); }
  int Selected() const { return w_->Files()->ItemIndex(); }
  bool WaitForMode(TMPModes mode, std::chrono::milliseconds t) {
    return SpinUntil([&] { return w_->MediaDevice().Mode() == mode; }, t);
  }

  TempDir dir_;
  std::string before_;
  std::unique_ptr<TFormMediaPlayer> w_;
};

}  // namespace

TEST_F(Playback, PlayReachesPlayingAndTheTimerStartsTheNextEntryAtTheEnd) {
  // Long enough that the null output cannot finish an entry between two checks.
  AddTones(2, 1.5);
  w_->Files()->SetItemIndex(0);
  w_->sbPlay->click();
  EXPECT_EQ(w_->StatusText(), "Playing");
  EXPECT_TRUE(w_->Playing());
  EXPECT_TRUE(w_->Files()->Checked(0));
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPlaying);
  ASSERT_TRUE(WaitForMode(mpStopped, 5s));
  w_->TimerTimer();  // the tick that sees the end
  EXPECT_EQ(Selected(), 1);
  EXPECT_EQ(w_->MediaDevice().FileName, Path(1));
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPlaying);
  EXPECT_TRUE(w_->Playing());
  EXPECT_TRUE(w_->Files()->Checked(1));
  EXPECT_EQ(w_->StatusText(), "Playing");
  // At the end of the last entry in order, the first plays next.
  ASSERT_TRUE(WaitForMode(mpStopped, 5s));
  w_->TimerTimer();
  EXPECT_EQ(Selected(), 0);
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPlaying);
  EXPECT_TRUE(g_ui->shown.empty());
}

TEST_F(Playback, TheRealTimerAdvancesByItself) {
  AddTones(2, 1.5);
  w_->Files()->SetItemIndex(0);
  w_->sbPlay->click();
  EXPECT_TRUE(SpinUntil([&] { return Selected() == 1; }, 8s));
  EXPECT_TRUE(SpinUntil([&] { return w_->MediaDevice().Mode() == mpPlaying; }, 2s));
}

TEST_F(Playback, PauseTwiceThenPlayResumesAndStopHoldsStill) {
  AddTones(2, 3.0);
  w_->Files()->SetItemIndex(0);
  w_->sbPlay->click();
  w_->sbPause->click();
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPaused);
  EXPECT_EQ(w_->StatusText(), "Playing");  // the timer shows "Paused" on its next tick
  w_->TimerTimer();
  EXPECT_EQ(w_->StatusText(), "Paused");
  w_->sbPause->click();  // already paused: nothing
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPaused);
  w_->sbPlay->click();
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPlaying);
  w_->sbStop->click();
  EXPECT_EQ(w_->StatusText(), "Stopped");
  EXPECT_FALSE(w_->Playing());
  w_->TimerTimer();
  w_->TimerTimer();
  EXPECT_EQ(Selected(), 0);  // a stopped device never advances by itself
  EXPECT_EQ(w_->StatusText(), "Stopped");
  w_->sbClose->click();  // merely stopped: stays open until the next Open
  EXPECT_EQ(w_->StatusText(), "Closed");
  w_->sbPlay->click();
  w_->sbClose->click();
  EXPECT_EQ(w_->MediaDevice().Mode(), mpNotReady);
  EXPECT_TRUE(g_ui->shown.empty());
}

TEST_F(Playback, NextAndPreviousButtonsMoveAndKeepPlaying) {
  AddTones(3, 3.0);
  w_->Files()->SetItemIndex(-1);
  w_->sbPrevious->click();  // nothing selected: the last entry
  EXPECT_EQ(Selected(), 2);
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPlaying);
  EXPECT_TRUE(w_->Playing());
  EXPECT_EQ(w_->StatusText(), "Playing");
  w_->sbNext->click();  // after the last: the first
  EXPECT_EQ(Selected(), 0);
  EXPECT_EQ(w_->MediaDevice().FileName, Path(0));
  EXPECT_TRUE(w_->Files()->Checked(0));
  w_->miPostOrder->trigger();
  w_->sbNext->click();  // post order runs from last to first
  EXPECT_EQ(Selected(), 2);
  w_->sbNext->click();
  EXPECT_EQ(Selected(), 1);
  EXPECT_TRUE(g_ui->shown.empty());
}

TEST_F(Playback, RandomPlaysEveryEntryOncePerCycle) {
  AddTones(3, 0.2);
  w_->miRandom->trigger();
  // Loaded lists rebuild the pool from unchecked rows; build it the same way here.
  w_->Files()->SetChecked(0, true);
  w_->Files()->SaveToFile(dir_ / "r.qlm");
  w_->SetListFileName(dir_ / "r.qlm");
  w_->LoadListFile();
  EXPECT_EQ(w_->PendingPool().size(), 2u);
  std::set<int> cycle;
  for (int i = 0; i < 2; ++i) {
    w_->sbNext->click();
    cycle.insert(Selected());
  }
  EXPECT_EQ(cycle, (std::set<int>{1, 2}));  // the entry checked in the file is skipped
  EXPECT_TRUE(w_->PendingPool().empty());
  // A new cycle clears every mark, then draws all three once.
  w_->sbNext->click();
  std::set<int> second{Selected()};
  int checked = 0;
  for (int i = 0; i < 3; ++i) checked += w_->Files()->Checked(i);
  EXPECT_EQ(checked, 1);
  for (int i = 0; i < 2; ++i) {
    w_->sbNext->click();
    second.insert(Selected());
  }
  EXPECT_EQ(second, (std::set<int>{0, 1, 2}));
}

TEST_F(Playback, AllCheckedListInRandomStartsANewCycleAtOnce) {
  AddTones(2, 0.2);
  for (int i = 0; i < 2; ++i) w_->Files()->SetChecked(i, true);
  w_->Files()->SaveToFile(dir_ / "all.qlm");
  w_->SetListFileName(dir_ / "all.qlm");
  w_->LoadListFile();
  EXPECT_TRUE(w_->PendingPool().empty());
  w_->miRandom->trigger();
  w_->sbNext->click();
  EXPECT_EQ(w_->PendingPool().size(), 1u);
  EXPECT_EQ(w_->Files()->Checked(0) + w_->Files()->Checked(1), 1);
}

TEST_F(Playback, MissingFilesAndNoSelectionGiveTheirMessages) {
  w_->Files()->Add(dir_ / "missing.mp3");
  w_->Files()->SetItemIndex(0);
  w_->sbPlay->click();
  EXPECT_EQ(g_ui->Texts(),
            (std::vector<std::string>{"Unable to close Media Player!", "No MCI device open"}));
  EXPECT_FALSE(w_->Playing());
  g_ui->Clear();
  w_->Files()->SetItemIndex(-1);
  w_->sbPlay->click();
  EXPECT_EQ(g_ui->Texts(), std::vector<std::string>{"List index out of bounds (-1)"});
  g_ui->Clear();
  w_->sbPause->click();  // no device open
  EXPECT_EQ(g_ui->Texts(), std::vector<std::string>{"Unable to pause Media Player!"});
  g_ui->Clear();
  w_->Files()->Clear();
  w_->sbPlay->click();  // an empty list: nothing at all
  w_->sbStop->click();
  EXPECT_TRUE(g_ui->shown.empty());
  EXPECT_EQ(w_->StatusText(), "Stopped");
}

TEST_F(Playback, NoPlayOrderCheckedFindsNoNextEntry) {
  AddTones(1, 2.0);
  w_->miInOrder->trigger();  // choosing the checked item keeps it checked
  EXPECT_TRUE(w_->miInOrder->isChecked());
  w_->miInOrder->setChecked(false);
  w_->Files()->SetItemIndex(0);
  w_->sbNext->click();
  EXPECT_EQ(g_ui->Texts(), (std::vector<std::string>{"Unable to close Media Player!",
                                                     "Unable to move to the next track!"}));
}

TEST_F(Playback, Mp3EntriesPlay) {
  std::string mp3 = dir_ / "song.mp3";
  if (!qltest::WriteToneMp3(mp3, 1.5)) GTEST_SKIP() << "ffmpeg missing";
  w_->Files()->Add(mp3);
  w_->Files()->SetItemIndex(0);
  w_->sbPlay->click();
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPlaying);
  EXPECT_TRUE(WaitForMode(mpStopped, 5s));
}
