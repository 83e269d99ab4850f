#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

#include "HttpGet1.h"
#include "NetTestSupport.h"
#include "Profile.h"
#include "QtDispatcher.h"
#include "ScriptedUi.h"
#include "TestFiles.h"

using namespace ql::net;

namespace {

class HttpGetFormTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "http_get_form_tests";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app = new QApplication(argc, argv);
  }
  void SetUp() override {
    setenv("QL_WINDOWS_DIR", dir.path().c_str(), 1);
    dispatcher = std::make_unique<ql::QtDispatcher>();
    ql::SetDispatcher(dispatcher.get());
    ql::SetUi(&ui);
    qltest::WriteFile(dir / "file.txt", "downloaded body");
    server = qltest::StartHttpServer(dir.path());
    ASSERT_TRUE(server->running());
  }
  void TearDown() override {
    ql::SetUi(nullptr);
    ql::SetDispatcher(nullptr);
  }
  std::string Url(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(server->port()) + path;
  }
  static QApplication* app;
  qltest::TempDir dir;
  std::unique_ptr<ql::QtDispatcher> dispatcher;
  ql::ScriptedUi ui;
  std::unique_ptr<qltest::ServerProcess> server;
};
QApplication* HttpGetFormTest::app = nullptr;

}  // namespace

TEST_F(HttpGetFormTest, GetsIntoTheFileAndKeepsItsSettings) {
  THttpGetForm form;
  EXPECT_EQ(form.windowTitle().toStdString().rfind("Http Get ", 0), 0u);
  EXPECT_FALSE(form.AbortButton->isEnabled());
  EXPECT_TRUE(form.GetButton->isDefault());
  EXPECT_EQ(form.ProxyPortEdit->text(), "110");
  EXPECT_EQ(form.GetIniFileName(), "http_get_form_tests.ini");
  form.show();
  EXPECT_EQ(form.ProxyPortEdit->text(), "80");  // read from the (empty) ini file
  EXPECT_EQ(form.FileNameEdit->text(), "test.tmp");
  form.SetURL(Url("/file.txt"));
  EXPECT_EQ(form.URLEdit->text().toStdString(), Url("/file.txt"));
  form.SetFileName(dir / "CDDBFile.txt");
  form.Get();
  EXPECT_EQ(qltest::ReadFile(dir / "CDDBFile.txt"), "downloaded body");
  EXPECT_EQ(form.GetStatusText(), "Received 15 bytes");
  EXPECT_TRUE(form.GetButton->isEnabled());
  EXPECT_FALSE(form.AbortButton->isEnabled());
  EXPECT_FALSE(form.isVisible());
  std::string ini = dir / "http_get_form_tests.ini";
  EXPECT_EQ(ql::profile::GetString(ini, "Data", "URL", ""), Url("/file.txt"));
  EXPECT_EQ(ql::profile::GetString(ini, "Data", "FileName", ""), "test.tmp");
  EXPECT_NE(ql::profile::GetString(ini, "Window", "Width", ""), "");
}

TEST_F(HttpGetFormTest, ErrorsArePassedOnAndTheButtonsRestored) {
  THttpGetForm form;
  form.show();
  form.SetURL(Url("/absent.txt"));
  form.SetFileName(dir / "out.txt");
  qltest::WriteFile(dir / "out.txt", "earlier download");
  EXPECT_THROW(form.Get(), EHttpException);
  EXPECT_EQ(qltest::ReadFile(dir / "out.txt"), "earlier download");
  EXPECT_TRUE(form.GetButton->isEnabled());
  EXPECT_FALSE(form.AbortButton->isEnabled());
  EXPECT_FALSE(form.isVisible());

  // Pressing the button shows the error instead.
  form.show();
  form.GetButton->click();
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].text, "File not found");
}

TEST_F(HttpGetFormTest, AbortButtonEndsTheTransfer) {
  auto slow = qltest::StartScriptedHttpServer(dir.path());
  THttpGetForm form;
  form.show();
  form.SetURL("http://127.0.0.1:" + std::to_string(slow->port()) + "/slow");
  form.SetFileName(dir / "slow.txt");
  bool was_enabled = false;
  QTimer::singleShot(200, [&] {
    was_enabled = form.AbortButton->isEnabled();
    form.AbortButton->click();
  });
  qltest::WriteFile(dir / "slow.txt", "earlier download");
  try {
    form.Get();
    FAIL();
  } catch (const EHttpException& e) {
    EXPECT_EQ(e.ErrorCode, 3);
  }
  EXPECT_TRUE(was_enabled);
  // The aborted transfer leaves the earlier file as it was and nothing beside it.
  EXPECT_EQ(qltest::ReadFile(dir / "slow.txt"), "earlier download");
  std::string names;
  qltest::RunCapture("ls -A " + dir.path() + " | grep -c qlpart", &names);
  EXPECT_EQ(names, "0\n");
}
