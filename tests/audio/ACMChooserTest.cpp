// The wave format chooser offscreen: its lists, its entries, and TMMACM::ChooseFormat through it
// confirmed and cancelled.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <cstring>
#include <functional>

#include "ACMChooser.h"
#include "GuiTest.h"
#include "MMACMBind.h"
#include "MMACMCvt.h"

#ifndef QL_SCREENSHOT_DIR
#define QL_SCREENSHOT_DIR "screenshots"
#endif

namespace {

TWaveFormatEx Pcm(int bits, int channels, int rate) {
  TWaveFormatEx f{};
  pcmBuildFormat(&f, bits, channels, rate);
  return f;
}

std::vector<std::string> Items(QComboBox* c) {
  std::vector<std::string> v;
  for (int i = 0; i < c->count(); ++i) v.push_back(c->itemText(i).toStdString());
  return v;
}

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// Runs act on the chooser once it is shown modally.
void PollShown(const std::function<void(TACMChooserDlg*)>& act) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = dynamic_cast<TACMChooserDlg*>(w); d && d->isVisible()) {
      act(d);
      return;
    }
  QTimer::singleShot(10, [act] { PollShown(act); });
}

void WhenShown(const std::function<void(TACMChooserDlg*)>& act) {
  QTimer::singleShot(0, [act] { PollShown(act); });
}

}  // namespace

TEST(ACMChooser, ListsEveryTagAndItsFormats) {
  TACMChooseRequest r;
  r.Title = "Wave Format";
  TACMChooserDlg dlg(r);
  EXPECT_EQ(dlg.windowTitle(), "Wave Format");
  EXPECT_EQ(Items(dlg.cbFormatTag),
            (std::vector<std::string>{"PCM", "CCITT A-Law", "CCITT u-Law", "IMA ADPCM",
                                      "Microsoft ADPCM", "GSM 6.10"}));
  // PCM first, each entry with its byte rate.
  const auto pcm = Items(dlg.cbAttributes);
  EXPECT_TRUE(Has(pcm, "44.100 kHz, 16 Bit, Stereo    172 kB/s"));
  EXPECT_TRUE(Has(pcm, "8.000 kHz, 8 Bit, Mono    8 kB/s"));
  dlg.cbFormatTag->setCurrentIndex(5);
  EXPECT_TRUE(Has(Items(dlg.cbAttributes), "8.000 kHz, Mono    2 kB/s"));
  const auto gsm = dlg.Selected();
  ASSERT_GE(gsm.size(), 20u);
  EXPECT_EQ(reinterpret_cast<const TWaveFormatEx*>(gsm.data())->wFormatTag, 49);
  dlg.cbFormatTag->setCurrentIndex(0);
  dlg.show();
  QDir().mkpath(QL_SCREENSHOT_DIR);
  EXPECT_TRUE(dlg.grab().save(QString(QL_SCREENSHOT_DIR) + "/acm-chooser.png"));
}

TEST(ACMChooser, StartsAtTheInitialFormatAndHonoursTheRestriction) {
  const TWaveFormatEx cd = Pcm(16, 2, 44100);
  TACMChooseRequest r;
  r.Initial = &cd;
  TACMChooserDlg dlg(r);
  EXPECT_EQ(dlg.cbFormatTag->currentText(), "PCM");
  EXPECT_EQ(dlg.cbAttributes->currentText(), "44.100 kHz, 16 Bit, Stereo    172 kB/s");
  // A codec record with its extra bytes is found as it is.
  WfxPtr ima = ACMBuildFormat(17, 22050, 4, 1);
  ASSERT_TRUE(ima);
  r.Initial = ima.get();
  TACMChooserDlg at(r);
  EXPECT_EQ(at.cbFormatTag->currentText(), "IMA ADPCM");
  EXPECT_EQ(at.cbAttributes->currentText().toStdString().rfind("22.050 kHz, 4 Bit, Mono", 0), 0u);
  // Only the initial format's tag.
  r.Initial = r.EnumFormat = &cd;
  r.EnumFlags = ACM_FORMATENUMF_WFORMATTAG;
  TACMChooserDlg restricted(r);
  EXPECT_EQ(Items(restricted.cbFormatTag), std::vector<std::string>{"PCM"});
  // What CD audio converts to in one stream (PCM, and the codecs of its own rate and channels),
  // through a filter as OnFormatEnum sets one.
  r.EnumFlags = ACM_FORMATENUMF_CONVERT;
  r.Accept = [](const TWaveFormatEx* f, const std::string&) { return f->nChannels == 2; };
  TACMChooserDlg converts(r);
  const auto tags = Items(converts.cbFormatTag);
  EXPECT_TRUE(Has(tags, "PCM"));
  EXPECT_TRUE(Has(tags, "IMA ADPCM"));
  EXPECT_FALSE(Has(tags, "GSM 6.10")) << "mono only";
  for (int t = 0; t < converts.cbFormatTag->count(); ++t) {
    converts.cbFormatTag->setCurrentIndex(t);
    for (const auto& e : Items(converts.cbAttributes))
      EXPECT_NE(e.find("Stereo"), std::string::npos) << e;
  }
}

TEST(ACMChooser, ChooseFormatConfirmedAndCancelled) {
  InstallACMChooser();
  TMMACM acm;
  ASSERT_TRUE(acm.ACMPresent());
  const TWaveFormatEx cd = Pcm(16, 2, 44100);
  std::string title;
  WhenShown([&](TACMChooserDlg* d) {
    title = d->windowTitle().toStdString();
    d->cbFormatTag->setCurrentIndex(d->cbFormatTag->findText("IMA ADPCM"));
    d->cbAttributes->setCurrentIndex(
        d->cbAttributes->findText("22.050 kHz, 4 Bit, Mono", Qt::MatchStartsWith));
    d->buttons->button(QDialogButtonBox::Ok)->click();
  });
  ASSERT_TRUE(acm.ChooseFormat(&cd, "Wave Format"));
  EXPECT_EQ(title, "Wave Format");
  WfxPtr ima = ACMBuildFormat(17, 22050, 4, 1);
  ASSERT_TRUE(ima);
  ASSERT_EQ(wfxSize(acm.Format()), wfxSize(ima.get()));
  EXPECT_EQ(std::memcmp(acm.Format(), ima.get(), std::size_t(wfxSize(ima.get()))), 0);

  // Cancelled after picking something else: the initial format stays.
  WhenShown([&](TACMChooserDlg* d) {
    title = d->windowTitle().toStdString();
    d->cbFormatTag->setCurrentIndex(d->cbFormatTag->findText("GSM 6.10"));
    d->buttons->button(QDialogButtonBox::Cancel)->click();
  });
  EXPECT_FALSE(acm.ChooseFormat(&cd));
  EXPECT_EQ(title, "Select...");
  EXPECT_EQ(std::memcmp(acm.Format(), &cd, 16), 0);
  SetACMFormatChooser(nullptr);
}
