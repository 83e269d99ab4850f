// The CDDB dialogs with the window's client talking to the test CDDB server on loopback.
#include <gtest/gtest.h>

#include <chrono>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <sys/stat.h>
#include "CDDB.h"
#include "CDDBID.h"
#include "CDDBList.h"
#include "CDDBSel.h"
#include "Fs.h"
#include "GuiTest.h"
#include "NetTestSupport.h"
#include "Profile.h"
#include "TestFiles.h"
#include "diction.h"

using qltest::TempDir;

namespace {
class CddbDialogs : public testing::Test {
 protected:
  void SetUp() override {
    g_ui->Clear();
    server = qltest::StartCddbServer(dir.path(), {});
    ASSERT_TRUE(server->running());
    cddb.SetServer("127.0.0.1");
    cddb.SetPort(server->port());
    cddb.SetEmail("user@example.org");
    cddb.SetAppName("tests");
    cddb.SetConnectTimeOut(5000);
  }
  TempDir dir;
  int server_port() const { return server->port(); }
  std::unique_ptr<qltest::ServerProcess> server;
  ql::TMMCDDB cddb;
};
}  // namespace

TEST_F(CddbDialogs, OptionsStartAsDesignedAndStoreTheCategoryUnderCopyright) {
  TFormCDDBSettings s(nullptr, &cddb, dir / "a.ini", dir / "QuillonTrackwell.ini");
  EXPECT_EQ(s.windowTitle().toStdString(), "Quillon Trackwell: CDDB Options");
  EXPECT_EQ(s.FCategory->currentText().toStdString(), "rock");
  // No address is made up: the fields only hint at one.
  EXPECT_EQ(s.FUsername->text().toStdString(), "");
  EXPECT_EQ(s.FUsername->placeholderText().toStdString(), "noname");
  EXPECT_FALSE(s.FVersion->isEnabled());
  EXPECT_EQ(s.FProtocol->currentText().toStdString(), "HTTP");  // new settings ask over HTTP
  EXPECT_EQ(s.FPort->text().toStdString(), "80");
  s.LoadSettings(dir / "none.ini");  // no section: the fields keep their texts
  EXPECT_EQ(s.FUsername->text().toStdString(), "");
  s.FCategory->setCurrentText("jazz");
  s.FUsername->setText("me");
  bool refused = false;
  QTimer::singleShot(0, [&] {
    // Shown: what the client really sends and the level it asks for.
    EXPECT_EQ(s.FProgApp->text().toStdString(), "tests");
    EXPECT_EQ(s.FVersion->text().toStdString(), "1.0");
    EXPECT_EQ(s.FProtLevel->text().toStdString(), "6");
    s.pbSave->click();  // "me" without a host is no address: refused, the dialog stays
    refused = s.isVisible() && g_ui->Texts() == std::vector<std::string>{"Invalid e-mail address"};
    s.FUserHost->setText("bad host");
    s.pbSave->click();
    refused = refused && s.isVisible();
    s.FUserHost->setText(" example.org ");
    s.FProtocol->setCurrentText("CDDBP");
    EXPECT_EQ(s.FPort->text().toStdString(), "8880");  // the default port follows
    s.pbSave->click();
  });
  s.exec();
  EXPECT_TRUE(refused);
  for (const char* file : {"a.ini", "QuillonTrackwell.ini"}) {
    TIniFile ini(dir / file);
    EXPECT_EQ(ini.ReadString("OPTIONS: CDDB Settings", "Copyright", ""), "jazz") << file;
    EXPECT_EQ(ini.ReadString("OPTIONS: CDDB Settings", "UserName", ""), "me") << file;
    EXPECT_EQ(ini.ReadString("OPTIONS: CDDB Settings", "UserHost", ""), "example.org") << file;
    EXPECT_EQ(ini.ReadString("OPTIONS: CDDB Settings", "Protocol", ""), "CDDBP") << file;
    EXPECT_EQ(ini.ReadString("OPTIONS: CDDB Settings", "Port", ""), "8880") << file;
    EXPECT_FALSE(ini.ValueExists("OPTIONS: CDDB Settings", "Category"));
  }
  // What was saved is what the client uses.
  ql::TMMCDDB other;
  s.FCDDBHost->setCurrentText("[::1]:8881");
  s.ApplyTo(other);
  EXPECT_EQ(other.GetEmail(), "me@example.org");
  EXPECT_EQ(other.GetTransport(), ql::ctLine);
  EXPECT_EQ(other.GetServer(), "::1");
  EXPECT_EQ(other.GetPort(), 8881);
  s.FUsername->setText("");
  s.ApplyTo(other);
  EXPECT_EQ(other.GetEmail(), "");
  TFormCDDBSettings back(nullptr, &cddb, dir / "a.ini", dir / "QuillonTrackwell.ini");
  back.LoadSettings(dir / "a.ini");
  EXPECT_EQ(back.FCategory->currentText().toStdString(), "jazz");
  back.SetHelpContexts();
  EXPECT_EQ(back.HelpContext, 7100);
}

