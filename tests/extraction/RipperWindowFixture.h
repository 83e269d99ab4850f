#pragma once
// The CD-extraction window on a generated disc image: the fixture shared by the window tests.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <cstring>
#include <functional>
#include <memory>

#include "CDRipper.h"
#include "CdImage.h"
#include "GuiTest.h"
#include "Settings.h"
#include "TestFiles.h"

namespace {

// The audio bytes of a RIFF WAVE file's data chunk (empty when there is none).
[[maybe_unused]] std::string WaveData(const std::string& path) {
  std::string f = qltest::ReadFile(path);
  std::size_t pos = 12;
  while (pos + 8 <= f.size()) {
    std::uint32_t size;
    std::memcpy(&size, f.data() + pos + 4, 4);
    if (f.compare(pos, 4, "data") == 0) return f.substr(pos + 8, size);
    pos += 8 + size + (size & 1);
  }
  return {};
}

// Clicks the button named `button` of the next modal dialog that opens, after `before` has
// done what the user does in it.
[[maybe_unused]] void AnswerNextModal(const char* button,
                                      const std::function<void(QWidget*)>& before = {}) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, button, before] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (auto* b = modal->findChild<QAbstractButton*>(button)) {
      timer->stop();
      timer->deleteLater();
      if (before) before(modal);
      b->click();
    }
  });
  timer->start();
}

class RipperWindow : public ::testing::Test {
 protected:
  qltest::TempDir dir;
  qltest::CdImage img;
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
    // Tracks of 300, 37 and 75 sectors: the CDDB disc ID is 0e000403 for 300/37/1 only, so the
    // lookup test writes its own image.
    img = qltest::WriteCdImage(dir.path(), "disc", {{300}, {37}, {75}});
    setenv("QL_CD_IMAGES", img.cue.c_str(), 1);
    g_ui->Clear();
  }
  void TearDown() override {
    unsetenv("QL_CD_IMAGES");
    unsetenv("QL_WAVEOUT");
    ASSERT_EQ(chdir(oldCwd.c_str()), 0);
  }

  std::unique_ptr<TFormCDRipper> Make() {
    auto w = std::make_unique<TFormCDRipper>();
    w->show();
    QApplication::processEvents();
    return w;
  }

  std::string Track(int index) const {
    std::string bin = qltest::ReadFile(img.bin);
    return bin.substr(std::size_t(img.starts[index]) * 2352,
                      std::size_t(img.lengths[index]) * 2352);
  }

  // The output directory of the general options (without showing the dialog).
  void SetOutput(TFormCDRipper& w) {
    w.FormSettings->SetOutputDirectory(out);
    ASSERT_EQ(w.FormSettings->OutputDirectory(), out);
  }
};

}  // namespace
