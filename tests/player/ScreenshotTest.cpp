// Writes screenshots/qlplayer.png (in the build folder) of the window holding a few entries,
// one of them checked, and checks that the picture shows the list's colours.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPixmap>

#include "Fs.h"
#include "GuiTest.h"
#include "MediaPlayer.h"
#include "QLChList.h"
#include "TestFiles.h"

#ifndef QL_SCREENSHOT_DIR
#define QL_SCREENSHOT_DIR "screenshots"
#endif

TEST(Screenshot, PlayerWindowWithEntries) {
  qltest::TempDir dir;
  std::string before = ql::fs::GetCurrentDir();
  ql::fs::SetCurrentDir(dir.path());
  {
    TFormMediaPlayer w;
    for (const char* f : {"/home/user/Music/Autumn Leaves.mp3", "/home/user/Music/Blue Train.wav",
                          "/home/user/Music/So What.mp3", "/home/user/Videos/Concert.avi"})
      w.Files()->Add(f);
    w.Files()->SetChecked(1, true);
    w.Files()->SetItemIndex(2);
    w.show();
    SpinUntil([] { return false; }, std::chrono::milliseconds(200));
    QPixmap shot = w.grab();
    QDir().mkpath(QL_SCREENSHOT_DIR);
    std::string out = std::string(QL_SCREENSHOT_DIR) + "/qlplayer.png";
    ASSERT_TRUE(shot.save(QString::fromStdString(out)));
    QImage img = shot.toImage();
    QPoint in_list =
        w.Files()->mapTo(&w, QPoint(w.Files()->width() - 10, w.Files()->height() - 10));
    EXPECT_EQ(img.pixelColor(in_list * shot.devicePixelRatio()), QColor(0, 0, 0));
  }
  ql::fs::SetCurrentDir(before);
}