TEST_F(CddbDialogs, HostsAndCategoriesComeFromTheServerOnceEach) {
  TFormCDDBSettings s(nullptr, &cddb, dir / "a.ini", dir / "b.ini");
  const QString server = "127.0.0.1:" + QString::number(server_port());
  s.FCDDBHost->setCurrentText(server);
  s.FProtocol->setCurrentText("CDDBP");
  s.FUsername->setText("user");
  s.FUserHost->setText("example.org");
  s.pbGetCDDBHost->click();
  s.pbGetCDDBHost->click();  // twice: each host once, and the field keeps what it showed
  ASSERT_EQ(s.FCDDBHost->count(), 2);
  EXPECT_EQ(s.FCDDBHost->itemText(0).toStdString(), "cddb.example.org");
  EXPECT_EQ(s.FCDDBHost->itemText(1).toStdString(), "mirror.example.net:888");  // port kept
  EXPECT_EQ(s.FCDDBHost->currentText(), server);
  s.FCategory->setCurrentText("jazz");
  s.pbCategory->click();
  s.pbCategory->click();
  EXPECT_EQ(s.FCategory->count(), 11);
  EXPECT_EQ(s.FCategory->itemText(9).toStdString(), "rock");
  EXPECT_EQ(s.FCategory->currentText().toStdString(), "jazz");
  EXPECT_EQ(CDDBProgress, nullptr);  // the progress window is gone again
  EXPECT_TRUE(g_ui->shown.empty());
}

TEST_F(CddbDialogs, ProgressWindowAdvancesAndItsClosingAborts) {
  auto* p = new TCDDBProgress(nullptr, cddb);
  EXPECT_EQ(p->windowTitle().toStdString(), "Connecting to 127.0.0.1");
  EXPECT_EQ(CDDBProgress, p);
  p->show();
  EXPECT_TRUE(p->Timer->isActive());
  for (int i = 0; i < 20; ++i) p->TimerTimer();
  EXPECT_EQ(p->Gauge->value(), 100);
  p->TimerTimer();
  EXPECT_EQ(p->Gauge->value(), 5);  // restarts from 0 and advances
  EXPECT_FALSE(cddb.GetAborted());
  p->btnCancel->click();
  EXPECT_TRUE(cddb.GetAborted());
  EXPECT_FALSE(p->Timer->isActive());
  delete p;
  EXPECT_EQ(CDDBProgress, nullptr);
}

