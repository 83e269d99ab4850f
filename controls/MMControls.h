#pragma once
// The skinned controls of the CD-extraction window: LED digits (cascaded into numbers), the LED
// colon, level meters fed with peak values, gauges, the LED spin, bitmap buttons and sliders.
// All are drawn by the code, with the window's black-and-lime look.
#include <QAbstractButton>
#include <QSlider>
#include <QWidget>
#include <functional>

// LED colours shared by the controls.
struct TMMLEDColors {
  QColor on{0, 255, 0};
  QColor off{0, 60, 0};
  QColor background{0, 0, 0};
};

// One seven-segment digit. A digit may cascade into the next higher one: setting a number on
// the lowest digit spreads it over the chain (tt = ones, tt2 = tens).
class TMMLEDDigit : public QWidget {
 public:
  explicit TMMLEDDigit(QWidget* parent = nullptr);

  int Value() const { return value_; }
  // The whole number shown by this digit and the digits it cascades into.
  int Number() const;
  // Sets the number: this digit takes the lowest decimal place, the cascade the higher ones.
  // Negative numbers show as 0; a number too large for the chain shows its lowest places.
  void SetValue(int number);
  void SetCascade(TMMLEDDigit* higher) { cascade_ = higher; }
  TMMLEDDigit* Cascade() const { return cascade_; }
  // A leading zero is drawn dark when blank_zero is set (the higher digit of "7").
  void SetBlankZero(bool blank_zero);
  void SetColors(const TMMLEDColors& colors);
  // Segment bits (a..g in bits 0..6) lit for a digit.
  static int Segments(int digit);

  QSize sizeHint() const override { return {14, 24}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  bool Blank() const;
  int value_ = 0;
  TMMLEDDigit* cascade_ = nullptr;
  bool blank_zero_ = false;
  TMMLEDColors colors_;
};

class TMMLEDColon : public QWidget {
 public:
  explicit TMMLEDColon(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {6, 24}; }
  void SetLit(bool lit);
  bool Lit() const { return lit_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  bool lit_ = true;
  TMMLEDColors colors_;
};

// A level meter of one channel: peak values of 16-bit samples (0..32768), shown as a row of
// LED bars green, then yellow above -6 dB and red above -1.5 dB, with a falling peak hold.
class TMMLevel : public QWidget {
 public:
  explicit TMMLevel(QWidget* parent = nullptr);

  // A new peak; the bar jumps up at once and falls back by Decay() per call when lower.
  void SetPeak(int peak);
  int Peak() const { return peak_; }
  int Hold() const { return hold_; }
  void SetDecay(int per_update) { decay_ = per_update; }
  int Decay() const { return decay_; }
  void Reset();
  // Lit bars out of Bars() for the current peak (logarithmic over 48 dB).
  int LitBars() const;
  static constexpr int Bars() { return 32; }

  QSize sizeHint() const override { return {160, 10}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int peak_ = 0;
  int hold_ = 0;
  int hold_age_ = 0;
  int decay_ = 2048;
};

// A progress gauge: Position of 0..Max, drawn as LED bars with the percentage.
class TMMGauge : public QWidget {
 public:
  explicit TMMGauge(QWidget* parent = nullptr);
  void SetMax(int max);
  int Max() const { return max_; }
  void SetPosition(int position);
  int Position() const { return position_; }
  int Percent() const;
  QSize sizeHint() const override { return {120, 12}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int max_ = 100;
  int position_ = 0;
};

// A number in LED digits with up and down arrows (the pitch spin): Value between Min and Max;
// clicking the arrows steps by one and calls OnUpClick / OnDownClick.
class TMMLEDSpin : public QWidget {
 public:
  explicit TMMLEDSpin(QWidget* parent = nullptr);
  void SetRange(int min, int max);
  void SetValue(int value);
  int Value() const { return value_; }
  int Min() const { return min_; }
  int Max() const { return max_; }
  void StepUp();
  void StepDown();
  std::function<void(TMMLEDSpin*)> OnUpClick, OnDownClick, OnChange;
  QSize sizeHint() const override { return {64, 28}; }
  // The text shown: the value with its sign ("-12", "0", "+7").
  QString Text() const;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  int value_ = 0, min_ = -50, max_ = 50;
};

// The pictures of the bitmap buttons.
enum class TMMButtonGlyph { kRecord, kPlay, kStop, kPause, kEject, kPrevious, kNext, kRepeat };

// A 50 x 50 button showing a drawn picture in the skin's colours: raised, lit while the mouse is
// over it, sunken while pressed, grey when disabled. Checkable buttons stay lit when down.
class TMMBitmapButton : public QAbstractButton {
 public:
  TMMBitmapButton(TMMButtonGlyph glyph, QWidget* parent = nullptr);
  TMMButtonGlyph Glyph() const { return glyph_; }
  QSize sizeHint() const override { return {50, 50}; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  TMMButtonGlyph glyph_;
  bool hover_ = false;
};

// A slider in the skin: a dark groove with a lime thumb, vertical for the equalizer bands.
// Tag carries the band index of an equalizer slider.
class TMMSlider : public QSlider {
 public:
  explicit TMMSlider(Qt::Orientation orientation, QWidget* parent = nullptr);
  int Tag = 0;

 protected:
  void paintEvent(QPaintEvent*) override;
};
