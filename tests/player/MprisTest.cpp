// MPRIS2 on a private session bus (the test runs under dbus-run-session): gdbus and
// dbus-send, as desktop widgets and media-key daemons use them, drive the player window.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QProcess>
#include <QTest>
#include <chrono>

#include "Fs.h"
#include "GuiTest.h"
#include "MediaPlayer.h"
#include "Mpris.h"
#include "QLChList.h"
#include "TestFiles.h"

using namespace std::chrono_literals;

namespace {

// Runs a bus tool while the window's event loop keeps serving the bus; its standard output.
std::string Tool(const QStringList& args, int* rc = nullptr) {
  QProcess p;
  p.start(args[0], args.mid(1));
  if (!p.waitForStarted(5000)) return "<not started>";
  SpinUntil([&] { return p.state() == QProcess::NotRunning; }, 10s);
  if (rc) *rc = p.exitCode();
  return (p.readAllStandardOutput() + p.readAllStandardError()).toStdString();
}

const QString kName = "org.mpris.MediaPlayer2.qlplayer";
const QString kPath = "/org/mpris/MediaPlayer2";

std::string Call(const QString& method) {
  int rc = -1;
  std::string out = Tool({"gdbus", "call", "--session", "--dest", kName, "--object-path", kPath,
                          "--method", "org.mpris.MediaPlayer2.Player." + method},
                         &rc);
  EXPECT_EQ(rc, 0) << out;
  return out;
}

std::string Get(const QString& property) {
  return Tool({"dbus-send", "--session", "--print-reply", "--dest=" + kName, kPath,
               "org.freedesktop.DBus.Properties.Get", "string:org.mpris.MediaPlayer2.Player",
               "string:" + property});
}

class Mpris : public testing::Test {
 protected:
  void SetUp() override {
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus";
    before_ = ql::fs::GetCurrentDir();
    ql::fs::SetCurrentDir(dir_.path());
    g_ui->Clear();
    w_ = std::make_unique<TFormMediaPlayer>();
    mpris_ = std::make_unique<TMprisService>(w_.get());
    g_ui->Clear();  // "File not found": no list in a new folder
  }
  void TearDown() override {
    mpris_.reset();
    w_.reset();
    if (!before_.empty()) ql::fs::SetCurrentDir(before_);
  }
  qltest::TempDir dir_;
  std::string before_;
  std::unique_ptr<TFormMediaPlayer> w_;
  std::unique_ptr<TMprisService> mpris_;
};

}  // namespace

TEST_F(Mpris, MediaKeysDriveThePlayerAndItsStateIsReadable) {
  ASSERT_EQ(mpris_->ServiceName(), kName);
  std::string a = dir_ / "first song.wav", b = dir_ / "second.wav";
  qltest::WriteToneWav(a, 3.0);
  qltest::WriteToneWav(b, 3.0);
  w_->AddPaths({a, b});
  EXPECT_NE(Get("PlaybackStatus").find("\"Stopped\""), std::string::npos);
  EXPECT_NE(Tool({"dbus-send", "--session", "--print-reply", "--dest=" + kName, kPath,
                  "org.freedesktop.DBus.Properties.Get", "string:org.mpris.MediaPlayer2",
                  "string:Identity"})
                .find("Quillon Media Player"),
            std::string::npos);

  // Play with nothing selected starts the first entry.
  Call("Play");
  ASSERT_TRUE(SpinUntil([&] { return w_->MediaDevice().Mode() == mpPlaying; }, 5s));
  EXPECT_EQ(w_->StatusText(), "Playing");
  EXPECT_EQ(w_->MediaDevice().FileName, a);
  EXPECT_NE(Get("PlaybackStatus").find("\"Playing\""), std::string::npos);
  std::string meta = Get("Metadata");
  EXPECT_NE(meta.find("first song"), std::string::npos) << meta;
  EXPECT_NE(meta.find("file://"), std::string::npos) << meta;
  EXPECT_NE(meta.find("mpris:length"), std::string::npos) << meta;

  Call("PlayPause");
  ASSERT_TRUE(SpinUntil([&] { return w_->MediaDevice().Mode() == mpPaused; }, 5s));
  EXPECT_NE(Get("PlaybackStatus").find("\"Paused\""), std::string::npos);
  Call("PlayPause");
  ASSERT_TRUE(SpinUntil([&] { return w_->MediaDevice().Mode() == mpPlaying; }, 5s));

  Call("Next");
  ASSERT_TRUE(SpinUntil([&] { return w_->MediaDevice().FileName == b; }, 5s));
  EXPECT_EQ(w_->MediaDevice().Mode(), mpPlaying);
  Call("Previous");
  ASSERT_TRUE(SpinUntil([&] { return w_->MediaDevice().FileName == a; }, 5s));

  Call("Stop");
  ASSERT_TRUE(SpinUntil([&] { return w_->StatusText() == "Stopped"; }, 5s));
  EXPECT_FALSE(w_->Playing());
  EXPECT_NE(Get("PlaybackStatus").find("\"Stopped\""), std::string::npos);
  Call("Pause");  // nothing playing: nothing happens, no message
  QApplication::processEvents();
  EXPECT_TRUE(g_ui->shown.empty());
}

TEST_F(Mpris, ChangesAreAnnouncedWithPropertiesChanged) {
  std::string a = dir_ / "a.wav";
  qltest::WriteToneWav(a, 3.0);
  w_->AddPaths({a});
  QProcess monitor;
  monitor.start("dbus-monitor",
                {"--session", "type='signal',interface='org.freedesktop.DBus.Properties'"});
  ASSERT_TRUE(monitor.waitForStarted(5000));
  QTest::qWait(300);
  Call("Play");
  std::string seen;
  EXPECT_TRUE(SpinUntil(
      [&] {
        seen += monitor.readAllStandardOutput().toStdString();
        return seen.find("PlaybackStatus") != std::string::npos &&
               seen.find("Playing") != std::string::npos;
      },
      5s))
      << seen;
  monitor.kill();
  monitor.waitForFinished();
}