TEST_F(CddbDialogs, SiteDialogFillsTheServerFromTheChooserAndKeepsTheAddressOnCancel) {
  TCDDBDlg dlg(nullptr, cddb);
  EXPECT_EQ(dlg.windowTitle().toStdString(), "Velmora: CDDB Sites");
  bool chooser_seen = false;
  QTimer::singleShot(0, [&] {
    dlg.editEmail->setText("");
    dlg.btnGetSites->click();  // no address: refused
    dlg.editEmail->setText("other@example.org");
    auto* timer = new QTimer(&dlg);
    QObject::connect(timer, &QTimer::timeout, [&, timer] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* c = dynamic_cast<TCDDBSelectDlg*>(w); c && c->isVisible()) {
          timer->stop();
          chooser_seen = c->ListBox->count() == 3;
          c->ListBoxPress(c->ListBox->visualItemRect(c->ListBox->item(2)).center());
        }
    });
    timer->start(20);
    dlg.btnGetSites->click();
    dlg.Button2->click();  // cancel: the old address comes back
  });
  dlg.exec();
  EXPECT_EQ(g_ui->Texts(), std::vector<std::string>{"Invalid e-mail address"});
  EXPECT_TRUE(chooser_seen);
  EXPECT_EQ(dlg.editServer->text().toStdString(), "mirror.example.net:888");  // its port kept
  EXPECT_EQ(dlg.editLocation->text().toStdString(), "Mirror Site, Berlin");
  EXPECT_EQ(cddb.GetEmail(), "user@example.org");
}

TEST(DiscIdCalculator, ShowsTheClassicIdAndSwitchesItsForm) {
  TFormCDDBID calc;
  EXPECT_EQ(calc.windowTitle().toStdString(), "Disc ID Calculator");
  EXPECT_EQ(calc.Edit1->text().toStdString(), "$00000000");
  EXPECT_EQ(calc.width(), 221);
  ql::TMMTrackList disc({{1, 150, 19850}, {2, 20000, 20000}, {3, 40000, 15000}});
  calc.Reader = &disc;
  calc.BitBtn1->click();
  EXPECT_EQ(calc.Edit1->text().toStdString(), "1b02db03");
  EXPECT_EQ(calc.CalculateID(), "1b02db03");
  calc.BitBtn3->click();
  EXPECT_TRUE(calc.Wide());
  EXPECT_EQ(calc.width(), 394);
  EXPECT_EQ(calc.BitBtn1->x(), 104);
  EXPECT_EQ(calc.BigLabel->x(), 124);
  EXPECT_EQ(calc.BitBtn3->text().toStdString(), "<< Simple");
  EXPECT_EQ(calc.TocList->count(), 3);
  // Nothing covers the big label: the table and its label sit below it.
  QRect big = calc.BigLabel->geometry();
  EXPECT_FALSE(big.intersects(calc.TocList->geometry()));
  EXPECT_FALSE(big.intersects(calc.TocLabel->geometry()));
  EXPECT_TRUE(calc.rect().contains(calc.TocList->geometry()));
  calc.BitBtn3->click();
  EXPECT_EQ(calc.width(), 221);
  EXPECT_EQ(calc.BitBtn3->text().toStdString(), "Advanced >>");
  bool exited = false;
  calc.OnExit = [&] { exited = true; };
  calc.BitBtn2->click();
  EXPECT_TRUE(exited);
}

