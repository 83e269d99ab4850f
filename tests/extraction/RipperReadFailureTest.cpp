// The CD-extraction window when the disc cannot be read: a sector that fails ends the track
// with the reader's message and keeps no file under the track's name (an earlier one stays); a
// data track is refused with its message and nothing is written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>

#include "CDRipper.h"
#include "CdImage.h"
#include "GuiTest.h"
#include "MMControls.h"
#include "Settings.h"
#include "StringGrid.h"
#include "TestFiles.h"

using namespace std::chrono_literals;

namespace {

class RipperReadFailure : public ::testing::Test {
 protected:
  qltest::TempDir dir;
  std::string work, out, win, oldCwd;

  void SetUp() override {
    work = dir / "work";
    out = dir / "out";
    win = dir / "win";
    for (const auto& d : {work, out, win}) mkdir(d.c_str(), 0755);
    char buf[4096];
    oldCwd = getcwd(buf, sizeof buf) ? buf : "/";
    ASSERT_EQ(chdir(work.c_str()), 0);
    setenv("QL_WINDOWS_DIR", win.c_str(), 1);
    setenv("QL_WAVEOUT", "memory-fast", 1);
    g_ui->Clear();
  }
  void TearDown() override {
    unsetenv("QL_CD_IMAGES");
    unsetenv("QL_WAVEOUT");
    ASSERT_EQ(chdir(oldCwd.c_str()), 0);
  }

  // The window on the image, its files named by the track number alone.
  std::unique_ptr<TFormCDRipper> Make(const qltest::CdImage& img) {
    setenv("QL_CD_IMAGES", img.cue.c_str(), 1);
    auto w = std::make_unique<TFormCDRipper>();
    w->show();
    QApplication::processEvents();
    w->FormSettings->SetOutputDirectory(out);
    w->FormSettings->SetAddArtist(false);
    w->FormSettings->SetAddTitle(false);
    w->FormSettings->SetAddNumber(false);
    return w;
  }
};

}  // namespace

TEST_F(RipperReadFailure, AnUnreadableSectorEndsTheTrackWithAMessageAndKeepsTheEarlierFile) {
  auto img = qltest::WriteCdImage(dir.path(), "disc", {300, 37});
  auto w = Make(img);
  qltest::WriteToneWav(out + "/01.wav", 0.2);
  const std::string earlier = qltest::ReadFile(out + "/01.wav");
  // The image loses its end while track 1 is read.
  w->FCDReader.OnDataRead = [&](TMMDSPComponent*) { truncate(img.bin.c_str(), 200 * 2352); };
  w->Grid->SetRow(1);
  w->sbRecord->click();
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 20s));
  QApplication::processEvents();
  ASSERT_FALSE(g_ui->Texts().empty());
  const std::string shown = g_ui->Texts().back();
  EXPECT_EQ(shown.rfind("Sector ", 0), 0u) << shown;
  EXPECT_NE(shown.find("(track 1, "), std::string::npos) << shown;
  EXPECT_NE(shown.find("could not be read"), std::string::npos) << shown;
  EXPECT_TRUE(qltest::ReadFile(out + "/01.wav") == earlier);
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 1), "");
  w->FCDReader.OnDataRead = nullptr;
}

TEST_F(RipperReadFailure, ADataTrackIsRefusedWithItsMessage) {
  auto img = qltest::WriteCdImage(dir.path(), "mixed", {qltest::DataTrack(50), 40});
  auto w = Make(img);
  w->Grid->SetRow(1);
  w->sbRecord->click();
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 10s));
  QApplication::processEvents();
  ASSERT_FALSE(g_ui->Texts().empty());
  EXPECT_EQ(g_ui->Texts().back(), "Track 1 is a data track: it holds no audio");
  EXPECT_NE(qltest::Run("test -e '" + out + "/01.wav'"), 0);
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 1), "");
  // The audio track after it records as it is.
  g_ui->Clear();
  w->Grid->SetRow(2);
  w->sbRecord->click();
  ASSERT_TRUE(SpinUntil([&] { return !w->Recording; }, 20s));
  EXPECT_TRUE(g_ui->Texts().empty()) << g_ui->Texts()[0];
  EXPECT_EQ(w->Grid->Cell(TFormCDRipper::colSavedAs, 2), "02.wav");
}
