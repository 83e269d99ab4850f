#include "MMControls.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>

#ifndef QL_SCREENSHOT_DIR
#define QL_SCREENSHOT_DIR "screenshots"
#endif

namespace {
// Colour at the middle of a segment of a digit drawn into an image.
QColor At(QWidget& w, QPointF where) {
  QImage img = w.grab().toImage();
  return img.pixelColor((where * img.devicePixelRatio()).toPoint());
}
}  // namespace

TEST(LEDDigit, CascadedDigitsSpreadANumberAndDrawItsSegments) {
  TMMLEDDigit tt, tt2;
  tt.SetCascade(&tt2);
  tt.SetValue(47);
  EXPECT_EQ(tt.Value(), 7);
  EXPECT_EQ(tt2.Value(), 4);
  EXPECT_EQ(tt.Number(), 47);
  tt.SetValue(123);  // too large for two places: the lowest places show
  EXPECT_EQ(tt.Number(), 23);
  tt.SetValue(-5);
  EXPECT_EQ(tt.Number(), 0);
  // "1" lights b and c only; "8" all seven.
  EXPECT_EQ(TMMLEDDigit::Segments(1), 0b0000110);
  EXPECT_EQ(TMMLEDDigit::Segments(8), 0b1111111);
  EXPECT_EQ(TMMLEDDigit::Segments(10), 0);
  tt.resize(14, 24);
  tt.SetValue(1);
  TMMLEDColors c;
  EXPECT_EQ(At(tt, {11, 8}), c.on);  // upper right segment of "1"
  EXPECT_EQ(At(tt, {7, 3}), c.off);  // its top segment is dark
  tt.SetValue(8);
  EXPECT_EQ(At(tt, {7, 3}), c.on);
  // A blank leading zero is drawn dark.
  tt2.resize(14, 24);
  tt.SetValue(7);
  tt2.SetBlankZero(true);
  EXPECT_EQ(At(tt2, {7, 3}), c.off);
}

TEST(Level, PeaksRiseAtOnceFallByTheDecayAndHoldAWhile) {
  TMMLevel level;
  EXPECT_EQ(level.LitBars(), 0);
  level.SetPeak(32767);
  EXPECT_EQ(level.LitBars(), TMMLevel::Bars());
  level.SetDecay(4000);
  level.SetPeak(0);
  EXPECT_EQ(level.Peak(), 28767);
  EXPECT_EQ(level.Hold(), 32767);
  for (int i = 0; i < 30; ++i) level.SetPeak(0);
  EXPECT_EQ(level.Peak(), 0);
  EXPECT_EQ(level.Hold(), 0);  // the hold falls back after a while
  level.SetPeak(32768 / 2);    // -6 dB: 7/8 of the 48 dB scale
  EXPECT_EQ(level.LitBars(), 28);
  level.SetPeak(100000);  // clipped
  EXPECT_EQ(level.Peak(), 32768);
  level.Reset();
  EXPECT_EQ(level.Peak(), 0);
}

TEST(Gauge, PositionIsClampedToItsRange) {
  TMMGauge g;
  g.SetMax(200);
  g.SetPosition(50);
  EXPECT_EQ(g.Percent(), 25);
  g.SetPosition(500);
  EXPECT_EQ(g.Position(), 200);
  g.SetMax(0);  // never a division by zero
  EXPECT_EQ(g.Max(), 1);
  EXPECT_EQ(g.Percent(), 100);
}

TEST(LEDSpin, ArrowsStepWithinTheRangeAndCallTheirHandlers) {
  TMMLEDSpin spin;
  spin.SetRange(-50, 50);
  spin.resize(64, 28);
  int ups = 0, downs = 0, changes = 0;
  spin.OnUpClick = [&](TMMLEDSpin*) { ++ups; };
  spin.OnDownClick = [&](TMMLEDSpin*) { ++downs; };
  spin.OnChange = [&](TMMLEDSpin*) { ++changes; };
  QTest::mouseClick(&spin, Qt::LeftButton, {}, QPoint(60, 5));
  QTest::mouseClick(&spin, Qt::LeftButton, {}, QPoint(60, 5));
  QTest::mouseClick(&spin, Qt::LeftButton, {}, QPoint(60, 24));
  EXPECT_EQ(spin.Value(), 1);
  EXPECT_EQ(ups, 2);
  EXPECT_EQ(downs, 1);
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(spin.Text().toStdString(), "+1");
  spin.SetValue(-99);
  EXPECT_EQ(spin.Value(), -50);
  spin.StepDown();  // at the minimum: the value stays, the handler is still told
  EXPECT_EQ(spin.Value(), -50);
  EXPECT_EQ(downs, 2);
  EXPECT_EQ(spin.Text().toStdString(), "-50");
}