TEST(DownloadWindow, BuildsItsUrlFetchesOverHttpAndFillsTheDictionary) {
  TempDir dir;
  TFormCDDB w;
  EXPECT_EQ(w.windowTitle().toStdString(), "Downloading information from CDDB");
  EXPECT_EQ(w.Port, "80");
  EXPECT_EQ(w.DownloadFile, "CDDB_Download.txt");
  w.Server = "cddb.example.org/~cddb/cddb.cgi";
  w.Command = "cddb+read+rock+1b02db03";
  w.User = "me";
  w.UserHost = "example.org";
  w.ClientName = "Velmora";
  // Four hello fields and a protocol level; the parts are form-encoded.
  EXPECT_EQ(w.BuildURL(),
            "http://cddb.example.org/~cddb/cddb.cgi?cmd=cddb+read+rock+1b02db03&hello=me+"
            "example.org+Velmora+1.0&proto=6");
  w.User = "a&b";
  EXPECT_NE(w.BuildURL().find("hello=a%26b+"), std::string::npos);
  w.User = "me";
  EXPECT_EQ(w.dfsURL->text().toStdString(), w.BuildURL());
  mkdir((dir / "~cddb").c_str(), 0755);
  qltest::WriteFile(dir / "~cddb/cddb.cgi",
                    "210 rock 1b02db03 CD database entry follows\r\n# xmcd\r\nDTITLE=Artist / "
                    "Name\r\nTTITLE0=One = 1\r\nx\r\nTTITLE1=Two\r\n.\r\n");
  auto http = qltest::StartScriptedHttpServer(dir.path());
  ASSERT_TRUE(http->running());
  std::string before = ql::fs::GetCurrentDir();
  ql::fs::SetCurrentDir(dir.path());
  std::string base = "http://127.0.0.1:" + std::to_string(http->port());
  EXPECT_TRUE(w.Fetch(base, "cddb+read+rock+1b02db03", "me", "example.org", "tests", "1"));
  EXPECT_TRUE(w.Memo1->toPlainText().startsWith("210 rock"));
  w.LoadDictionary(dir / "CDDBFile.txt");
  EXPECT_EQ(w.FDictionary->Value("DTITLE"), "Artist / Name");
  EXPECT_EQ(w.FDictionary->Value("TTITLE0"), "One = 1");  // later "=" stay in the value
  EXPECT_EQ(w.FDictionary->Value("TTITLE1"), "Two");
  EXPECT_GE(w.FDictionary->Find("", ""), 0);  // the short lines
  EXPECT_LT(w.FDictionary->Find("#", " xmcd"), 0);
  EXPECT_FALSE(w.Fetch(base + "/missing", "x", "me", "example.org", "tests", "1"));
  ql::fs::SetCurrentDir(before);
}

// The lookup's progress window stays usable while it has every other window disabled: its Abort
// ends a request the server is slow to answer, at once and without an error.
TEST_F(CddbDialogs, AbortWorksWhileARequestRuns) {
  auto slow = qltest::StartCddbServer(dir.path(), {"--slow", "3000"});
  ASSERT_TRUE(slow->running());
  cddb.SetPort(slow->port());
  ql::TMMTrackList disc({{1, 150, 19850}, {2, 20000, 20000}, {3, 40000, 15000}});
  cddb.SetCDReader(&disc);
  QWidget owner;
  owner.show();
  bool enabled = false;
  QTimer::singleShot(200, [&] {
    ASSERT_NE(CDDBProgress, nullptr);
    enabled =
        CDDBProgress->isEnabled() && CDDBProgress->btnCancel->isEnabled() && !owner.isEnabled();
    CDDBProgress->btnCancel->click();
  });
  auto t0 = std::chrono::steady_clock::now();
  std::string result;
  WithProgress(&owner, cddb, [&] { cddb.QueryDisc(result); });
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2.0);
  EXPECT_TRUE(enabled);
  EXPECT_TRUE(cddb.GetAborted());
  EXPECT_TRUE(cddb.TrackTitles().empty());
  EXPECT_TRUE(owner.isEnabled());
  EXPECT_EQ(CDDBProgress, nullptr);
}

TEST_F(CddbDialogs, TheUserChoosesAmongMatches) {
  ql::TMMCDDBMatches matches(2);
  matches[0] = {"reggae", "Some / One", "One", "Some", "1b02db03"};
  matches[1] = {"soundtrack", "Other / Two", "Two", "Other", "1b02db03"};
  QWidget owner;
  owner.setEnabled(false);  // as during a lookup
  TFormCDDBList list(&owner);
  QTimer::singleShot(0, [&] {
    EXPECT_TRUE(list.isEnabled());
    ASSERT_EQ(list.FListBox->count(), 2);
    list.FListBox->setCurrentRow(1);
    EXPECT_EQ(list.ChosenDisc(), "1b02db03");  // a category of any length
    list.btnOK->click();
  });
  EXPECT_EQ(ChooseCddbMatch(list, matches), 1);
  QTimer::singleShot(0, [&] { list.btnCancel->click(); });
  EXPECT_EQ(ChooseCddbMatch(list, matches), -1);
}