TEST(BitmapButton, ClicksAndDisabledState) {
  TMMBitmapButton b(TMMButtonGlyph::kPlay);
  EXPECT_EQ(b.size(), QSize(50, 50));
  int clicks = 0;
  QObject::connect(&b, &QAbstractButton::clicked, [&] { ++clicks; });
  QTest::mouseClick(&b, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  b.setEnabled(false);
  QTest::mouseClick(&b, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(At(b, {25, 25}), QColor(90, 90, 90));  // the picture turns grey
}

TEST(Controls, DisplayPanelScreenshot) {
  QWidget panel;
  panel.setObjectName("PanelDisplay");
  panel.setStyleSheet("background: black; color: aqua;");
  auto* layout = new QVBoxLayout(&panel);
  auto* digits = new QHBoxLayout;
  TMMLEDDigit *tt2 = new TMMLEDDigit, *tt = new TMMLEDDigit, *mm2 = new TMMLEDDigit,
              *mm = new TMMLEDDigit, *ss2 = new TMMLEDDigit, *ss = new TMMLEDDigit;
  tt->SetCascade(tt2);
  mm->SetCascade(mm2);
  ss->SetCascade(ss2);
  for (QWidget* w : {static_cast<QWidget*>(tt2), static_cast<QWidget*>(tt)}) digits->addWidget(w);
  digits->addSpacing(16);
  digits->addWidget(mm2);
  digits->addWidget(mm);
  digits->addWidget(new TMMLEDColon);
  digits->addWidget(ss2);
  digits->addWidget(ss);
  digits->addStretch();
  tt->SetValue(7);
  mm->SetValue(3);
  ss->SetValue(42);
  layout->addLayout(digits);
  auto* l1 = new TMMLevel;
  auto* l2 = new TMMLevel;
  l1->SetPeak(20000);
  l2->SetPeak(31000);
  layout->addWidget(l1);
  layout->addWidget(l2);
  auto* gauge = new TMMGauge;
  gauge->SetPosition(65);
  layout->addWidget(new QLabel("Buffer"));
  layout->addWidget(gauge);
  auto* buttons = new QHBoxLayout;
  for (TMMButtonGlyph g : {TMMButtonGlyph::kRecord, TMMButtonGlyph::kPlay, TMMButtonGlyph::kStop,
                           TMMButtonGlyph::kEject, TMMButtonGlyph::kPrevious, TMMButtonGlyph::kNext,
                           TMMButtonGlyph::kRepeat})
    buttons->addWidget(new TMMBitmapButton(g));
  layout->addLayout(buttons);
  auto* sliders = new QHBoxLayout;
  for (int i = 0; i < 12; ++i) {
    auto* s = new TMMSlider(Qt::Vertical);
    s->setRange(-10, 10);
    s->setValue((i * 7) % 21 - 10);
    s->setFixedSize(14, 70);
    s->Tag = i;
    sliders->addWidget(s);
  }
  auto* spin = new TMMLEDSpin;
  spin->SetValue(-12);
  sliders->addWidget(spin);
  layout->addLayout(sliders);
  panel.resize(420, 300);
  panel.show();
  QDir().mkpath(QL_SCREENSHOT_DIR);
  ASSERT_TRUE(panel.grab().save(QString(QL_SCREENSHOT_DIR) + "/controls.png"));
  EXPECT_EQ(tt2->Value(), 0);
  EXPECT_EQ(ss2->Value(), 4);
}
